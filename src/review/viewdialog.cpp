#include "review/viewdialog.h"

#include "review/core/reviewitem.h"
#include "ui_viewdialog.h"

#include <QFontDatabase>
#include <QPushButton>

ViewDialog::ViewDialog(const ReviewItem& item, const QString& headerText, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::ViewDialog>()) {
    m_ui->setupUi(this);
    m_ui->lblSender->setText(item.text(ReviewItem::From) + QStringLiteral(" (") +
                             item.text(ReviewItem::Address) + QLatin1Char(')'));
    m_ui->lblSubject->setText(item.text(ReviewItem::Subject));
    m_ui->lblDate->setText(item.text(ReviewItem::Date));
    m_ui->lblSize->setText(item.text(ReviewItem::Size));
    m_ui->lblContent->setText(item.text(ReviewItem::Content));
    m_ui->txtHeader->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_ui->txtHeader->setPlainText(headerText);
    connect(m_ui->cmdClose, &QPushButton::clicked, this, &QDialog::accept);
    m_ui->cmdClose->setFocus();
}

ViewDialog::~ViewDialog() = default;
