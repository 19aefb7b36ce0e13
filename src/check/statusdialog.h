#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class StatusDialog;
}

// frmStatus, "Checking Mail": top-most while open, no close box. Cancel is
// enabled once the login has succeeded; pressing it only reports the wish and
// closes the window: the check stops at the component's next event.
class StatusDialog : public QDialog {
    Q_OBJECT
public:
    explicit StatusDialog(QWidget* parent);
    ~StatusDialog() override;

    void setCancelEnabled(bool enabled);
    // "Downloading Headers for Message n of m...", repainted at once.
    void showHeaderProgress(int nMin, int nMax);
    int progress() const;
    QString statusText() const;

    // Escape counts as Cancel, but only while Cancel is offered.
    void reject() override;

Q_SIGNALS:
    void cancelRequested();

private:
    void onCancel();

    std::unique_ptr<Ui::StatusDialog> m_ui;
};
