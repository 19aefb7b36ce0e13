#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class DelStatusDialog;
}

// frmDelStatus: progress of a deletion. Top-most, no close box, no buttons:
// a deletion cannot be stopped half way.
class DelStatusDialog : public QDialog {
    Q_OBJECT
public:
    explicit DelStatusDialog(QWidget* parent);
    ~DelStatusDialog() override;

    void setProgress(int percent);
    int progress() const;

    void reject() override {} // Escape must not hide a running deletion

private:
    std::unique_ptr<Ui::DelStatusDialog> m_ui;
};
