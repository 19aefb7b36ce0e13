#include "check/statusdialog.h"

#include "review/core/progresspercent.h"
#include "ui_statusdialog.h"

#include <QPushButton>

StatusDialog::StatusDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      m_ui(std::make_unique<Ui::StatusDialog>()) {
    m_ui->setupUi(this);
    setMinimumWidth(400);
    setFixedHeight(sizeHint().height());
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &StatusDialog::onCancel);
    m_ui->pbStatus->setAccessibleName(tr("Download progress"));
}

StatusDialog::~StatusDialog() = default;

void StatusDialog::setCancelEnabled(bool enabled) {
    m_ui->cmdCancel->setEnabled(enabled);
    // Cancel is the window's only control: Enter and Space should reach it.
    if (enabled && !focusWidget())
        m_ui->cmdCancel->setFocus();
}

void StatusDialog::showHeaderProgress(int nMin, int nMax) {
    m_ui->lblStatus->setText(QStringLiteral("Downloading Headers for Message ") + QString::number(nMin) +
                             QStringLiteral(" of ") + QString::number(nMax) + QStringLiteral("..."));
    m_ui->pbStatus->setValue(ProgressPercent(nMin, nMax));
    // Inside the component's call the window is painted only when asked to.
    if (!m_sinceRepaint.isValid() || m_sinceRepaint.elapsed() >= 40 || nMin >= nMax) {
        m_ui->lblStatus->repaint();
        m_ui->pbStatus->repaint();
        m_sinceRepaint.start();
    }
}

int StatusDialog::progress() const {
    return m_ui->pbStatus->value();
}

QString StatusDialog::statusText() const {
    return m_ui->lblStatus->text();
}

void StatusDialog::reject() {
    if (m_ui->cmdCancel->isEnabled())
        onCancel();
}

void StatusDialog::onCancel() {
    Q_EMIT cancelRequested();
    hide();
}
