#include "offers/weblinks.h"

#include "common/messagebox.h"

#include <QDesktopServices>
#include <QObject>

namespace offers {

namespace {
// Until the maker has a real site.
constexpr auto kMakerSite = "https://www.example.com";

void Open(const QUrl& page, QWidget* parent) {
    if (QDesktopServices::openUrl(page))
        return;
    ui::ShowMessage(
        {parent, ui::MessageIcon::Warning, QObject::tr("QUILLORE Tidemarsh"),
         QObject::tr("The web page could not be opened:\n\n%1\n\nNo web browser took it. Type the "
                     "address into your browser, or set up a default web browser for this desktop.")
             .arg(page.toDisplayString()),
         QMessageBox::Ok, QMessageBox::Ok});
}
} // namespace

QUrl MakerSite() {
    return QUrl(QString::fromLatin1(kMakerSite));
}

QUrl OffersPage() {
    QUrl page = MakerSite();
    page.setPath(QStringLiteral("/offers.htm"));
    return page;
}

void OpenMakerSite(QWidget* parent) {
    Open(MakerSite(), parent);
}

void OpenOffersPage(QWidget* parent) {
    Open(OffersPage(), parent);
}

} // namespace offers
