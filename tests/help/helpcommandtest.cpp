#include "common/messagebox.h"
#include "help/helplauncher.h"
#include "shell/mainwindow.h"
#include "store/accountstore.h"
#include "support/dialogfixture.h"
#include "support/helpfixture.h"
#include "support/mainwindowfixture.h"

#include <QFile>
#include <QMenu>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

// The main window's Help commands reach the help window, or the missing-file message.
class HelpCommandTest : public QObject {
    Q_OBJECT

    testsupport::PrivateHelpCache m_cache;
    testsupport::MessageBoxCapture m_messages;

private Q_SLOTS:
    void init() { m_messages.start(); }

    void cleanup() {
        help::CloseHelpWindow();
        m_messages.stop();
    }

    void helpCommandOpensContents_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<bool>("installed");
        QTest::newRow("toolbar Help") << "toolbar" << true;
        QTest::newRow("Help > Contents") << "menu" << true;
        QTest::newRow("toolbar Help, no help file") << "toolbar" << false;
        QTest::newRow("Help > Contents, no help file") << "menu" << false;
    }

    void helpCommandOpensContents() {
        QFETCH(QString, from);
        QFETCH(bool, installed);
        testsupport::MainWindowFixture app;
        if (installed)
            QVERIFY(testsupport::InstallHelpFile(app.path()));
        AccountStore(app.path()).AppendAccount(AccountRecord{}); // no wizard at first activation
        QVERIFY(app.start());
        MainWindow& window = app.window();
        auto* button = window.findChild<QToolButton*>(QStringLiteral("MainHelp"));
        QAction* entry = window.menu(QStringLiteral("mnuHelp"))->actions().value(0);
        QVERIFY(button && entry);
        const auto ask = [&] {
            if (from == u"toolbar")
                button->click();
            else
                entry->trigger();
        };

        ask();
        QWidget* first = help::CurrentHelpWindow();
        ask();

        if (!installed) {
            QCOMPARE(m_messages.size(), 2); // once per request
            QCOMPARE(m_messages.first().title, QStringLiteral("QUILLORE Tidemarsh Help"));
            QVERIFY(!help::CurrentHelpWindow());
            return;
        }
        QVERIFY(m_messages.isEmpty());
        QVERIFY(first && first->isVisible());
        QCOMPARE(help::CurrentHelpWindow(), first);
        QVERIFY(!first->isAncestorOf(&window) && first->parentWidget() == nullptr);
        auto* browser = first->findChild<QTextBrowser*>(QStringLiteral("helpBrowser"));
        QCOMPARE(browser->source().fileName(), QStringLiteral("index.html"));
    }
};

QTEST_MAIN(HelpCommandTest)
#include "helpcommandtest.moc"
