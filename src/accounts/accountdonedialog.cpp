#include "accounts/accountdonedialog.h"

#include "common/commandicons.h"
#include "ui_accountdonedialog.h"

#include <QPushButton>

AccountDoneDialog::AccountDoneDialog(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::AccountDoneDialog>()) {
    m_ui->setupUi(this);
    m_ui->Image1->setPixmap(ui::ApplicationIcon().pixmap(64, 64));
    m_ui->Image1->setAccessibleName(tr("QUILLORE Tidemarsh"));
    setMinimumWidth(480);
    connect(m_ui->cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    m_ui->cmdOK->setFocus();
}

AccountDoneDialog::~AccountDoneDialog() = default;
