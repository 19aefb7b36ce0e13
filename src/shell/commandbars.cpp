#include "shell/commandbars.h"

#include "common/commandicons.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

namespace {
// An empty key in a list stands for a separator.
const QString Separator;
} // namespace

CommandBars::CommandBars(QMainWindow* window) : QObject(window), m_window(window) {
    // Toolbar buttons, left to right.
    define(QStringLiteral("CheckMail"), tr("Check Mail"), QStringLiteral("CheckMailSmall"),
           tr("Download the headers of the messages waiting on the server"));
    define(QStringLiteral("CheckAll"), tr("Check All"), QStringLiteral("CheckAll"),
           tr("Tick every message (ticked messages are kept)"));
    define(QStringLiteral("CheckNone"), tr("Check None"), QStringLiteral("CheckNone"),
           tr("Clear every tick"));
    define(QStringLiteral("MessageDetails"), tr("Message Details"), QStringLiteral("ViewHeadersSmall"),
           tr("Show the full header of the selected message"));
    define(QStringLiteral("AcceptAll"), tr("Accept All"), QStringLiteral("AcceptAll"),
           tr("Keep every message and end the review"));
    define(QStringLiteral("DeleteUnchecked"), tr("Delete Unchecked"), QStringLiteral("DeletingMessagesSmall"),
           tr("Delete every unticked message on the server"));
    define(QStringLiteral("AddFriends"), tr("Add to Friends"), QStringLiteral("Friends2Small"),
           tr("Add the sender of the selected message to your Friends list"));
    define(QStringLiteral("MainHelp"), tr("Help"), QStringLiteral("HelpSmall"), tr("Open the help"));

    // Menu entries.
    define(QStringLiteral("mnuFileCheck"), tr("&Check Mail"), QStringLiteral("CheckMailSmall"), {});
    define(QStringLiteral("mnuFileTray"), tr("Send to System &Tray"), QStringLiteral("MainIconSmall"), {});
    define(QStringLiteral("mnuFileSetup"), tr("Accounts &Setup..."), QStringLiteral("AccountsSmall"), {});
    define(QStringLiteral("mnuFileReport"), tr("Accounts &Report"), QStringLiteral("ReportSmall"), {});
    define(QStringLiteral("mnuFileClear"), tr("C&lear Accounts Details") /* "&Check Mail" has C */, {}, {});
    define(QStringLiteral("mnuFileFriendsManagement"), tr("Friends Management..."),
           QStringLiteral("Friends2Small"), {});
    define(QStringLiteral("mnuFileOptions"), tr("Default &Options..."), QStringLiteral("SettingsSmall"), {});
    define(QStringLiteral("mnuFileExit"), tr("E&xit QUILLORE Tidemarsh"), {}, {});
    define(QStringLiteral("mnuActionsAccept"), tr("&Accept All"), QStringLiteral("AcceptAll"), {});
    define(QStringLiteral("mnuActionsDelete"), tr("&Delete Unchecked"),
           QStringLiteral("DeletingMessagesSmall"), {});
    define(QStringLiteral("mnuActionsAll"), tr("Check All"), QStringLiteral("CheckAll"), {});
    define(QStringLiteral("mnuActionsNone"), tr("Check None"), QStringLiteral("CheckNone"), {});
    define(QStringLiteral("mnuActionsView"), tr("&View Message Details"), QStringLiteral("ViewHeadersSmall"),
           {});
    define(QStringLiteral("mnuActionsAdd"), tr("Add to &Friends"), QStringLiteral("Friends2Small"), {});
    define(QStringLiteral("mnuHelpContents"), tr("&Contents"), QStringLiteral("HelpSmall"), {});
    define(QStringLiteral("mnuHelpOnline"), tr("QUILLORE &Online"), {}, {});
    define(QStringLiteral("mnuHelpAbout"), tr("&About QUILLORE Tidemarsh"), {}, {});
    define(QStringLiteral("mnuPopUpRestore"), tr("Restore QUILLORE Tidemarsh"),
           QStringLiteral("MainIconSmall"), {});
    define(QStringLiteral("mnuPopUpExit"), tr("Exit QUILLORE Tidemarsh"), {}, {});

    action(QStringLiteral("mnuFileCheck"))->setShortcut(QKeySequence(Qt::Key_F5));
    action(QStringLiteral("mnuFileExit"))->setShortcut(QKeySequence::Quit);
    action(QStringLiteral("mnuHelpContents"))->setShortcut(QKeySequence::HelpContents);
    action(QStringLiteral("mnuPopUpRestore"))->setFont([] {
        QFont bold;
        bold.setBold(true); // the entry a click on the tray icon would run
        return bold;
    }());

    m_menuBar = new QMenuBar(window);
    m_menuBar->setObjectName(QStringLiteral("MenuBar1"));
    window->setMenuBar(m_menuBar);
    m_menuBar->addMenu(
        addMenu(QStringLiteral("mnuFile"), tr("&File"),
                {QStringLiteral("mnuFileCheck"), Separator, QStringLiteral("mnuFileTray"), Separator,
                 QStringLiteral("mnuFileSetup"), QStringLiteral("mnuFileReport"),
                 QStringLiteral("mnuFileClear"), Separator, QStringLiteral("mnuFileFriendsManagement"),
                 QStringLiteral("mnuFileOptions"), Separator, QStringLiteral("mnuFileExit")}));
    m_menuBar->addMenu(
        addMenu(QStringLiteral("mnuActions"), tr("&Actions"),
                {QStringLiteral("mnuActionsAccept"), QStringLiteral("mnuActionsDelete"), Separator,
                 QStringLiteral("mnuActionsAll"), QStringLiteral("mnuActionsNone"), Separator,
                 QStringLiteral("mnuActionsView"), QStringLiteral("mnuActionsAdd")}));
    m_menuBar->addMenu(addMenu(QStringLiteral("mnuHelp"), tr("&Help"),
                               {QStringLiteral("mnuHelpContents"), Separator, QStringLiteral("mnuHelpOnline"),
                                QStringLiteral("mnuHelpAbout")}));
    // No bar shows the tray menu.
    addMenu(QStringLiteral("mnuPopUp"), tr("QUILLORE Tidemarsh"),
            {QStringLiteral("mnuPopUpRestore"), Separator, QStringLiteral("mnuPopUpExit")});

    m_toolBar = new QToolBar(tr("Toolbar"), window);
    m_toolBar->setObjectName(QStringLiteral("ToolBar1"));
    m_toolBar->setIconSize(QSize(24, 24));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    const QStringList toolKeys{QStringLiteral("CheckMail"),
                               Separator,
                               QStringLiteral("CheckAll"),
                               QStringLiteral("CheckNone"),
                               QStringLiteral("MessageDetails"),
                               Separator,
                               QStringLiteral("AcceptAll"),
                               QStringLiteral("DeleteUnchecked"),
                               Separator,
                               QStringLiteral("AddFriends"),
                               Separator,
                               QStringLiteral("MainHelp")};
    for (const QString& key : toolKeys) {
        if (key.isEmpty())
            m_toolBar->addSeparator();
        else
            m_toolBar->addAction(action(key));
    }
    window->addToolBar(Qt::TopToolBarArea, m_toolBar);
}

QAction* CommandBars::define(const QString& key, const QString& caption, const QString& image,
                             const QString& toolTip) {
    auto* a = new QAction(caption, m_window);
    a->setObjectName(key);
    if (!image.isEmpty())
        a->setIcon(ui::CommandIcon(image));
    if (!toolTip.isEmpty())
        a->setToolTip(toolTip);
    connect(a, &QAction::triggered, this, [this, key] { Q_EMIT commandTriggered(key); });
    m_actions.insert(key, a);
    m_order.append(key);
    return a;
}

QMenu* CommandBars::addMenu(const QString& name, const QString& title, const QStringList& keys) {
    auto* m = new QMenu(title, m_window);
    m->setObjectName(name);
    m->menuAction()->setObjectName(name);
    for (const QString& key : keys) {
        if (key.isEmpty())
            m->addSeparator();
        else
            m->addAction(action(key));
    }
    m_menus.insert(name, m);
    return m;
}

QAction* CommandBars::action(const QString& key) const {
    return m_actions.value(key);
}

QMenu* CommandBars::menu(const QString& name) const {
    return m_menus.value(name);
}

const QStringList& CommandBars::AccountKeys() {
    static const QStringList keys{QStringLiteral("CheckMail"), QStringLiteral("mnuFileCheck"),
                                  QStringLiteral("mnuFileReport"), QStringLiteral("mnuFileClear")};
    return keys;
}

const QStringList& CommandBars::ReviewKeys() {
    static const QStringList keys{QStringLiteral("AcceptAll"),       QStringLiteral("mnuActionsAccept"),
                                  QStringLiteral("CheckAll"),        QStringLiteral("mnuActionsAll"),
                                  QStringLiteral("AddFriends"),      QStringLiteral("mnuActionsAdd"),
                                  QStringLiteral("CheckNone"),       QStringLiteral("mnuActionsNone"),
                                  QStringLiteral("DeleteUnchecked"), QStringLiteral("mnuActionsDelete"),
                                  QStringLiteral("MessageDetails"),  QStringLiteral("mnuActionsView")};
    return keys;
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
