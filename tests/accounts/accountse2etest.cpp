// The account dialogs against a real POP3 server: the editor's Test, and the
// account chosen in Select Account being the one that is checked.
#include "accounts/accounteditor.h"
#include "check/core/accounterrortext.h"
#include "common/messagebox.h"
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"
#include "shell/mainwindow.h"
#include "store/accountstore.h"
#include "store/settingsstore.h"
#include "support/dialogfixture.h"
#include "support/mailserver/apopserver.h"
#include "support/mailserver/testmailserver.h"
#include "support/modalhelper.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <memory>

using testsupport::Child;

namespace {

QByteArray Mail(int box, int number) {
    return QStringLiteral(
               "From: sender%1@example.org\r\nTo: me@example.org\r\nSubject: Box %1, message %2\r\n"
               "Date: Mon, 07 Dec 2026 10:00:00 +0000\r\n\r\nHello.\r\n")
        .arg(box)
        .arg(number)
        .toUtf8();
}

} // namespace

class AccountsE2eTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestMailServer> m_server;
    testsupport::MessageBoxCapture m_boxes;

private Q_SLOTS:
    void initTestCase() {
        m_server = std::make_unique<TestMailServer>();
        TIDEMARSH_REQUIRE_MAILSERVER(*m_server);
        m_boxes.start();
    }
    void cleanupTestCase() { m_boxes.stop(); }
    void init() { m_boxes.clear(); }

    // The Test's text names how it connected and how it logged in. First: a refused
    // login just before would cost the next one Dovecot's penalty delay.
    void testButtonNamesTheWay_data() {
        QTest::addColumn<QString>("server"); // Dovecot's port "STLS" or "TLS", or the APOP server
        QTest::addColumn<bool>("apopSecret");
        QTest::addColumn<QString>("security");
        QTest::addColumn<QString>("login");
        QTest::newRow("implicit TLS on a port given without pop3s://")
            << QStringLiteral("TLS") << false << QStringLiteral(" with implicit TLS (TLS 1.")
            << QStringLiteral(", logged in with SASL PLAIN and");
        QTest::newRow("STARTTLS") << QStringLiteral("STLS") << false
                                  << QStringLiteral(" with STARTTLS (STLS) (TLS 1.")
                                  << QStringLiteral(", logged in with SASL PLAIN and");
        QTest::newRow("APOP offered, no APOP secret")
            << QStringLiteral("APOP") << false
            << QStringLiteral(" without encryption: the password was sent as plain text,")
            << QStringLiteral(", logged in with USER/PASS and");
        QTest::newRow("APOP secret") << QStringLiteral("APOP") << true
                                     << QStringLiteral(" without encryption, ")
                                     << QStringLiteral(", logged in with APOP and");
    }
    void testButtonNamesTheWay() {
        QFETCH(QString, server);
        QFETCH(bool, apopSecret);
        QFETCH(QString, security);
        QFETCH(QString, login);
        QString address, user, password;
        if (server == QStringLiteral("APOP")) {
            const ApopServer apop = ApopServer::Read();
            if (!apop.unavailable.isEmpty())
                QSKIP(qPrintable(apop.unavailable));
            address = apop.address();
            user = apopSecret ? apop.apopUser : apop.plainUser;
            password = apopSecret ? apop.apopPassword : apop.plainPassword;
        } else {
            TestMailbox box = m_server->createMailbox();
            QVERIFY2(box.isValid(), qPrintable(box.errorString()));
            // A port of its own, not 995: the Test finds out that it speaks TLS from the first byte.
            const quint16 port =
                server == QStringLiteral("TLS") ? m_server->pop3sPort() : m_server->pop3Port();
            address = m_server->host() + QLatin1Char(':') + QString::number(port);
            user = box.user();
            password = box.password();
        }
        QTemporaryDir dir;
        AppState state;
        state.ProgramFolder = dir.path() + QLatin1Char('/');
        QTreeWidget list;
        QPushButton edit, del;
        AccountEditor editor(state, 0, &list, &edit, &del, nullptr);
        editor.tester().addCaCertificates(QSslCertificate::fromPath(m_server->caFile()));
        editor.show();
        Child<QLineEdit>(&editor, "txtAccount")->setText(QStringLiteral("Test"));
        Child<QLineEdit>(&editor, "txtLogin")->setText(user);
        Child<QLineEdit>(&editor, "txtPassword")->setText(password);
        Child<QLineEdit>(&editor, "txtServer")->setText(address);
        QElapsedTimer timer;
        timer.start();
        Child<QPushButton>(&editor, "cmdTest")->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 1, 60000);
        qInfo("the Test took %lld ms", timer.elapsed());
        QCOMPARE(m_boxes.at(0).icon, ui::MessageIcon::Information);
        const QString text = m_boxes.at(0).text;
        QVERIFY2(text.contains(security) && text.contains(login), qPrintable(text));
        QVERIFY2(m_boxes.at(0).text.endsWith(QStringLiteral("2 messages are waiting on the server.")) ||
                     server != QStringLiteral("APOP"),
                 qPrintable(m_boxes.at(0).text));
        // The default time-out is far longer than the probe that found the TLS.
        QVERIFY(timer.elapsed() < 10000);
    }

    // Runs before anything trusts the test CA process-wide: the Test's own trust is what counts.
    void testButton_data() {
        QTest::addColumn<QString>("form"); // STLS, TLS, wrong password, not listening
        QTest::newRow("STARTTLS on the POP3 port") << QStringLiteral("STLS");
        QTest::newRow("implicit TLS") << QStringLiteral("TLS");
        QTest::newRow("wrong password") << QStringLiteral("wrong password");
        QTest::newRow("nothing listening") << QStringLiteral("not listening");
    }
    void testButton() {
        QFETCH(QString, form);
        TestMailbox box = m_server->createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        QVERIFY2(box.addMessages({Mail(1, 1), Mail(1, 2)}), qPrintable(box.errorString()));

        QString server = m_server->host() + QLatin1Char(':') + QString::number(m_server->pop3Port());
        QString password = box.password();
        if (form == QStringLiteral("TLS"))
            server = QStringLiteral("pop3s://%1:%2").arg(m_server->host()).arg(m_server->pop3sPort());
        if (form == QStringLiteral("wrong password"))
            password += QStringLiteral("x");
        if (form == QStringLiteral("not listening")) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            server = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
        }

        QTemporaryDir dir;
        AppState state;
        state.ProgramFolder = dir.path() + QLatin1Char('/');
        QTreeWidget list;
        QPushButton edit, del;
        AccountEditor editor(state, 0, &list, &edit, &del, nullptr);
        editor.tester().addCaCertificates(QSslCertificate::fromPath(m_server->caFile()));
        editor.show();
        Child<QLineEdit>(&editor, "txtAccount")->setText(QStringLiteral("Test"));
        Child<QLineEdit>(&editor, "txtLogin")->setText(box.user());
        Child<QLineEdit>(&editor, "txtPassword")->setText(password);
        Child<QLineEdit>(&editor, "txtServer")->setText(server);
        QPushButton* test = Child<QPushButton>(&editor, "cmdTest");
        QVERIFY(test->isEnabled());
        test->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 1, 60000);
        const ui::MessageRequest& told = m_boxes.at(0);
        QCOMPARE(told.title, QStringLiteral("Account Test"));
        QVERIFY(!told.text.contains(password)); // never the password
        if (form == QStringLiteral("STLS") || form == QStringLiteral("TLS")) {
            QCOMPARE(told.icon, ui::MessageIcon::Information);
            const QString how =
                form == QStringLiteral("TLS")
                    ? QStringLiteral("on port %1 with implicit TLS (TLS 1.").arg(m_server->pop3sPort())
                    : QStringLiteral("on port %1 with STARTTLS (STLS) (TLS 1.").arg(m_server->pop3Port());
            QVERIFY2(told.text.contains(how), qPrintable(told.text));
            QVERIFY2(told.text.endsWith(QStringLiteral("2 messages are waiting on the server.")),
                     qPrintable(told.text));
            // The server saw a login and a QUIT, and nothing was read or deleted.
            const std::optional<ServerSession> session = box.waitForSessionEnd();
            QVERIFY2(session, qPrintable(box.serverLog().join(QLatin1Char('\n'))));
            QVERIFY(session->quit);
            QCOMPARE(session->tops, 0);
            QCOMPARE(session->retrs, 0);
            QCOMPARE(session->deletions, 0);
            QCOMPARE(box.remainingMessages(), (QList<int>{1, 2}));
        } else {
            QCOMPARE(told.icon, ui::MessageIcon::Warning);
            const pop3::Result code = form == QStringLiteral("wrong password")
                                          ? pop3::Result::LoginRejected
                                          : pop3::Result::ConnectionProblem;
            QCOMPARE(told.text, QStringLiteral("Could not connect to the server.") +
                                    AccountError::CodeText(AccountError::Kind::Login, code));
            QVERIFY(box.sessions().isEmpty());
        }
        // The test stores nothing, and leaves the dialog as it was.
        QVERIFY(!QFileInfo::exists(AccountStore(state.ProgramFolder).filePath()));
        QVERIFY(editor.isVisible());
        QVERIFY(Child<QPushButton>(&editor, "cmdOK")->isEnabled());
        QVERIFY(test->isVisible());
    }

    // The Test meets a certificate nobody vouches for: the dialog offers the
    // exception, and once trusted the Test runs again and gets through.
    void testButtonOffersTheCertificate() {
        TestMailbox box = m_server->createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        QTemporaryDir dir;
        AppState state;
        state.ProgramFolder = dir.path() + QLatin1Char('/');
        QTreeWidget list;
        QPushButton edit, del;
        AccountEditor editor(state, 0, &list, &edit, &del, nullptr);
        editor.show();
        Child<QLineEdit>(&editor, "txtAccount")->setText(QStringLiteral("Test"));
        Child<QLineEdit>(&editor, "txtLogin")->setText(box.user());
        Child<QLineEdit>(&editor, "txtPassword")->setText(box.password());
        Child<QLineEdit>(&editor, "txtServer")
            ->setText(m_server->host() + QLatin1Char(':') + QString::number(m_server->pop3Port()));
        bool offered = false;
        WhenModal(QStringLiteral("frmCertificate"), [&](QWidget* dialog) {
            offered = true;
            dialog->findChild<QPushButton*>(QStringLiteral("cmdTrust"))->click();
        });
        Child<QPushButton>(&editor, "cmdTest")->click();
        QTRY_VERIFY_WITH_TIMEOUT(offered, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 1, 60000);
        QCOMPARE(m_boxes.at(0).icon, ui::MessageIcon::Information);
        QVERIFY(QFileInfo::exists(state.ProgramFolder + QStringLiteral("CertificateExceptions.txt")));
    }

    void chosenAccountIsTheOneChecked() {
        // The check trusts what the system trusts; the test CA joins it here, as a user's own CA would.
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.addCaCertificates(QSslCertificate::fromPath(m_server->caFile()));
        QSslConfiguration::setDefaultConfiguration(config);

        QList<TestMailbox> boxes = m_server->createMailboxes(3);
        QCOMPARE(boxes.size(), 3);
        QTemporaryDir dir;
        SettingsRecord settings;
        settings.CheckDonePromptOff = 1;
        SettingsStore(dir.path()).SaveSettings(settings);
        const QStringList names{QStringLiteral("First"), QStringLiteral("Second"), QStringLiteral("Third")};
        for (int n = 0; n < 3; ++n) {
            QVERIFY2(boxes[n].isValid(), qPrintable(boxes[n].errorString()));
            for (int m = 1; m <= n + 1; ++m)
                QVERIFY(boxes[n].addMessage(Mail(n + 1, m)) == m);
            AccountRecord account;
            account.AccountName = names[n];
            account.LoginName = boxes[n].user();
            account.LoginPassword = boxes[n].password();
            account.ServerAddress =
                m_server->host() + QLatin1Char(':') + QString::number(m_server->pop3Port());
            AccountStore(dir.path()).AppendAccount(account);
        }

        MainWindow window(dir.path());
        QVERIFY(window.Startup());
        QVERIFY(QTest::qWaitFor([&] { return window.state().ActivatedOnce; }, 30000));
        QCOMPARE(window.state().AccountCount, 3);

        bool chose = false;
        WhenModal(QStringLiteral("frmChoose"), [&](QWidget* choose) {
            auto* list = Child<QTreeWidget>(choose, "ListView1");
            QCOMPARE(list->topLevelItemCount(), 4); // "All accounts" and the three
            list->setCurrentItem(list->topLevelItem(3));
            Child<QPushButton>(choose, "cmdOK")->click();
            chose = true;
        });
        window.action(Command::CheckMail)->trigger();
        QVERIFY(QTest::qWaitFor([&] { return !window.isWorking(); }, 60000));
        QVERIFY(chose);
        QVERIFY2(m_boxes.isEmpty(), m_boxes.isEmpty() ? "" : qPrintable(m_boxes.at(0).text));

        QStringList subjects;
        for (const ReviewItem& row : window.review().model()->items())
            subjects << row.text(ReviewItem::Subject);
        subjects.sort();
        QCOMPARE(subjects,
                 (QStringList{QStringLiteral("Box 3, message 1"), QStringLiteral("Box 3, message 2"),
                              QStringLiteral("Box 3, message 3")}));
        QCOMPARE(window.state().ReviewAccountName, QStringLiteral("Third"));

        const AccountStore store(dir.path());
        for (int n = 1; n <= 2; ++n) {
            QCOMPARE(store.ReadAccount(n).LastChecked, QStringLiteral("N/A"));
            QCOMPARE(store.ReadAccount(n).TotalMessages, 0);
        }
        QVERIFY(store.ReadAccount(3).LastChecked != QStringLiteral("N/A"));
        QCOMPARE(store.ReadAccount(3).TotalMessages, 3);
        QVERIFY(boxes[2].waitForLogin());
        QVERIFY(boxes[0].sessions().isEmpty());
        QVERIFY(boxes[1].sessions().isEmpty());
        window.review().EndSession();
    }
};

QTEST_MAIN(AccountsE2eTest)
#include "accountse2etest.moc"
