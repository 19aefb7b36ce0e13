#pragma once

#include <QUrl>

class QWidget;

// The maker's web pages, opened in the desktop's browser. When nothing opens
// them (no browser set up), a box under parent says so and gives the address,
// instead of a click that seems to do nothing.
namespace offers {

// The maker's web site, the one place its address is written.
QUrl MakerSite();
// The offers page: the site with the path /offers.htm.
QUrl OffersPage();

void OpenMakerSite(QWidget* parent);
void OpenOffersPage(QWidget* parent);

} // namespace offers
