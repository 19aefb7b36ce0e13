#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;
class QToolBar;

// The command registry: every menu entry and toolbar button is one QAction whose
// objectName is its command key, defined once here; the menu bar, the toolbar and
// the tray menu reuse those actions. Picking any of them reports its key.
class CommandBars : public QObject {
    Q_OBJECT
public:
    explicit CommandBars(QMainWindow* window);

    QAction* action(const QString& key) const;
    // mnuFile, mnuActions, mnuHelp and the tray menu mnuPopUp.
    QMenu* menu(const QString& name) const;
    QMenuBar* menuBar() const { return m_menuBar; }
    QToolBar* toolBar() const { return m_toolBar; }
    // Every command key, toolbar first, then the menus in their order.
    QStringList keys() const { return m_order; }

    // Commands that need at least one account, and those that need a listed message.
    static const QStringList& AccountKeys();
    static const QStringList& ReviewKeys();

    // Plain colours or the desktop's own palette for the bars.
    void setPlainColours(bool plain);

Q_SIGNALS:
    void commandTriggered(const QString& key);

private:
    QAction* define(const QString& key, const QString& caption, const QString& image, const QString& toolTip);
    QMenu* addMenu(const QString& name, const QString& title, const QStringList& keys);

    QMainWindow* m_window;
    QMenuBar* m_menuBar = nullptr;
    QToolBar* m_toolBar = nullptr;
    QHash<QString, QAction*> m_actions;
    QHash<QString, QMenu*> m_menus;
    QStringList m_order;
};
