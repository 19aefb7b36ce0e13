#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class ErrorDialog;
}

// frmError, "Operation Error": the failed action with its code and description.
class ErrorDialog : public QDialog {
    Q_OBJECT
public:
    ErrorDialog(const QString& message, QWidget* parent);
    ~ErrorDialog() override;

private:
    std::unique_ptr<Ui::ErrorDialog> m_ui;
};

// Appends the code text of kind (1 login, 2 header download) to message, then
// detail (a paragraph of its own) when given, and shows it in frmError; returns
// when the user has closed the dialog.
void ReportAccountError(QWidget* owner, QString& message, int kind, int code, const QString& detail = {});
