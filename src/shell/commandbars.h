#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <array>
#include <initializer_list>
#include <optional>

class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;
class QToolBar;

// The main window's commands.
enum class Command {
    CheckMail,
    CheckAllAccounts,
    SendToTray,
    AccountsSetup,
    AccountsReport,
    ClearAccountsDetails,
    FriendsManagement,
    Options,
    Exit,
    AcceptAll,
    DeleteUnchecked,
    CheckAll,
    CheckNone,
    MessageDetails,
    AddFriends,
    PreviewPane,
    HelpContents,
    HelpOnline,
    About,
    RestoreFromTray,
};
inline constexpr int CommandCount = static_cast<int>(Command::RestoreFromTray) + 1;

// The command registry: each command is one QAction, defined once here and placed
// wherever the command appears (its menu, the toolbar), so its enabled state is
// set in one place. Picking it anywhere reports the command. The tray menu's
// Exit, always enabled, is the one entry of its own (see buildTrayMenu).
class CommandBars : public QObject {
    Q_OBJECT
public:
    explicit CommandBars(QMainWindow* window);

    QAction* action(Command command) const;
    // mnuFile, mnuActions, mnuHelp and the tray menu mnuPopUp.
    QMenu* menu(const QString& name) const;
    QMenuBar* menuBar() const { return m_menuBar; }
    QToolBar* toolBar() const { return m_toolBar; }

    // Commands that need at least one account, and those that need a listed message.
    static const QList<Command>& AccountCommands();
    static const QList<Command>& ReviewCommands();

    // Plain colours or the desktop's own palette for the bars.
    void setPlainColours(bool plain);

Q_SIGNALS:
    void commandTriggered(Command command);

private:
    // An empty entry in a list of commands stands for a separator.
    using Entries = std::initializer_list<std::optional<Command>>;

    void defineCommands();
    void buildMenus();
    void buildTrayMenu();
    void buildToolBar();
    QMenu* addMenu(const QString& name, const QString& title, Entries entries);

    QMainWindow* m_window;
    QMenuBar* m_menuBar = nullptr;
    QToolBar* m_toolBar = nullptr;
    std::array<QAction*, CommandCount> m_actions{};
    QHash<QString, QMenu*> m_menus;
};
