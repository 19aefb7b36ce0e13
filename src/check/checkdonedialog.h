#pragma once

#include <QDialog>
#include <memory>

struct SettingsRecord;
namespace Ui {
class CheckDoneDialog;
}

// frmCheckDone: the summary after a check that found messages. However it
// closes, "Do not show this again" is stored in CheckDonePromptOff.
class CheckDoneDialog : public QDialog {
    Q_OBJECT
public:
    CheckDoneDialog(const QString& accountName, const QString& messageCountText, SettingsRecord& settings,
                    QWidget* parent);
    ~CheckDoneDialog() override;

    void done(int result) override;

private:
    SettingsRecord& m_settings;
    std::unique_ptr<Ui::CheckDoneDialog> m_ui;
};
