// frmOptions through its widgets, the number reading behind its boxes, the
// theme switch it applies to the main window, and the log-in start it writes
// into the desktop's autostart folder (a temporary one here).
#include "common/appstate.h"
#include "common/messagebox.h"
#include "desktop/autostartentry.h"
#include "desktop/desktopentry.h"
#include "options/numbertext.h"
#include "options/optionsdialog.h"
#include "shell/mainwindow.h"
#include "store/accountstore.h"
#include "support/dialogfixture.h"
#include "support/mainwindowfixture.h"
#include "support/modalhelper.h"
#include "support/testdata.h"
#include "watch/core/watchengine.h"

#include <QAccessible>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <memory>

using testsupport::Child;

namespace {

QLineEdit* Box(QWidget* dialog, const char* name) {
    return Child<QLineEdit>(dialog, name);
}
QCheckBox* Tick(QWidget* dialog, const char* name) {
    return Child<QCheckBox>(dialog, name);
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

void Retype(QLineEdit* box, const QString& text) {
    box->clear();
    QTest::keyClicks(box, text);
}

bool PlainBars(MainWindow& window) {
    QWidget* bar = window.findChild<QToolBar*>(QStringLiteral("ToolBar1"));
    return bar->autoFillBackground() && bar->palette().resolveMask() != 0 &&
           bar->palette().color(QPalette::Window) == QColor(0xF0, 0xF0, 0xF0);
}

} // namespace

class OptionsTest : public QObject {
    Q_OBJECT

    AppState m_state;
    testsupport::MessageBoxCapture m_boxes;
    QTemporaryDir m_config; // XDG_CONFIG_HOME: the user's own autostart folder stays untouched

    static AutostartEntry Entry() { return AutostartEntry(QCoreApplication::applicationFilePath()); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }
    void init() {
        m_state = AppState();
        m_state.ProgramFolder = QStringLiteral("/nonexistent/");
        m_boxes.start();
    }
    void cleanup() {
        m_boxes.stop();
        QDir(AutostartEntry::folder()).removeRecursively();
    }

    void valueOfText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("trailing letters") << QStringLiteral("1a") << 1.0;
        QTest::newRow("hexadecimal") << QStringLiteral("&H1F") << 31.0;
        QTest::newRow("octal, lower case") << QStringLiteral("&o17") << 15.0;
        QTest::newRow("hexadecimal stops at a non-digit") << QStringLiteral("&HFFg1") << 255.0;
        QTest::newRow("minus zero") << QStringLiteral(" -0") << 0.0;
        QTest::newRow("blanks anywhere") << QStringLiteral(" 1 1\t0\n") << 110.0;
        QTest::newRow("sign and decimals") << QStringLiteral("+12.75") << 12.75;
        QTest::newRow("leading point") << QStringLiteral(".5") << 0.5;
        QTest::newRow("exponent") << QStringLiteral("1.5e2") << 150.0;
        QTest::newRow("d exponent, negative") << QStringLiteral("25D-1") << 2.5;
        QTest::newRow("exponent without digits") << QStringLiteral("7e+") << 7.0;
        QTest::newRow("second point stops") << QStringLiteral("1.2.3") << 1.2;
        QTest::newRow("not a number") << QStringLiteral("port 110") << 0.0;
        QTest::newRow("minus alone") << QStringLiteral("-") << 0.0;
        QTest::newRow("empty") << QString() << 0.0;
        QTest::newRow("prefix without digits") << QStringLiteral("&H") << 0.0;
        QTest::newRow("large") << QStringLiteral("9e9") << 9e9;
    }
    void valueOfText() {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(options::ValueOfText(text), value);
    }

    void opensWithTheSettings() {
        {
            OptionsDialog dialog(m_state, nullptr);
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Default Options"));
            // The bars follow this desktop's theme: no other system's name in the caption.
            QCOMPARE(Tick(&dialog, "chkThemes")->text(), QStringLiteral("Use the desktop's theme colours"));
            for (const char* name : {"chkNew", "chkDelete", "chkThemes"})
                QVERIFY2(Tick(&dialog, name)->isChecked(), name);
            QCOMPARE(Box(&dialog, "txtPort")->text(), QStringLiteral("110"));
            QCOMPARE(Box(&dialog, "txtTimeout")->text(), QStringLiteral("30"));
            QCOMPARE(dialog.focusWidget(), Child<QPushButton>(&dialog, "cmdOK"));
            QVERIFY(Child<QPushButton>(&dialog, "cmdOK")->isDefault());
        }
        m_state.Settings.DeletePromptOff = 2; // anything but 0 unticks
        m_state.Settings.CheckDonePromptOff = 1;
        m_state.Settings.ThemeColoursOff = 1;
        m_state.Settings.ServerPort = -1; // 65535 as stored
        m_state.Settings.ServerTimeout = -5;
        OptionsDialog dialog(m_state, nullptr);
        for (const char* name : {"chkNew", "chkDelete", "chkThemes"})
            QVERIFY2(!Tick(&dialog, name)->isChecked(), name);
        QCOMPARE(Box(&dialog, "txtPort")->text(), QStringLiteral("65535"));
        QCOMPARE(Box(&dialog, "txtTimeout")->text(), QString());
    }

    void changeRuleEmptiesAtOnce_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("zero") << QStringLiteral("0") << QString();
        QTest::newRow("minus") << QStringLiteral("-") << QString();
        QTest::newRow("letters") << QStringLiteral("x") << QString();
        QTest::newRow("number then letter") << QStringLiteral("1a") << QStringLiteral("1a");
        QTest::newRow("minus goes, digits stay") << QStringLiteral("-5") << QStringLiteral("5");
    }
    void changeRuleEmptiesAtOnce() {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        OptionsDialog dialog(m_state, nullptr);
        for (const char* name : {"txtPort", "txtTimeout"}) {
            Retype(Box(&dialog, name), typed);
            QCOMPARE(Box(&dialog, name)->text(), shown);
        }
    }

    void okStores_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("timeout");
        QTest::addColumn<int>("storedPort");
        QTest::addColumn<int>("storedTimeout");
        QTest::newRow("as shown") << QStringLiteral("995") << QStringLiteral("120") << 995 << 120;
        QTest::newRow("empty boxes take the defaults") << QString() << QStringLiteral("  ") << 110 << 30;
        QTest::newRow("1a") << QStringLiteral("1a") << QStringLiteral("1a") << 1 << 1;
        QTest::newRow("&H and &O") << QStringLiteral("&H1F") << QStringLiteral("&O17") << 31 << 15;
        QTest::newRow("halves to even") << QStringLiteral("110.5") << QStringLiteral("31.5") << 110 << 32;
        QTest::newRow("exponent") << QStringLiteral("1e3") << QStringLiteral("6e1") << 1000 << 60;
        QTest::newRow("highest port, as its 16-bit pattern")
            << QStringLiteral("65535") << QStringLiteral("32767") << -1 << 32767;
    }
    void okStores() {
        QFETCH(QString, port);
        QFETCH(QString, timeout);
        QFETCH(int, storedPort);
        QFETCH(int, storedTimeout);
        m_state.Settings.WindowWidth = 1234; // not the dialog's: left alone
        OptionsDialog dialog(m_state, nullptr);
        dialog.show();
        Box(&dialog, "txtPort")->setText(port);
        Box(&dialog, "txtTimeout")->setText(timeout);
        Child<QPushButton>(&dialog, "cmdOK")->click();
        QVERIFY(m_boxes.isEmpty());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(int(m_state.Settings.ServerPort), storedPort);
        QCOMPARE(int(m_state.Settings.ServerTimeout), storedTimeout);
        QCOMPARE(int(m_state.Settings.WindowWidth), 1234);
    }

    void outOfRangeIsRefused_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("timeout");
        QTest::addColumn<QString>("refusedBox");
        QTest::newRow("port 70000") << QStringLiteral("70000") << QStringLiteral("30")
                                    << QStringLiteral("txtPort");
        QTest::newRow("port 9e9") << QStringLiteral("9e9") << QStringLiteral("30")
                                  << QStringLiteral("txtPort");
        QTest::newRow("port rounds to 0")
            << QStringLiteral("0.4") << QStringLiteral("30") << QStringLiteral("txtPort");
        QTest::newRow("timeout 9e9") << QStringLiteral("110") << QStringLiteral("9e9")
                                     << QStringLiteral("txtTimeout");
        QTest::newRow("timeout 32768")
            << QStringLiteral("110") << QStringLiteral("32768") << QStringLiteral("txtTimeout");
        QTest::newRow("timeout 1e999")
            << QStringLiteral("110") << QStringLiteral("1e999") << QStringLiteral("txtTimeout");
    }
    void outOfRangeIsRefused() {
        QFETCH(QString, port);
        QFETCH(QString, timeout);
        QFETCH(QString, refusedBox);
        const SettingsRecord before = m_state.Settings;
        OptionsDialog dialog(m_state, nullptr);
        dialog.show();
        Tick(&dialog, "chkDelete")->setChecked(false);
        Box(&dialog, "txtPort")->setText(port);
        Box(&dialog, "txtTimeout")->setText(timeout);
        Child<QPushButton>(&dialog, "cmdOK")->click();
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.first().icon, ui::MessageIcon::Warning);
        QVERIFY(m_boxes.first().text.contains(refusedBox == u"txtPort" ? QStringLiteral("65535")
                                                                       : QStringLiteral("32767")));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.focusWidget()->objectName(), refusedBox);
        QVERIFY(m_state.Settings == before); // nothing stored, not even the ticks
    }

    void ticksAndCloseBox() {
        const SettingsRecord before = m_state.Settings;
        int themeApplied = 0;
        m_state.hooks.applyThemeColours = [&themeApplied] { ++themeApplied; };
        {
            OptionsDialog dialog(m_state, nullptr);
            dialog.show();
            for (const char* name : {"chkNew", "chkDelete", "chkThemes"})
                Tick(&dialog, name)->setChecked(false);
            Retype(Box(&dialog, "txtPort"), QStringLiteral("995"));
            dialog.close(); // the title bar's close box
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
        QVERIFY(m_state.Settings == before);
        QCOMPARE(themeApplied, 0);

        OptionsDialog dialog(m_state, nullptr);
        dialog.show();
        Tick(&dialog, "chkNew")->setChecked(false);
        Tick(&dialog, "chkDelete")->setChecked(false);
        QTest::keyClick(&dialog, Qt::Key_Return); // OK is the default button
        QCOMPARE(int(m_state.Settings.CheckDonePromptOff), 1);
        QCOMPARE(int(m_state.Settings.DeletePromptOff), 1);
        QCOMPARE(int(m_state.Settings.ThemeColoursOff), 0);
        QCOMPARE(themeApplied, 1);
    }

    void tabOrderAndHelp() {
        OptionsDialog dialog(m_state, nullptr);
        dialog.show();
        QStringList order{QStringLiteral("chkNew")};
        for (QWidget* widget = Tick(&dialog, "chkNew")->nextInFocusChain(); order.size() < 10;
             widget = widget->nextInFocusChain())
            if (widget->focusPolicy() & Qt::TabFocus)
                order.append(widget->objectName());
        QCOMPARE(order, (QStringList{QStringLiteral("chkNew"), QStringLiteral("chkDelete"),
                                     QStringLiteral("txtPort"), QStringLiteral("txtTimeout"),
                                     QStringLiteral("cmdOK"), QStringLiteral("cmdHelp"),
                                     QStringLiteral("chkThemes"), QStringLiteral("chkAutostart"),
                                     QStringLiteral("chkWatch"), QStringLiteral("spnWatchMinutes")}));
        // No manual in this folder: the launcher says so, and the dialog stays.
        Child<QPushButton>(&dialog, "cmdHelp")->click();
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.first().title, QStringLiteral("QUILLORE Tidemarsh Help"));
        QVERIFY(dialog.isVisible());
    }

    // The watch's settings go to Tidemarsh.ini, never into Config.dat; the
    // minutes box follows the tick.
    void watchSettingsInTheirOwnFile() {
        QTemporaryDir folder;
        m_state.ProgramFolder = folder.path() + QLatin1Char('/');
        const SettingsRecord before = m_state.Settings;
        {
            OptionsDialog dialog(m_state, nullptr);
            dialog.show();
            QCheckBox* watch = Tick(&dialog, "chkWatch");
            auto* minutes = Child<QSpinBox>(&dialog, "spnWatchMinutes");
            QVERIFY(!watch->isChecked());
            QVERIFY(!minutes->isEnabled());
            QCOMPARE(minutes->value(), 15);
            QCOMPARE(minutes->accessibleName(), QStringLiteral("Minutes between background checks"));
            watch->setFocus();
            QTest::keyClick(watch, Qt::Key_Space);
            QVERIFY(minutes->isEnabled());
            minutes->setFocus();
            minutes->selectAll();
            QTest::keyClicks(minutes, QStringLiteral("30"));
            QTest::keyClick(&dialog, Qt::Key_Return);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        const watch::WatchSettings saved = watch::WatchSettings::Load(m_state.ProgramFolder);
        QVERIFY(saved.enabled);
        QCOMPARE(saved.minutes, 30);
        QVERIFY(m_state.Settings == before);
        QVERIFY(!QFileInfo::exists(m_state.ProgramFolder + QStringLiteral("Config.dat")));
        // A new folder starts with the watch on; one that has chosen keeps its choice.
        watch::WatchSettings::SetUpNewFolder(m_state.ProgramFolder);
        QCOMPARE(watch::WatchSettings::Load(m_state.ProgramFolder).minutes, 30);
        QTemporaryDir fresh;
        watch::WatchSettings::SetUpNewFolder(fresh.path());
        QVERIFY(watch::WatchSettings::Load(fresh.path()).enabled);
        QVERIFY(m_boxes.isEmpty());
    }

    // The box shows whether the desktop starts this program at log-in; OK
    // writes or removes the entry, the close box leaves it; none of it is a
    // setting of the record.
    void autostartWrittenAndRemoved() {
        const SettingsRecord before = m_state.Settings;
        const auto setBox = [this](bool ticked, bool ok) {
            OptionsDialog dialog(m_state, nullptr);
            dialog.show();
            QCheckBox* box = Tick(&dialog, "chkAutostart");
            const bool was = box->isChecked();
            box->setFocus();
            if (ticked != was)
                QTest::keyClick(box, Qt::Key_Space);
            if (ok)
                QTest::keyClick(&dialog, Qt::Key_Return); // OK is the default button
            else
                dialog.close();
            return was;
        };
        QVERIFY(!setBox(true, false)); // ticked, then the close box
        QVERIFY(!QFileInfo::exists(Entry().filePath()));

        QVERIFY(!setBox(true, true));
        QVERIFY(Entry().isOn());
        const auto keys = desktopentry::readGroup(testsupport::ReadAll(Entry().filePath()));
        QCOMPARE(keys.value(QStringLiteral("Exec")),
                 *desktopentry::execArgument(QCoreApplication::applicationFilePath()) +
                     QStringLiteral(" --hidden"));
        QVERIFY(m_state.Settings == before);

        QVERIFY(setBox(false, false)); // shown ticked; unticked, then the close box
        QVERIFY(Entry().isOn());
        QVERIFY(setBox(false, true));
        QVERIFY(!QFileInfo::exists(Entry().filePath()));
        QVERIFY(!setBox(false, true));
        QVERIFY(m_boxes.isEmpty());
        QVERIFY(m_state.Settings == before);
    }

    void autostartBoxForScreenReaders() {
        QVERIFY(Entry().switchOn().isEmpty());
        OptionsDialog dialog(m_state, nullptr);
        dialog.show();
        QCheckBox* box = Tick(&dialog, "chkAutostart");
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(box);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::CheckBox);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Start Tidemarsh when I log in"));
        QVERIFY(iface->state().checkable);
        QVERIFY(iface->state().checked);
    }

    // An entry of another copy of the program: shown unticked and left alone,
    // until the box is ticked here, which makes the entry this copy's.
    void anotherCopysEntry() {
        const AutostartEntry other(QStringLiteral("/opt/elsewhere/tidemarsh"));
        QVERIFY(other.switchOn().isEmpty());
        {
            OptionsDialog dialog(m_state, nullptr);
            dialog.show();
            QVERIFY(!Tick(&dialog, "chkAutostart")->isChecked());
            Child<QPushButton>(&dialog, "cmdOK")->click();
        }
        QVERIFY(other.isOn());
        OptionsDialog dialog(m_state, nullptr);
        dialog.show();
        Tick(&dialog, "chkAutostart")->setChecked(true);
        Child<QPushButton>(&dialog, "cmdOK")->click();
        QVERIFY(Entry().isOn());
        QVERIFY(!other.isOn());
    }

    // The entry cannot be written: the user is told, the box shows what is set,
    // the dialog stays, and no other choice is stored.
    void autostartFailureIsTold() {
        QVERIFY(WriteFile(AutostartEntry::folder(), "a file where the folder goes"));
        const SettingsRecord before = m_state.Settings;
        OptionsDialog dialog(m_state, nullptr);
        dialog.show();
        Tick(&dialog, "chkDelete")->setChecked(false);
        Tick(&dialog, "chkAutostart")->setChecked(true);
        Child<QPushButton>(&dialog, "cmdOK")->click();
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.first().icon, ui::MessageIcon::Warning);
        QVERIFY2(m_boxes.first().text.contains(QStringLiteral("could not be set to start when you log in")) &&
                     m_boxes.first().text.contains(AutostartEntry::folder()),
                 qPrintable(m_boxes.first().text));
        QVERIFY(dialog.isVisible());
        QVERIFY(!Tick(&dialog, "chkAutostart")->isChecked());
        QCOMPARE(dialog.focusWidget(), Tick(&dialog, "chkAutostart"));
        QVERIFY(m_state.Settings == before);
        // Nothing to write any more: OK goes through.
        Child<QPushButton>(&dialog, "cmdOK")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(int(m_state.Settings.DeletePromptOff), 1);
        QVERIFY(QFile::remove(AutostartEntry::folder()));
    }

    void themeAppliedAtOnceAndKept() {
        testsupport::MainWindowFixture app;
        QVERIFY(app.isValid());
        AccountRecord account;
        account.AccountName = QStringLiteral("Home");
        AccountStore(app.path()).AppendAccount(account); // no wizard at first activation

        const auto setThemes = [](MainWindow& window, bool ticked) {
            bool answered = false;
            WhenModal(QStringLiteral("frmOptions"), [&answered, ticked](QWidget* dialog) {
                Tick(dialog, "chkThemes")->setChecked(ticked);
                Child<QPushButton>(dialog, "cmdOK")->click();
                answered = true;
            });
            window.DispatchCommand(Command::Options);
            return answered;
        };
        {
            QVERIFY(app.start());
            MainWindow& window = app.window();
            QVERIFY(!PlainBars(window));
            QVERIFY(setThemes(window, false));
            QVERIFY(PlainBars(window)); // at once, before any restart
            QCOMPARE(int(window.state().Settings.ThemeColoursOff), 1);
            window.ExitApplication();
        }
        app.closeWindow();
        {
            QVERIFY(app.start());
            MainWindow& window = app.window();
            QCOMPARE(int(window.state().Settings.ThemeColoursOff), 1);
            QVERIFY(PlainBars(window));
            QVERIFY(setThemes(window, true));
            QVERIFY(!PlainBars(window));
            window.ExitApplication();
        }
    }
};

QTEST_MAIN(OptionsTest)
#include "optionstest.moc"
