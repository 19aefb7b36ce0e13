#include "review/delstatusdialog.h"

#include "ui_delstatusdialog.h"

DelStatusDialog::DelStatusDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      m_ui(std::make_unique<Ui::DelStatusDialog>()) {
    m_ui->setupUi(this);
    m_ui->pbStatus->setAccessibleName(tr("Deletion progress"));
    setMinimumWidth(380);
    setFixedHeight(sizeHint().height());
}

DelStatusDialog::~DelStatusDialog() = default;

void DelStatusDialog::setProgress(int percent) {
    m_ui->pbStatus->setValue(percent);
}

int DelStatusDialog::progress() const {
    return m_ui->pbStatus->value();
}
