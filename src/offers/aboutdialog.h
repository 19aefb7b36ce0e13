#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <memory>

namespace Ui {
class AboutDialog;
}

namespace offers {

// A library the program ships with, as the About box names it.
struct LibraryNotice {
    QString name;
    QString version; // as found at run time; empty when it cannot be told
    QString licence;
};

// Qt, GMime and OpenSSL, with the versions in use now.
QList<LibraryNotice> LibraryNotices();
// The version of this build.
QString ProgramVersion();

} // namespace offers

// frmAbout, "About QUILLORE Tidemarsh": the product, its version, the maker's
// notice and the libraries it uses with their licences.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent);
    ~AboutDialog() override;

private:
    std::unique_ptr<Ui::AboutDialog> m_ui;
};

namespace offers {
// The dispatch entry: shows frmAbout modally over parent.
void ShowAboutDialog(QWidget* parent);
} // namespace offers
