#pragma once

#include "common/appstate.h"

#include <QDialog>
#include <memory>

class QLineEdit;
namespace Ui {
class OptionsDialog;
}

// frmOptions, "Default Options": the two prompts, the POP3 port and time-out,
// the theme colours of the bars, and whether the program starts at log-in. OK
// stores them in the in-memory settings record and applies the theme at once;
// the close box (or Escape) changes nothing. The settings go to disk at exit;
// only the log-in start is a file of the desktop's, written or removed at OK.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(AppState& state, QWidget* parent);
    ~OptionsDialog() override;

    // OK. Refuses, with a message, a port outside 1..65535 or a time-out
    // outside 1..32767 seconds, and then changes nothing.
    void accept() override;

    static constexpr int kDefaultPort = 110;
    static constexpr int kDefaultTimeout = 30;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Empties the box when its text does not begin with a positive number.
    void applyChangeRule(QLineEdit* box);
    // The box's value rounded, or its default when it is empty; nullopt after
    // telling the user it is out of range.
    std::optional<int> readBox(QLineEdit* box, int defaultValue, int maximum, const QString& refusal);
    // Writes or removes the autostart entry when the box changed; false after
    // telling the user it failed (the box then shows what is set).
    bool applyAutostart();

    AppState& m_state;
    std::unique_ptr<Ui::OptionsDialog> m_ui;
    bool m_autostartOn = false; // as found at opening
};

namespace options {
// The dispatch entry: shows frmOptions modally over parent.
void ShowOptionsDialog(AppState& state, QWidget* parent);
} // namespace options
