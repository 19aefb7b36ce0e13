#include "offers/weblinks.h"

#include <QDesktopServices>

namespace offers {

namespace {
// Until the maker has a real site.
constexpr auto kMakerSite = "https://www.example.com";
} // namespace

QUrl MakerSite() {
    return QUrl(QString::fromLatin1(kMakerSite));
}

QUrl OffersPage() {
    QUrl page = MakerSite();
    page.setPath(QStringLiteral("/offers.htm"));
    return page;
}

void OpenMakerSite() {
    QDesktopServices::openUrl(MakerSite());
}

void OpenOffersPage() {
    QDesktopServices::openUrl(OffersPage());
}

} // namespace offers
