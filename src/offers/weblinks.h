#pragma once

#include <QUrl>

// The maker's web pages, opened in the desktop's browser. Whether the browser
// opened is not checked: a failure is ignored, as it costs the user nothing.
namespace offers {

// The maker's web site, the one place its address is written.
QUrl MakerSite();
// The offers page: the site with the path /offers.htm.
QUrl OffersPage();

void OpenMakerSite();
void OpenOffersPage();

} // namespace offers
