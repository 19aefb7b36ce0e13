#include "offers/aboutdialog.h"

#include "common/dialogimage.h"
#include "pop3/gmimeversion.h"
#include "ui_aboutdialog.h"

#include <QSslSocket>

namespace offers {

namespace {
// Qt names the loaded library with its date ("OpenSSL 3.0.11 19 Sep 2023"):
// the number alone; empty without a TLS backend.
QString OpenSslVersion() {
    const QStringList words = QSslSocket::sslLibraryVersionString().split(u' ', Qt::SkipEmptyParts);
    return words.size() >= 2 ? words.at(1) : QString();
}
} // namespace

QString ProgramVersion() {
    return QStringLiteral(TIDEMARSH_VERSION);
}

QList<LibraryNotice> LibraryNotices() {
    return {
        {QStringLiteral("Qt"), QString::fromLatin1(qVersion()),
         QObject::tr("GNU Lesser General Public License, version 3 (LGPLv3)")},
        {QStringLiteral("GMime"), pop3::GMimeVersion(),
         QObject::tr("GNU Lesser General Public License, version 2.1 or later (LGPLv2.1+)")},
        {QStringLiteral("OpenSSL"), OpenSslVersion(), QObject::tr("Apache License, version 2.0")},
    };
}

} // namespace offers

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::AboutDialog>()) {
    m_ui->setupUi(this);
    ui::ShowProgramImage(m_ui->imgIcon, 64); // named in the form
    QFont big = m_ui->lblProduct->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    m_ui->lblProduct->setFont(big);
    m_ui->lblVersion->setText(tr("Version %1").arg(offers::ProgramVersion()));
    m_ui->lblCopyright->setText(tr("Copyright \u00A9 QUILLORE Software. All rights reserved.\n"
                                   "This program is licensed to you for your own use; "
                                   "it may not be sold or redistributed without the maker's permission."));

    QString libraries = tr("QUILLORE Tidemarsh uses these libraries, each under its own licence:");
    for (const offers::LibraryNotice& library : offers::LibraryNotices()) {
        libraries += QStringLiteral("\n\u2022 ") + library.name;
        if (!library.version.isEmpty())
            libraries += QLatin1Char(' ') + library.version;
        libraries += QStringLiteral(": ") + library.licence;
    }
    m_ui->lblLibraries->setText(libraries);
    for (QLabel* label : {m_ui->lblProduct, m_ui->lblVersion, m_ui->lblCopyright, m_ui->lblLibraries})
        label->setTextFormat(Qt::PlainText);
    m_ui->lblLibraries->setMinimumWidth(560);

    m_ui->cmdOK->setMinimumWidth(80);
    connect(m_ui->cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    m_ui->cmdOK->setFocus();
}

AboutDialog::~AboutDialog() = default;

namespace offers {
void ShowAboutDialog(QWidget* parent) {
    AboutDialog dialog(parent);
    dialog.exec();
}
} // namespace offers
