#include "shell/windowplacement.h"

#include <cmath>
#include <limits>

namespace WindowPlacement {
namespace {

int toPixels(qint16 twips, double dpi) {
    return static_cast<int>(std::lround(twips * dpi / TwipsPerInch));
}

void storeTwips(qint16& field, int pixels, double dpi) {
    const double twips = std::round(pixels * TwipsPerInch / dpi);
    if (twips >= std::numeric_limits<qint16>::min() && twips <= std::numeric_limits<qint16>::max())
        field = static_cast<qint16>(twips);
}

} // namespace

bool HasPlacement(const SettingsRecord& s) {
    return s.WindowWidth != 0 || s.WindowHeight != 0 || s.WindowLeft != 0 || s.WindowTop != 0;
}

void ClearPlacement(SettingsRecord& s) {
    s.WindowWidth = s.WindowHeight = s.WindowLeft = s.WindowTop = 0;
}

QRect ToPixels(const SettingsRecord& s, QSizeF dpi) {
    return QRect(toPixels(s.WindowLeft, dpi.width()), toPixels(s.WindowTop, dpi.height()),
                 toPixels(s.WindowWidth, dpi.width()), toPixels(s.WindowHeight, dpi.height()));
}

void StoreFromPixels(SettingsRecord& s, const QRect& r, QSizeF dpi) {
    storeTwips(s.WindowLeft, r.x(), dpi.width());
    storeTwips(s.WindowTop, r.y(), dpi.height());
    storeTwips(s.WindowWidth, r.width(), dpi.width());
    storeTwips(s.WindowHeight, r.height(), dpi.height());
}

bool IsUsable(const QRect& window, const QList<QRect>& screens) {
    constexpr int MinVisible = 32;
    if (window.width() < MinVisible || window.height() < MinVisible)
        return false;
    for (const QRect& screen : screens) {
        const QRect seen = window.intersected(screen);
        if (seen.width() >= MinVisible && seen.height() >= MinVisible)
            return true;
    }
    return false;
}

} // namespace WindowPlacement
