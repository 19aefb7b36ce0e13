#include "statusdialog.h"

#include "progresspercent.h"
#include "ui_statusdialog.h"

#include <QPushButton>

StatusDialog::StatusDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      m_ui(std::make_unique<Ui::StatusDialog>()) {
    m_ui->setupUi(this);
    setMinimumWidth(400);
    setFixedHeight(sizeHint().height());
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &StatusDialog::onCancel);
}

StatusDialog::~StatusDialog() = default;

void StatusDialog::setCancelEnabled(bool enabled) { m_ui->cmdCancel->setEnabled(enabled); }

void StatusDialog::showHeaderProgress(int nMin, int nMax) {
    m_ui->lblStatus->setText(QStringLiteral("Downloading Headers for Message ") + QString::number(nMin)
                             + QStringLiteral(" of ") + QString::number(nMax) + QStringLiteral("..."));
    m_ui->pbStatus->setValue(ProgressPercent(nMin, nMax));
    m_ui->lblStatus->repaint(); // we are inside the component's call: no event loop pass will paint it
    m_ui->pbStatus->repaint();
}

int StatusDialog::progress() const { return m_ui->pbStatus->value(); }

QString StatusDialog::statusText() const { return m_ui->lblStatus->text(); }

void StatusDialog::reject() {
    if (m_ui->cmdCancel->isEnabled())
        onCancel();
}

void StatusDialog::onCancel() {
    Q_EMIT cancelRequested();
    hide();
}
