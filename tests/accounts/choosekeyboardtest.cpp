// Select Account from the keyboard alone, as a user meets it: a window manager
// runs, keys go through the X server (XTEST), and the account chosen is checked
// against the fixture's real server.
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"
#include "shell/mainwindow.h"
#include "store/accountstore.h"
#include "store/settingsstore.h"
#include "support/dialogfixture.h"
#include "support/mailserver/testmailserver.h"
#include "support/modalhelper.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QByteArray Mail(int box, int number) {
    return QStringLiteral(
               "From: sender%1@example.org\r\nTo: me@example.org\r\nSubject: Box %1, message %2\r\n"
               "Date: Mon, 07 Dec 2026 10:00:00 +0000\r\n\r\nHello.\r\n")
        .arg(box)
        .arg(number)
        .toUtf8();
}

// One key through the X server, to whatever window has the keyboard there.
bool Key(const QString& key) {
    return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), key}) == 0;
}

QString FocusName() {
    QWidget* focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QString();
}

} // namespace

class ChooseKeyboardTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestMailServer> m_server;
    testsupport::MessageBoxCapture m_boxes;

private Q_SLOTS:
    void initTestCase() {
        m_server = std::make_unique<TestMailServer>();
        TIDEMARSH_REQUIRE_MAILSERVER(*m_server);
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.addCaCertificates(QSslCertificate::fromPath(m_server->caFile()));
        QSslConfiguration::setDefaultConfiguration(config);
        m_boxes.start();
    }
    void cleanupTestCase() { m_boxes.stop(); }

    // F5, then Tab to the list, Down to the second account, Enter: the second is checked.
    void tabArrowsAndEnterChooseTheSecondAccount() {
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
        QVERIFY(QTest::qWaitForWindowActive(&window, 30000));
        QVERIFY(QTest::qWaitFor([&] { return window.state().ActivatedOnce; }, 30000));

        QStringList focusPath;
        int selectedBeforeEnter = -1;
        WhenModal(QStringLiteral("frmChoose"), [&](QWidget* choose) {
            // The keyboard is the dialog's once the focus is in it (the main window's list has the same
            // name).
            if (!QTest::qWaitFor(
                    [&] {
                        return QApplication::focusWidget() && QApplication::focusWidget()->window() == choose;
                    },
                    20000))
                return;
            auto* list = choose->findChild<QAbstractItemView*>(QStringLiteral("ListView1"));
            focusPath.append(FocusName());
            for (int tabs = 0; tabs < 4 && QApplication::focusWidget() != list; ++tabs) {
                if (!Key(QStringLiteral("Tab")))
                    return;
                const QString before = focusPath.last();
                (void)QTest::qWaitFor([&] { return FocusName() != before; }, 5000);
                focusPath.append(FocusName());
            }
            if (QApplication::focusWidget() != list || !Key(QStringLiteral("Down")))
                return;
            // "All accounts" is row 0; the first account, row 1, is current at the opening.
            (void)QTest::qWaitFor([&] { return list->currentIndex().row() == 2; }, 5000);
            const QModelIndexList rows = list->selectionModel()->selectedRows();
            selectedBeforeEnter = rows.size() == 1 ? rows.first().row() : -1;
            Key(QStringLiteral("Return"));
        });
        QVERIFY(Key(QStringLiteral("F5")));

        ReviewModel* model = window.review().model();
        QTRY_VERIFY_WITH_TIMEOUT(model->rowCount() > 0 || !m_boxes.isEmpty(), 60000);
        QVERIFY2(m_boxes.isEmpty(), m_boxes.isEmpty() ? "" : qPrintable(m_boxes.first().text));
        QCOMPARE(focusPath.first(), QStringLiteral("cmdOK")); // the dialog opens on its default button
        QCOMPARE(focusPath.last(), QStringLiteral("ListView1"));
        QCOMPARE(selectedBeforeEnter, 2);
        QCOMPARE(window.state().ReviewAccountName, QStringLiteral("Second"));
        QCOMPARE(model->rowCount(), 2);
        QStringList subjects;
        for (const ReviewItem& row : model->items())
            subjects << row.text(ReviewItem::Subject);
        subjects.sort();
        QCOMPARE(subjects,
                 (QStringList{QStringLiteral("Box 2, message 1"), QStringLiteral("Box 2, message 2")}));
        QVERIFY(boxes[0].sessions().isEmpty());
        QVERIFY(boxes[2].sessions().isEmpty());
        window.review().EndSession();
        window.ExitApplication();
    }
};

QTEST_MAIN(ChooseKeyboardTest)
#include "choosekeyboardtest.moc"
