#pragma once

#include "check/core/accounterrortext.h"

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

// Shows action followed by the result's code text for that kind, then detail (a
// paragraph of its own) when given, in frmError; returns when the user has
// closed the dialog.
void ReportAccountError(QWidget* owner, const QString& action, AccountError::Kind kind, pop3::Result result,
                        const QString& detail = {});
// The same for a job's failure: its code, and its own words below.
void ReportAccountError(QWidget* owner, const QString& action, AccountError::Kind kind,
                        const pop3::Failure& failure);
