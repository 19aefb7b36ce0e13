#include "shell/commandbars.h"

#include "common/commandicons.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

namespace {

constexpr std::nullopt_t Separator = std::nullopt;

// One command as the user meets it. The action carries the menu's name and
// caption; a command on the toolbar also has a button name, a shorter caption
// under its icon and a tip.
struct CommandText {
    Command command;
    const char* name;
    const char* caption;
    const char* image; // nullptr: no icon
    const char* buttonName = nullptr;
    const char* buttonCaption = nullptr;
    const char* toolTip = nullptr;
};

#define TEXT(text) QT_TRANSLATE_NOOP("CommandBars", text)
constexpr std::array<CommandText, CommandCount> Commands{{
    {Command::CheckMail, "mnuFileCheck", TEXT("&Check Mail"), "CheckMailSmall", "CheckMail",
     TEXT("Check Mail"), TEXT("Download the headers of the messages waiting on the server")},
    {Command::CheckAllAccounts, "mnuFileCheckAll", TEXT("Check &All Accounts"), "CheckAllAccounts",
     "CheckAllAccounts", TEXT("All Accounts"),
     TEXT("Download the headers waiting in every account at once, into one list")},
    {Command::SendToTray, "mnuFileTray", TEXT("Send to System &Tray"), "MainIconSmall"},
    {Command::AccountsSetup, "mnuFileSetup", TEXT("Accounts &Setup..."), "AccountsSmall"},
    {Command::AccountsReport, "mnuFileReport", TEXT("Accounts &Report"), "ReportSmall"},
    {Command::ClearAccountsDetails, "mnuFileClear", TEXT("C&lear Accounts Details") /* "&Check Mail" has C */,
     nullptr},
    {Command::FriendsManagement, "mnuFileFriendsManagement", TEXT("Friends Management..."), "Friends2Small"},
    {Command::Options, "mnuFileOptions", TEXT("Default &Options..."), "SettingsSmall"},
    {Command::Exit, "mnuFileExit", TEXT("E&xit QUILLORE Tidemarsh"), nullptr},
    {Command::AcceptAll, "mnuActionsAccept", TEXT("&Accept All"), "AcceptAll", "AcceptAll",
     TEXT("Accept All"), TEXT("Keep every message and end the review")},
    {Command::DeleteUnchecked, "mnuActionsDelete", TEXT("&Delete Unchecked"), "DeletingMessagesSmall",
     "DeleteUnchecked", TEXT("Delete Unchecked"), TEXT("Delete every unticked message on the server")},
    {Command::CheckAll, "mnuActionsAll", TEXT("Check All"), "CheckAll", "CheckAll", TEXT("Check All"),
     TEXT("Tick every message (ticked messages are kept)")},
    {Command::CheckNone, "mnuActionsNone", TEXT("Check None"), "CheckNone", "CheckNone", TEXT("Check None"),
     TEXT("Clear every tick")},
    {Command::MessageDetails, "mnuActionsView", TEXT("&View Message Details"), "ViewHeadersSmall",
     "MessageDetails", TEXT("Message Details"), TEXT("Show the full header of the selected message")},
    {Command::AddFriends, "mnuActionsAdd", TEXT("Add to &Friends"), "Friends2Small", "AddFriends",
     TEXT("Add to Friends"), TEXT("Add the sender of the selected message to your Friends list")},
    {Command::PreviewPane, "mnuActionsPreview", TEXT("&Preview Pane"), "PreviewPaneSmall", "PreviewPane",
     TEXT("Preview"), TEXT("Show or hide the first lines of the selected message")},
    {Command::HelpContents, "mnuHelpContents", TEXT("&Contents"), "HelpSmall", "MainHelp", TEXT("Help"),
     TEXT("Open the help")},
    {Command::HelpOnline, "mnuHelpOnline", TEXT("QUILLORE &Online"), nullptr},
    {Command::About, "mnuHelpAbout", TEXT("&About QUILLORE Tidemarsh"), nullptr},
    {Command::RestoreFromTray, "mnuPopUpRestore", TEXT("Restore QUILLORE Tidemarsh"), "MainIconSmall"},
}};
#undef TEXT

constexpr bool InCommandOrder() {
    for (int i = 0; i < CommandCount; ++i)
        if (Commands[i].command != static_cast<Command>(i))
            return false;
    return true;
}
static_assert(InCommandOrder(), "the command table is indexed by Command");

int Index(Command command) {
    return static_cast<int>(command);
}

} // namespace

CommandBars::CommandBars(QMainWindow* window) : QObject(window), m_window(window) {
    defineCommands();
    buildMenus();
    buildToolBar();
}

void CommandBars::defineCommands() {
    for (const CommandText& text : Commands) {
        auto* a = new QAction(tr(text.caption), m_window);
        a->setObjectName(QLatin1String(text.name));
        if (text.image)
            a->setIcon(ui::CommandIcon(QLatin1String(text.image)));
        if (text.buttonCaption)
            a->setIconText(tr(text.buttonCaption));
        if (text.toolTip)
            a->setToolTip(tr(text.toolTip));
        connect(a, &QAction::triggered, this,
                [this, command = text.command] { Q_EMIT commandTriggered(command); });
        m_actions[Index(text.command)] = a;
    }
    action(Command::CheckMail)->setShortcut(QKeySequence(Qt::Key_F5));
    action(Command::CheckAllAccounts)->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5));
    action(Command::Exit)->setShortcut(QKeySequence::Quit);
    action(Command::HelpContents)->setShortcut(QKeySequence::HelpContents);
    // A tick that screen readers report; the pane is shown until the layout says otherwise.
    action(Command::PreviewPane)->setCheckable(true);
    action(Command::PreviewPane)->setChecked(true);
    action(Command::PreviewPane)->setShortcut(QKeySequence(Qt::Key_F8));
    QFont bold;
    bold.setBold(true); // the entry a click on the tray icon would run
    action(Command::RestoreFromTray)->setFont(bold);
}

void CommandBars::buildMenus() {
    m_menuBar = new QMenuBar(m_window);
    m_menuBar->setObjectName(QStringLiteral("MenuBar1"));
    m_window->setMenuBar(m_menuBar);
    m_menuBar->addMenu(
        addMenu(QStringLiteral("mnuFile"), tr("&File"),
                {Command::CheckMail, Command::CheckAllAccounts, Separator, Command::SendToTray, Separator,
                 Command::AccountsSetup, Command::AccountsReport, Command::ClearAccountsDetails, Separator,
                 Command::FriendsManagement, Command::Options, Separator, Command::Exit}));
    m_menuBar->addMenu(addMenu(QStringLiteral("mnuActions"), tr("&Actions"),
                               {Command::AcceptAll, Command::DeleteUnchecked, Separator, Command::CheckAll,
                                Command::CheckNone, Separator, Command::MessageDetails, Command::AddFriends,
                                Separator, Command::PreviewPane}));
    m_menuBar->addMenu(addMenu(QStringLiteral("mnuHelp"), tr("&Help"),
                               {Command::HelpContents, Separator, Command::HelpOnline, Command::About}));
    buildTrayMenu();
}

void CommandBars::buildTrayMenu() {
    // No bar shows the tray menu. Its Exit is an entry of its own: Qt gives an
    // action one accessible parent, so an entry shared with the File menu would
    // be read to a screen reader as part of whichever menu was read first.
    QMenu* tray =
        addMenu(QStringLiteral("mnuPopUp"), tr("QUILLORE Tidemarsh"), {Command::RestoreFromTray, Separator});
    QAction* exit = tray->addAction(tr("Exit QUILLORE Tidemarsh"));
    exit->setObjectName(QStringLiteral("mnuPopUpExit"));
    connect(exit, &QAction::triggered, this, [this] { Q_EMIT commandTriggered(Command::Exit); });
}

void CommandBars::buildToolBar() {
    // The name is what the saved bar layout knows the toolbar by.
    m_toolBar = new QToolBar(tr("Toolbar"), m_window);
    m_toolBar->setObjectName(QStringLiteral("ToolBar1"));
    m_toolBar->setIconSize(QSize(24, 24));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    const Entries buttons{Command::CheckMail,
                          Command::CheckAllAccounts,
                          Separator,
                          Command::CheckAll,
                          Command::CheckNone,
                          Command::MessageDetails,
                          Command::PreviewPane,
                          Separator,
                          Command::AcceptAll,
                          Command::DeleteUnchecked,
                          Separator,
                          Command::AddFriends,
                          Separator,
                          Command::HelpContents};
    for (const std::optional<Command>& entry : buttons) {
        if (!entry) {
            m_toolBar->addSeparator();
            continue;
        }
        QAction* a = action(*entry);
        m_toolBar->addAction(a);
        m_toolBar->widgetForAction(a)->setObjectName(QLatin1String(Commands[Index(*entry)].buttonName));
    }
    m_window->addToolBar(Qt::TopToolBarArea, m_toolBar);
}

QMenu* CommandBars::addMenu(const QString& name, const QString& title, Entries entries) {
    auto* m = new QMenu(title, m_window);
    m->setObjectName(name);
    m->menuAction()->setObjectName(name);
    for (const std::optional<Command>& entry : entries) {
        if (entry)
            m->addAction(action(*entry));
        else
            m->addSeparator();
    }
    m_menus.insert(name, m);
    return m;
}

QAction* CommandBars::action(Command command) const {
    return m_actions[Index(command)];
}

QMenu* CommandBars::menu(const QString& name) const {
    return m_menus.value(name);
}

const QList<Command>& CommandBars::AccountCommands() {
    static const QList<Command> commands{Command::CheckMail, Command::AccountsReport,
                                         Command::ClearAccountsDetails};
    return commands;
}

const QList<Command>& CommandBars::ReviewCommands() {
    static const QList<Command> commands{Command::AcceptAll, Command::DeleteUnchecked, Command::CheckAll,
                                         Command::CheckNone, Command::MessageDetails,  Command::AddFriends};
    return commands;
}

void CommandBars::setPlainColours(bool plain) {
    // Plain: one neutral grey the desktop style cannot tint; otherwise the bars
    // inherit the application's (the desktop's) palette again.
    const QPalette palette = plain ? QPalette(QColor(0xF0, 0xF0, 0xF0)) : QPalette();
    for (QWidget* bar : {static_cast<QWidget*>(m_menuBar), static_cast<QWidget*>(m_toolBar),
                         static_cast<QWidget*>(m_window->statusBar())}) {
        bar->setPalette(palette);
        bar->setAutoFillBackground(plain);
    }
}
