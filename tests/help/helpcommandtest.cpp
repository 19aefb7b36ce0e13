#include "common/messagebox.h"
#include "help/helplauncher.h"
#include "shell/mainwindow.h"
#include "store/accountstore.h"

#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

// The main window's Help commands reach the help window, or the missing-file message.
class HelpCommandTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_cache;
    QList<ui::MessageRequest> m_messages;

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CACHE_HOME", m_cache.path().toUtf8()); }

    void init() {
        m_messages.clear();
        ui::SetMessageBoxHandler([this](const ui::MessageRequest& request) {
            m_messages.append(request);
            return QMessageBox::Ok;
        });
    }

    void cleanup() {
        help::CloseHelpWindow();
        ui::SetMessageBoxHandler({});
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
        QTemporaryDir folder;
        if (installed)
            QVERIFY(QFile::copy(qEnvironmentVariable("TIDEMARSH_HELP_FILE"),
                                folder.filePath(help::HelpFileName())));
        AccountStore(folder.path()).AppendAccount(AccountRecord{}); // no wizard at first activation
        MainWindow window(folder.path());
        QVERIFY(window.Startup());
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
