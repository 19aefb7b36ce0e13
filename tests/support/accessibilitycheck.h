#pragma once

// What a screen reader gets from a window, read through QAccessible (what the
// desktop's AT-SPI bridge serves): nameless controls, and access keys that
// clash within one window or one menu.

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QStringList>
#include <QTabWidget>
#include <QTest>
#include <QWidget>

#include <functional>

namespace a11ycheck {

// Roles a user operates or that announce something even when they take no focus.
inline bool IsControlRole(QAccessible::Role role) {
    switch (role) {
    case QAccessible::MenuBar:
    case QAccessible::PopupMenu:
    case QAccessible::MenuItem:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
    case QAccessible::Grip:
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::SpinBox:
    case QAccessible::Slider:
    case QAccessible::ProgressBar:
    case QAccessible::List:
    case QAccessible::Table:
    case QAccessible::Tree:
    case QAccessible::PageTab:
    case QAccessible::PageTabList:
    case QAccessible::ToolBar:
    case QAccessible::Graphic:
    case QAccessible::Link:
        return true;
    default:
        return false;
    }
}

inline QString Describe(QAccessibleInterface* iface) {
    QString what = QString::number(int(iface->role()), 16);
    if (QObject* object = iface->object()) {
        what += QLatin1Char(' ') + QString::fromLatin1(object->metaObject()->className());
        if (!object->objectName().isEmpty())
            what += QLatin1Char(' ') + object->objectName();
        else if (QObject* parent = object->parent())
            what += QStringLiteral(" in ") + QString::fromLatin1(parent->metaObject()->className()) +
                    QLatin1Char(' ') + parent->objectName();
    }
    return QStringLiteral("role 0x") + what;
}

// Calls visit for every interface below root, depth first. The cells of item
// views are data, not controls: their views are visited but not entered.
inline void Walk(QAccessibleInterface* iface, const std::function<void(QAccessibleInterface*)>& visit,
                 QSet<QAccessibleInterface*>& seen) {
    if (!iface || seen.contains(iface))
        return;
    seen.insert(iface);
    visit(iface);
    if (iface->tableInterface())
        return;
    const int count = iface->childCount();
    for (int i = 0; i < count; ++i)
        Walk(iface->child(i), visit, seen);
}

inline void Walk(QObject* root, const std::function<void(QAccessibleInterface*)>& visit) {
    QSet<QAccessibleInterface*> seen;
    Walk(QAccessible::queryAccessibleInterface(root), visit, seen);
}

// Descriptions of the controls under root that a screen reader would read
// without a name: focusable ones, and controls by role (menus, grips, bars).
inline QStringList NamelessControls(QObject* root) {
    QStringList nameless;
    Walk(root, [&](QAccessibleInterface* iface) {
        if (iface->role() == QAccessible::Separator)
            return;
        if (!iface->state().focusable && !IsControlRole(iface->role()))
            return;
        if (iface->text(QAccessible::Name).trimmed().isEmpty())
            nameless.append(Describe(iface));
    });
    return nameless;
}

// The widget that has the keyboard focus in the window that root belongs to,
// as the accessibility tree reports it.
inline QStringList FocusedNames(QObject* root) {
    QStringList focused;
    Walk(root, [&](QAccessibleInterface* iface) {
        if (iface->state().focused)
            focused.append(iface->text(QAccessible::Name));
    });
    return focused;
}

// The access key of a caption ("&OK" -> 'o'), or a null QChar.
inline QChar Mnemonic(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('&'))
            continue;
        if (text.at(i + 1) == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text.at(i + 1).toLower();
    }
    return {};
}

// Access keys used more than once among the buttons, labels, group boxes and
// tabs that window shows together (pages of a stacked widget that are hidden
// are not counted). Each entry names the key and the captions that share it.
inline QStringList ClashingMnemonics(QWidget* window) {
    QHash<QChar, QStringList> byKey;
    const auto add = [&](const QString& caption) {
        const QChar key = Mnemonic(caption);
        if (!key.isNull())
            byKey[key].append(caption);
    };
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->window() != window || !widget->isVisibleTo(window))
            continue;
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            add(button->text());
        else if (auto* label = qobject_cast<QLabel*>(widget); label && label->textFormat() != Qt::RichText)
            add(label->text());
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            add(group->title());
        else if (auto* tabs = qobject_cast<QTabWidget*>(widget))
            for (int i = 0; i < tabs->count(); ++i)
                add(tabs->tabText(i));
    }
    QStringList clashes;
    for (auto it = byKey.cbegin(); it != byKey.cend(); ++it)
        if (it->size() > 1)
            clashes.append(QStringLiteral("'%1': %2").arg(it.key(), it->join(QStringLiteral(" | "))));
    clashes.sort();
    return clashes;
}

// The same for one menu level: the entries of a menu bar or of one menu, then
// every submenu on its own.
inline QStringList ClashingMenuMnemonics(const QList<QAction*>& actions, const QString& where) {
    QHash<QChar, QStringList> byKey;
    QStringList clashes;
    for (QAction* action : actions) {
        if (action->isSeparator() || !action->isVisible())
            continue;
        const QChar key = Mnemonic(action->text());
        if (!key.isNull())
            byKey[key].append(action->text());
        if (QMenu* sub = action->menu())
            clashes += ClashingMenuMnemonics(sub->actions(), where + QStringLiteral(" > ") + action->text());
    }
    for (auto it = byKey.cbegin(); it != byKey.cend(); ++it)
        if (it->size() > 1)
            clashes.append(
                QStringLiteral("%1 '%2': %3").arg(where, it.key(), it->join(QStringLiteral(" | "))));
    clashes.sort();
    return clashes;
}

} // namespace a11ycheck

// Fails the running test when root has a control a screen reader cannot name.
#define TIDEMARSH_VERIFY_ALL_NAMED(root)                                                                     \
    do {                                                                                                     \
        const QStringList nameless_ = a11ycheck::NamelessControls(root);                                     \
        QVERIFY2(nameless_.isEmpty(),                                                                        \
                 qPrintable(QStringLiteral("nameless: ") + nameless_.join(QStringLiteral("; "))));           \
    } while (false)
