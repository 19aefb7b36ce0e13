#include "e2eharness.h"
#include "pop3/session.h"
#include "review/core/reviewmodel.h"
#include "review/core/setbytes.h"
#include "review/reviewcontroller.h"
#include "review/reviewlistview.h"
#include "store/friendsstore.h"
#include "store/headerfiles.h"
#include "support/modalhelper.h"
#include "support/pop3proxy.h"
#include "support/testdata.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QToolBar>

#include <sys/stat.h>

using testsupport::Sorted;

namespace {
QByteArray Mail(const QByteArray& headers, const QByteArray& body = "Hello.\r\n") {
    return headers + "\r\n" + body;
}

QByteArray ManyRecipients(int to, int cc) {
    QByteArray header = "To: ";
    for (int i = 0; i < to; ++i)
        header += (i ? ",\r\n " : "") + QByteArray("r") + QByteArray::number(i) + "@example.net";
    header += "\r\nCc: ";
    for (int i = 0; i < cc; ++i)
        header += (i ? ", " : "") + QByteArray("c") + QByteArray::number(i) + "@example.net";
    return header + "\r\n";
}

} // namespace

class E2eCheckTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void checkListsEveryMessage();
    void loginFailures_data();
    void loginFailures();
    void cancelEndsSilently();
    void cancelWhileTheServerIsSilent();
    void deleteUncheckedKeepsExactlyTheTicked();
    void quitLostDeletesNothing();
    void unwritableHeaderFolderEndsTheCheckCleanly();

private:
    std::unique_ptr<TestMailServer> m_server;
};

void E2eCheckTest::initTestCase() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    m_server = std::make_unique<TestMailServer>();
    TIDEMARSH_REQUIRE_MAILSERVER(*m_server);
    E2eHarness::TrustTestCa(*m_server);
}

void E2eCheckTest::checkListsEveryMessage() {
    TestMailbox box = m_server->createMailbox();
    QVERIFY2(box.isValid(), qPrintable(box.errorString()));
    const QList<QByteArray> mails{
        Mail("From: Bob Friend <bob@example.com>\r\nTo: me@example.org\r\nSubject: Lunch\r\n"
             "Date: Mon, 07 Dec 2026 10:00:00 +0000\r\n"),
        Mail("From: =?UTF-8?B?SsO8cmdlbiBNw7xsbGVy?= <juergen@example.de>\r\nTo: a@b.example, d@e.example\r\n"
             "Subject: =?ISO-8859-1?Q?Gr=FC=DFe?=\r\nDate: Tue, 08 Dec 2026 11:30:00 +0100\r\n"
             "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n",
             "--b1\r\nContent-Type: text/plain\r\n\r\nx\r\n--b1--\r\n"),
        Mail("Reply-To: Friend2@Example.COM\r\nTo: me@example.org\r\nSubject: <b>no sender</b>\r\n"
             "Date: Wed, 09 Dec 2026 12:00:00 +0000\r\n"),
        Mail("From: List <list@example.org>\r\n" + ManyRecipients(1200, 34) +
             "Subject: Everyone\r\nDate: Thu, 10 Dec 2026 09:00:00 +0000\r\n"),
        Mail("From: Broken <broken@example.org>\r\nSubject: cannot be read\r\n"),
    };
    QVERIFY(box.addMessages(mails));
    // The fifth message's file cannot be opened by the server: its TOP fails.
    const QStringList files = box.messageFiles();
    if (files.isEmpty())
        QSKIP("this server's message files are out of the test's reach");
    if (m_server->kind() == QLatin1String("courier"))
        QSKIP("this server refuses the whole mailbox when one message file cannot be read");
    QCOMPARE(files.size(), 5);
    QString fifth;
    for (const QString& file : files) {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly) && f.readAll().contains("cannot be read"))
            fifth = file;
    }
    QVERIFY(!fifth.isEmpty());
    QVERIFY(::chmod(QFile::encodeName(fifth).constData(), 0) == 0);

    E2eHarness app;
    AccountRecord account = E2eHarness::AccountFor(*m_server, box);
    account.TotalMessages = 7;
    account.DeletedMessages = 3;
    QVERIFY(app.start(account));
    FriendsStore friends(app.folder());
    friends.Append(QStringLiteral("BOB@example.com"));
    friends.Append(QStringLiteral("  friend2@example.com"));
    friends.Append(QStringLiteral("example.org")); // a domain alone never matches
    // Left over from an earlier check: gone after this one.
    HeaderFiles::WriteHeaderFile(app.folder(), 9, "stale");
    app.state().Settings.CheckDonePromptOff = 0;

    QString summaryTitle, summaryText;
    WhenModal(QStringLiteral("frmCheckDone"), [&](QWidget* dialog) {
        summaryTitle = dialog->windowTitle();
        summaryText = dialog->findChild<QLabel*>(QStringLiteral("lblMess"))->text();
        dialog->findChild<QCheckBox*>(QStringLiteral("chkShow"))->setChecked(true);
        dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    app.trigger(Command::CheckMail);
    ::chmod(QFile::encodeName(fifth).constData(), 0644);

    QVERIFY2(app.boxes.isEmpty(), qPrintable(app.boxes.isEmpty() ? QString() : app.boxes.first().text));
    QCOMPARE(summaryTitle, QStringLiteral("Check Complete (Work)"));
    QCOMPARE(summaryText, QStringLiteral("There are 5 Message(s) to Review."));
    QCOMPARE(app.state().Settings.CheckDonePromptOff, qint16(1));
    QVERIFY(!app.state().BusyFlag);
    QCOMPARE(app.state().ReviewAccountName, QStringLiteral("Work"));

    ReviewController& review = app.window().review();
    ReviewModel* model = review.model();
    QCOMPARE(model->rowCount(), 5);
    struct Expect {
        QString from, address, subject, content, recipients;
        bool keep;
    };
    const QList<Expect> expected{
        {QStringLiteral("Bob Friend"), QStringLiteral("bob@example.com"), QStringLiteral("Lunch"),
         QStringLiteral("text/plain"), QStringLiteral("1"), true},
        {QStringLiteral("Jürgen Müller"), QStringLiteral("juergen@example.de"), QStringLiteral("Grüße"),
         QStringLiteral("multipart/mixed"), QStringLiteral("2"), false},
        {QString(), QStringLiteral("Friend2@Example.COM"), QStringLiteral("<b>no sender</b>"),
         QStringLiteral("text/plain"), QStringLiteral("1"), true},
        {QStringLiteral("List"), QStringLiteral("list@example.org"), QStringLiteral("Everyone"),
         QStringLiteral("text/plain"), QStringLiteral("1,234"), false},
    };
    qint64 total = 0;
    for (const QByteArray& mail : mails)
        total += mail.size();
    for (int row = 0; row < 5; ++row) {
        const ReviewItem& item = model->item(row);
        QCOMPARE(item.MessageNumber, row + 1);
        QCOMPARE(item.text(ReviewItem::Size), SetBytes(static_cast<double>(mails.at(row).size())));
        if (row < expected.size()) {
            const Expect& e = expected.at(row);
            QCOMPARE(item.text(ReviewItem::From), e.from);
            QCOMPARE(item.text(ReviewItem::Address), e.address);
            QCOMPARE(item.text(ReviewItem::Subject), e.subject);
            QCOMPARE(item.text(ReviewItem::Content), e.content);
            QCOMPARE(item.text(ReviewItem::Recipients), e.recipients);
            QCOMPARE(item.keep, e.keep);
        }
    }
    QCOMPARE(model->item(0).text(ReviewItem::Date), QStringLiteral("Mon, 07 Dec 2026 10:00:00 +0000"));
    QVERIFY(!model->item(4).keep);

    // Header files for the messages whose headers came, and nothing else.
    QCOMPARE(app.headerFiles(), (QStringList{QStringLiteral("1.dat"), QStringLiteral("2.dat"),
                                             QStringLiteral("3.dat"), QStringLiteral("4.dat")}));
    QFile first(HeaderFiles::DataFolder(app.folder()) + QStringLiteral("/1.dat"));
    QVERIFY(first.open(QIODevice::ReadOnly));
    QVERIFY(first.readAll().startsWith("From: Bob Friend <bob@example.com>\r\nTo: me@example.org\r\n"));

    const AccountRecord after = app.account();
    QVERIFY(after.LastChecked != QStringLiteral("N/A") && !after.LastChecked.isEmpty());
    QCOMPARE(after.TotalMessages, 12);
    QCOMPARE(after.DeletedMessages, 3);
    QCOMPARE(app.panel2(), QStringLiteral("Last Checked: ") + after.LastChecked);
    QCOMPARE(app.panel1(),
             QStringLiteral("Account:  Work - 5 Message(s) to Review (Total Message(s) Size:  ") +
                 SetBytes(static_cast<double>(total)) + QLatin1Char(')'));
    QVERIFY(review.keepAliveRunning());
    for (Command command : {Command::DeleteUnchecked, Command::AcceptAll, Command::CheckAll,
                            Command::CheckNone, Command::MessageDetails, Command::AddFriends})
        QVERIFY2(app.window().action(command)->isEnabled(),
                 qPrintable(app.window().action(command)->objectName()));
    QCOMPARE(review.selectedRow(), 0);

    // The keep-alive really talks to the server while the list is under review.
    QTest::qWait(2300);
    QVERIFY(review.session() && review.session()->isConnected());

    // Details of the message without a header.
    app.list()->setCurrentIndex(model->index(4, 2));
    QString header;
    WhenModal(QStringLiteral("frmView"), [&](QWidget* dialog) {
        header = dialog->findChild<QPlainTextEdit*>(QStringLiteral("txtHeader"))->toPlainText();
        dialog->findChild<QPushButton*>(QStringLiteral("cmdClose"))->click();
    });
    app.trigger(Command::MessageDetails);
    QCOMPARE(header, QStringLiteral("No header information could be downloaded for the selected message."));

    // Accept All: the session ends and every message stays.
    app.trigger(Command::AcceptAll);
    QCOMPARE(model->rowCount(), 0);
    QVERIFY(review.session() == nullptr);
    QVERIFY(!review.keepAliveRunning());
    QVERIFY(!app.window().action(Command::DeleteUnchecked)->isEnabled());
    QCOMPARE(box.remainingMessages(), (QList<int>{1, 2, 3, 4, 5}));
    QCOMPARE(app.account().DeletedMessages, 3);
    QCOMPARE(app.account().TotalMessages, 12);
}

void E2eCheckTest::loginFailures_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("text");
    QTest::newRow("wrong password")
        << "password"
        << "Could not connect to the server. (Code 4):  The user name or password defined for the account is "
           "incorrect.";
    QTest::newRow("nobody listening") << "port"
                                      << "Could not connect to the server. (Code 1):  There was a problem "
                                         "connecting to the defined server.  "
                                         "Ensure the server information is correct.";
}

void E2eCheckTest::loginFailures() {
    QFETCH(QString, how);
    QFETCH(QString, text);
    TestMailbox box = m_server->createMailbox();
    QVERIFY(box.isValid());
    box.addMessage(Mail("From: a@example.org\r\nSubject: x\r\n"));
    E2eHarness app;
    AccountRecord account = E2eHarness::AccountFor(*m_server, box);
    if (how == QLatin1String("password")) {
        account.LoginPassword = QStringLiteral("not-") + box.password();
    } else {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        account.ServerAddress = QStringLiteral("127.0.0.1:") + QString::number(closed.serverPort());
        closed.close();
    }
    QVERIFY(app.start(account));
    QString shown, title;
    WhenModal(QStringLiteral("frmError"), [&](QWidget* dialog) {
        title = dialog->windowTitle();
        shown = dialog->findChild<QPlainTextEdit*>(QStringLiteral("txtError"))->toPlainText();
        dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    app.trigger(Command::CheckMail);
    QCOMPARE(title, QStringLiteral("Operation Error"));
    QCOMPARE(shown, text);
    QVERIFY(shown.indexOf(box.password()) < 0);
    QCOMPARE(app.window().review().rowCount(), 0);
    QVERIFY(app.window().review().session() == nullptr);
    QVERIFY(!app.state().BusyFlag);
    QVERIFY(VisibleTopLevel(QStringLiteral("frmStatus")) == nullptr);
    QCOMPARE(app.account().LastChecked, QStringLiteral("N/A"));
    QVERIFY(app.window().action(Command::CheckMail)->isEnabled());
}

void E2eCheckTest::cancelEndsSilently() {
    TestMailbox box = m_server->createMailbox();
    QVERIFY(box.isValid());
    QList<QByteArray> mails;
    // More than one pipelining window, so the download pauses for the link between
    // windows and the Cancel click gets its turn while it runs.
    for (int i = 1; i <= 1500; ++i)
        mails.append(Mail("From: sender" + QByteArray::number(i) + "@example.org\r\nSubject: n" +
                          QByteArray::number(i) + "\r\n"));
    QVERIFY(box.addMessages(mails));
    // A slow link, so the download is still running when Cancel is pressed.
    Pop3Proxy proxy(m_server->host(), m_server->pop3Port());
    proxy.setOneWayDelayMs(10);
    QVERIFY(proxy.listen());

    E2eHarness app;
    AccountRecord account = E2eHarness::AccountFor(*m_server, box);
    account.ServerAddress = QStringLiteral("127.0.0.1:") + QString::number(proxy.port());
    QVERIFY(app.start(account));
    QVERIFY(app.headerFiles().isEmpty());
    // Should the download win the race after all, no summary may wait for an answer.
    app.state().Settings.CheckDonePromptOff = 1;

    bool cancelWasDisabledAtLogin = false;
    bool barsDisabledWhileBusy = false;
    bool clicked = false;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        QWidget* status = VisibleTopLevel(QStringLiteral("frmStatus"));
        if (!status)
            return;
        auto* cancel = status->findChild<QPushButton*>(QStringLiteral("cmdCancel"));
        auto* label = status->findChild<QLabel*>(QStringLiteral("lblStatus"));
        if (label->text() == QLatin1String("Logging into server...Please wait...") && !cancel->isEnabled())
            cancelWasDisabledAtLogin = true;
        // The menu bar stays for Exit; its commands are off.
        barsDisabledWhileBusy = !app.window().findChild<QToolBar*>(QStringLiteral("ToolBar1"))->isEnabled() &&
                                !app.window().action(Command::CheckMail)->isEnabled();
        if (label->text().startsWith(QLatin1String("Downloading Headers for Message ")) &&
            cancel->isEnabled()) {
            poll.stop();
            clicked = true;
            cancel->click();
        }
    });
    poll.start();
    app.trigger(Command::CheckMail);
    poll.stop();

    QVERIFY(cancelWasDisabledAtLogin);
    QVERIFY(barsDisabledWhileBusy);
    QVERIFY(app.window().findChild<QToolBar*>(QStringLiteral("ToolBar1"))->isEnabled());
    QVERIFY(clicked);
    QVERIFY(app.boxes.isEmpty());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(app.window().review().rowCount(), 0);
    QVERIFY(app.window().review().session() == nullptr);
    QVERIFY(!app.state().BusyFlag);
    QVERIFY(VisibleTopLevel(QStringLiteral("frmStatus")) == nullptr);
    QVERIFY(app.headerFiles().isEmpty());
    QCOMPARE(app.account().LastChecked, QStringLiteral("N/A"));
    QCOMPARE(app.account().TotalMessages, 0);
    QCOMPARE(app.panel1(), QString());
    QCOMPARE(box.remainingMessages().size(), 1500);
}

// Cancel must not wait for the server: with every reply held back after the
// login, the check ends at the click, not at the time-out (which would report
// Code 13 in the error window).
void E2eCheckTest::cancelWhileTheServerIsSilent() {
    TestMailbox box = m_server->createMailbox();
    QVERIFY(box.isValid());
    QList<QByteArray> mails;
    for (int i = 1; i <= 1500; ++i)
        mails.append(Mail("From: s" + QByteArray::number(i) + "@example.org\r\nSubject: n\r\n"));
    QVERIFY(box.addMessages(mails));
    // A slow link from the start, so the download cannot finish before the silence begins.
    auto proxy = std::make_unique<Pop3Proxy>(m_server->host(), m_server->pop3Port());
    proxy->setOneWayDelayMs(10);
    QVERIFY(proxy->listen());

    E2eHarness app;
    AccountRecord account = E2eHarness::AccountFor(*m_server, box);
    account.ServerAddress = QStringLiteral("127.0.0.1:") + QString::number(proxy->port());
    QVERIFY(app.start(account));
    app.state().Settings.ServerTimeout = 600;
    app.state().Settings.CheckDonePromptOff = 1;
    const ModalWatcher errorReport(QStringLiteral("frmError"));

    bool silenced = false;
    bool hung = false;
    QElapsedTimer sinceSilence;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        QWidget* status = VisibleTopLevel(QStringLiteral("frmStatus"));
        auto* cancel = status ? status->findChild<QPushButton*>(QStringLiteral("cmdCancel")) : nullptr;
        if (!cancel || !cancel->isEnabled())
            return;
        if (!silenced) {
            // Logged in: from now on everything on the link takes ten minutes.
            proxy->setOneWayDelayMs(600000);
            silenced = true;
            sinceSilence.start();
        } else if (sinceSilence.elapsed() > 500) {
            poll.stop(); // what was on its way has arrived; the server says nothing more
            cancel->click();
            // Should the click not end the check, the link is cut a minute later so the test ends.
            QTimer::singleShot(60000, &poll, [&] {
                hung = true;
                proxy.reset();
            });
        }
    });
    poll.start();
    app.trigger(Command::CheckMail);
    poll.stop();

    QVERIFY(silenced);
    QVERIFY2(!hung, "the check went on waiting for the silent server after Cancel");
    QVERIFY(!errorReport.seen());
    QVERIFY(app.boxes.isEmpty());
    QVERIFY(!app.state().BusyFlag);
    QVERIFY(VisibleTopLevel(QStringLiteral("frmStatus")) == nullptr);
    QCOMPARE(app.window().review().rowCount(), 0);
    QVERIFY(app.window().review().session() == nullptr);
    QCOMPARE(box.remainingMessages().size(), 1500);
}

void E2eCheckTest::deleteUncheckedKeepsExactlyTheTicked() {
    constexpr int kRounds = 30;
    const QList<TestMailbox> boxes = m_server->createMailboxes(kRounds);
    QCOMPARE(boxes.size(), kRounds);
    E2eHarness app;
    QVERIFY(app.start(E2eHarness::AccountFor(*m_server, boxes.first())));
    ReviewModel* model = app.window().review().model();
    int deletedSoFar = 0;

    for (int round = 0; round < kRounds; ++round) {
        const quint32 seed = 1000 + static_cast<quint32>(round);
        QRandomGenerator random(seed);
        TestMailbox box = boxes.at(round);
        QVERIFY(box.isValid());
        const int count = random.bounded(3, 31);
        QList<QByteArray> mails;
        for (int i = 1; i <= count; ++i)
            mails.append(Mail("From: Sender " + QByteArray::number(random.bounded(100)) + " <s" +
                                  QByteArray::number(i) +
                                  "@example.org>\r\nSubject: " + QByteArray::number(random.bounded(1000)) +
                                  "\r\nDate: " + QByteArray::number(random.bounded(1, 29)) + " Dec 2026\r\n",
                              QByteArray(random.bounded(10, 3000), 'x') + "\r\n"));
        QVERIFY(box.addMessages(mails));
        app.useMailbox(box);
        app.state().Settings.CheckDonePromptOff = 1;
        app.trigger(Command::CheckMail);
        QCOMPARE(model->rowCount(), count);

        // A random column, clicked like a user does; sometimes twice.
        ReviewListView* list = app.list();
        const int column = random.bounded(ReviewItem::ColumnCount);
        QHeaderView* header = list->header();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        for (int clicks = random.bounded(1, 3); clicks > 0; --clicks)
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(model->sortColumn(), column);

        if (random.bounded(2))
            app.trigger(Command::CheckAll);
        QList<int> kept;
        for (int row = 0; row < count; ++row) {
            const bool keep = random.bounded(3) == 0;
            if (keep && random.bounded(2)) {
                list->setCurrentIndex(model->index(row, random.bounded(ReviewItem::ColumnCount)));
                if (model->item(row).keep)
                    QTest::keyClick(list, Qt::Key_Space);
                QTest::keyClick(list, Qt::Key_Space);
            } else {
                model->setData(model->index(row, 0), keep ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
            }
            QCOMPARE(model->item(row).keep, keep);
            if (keep)
                kept.append(model->item(row).MessageNumber);
        }
        const int toDelete = count - static_cast<int>(kept.size());

        const bool ask = random.bounded(2);
        app.state().Settings.DeletePromptOff = ask ? 0 : 1;
        bool asked = false;
        if (ask)
            WhenModal(QStringLiteral("frmConfirm"), [&](QWidget* dialog) {
                asked = true;
                dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
            });
        app.boxes.clear();
        app.trigger(Command::DeleteUnchecked);

        const QString where = QStringLiteral("seed %1, column %2").arg(seed).arg(column);
        if (toDelete == 0) {
            QCOMPARE(app.boxes.size(), 1);
            QCOMPARE(app.boxes.first().title, QStringLiteral("No Messages to be Deleted"));
            app.trigger(Command::AcceptAll);
        } else {
            QVERIFY2(app.boxes.isEmpty(),
                     qPrintable(where + QLatin1Char(' ') +
                                (app.boxes.isEmpty() ? QString() : app.boxes.first().text)));
            QCOMPARE(asked, ask);
        }
        // Courier answers QUIT before it has removed every file: give it a moment.
        QTRY_VERIFY2_WITH_TIMEOUT(box.remainingMessages() == Sorted(kept), qPrintable(where), 10000);
        deletedSoFar += toDelete;
        QCOMPARE(app.account().DeletedMessages, deletedSoFar);
        QCOMPARE(model->rowCount(), 0);
        QVERIFY(app.window().review().session() == nullptr);
        QVERIFY(!app.state().BusyFlag);
        QVERIFY(!app.window().action(Command::DeleteUnchecked)->isEnabled());
        QVERIFY(VisibleTopLevel(QStringLiteral("frmDelStatus")) == nullptr);
    }
}

void E2eCheckTest::quitLostDeletesNothing() {
    TestMailbox box = m_server->createMailbox();
    QVERIFY(box.isValid());
    for (int i = 1; i <= 6; ++i)
        QCOMPARE(box.addMessage(Mail("From: s" + QByteArray::number(i) + "@example.org\r\nSubject: x\r\n")),
                 i);
    Pop3Proxy proxy(m_server->host(), m_server->pop3Port());
    proxy.setHideStls(true);
    proxy.setDropAtQuit(true);
    QVERIFY(proxy.listen());

    E2eHarness app;
    AccountRecord account = E2eHarness::AccountFor(*m_server, box);
    account.ServerAddress = QStringLiteral("pop3://127.0.0.1:") + QString::number(proxy.port());
    account.DeletedMessages = 2;
    QVERIFY(app.start(account));
    app.state().Settings.CheckDonePromptOff = 1;
    app.state().Settings.DeletePromptOff = 1;
    app.trigger(Command::CheckMail);
    QVERIFY2(app.boxes.isEmpty(), qPrintable(app.boxes.isEmpty() ? QString() : app.boxes.first().text));
    QCOMPARE(app.window().review().rowCount(), 6);
    app.window().review().model()->setKeep(0, true);
    app.trigger(Command::DeleteUnchecked);

    QVERIFY2(proxy.quitsDropped() == 1, qPrintable(app.boxes.isEmpty() ? QString() : app.boxes.first().text));
    QCOMPARE(app.boxes.size(), 1);
    QCOMPARE(app.boxes.first().title, QStringLiteral("Message Deletion"));
    QCOMPARE(app.boxes.first().icon, ui::MessageIcon::Warning);
    QCOMPARE(app.account().DeletedMessages, 2);
    QCOMPARE(app.window().review().rowCount(), 0);
    QVERIFY(app.window().review().session() == nullptr);
    QVERIFY(!app.state().BusyFlag);
    // The server saw DELEs but no QUIT: it keeps every message.
    const auto session = box.waitForSessionEnd();
    QVERIFY2(session, qPrintable(box.serverLog().join(QLatin1Char('\n'))));
    QVERIFY(!session->quit);
    QCOMPARE(box.remainingMessages(), (QList<int>{1, 2, 3, 4, 5, 6}));
}

void E2eCheckTest::unwritableHeaderFolderEndsTheCheckCleanly() {
    TestMailbox box = m_server->createMailbox();
    QVERIFY(box.isValid());
    for (int i = 1; i <= 3; ++i)
        box.addMessage(Mail("From: s" + QByteArray::number(i) + "@example.org\r\nSubject: x\r\n"));
    E2eHarness app;
    QVERIFY(app.start(E2eHarness::AccountFor(*m_server, box)));
    // A file where the Data folder should be: no header file can be written.
    const QString data = HeaderFiles::DataFolder(app.folder());
    QVERIFY(QDir(data).removeRecursively());
    QFile blocker(data);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    app.trigger(Command::CheckMail);
    QCOMPARE(app.boxes.size(), 1);
    QCOMPARE(app.boxes.first().icon, ui::MessageIcon::Warning);
    QVERIFY(app.boxes.first().text.contains(QStringLiteral("Data/1.dat")));
    QVERIFY(!app.state().BusyFlag);
    QVERIFY(VisibleTopLevel(QStringLiteral("frmStatus")) == nullptr);
    QCOMPARE(app.window().review().rowCount(), 0);
    QVERIFY(app.window().review().session() == nullptr);
    QCOMPARE(app.account().LastChecked, QStringLiteral("N/A"));
    QVERIFY(app.window().action(Command::CheckMail)->isEnabled());
    const auto session = box.waitForSessionEnd();
    QVERIFY2(session, qPrintable(box.serverLog().join(QLatin1Char('\n'))));
    QCOMPARE(box.remainingMessages(), (QList<int>{1, 2, 3}));
}

QTEST_MAIN(E2eCheckTest)
#include "e2echecktest.moc"
