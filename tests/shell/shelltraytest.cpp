// The close box and the tray on a real X server: first with no tray host (the
// window must minimise, never vanish), then with trayer embedding the icon.
#include "pop3/scriptedserver.h"
#include "shell/mainwindow.h"
#include "shelltestsupport.h"
#include "store/accountstore.h"
#include "store/extrasettings.h"
#include "watch/core/watchengine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

using shelltest::In;

namespace {

// The program's own X connection: what we send comes back to it in order with
// everything else it sees.
xcb_connection_t* X11Connection() {
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

// What a window manager sends when the user clicks the close box.
void SendCloseRequest(QWidget* window) {
    xcb_connection_t* c = X11Connection();
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(window->winId());
    event.type = Atom(c, "WM_PROTOCOLS");
    event.data.data32[0] = Atom(c, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, event.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(c);
}

void Poke(QWidget* window) {
    xcb_connection_t* c = X11Connection();
    const quint32 value = 1;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()),
                        Atom(c, "_TIDEMARSH_TEST_POKE"), XCB_ATOM_CARDINAL, 32, 1, &value);
    xcb_flush(c);
}

// Where the tray icon really is: Qt's own geometry for an icon embedded by the
// tray host does not follow the reparenting, so ask the X server.
QPoint TrayIconCentre() {
    QWidget* icon = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") == 0 && w->isVisible())
            icon = w;
    if (!icon)
        return {};
    xcb_connection_t* c = X11Connection();
    const auto window = static_cast<xcb_window_t>(icon->winId());
    QPoint centre;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
    // Only once the tray host has taken it in is it where a user can click it.
    if (tree && tree->parent != tree->root) {
        xcb_translate_coordinates_reply_t* r = xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, window, tree->root, 0, 0), nullptr);
        if (r)
            centre = QPoint(r->dst_x + icon->width() / 2, r->dst_y + icon->height() / 2);
        std::free(r);
    }
    std::free(tree);
    return centre;
}

// The message the tray icon shows (Qt draws it as a widget of its own).
bool BalloonShown() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qstrcmp(w->metaObject()->className(), "QBalloonTip") == 0 && w->isVisible())
            return true;
    return false;
}

// A real pointer click through the X server (XTEST).
void Click(const QPoint& global, int button) {
    QCOMPARE(
        QProcess::execute(QStringLiteral("xdotool"),
                          {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(global.x()),
                           QString::number(global.y()), QStringLiteral("click"), QString::number(button)}),
        0);
}

} // namespace

class ShellTrayTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_window;
    shelltest::WizardCloser m_wizardCloser;
    QProcess m_trayer;

    QSystemTrayIcon* tray() const { return m_window->findChild<QSystemTrayIcon*>(); }
    bool start() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_window = std::make_unique<MainWindow>(m_dir->path());
        return m_window->Startup() && QTest::qWaitForWindowExposed(m_window.get(), 15000) &&
               QTest::qWaitFor([this] { return m_window->state().ActivatedOnce; }, 15000);
    }
    // Waits for what an X event should bring about. Qt's X reader thread can
    // sleep on an event another thread already pulled off the socket; a property
    // change on our window wakes it without meaning anything to the program.
    bool waitFor(const std::function<bool()>& condition, int timeoutMs = 15000) {
        QElapsedTimer clock;
        clock.start();
        while (!condition()) {
            if (clock.elapsed() > timeoutMs)
                return false;
            Poke(m_window.get());
            QTest::qWait(50);
        }
        return true;
    }
    // The icon's place once the tray host has taken it in and stopped
    // rearranging its panel; null when that does not happen.
    QPoint settledTrayIcon() {
        QPoint last;
        int same = 0;
        waitFor([&] {
            const QPoint now = TrayIconCentre();
            same = (!now.isNull() && now == last) ? same + 1 : 0;
            last = now;
            return same >= 3;
        });
        return same >= 3 ? last : QPoint();
    }
    // Right-click the tray icon and pick an entry of the menu that opens.
    void pickFromTrayMenu(const QString& name) {
        const QPoint icon = settledTrayIcon();
        QVERIFY(!icon.isNull());
        Click(icon, 3);
        QMenu* popup = m_window->menu(QStringLiteral("mnuPopUp"));
        QVERIFY(waitFor([&] { return popup->isVisible(); }));
        QAction* picked = nullptr;
        for (QAction* a : popup->actions())
            if (a->objectName() == name)
                picked = a;
        QVERIFY2(picked, qPrintable(name));
        const QRect entry = popup->actionGeometry(picked);
        Click(popup->mapToGlobal(entry.center()), 1);
    }

private Q_SLOTS:
    void cleanup() {
        m_window.reset();
        m_dir.reset();
    }
    void cleanupTestCase() {
        if (m_trayer.state() != QProcess::NotRunning) {
            m_trayer.terminate();
            m_trayer.waitForFinished(5000);
        }
    }

    void noTrayHostMinimisesInstead() {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        QVERIFY(start());
        SendCloseRequest(m_window.get());
        QVERIFY(waitFor([&] { return (m_window->windowState() & Qt::WindowMinimized) != 0; }));
        QVERIFY(m_window->isVisible()); // still there to come back to
        QVERIFY(!tray()->isVisible());

        m_window->RestoreFromTray();
        QVERIFY(!(m_window->windowState() & Qt::WindowMinimized));
        m_window->action(Command::SendToTray)->trigger();
        QVERIFY(m_window->windowState() & Qt::WindowMinimized);
        QVERIFY(m_window->isVisible());
        // The program keeps running: only the exit path ends it.
        QVERIFY(!QFileInfo::exists(In(m_dir->path(), "Tidemarsh.dsl")));
    }

    void trayHostAppears() {
        m_trayer.start(QStringLiteral("trayer"),
                       {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                        QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                        QStringLiteral("--height"), QStringLiteral("24")});
        QVERIFY2(m_trayer.waitForStarted(), "trayer is not installed");
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
    }

    void closeBoxHidesToTray() {
        QVERIFY(start());
        QVERIFY(!tray()->isVisible());
        QCOMPARE(tray()->toolTip(), QStringLiteral("QUILLORE Tidemarsh"));
        SendCloseRequest(m_window.get());
        QVERIFY(waitFor([&] { return !m_window->isVisible(); }));
        QVERIFY(tray()->isVisible());
        // Embedded by the tray host, so there is something on screen to click.
        const QPoint icon = settledTrayIcon();
        QVERIFY(!icon.isNull());
        Click(icon, 1);
        QVERIFY(waitFor([&] { return m_window->isVisible(); }));
        QVERIFY(!tray()->isVisible());
        QVERIFY(!(m_window->windowState() & Qt::WindowMinimized));
    }

    void trayMenuRestores() {
        QVERIFY(start());
        m_window->action(Command::SendToTray)->trigger();
        QVERIFY(!m_window->isVisible());
        QVERIFY(tray()->isVisible());
        pickFromTrayMenu(QStringLiteral("mnuPopUpRestore"));
        QVERIFY(waitFor([&] { return m_window->isVisible(); }));
        QVERIFY(!tray()->isVisible());
        // Restoring is not a first start: the account check stays done.
        QCOMPARE(m_window->findChild<QLabel*>(QStringLiteral("panel1"))->text(),
                 QStringLiteral("No Accounts have been defined..."));
    }

    void firstVisitToTheTrayIsTold() {
        QVERIFY(start());
        const ExtraSettings extra(m_dir->path());
        QVERIFY(!extra.value(QStringLiteral("Shell"), QStringLiteral("TrayHintShown")).isValid());
        m_window->HideToTray();
        QVERIFY(waitFor([] { return BalloonShown(); }, 5000));
        QCOMPARE(extra.value(QStringLiteral("Shell"), QStringLiteral("TrayHintShown")).toBool(), true);
        QCOMPARE(extra.filePath(), In(m_dir->path(), "Tidemarsh.ini"));
        QVERIFY(!QFileInfo::exists(In(m_dir->path(), "Config.dat")) ||
                QFileInfo(In(m_dir->path(), "Config.dat")).size() == 18);

        // Once told, never again: neither now nor at the next start.
        m_window->RestoreFromTray();
        QVERIFY(waitFor([] { return !BalloonShown(); }, 15000));
        m_window->HideToTray();
        QTest::qWait(1500);
        QVERIFY(!BalloonShown());
        m_window->RestoreFromTray();
        m_window.reset();
        m_window = std::make_unique<MainWindow>(m_dir->path());
        QVERIFY(m_window->Startup() && QTest::qWaitForWindowExposed(m_window.get(), 15000));
        m_window->HideToTray();
        QTest::qWait(1500);
        QVERIFY(!BalloonShown());
        m_window->RestoreFromTray();
    }

    void trayMenuExits() {
        // A normal window exits from the tray with its placement stored.
        m_dir = std::make_unique<QTemporaryDir>();
        SettingsRecord initial;
        initial.WindowLeft = 1500; // 100, 80, 600 x 400 px at 96 dpi
        initial.WindowTop = 1200;
        initial.WindowWidth = 9000;
        initial.WindowHeight = 6000;
        QVERIFY(shelltest::WriteConfig(m_dir->path(), initial));
        m_window = std::make_unique<MainWindow>(m_dir->path());
        QVERIFY(m_window->Startup());
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QCOMPARE(m_window->screen()->logicalDotsPerInchX(), 96.0);
        QVERIFY(!m_window->isMaximized());

        m_window->HideToTray();
        QSignalSpy finished(m_window.get(), &MainWindow::exitFinished);
        pickFromTrayMenu(QStringLiteral("mnuPopUpExit"));
        QVERIFY(waitFor([&] { return finished.count() == 1; }));
        QVERIFY(!tray()->isVisible());
        QVERIFY(QFileInfo::exists(In(m_dir->path(), "Tidemarsh.dsl")));
        QCOMPARE(shelltest::ConfigFields(m_dir->path()),
                 (QList<int>{0, 0, 110, 30, 9000, 6000, 1500, 1200, 0}));
    }

    // No notification service on the session bus: new mail found by the watch is
    // told by the tray icon, and its tip says what each account holds.
    void newMailWithoutANotificationServiceIsToldByTheTray() {
        ScriptedPop3Server server(ScriptedPop3Server::Tls::None, QStringLiteral("server"));
        server.headers = {"From: Old <old@example.org>\r\nSubject: waiting\r\n"};
        m_dir = std::make_unique<QTemporaryDir>();
        AccountRecord account;
        account.AccountName = QStringLiteral("Home");
        account.LoginName = QStringLiteral("bob");
        account.LoginPassword = QString::fromLatin1(server.password);
        account.ServerAddress = QStringLiteral("pop3://127.0.0.1:%1").arg(server.serverPort());
        AccountStore(m_dir->path()).AppendAccount(account);
        watch::WatchSettings on;
        on.enabled = true;
        QVERIFY(on.save(m_dir->path()));
        // The first visit's own message is not the one looked for here.
        QVERIFY(ExtraSettings(m_dir->path())
                    .setValue(QStringLiteral("Shell"), QStringLiteral("TrayHintShown"), true));
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
        qputenv("TIDEMARSH_WATCH_INTERVAL_MS", "300");
        m_window = std::make_unique<MainWindow>(m_dir->path());
        QVERIFY(m_window->Startup());
        qunsetenv("TIDEMARSH_WATCH_INTERVAL_MS");
        QSignalSpy looks(m_window->watchEngine(), &watch::Engine::peekEnded);
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), 15000));
        m_window->HideToTray();
        QVERIFY(waitFor([&] { return looks.size() >= 1; }));
        QVERIFY(!BalloonShown());
        server.headers.append("From: Anna <anna@example.org>\r\nSubject: Lunch?\r\n");
        QVERIFY(waitFor([] { return BalloonShown(); }, 10000));
        QVERIFY2(tray()->toolTip().contains(QStringLiteral("Home: 1 new")), qPrintable(tray()->toolTip()));
        QVERIFY(!server.received.contains("RETR") && !server.received.contains("DELE"));
        m_window->RestoreFromTray();
    }

    // Last: it ends the tray host. Its panel ending (or restarting) takes the
    // icon with it; the window must come back, or nothing leads back to it.
    void trayGoneBringsTheWindowBack() {
        QVERIFY(start());
        m_window->HideToTray();
        QVERIFY(tray()->isVisible());
        QVERIFY(!settledTrayIcon().isNull());
        QVERIFY(!m_window->isVisible());
        m_trayer.kill();
        QVERIFY(m_trayer.waitForFinished(5000));
        QVERIFY(waitFor([&] { return m_window->isVisible(); }, 10000));
        QVERIFY(!tray()->isVisible());
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        // With no tray now, the close box minimises instead.
        SendCloseRequest(m_window.get());
        QVERIFY(waitFor([&] { return (m_window->windowState() & Qt::WindowMinimized) != 0; }));
        QVERIFY(m_window->isVisible());
    }
};

QTEST_MAIN(ShellTrayTest)
#include "shelltraytest.moc"
