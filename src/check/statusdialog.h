#pragma once

#include <QDialog>
#include <QElapsedTimer>
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
    // "Downloading Headers for Message n of m...". Painted at once, but at most
    // about 25 times a second: ten thousand forced repaints would cost more than
    // the download itself, and nobody can read faster.
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
    QElapsedTimer m_sinceRepaint;
};
