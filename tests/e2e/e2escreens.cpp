// Drives the real program through a check, the review dialogs and a deletion
// on a real X display and saves a picture of the screen at each step:
//   Xvfb :N -screen 0 1280x800x24 &  DISPLAY=:N e2escreens OUTPUT_FOLDER
// Needs the fixture's mail server running (mailserver.sh start) and ImageMagick.
#include "e2eharness.h"
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"
#include "review/reviewlistview.h"
#include "store/friendsstore.h"
#include "support/modalhelper.h"
#include "support/pop3proxy.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

namespace {
QString g_folder;
QStringList g_taken;

void Shot(const QString& name, bool settle = true) {
    for (int i = 0; settle && i < 5; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(60);
    }
    const QString file = g_folder + QLatin1Char('/') + name + QStringLiteral(".png");
    QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file});
    g_taken.append(file);
}

QByteArray Mail(int i) {
    static const char* const names[] = {"Anna Lindqvist", "=?UTF-8?B?SsO8cmdlbiBNw7xsbGVy?=",
                                        "Priya Raman",    "Daily Deals",
                                        "Tom O'Neill",    "Mailing List",
                                        "Chen Wei",       "Newsletter"};
    static const char* const subjects[] = {
        "Minutes of Tuesday's meeting",     "Re: Holiday plans",       "Invoice 2026-1187",
        "50% off everything - today only!", "Photos from the weekend", "[dev] Build broken on main",
        "Quarterly report draft",           "Your weekly digest"};
    const int k = i % 8;
    QByteArray mail = QByteArray("From: ") + names[k] + " <sender" + QByteArray::number(k) +
                      "@example.org>\r\n" + "To: me@example.org\r\nSubject: " + subjects[k] +
                      "\r\nDate: Mon, " + QByteArray::number(1 + i % 28) + " Dec 2026 " +
                      QByteArray::number(8 + i % 10) + ":15:00 +0100\r\n";
    if (k == 5)
        mail += "Cc: a@example.org, b@example.org, c@example.org\r\n";
    if (k == 3)
        mail += "MIME-Version: 1.0\r\nContent-Type: text/html; charset=utf-8\r\n";
    if (k == 2)
        return mail +
               "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"=_inv\"\r\n\r\n"
               "--=_inv\r\nContent-Type: text/plain; charset=utf-8\r\n"
               "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
               "Dear customer,\r\n\r\nplease find attached invoice 2026-1187 for the =\r\n"
               "services of November (=E2=82=AC 1,240.00, due on 15 December).\r\n\r\n"
               "Payment details are on the second page. If you have any questions,\r\n"
               "reply to this message or call us on +44 20 7946 0000.\r\n\r\n"
               "Kind regards,\r\nPriya Raman\r\nAccounts, Example Ltd.\r\n"
               "--=_inv\r\nContent-Type: application/pdf; name=\"invoice-2026-1187.pdf\"\r\n"
               "Content-Disposition: attachment; filename=\"invoice-2026-1187.pdf\"; size=48213\r\n"
               "Content-Transfer-Encoding: base64\r\n\r\n" +
               QByteArray(3000, 'x').toBase64() + "\r\n--=_inv--\r\n";
    return mail + "\r\n" + QByteArray(200 + 937 * k, 'x') + "\r\n";
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    g_folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    TestMailServer server;
    if (!server.isValid()) {
        qWarning("%s", qPrintable(server.errorString()));
        return 1;
    }
    E2eHarness::TrustTestCa(server);
    TestMailbox box = server.createMailbox();
    QList<QByteArray> mails;
    for (int i = 0; i < 300; ++i)
        mails.append(Mail(i));
    box.addMessages(mails);

    Pop3Proxy proxy(server.host(), server.pop3Port());
    proxy.setOneWayDelayMs(25); // slow enough to see the progress windows
    proxy.listen();

    E2eHarness harness;
    AccountRecord account = E2eHarness::AccountFor(server, box);
    account.ServerAddress = QStringLiteral("127.0.0.1:") + QString::number(proxy.port());
    harness.start(account);
    FriendsStore(harness.folder()).Append(QStringLiteral("sender0@example.org"));
    FriendsStore(harness.folder()).Append(QStringLiteral("sender4@example.org"));
    MainWindow& window = harness.window();
    window.setWindowState(Qt::WindowNoState);
    window.setGeometry(40, 30, 1180, 720);
    harness.state().Settings.CheckDonePromptOff = 0;
    harness.state().Settings.DeletePromptOff = 0;

    bool statusTaken = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        QWidget* status = VisibleTopLevel(QStringLiteral("frmStatus"));
        if (!status || statusTaken)
            return;
        const QString text = status->findChild<QLabel*>(QStringLiteral("lblStatus"))->text();
        if (text.startsWith(QLatin1String("Downloading")) && !text.contains(QLatin1String(" 300 of"))) {
            statusTaken = true;
            status->repaint();
            Shot(QStringLiteral("checking-mail"), false); // now, while the download runs
        }
    });
    poll.start();
    WhenModal(QStringLiteral("frmCheckDone"), [](QWidget* dialog) {
        Shot(QStringLiteral("check-complete"));
        dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    harness.trigger(Command::CheckMail);
    poll.stop();
    Shot(QStringLiteral("review-list"));

    // The invoice's preview: its text and its attachment.
    auto* preview = window.findChild<QPlainTextEdit*>(QStringLiteral("txtPreview"));
    harness.list()->setCurrentIndex(window.review().model()->index(2, 0));
    if (!QTest::qWaitFor([preview] { return preview->toPlainText().startsWith(QLatin1String("Dear")); },
                         20000))
        qWarning("the preview did not come");
    Shot(QStringLiteral("preview-pane"));

    ReviewListView* list = harness.list();
    list->setCurrentIndex(window.review().model()->index(1, 0));
    WhenModal(QStringLiteral("frmView"), [](QWidget* dialog) {
        Shot(QStringLiteral("message-details"));
        dialog->findChild<QPushButton*>(QStringLiteral("cmdClose"))->click();
    });
    harness.trigger(Command::MessageDetails);

    bool deleteTaken = false;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        if (!deleteTaken && VisibleTopLevel(QStringLiteral("frmDelStatus"))) {
            deleteTaken = true;
            Shot(QStringLiteral("deleting-messages"));
        }
    });
    WhenModal(QStringLiteral("frmConfirm"), [&poll](QWidget* dialog) {
        Shot(QStringLiteral("confirm-deletion"));
        poll.start();
        dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    harness.trigger(Command::DeleteUnchecked);
    poll.stop();

    AccountRecord wrong = harness.account();
    wrong.LoginPassword = QStringLiteral("wrong");
    harness.writeAccount(wrong);
    WhenModal(QStringLiteral("frmError"), [](QWidget* dialog) {
        Shot(QStringLiteral("operation-error"));
        dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    harness.trigger(Command::CheckMail);

    for (const QString& file : g_taken)
        qInfo("%s", qPrintable(file));
    return 0;
}
