#include "common/commandicons.h"

#include <QHash>

// The resource lives in a static library: its initialiser must be pulled in by name.
static void initIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace ui {
namespace {

// Freedesktop icon names that mean the same as our drawings. The check-box pair,
// Accept All and View Details have no standard counterpart and always use ours.
const QHash<QString, QString>& themeNames() {
    static const QHash<QString, QString> names{
        {QStringLiteral("DeletingMessagesSmall"), QStringLiteral("edit-delete")},
        {QStringLiteral("HelpSmall"), QStringLiteral("help-contents")},
        {QStringLiteral("SettingsSmall"), QStringLiteral("preferences-system")},
    };
    return names;
}

QIcon bundled(const QString& imageName) {
    static const bool loaded = (initIconResources(), true);
    Q_UNUSED(loaded);
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(imageName));
}

} // namespace

QIcon CommandIcon(const QString& imageName) {
    QIcon own = bundled(imageName);
    const QString themeName = themeNames().value(imageName);
    if (themeName.isEmpty())
        return own;
    return QIcon::fromTheme(themeName, own);
}

QIcon ApplicationIcon() {
    return bundled(QStringLiteral("MainIconSmall"));
}

} // namespace ui
