#include "options/optionsdialog.h"

#include "common/messagebox.h"
#include "desktop/autostartentry.h"
#include "help/helplauncher.h"
#include "options/numbertext.h"
#include "store/extrasettings.h"
#include "store/fixedtext.h"
#include "ui_optionsdialog.h"
#include "watch/core/watchengine.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include <cmath>

namespace {

// Room for a port or time-out in any of the accepted notations (&HFFFF, 1e4).
constexpr int kBoxLength = 8;
constexpr int kHelpTopic = 12;
constexpr int kMaxPort = 65535;
constexpr int kMaxTimeout = 32767; // the field is a signed 16-bit integer

void FixSize(QDialog* dialog, QSize twips) {
    const QSize designed(qRound(twips.width() * dialog->logicalDpiX() / 1440.0),
                         qRound(twips.height() * dialog->logicalDpiY() / 1440.0));
    dialog->layout()->activate();
    dialog->setFixedSize(dialog->sizeHint().expandedTo(designed));
}

} // namespace

OptionsDialog::OptionsDialog(AppState& state, QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(std::make_unique<Ui::OptionsDialog>()) {
    m_ui->setupUi(this);
    m_ui->cmdHelp->setAutoDefault(false);
    for (QLineEdit* box : {m_ui->txtPort, m_ui->txtTimeout}) {
        box->setMaxLength(kBoxLength);
        box->installEventFilter(this);
        connect(box, &QLineEdit::textChanged, this, [this, box] { applyChangeRule(box); });
    }
    connect(m_ui->cmdOK, &QPushButton::clicked, this, &OptionsDialog::accept);
    connect(m_ui->cmdHelp, &QPushButton::clicked, this,
            [this] { help::ShowTopic(m_state.ProgramFolder, kHelpTopic, this); });

    const SettingsRecord& s = m_state.Settings;
    m_ui->chkDelete->setChecked(s.DeletePromptOff == 0);
    m_ui->chkNew->setChecked(s.CheckDonePromptOff == 0);
    m_ui->chkThemes->setChecked(s.ThemeColoursOff == 0);
    // Not a setting of ours: the desktop's autostart entry for this very program.
    m_autostartOn = AutostartEntry(QCoreApplication::applicationFilePath()).isOn();
    m_ui->chkAutostart->setChecked(m_autostartOn);
    const watch::WatchSettings watchSettings = watch::WatchSettings::Load(m_state.ProgramFolder);
    m_ui->chkWatch->setChecked(watchSettings.enabled);
    m_ui->spnWatchMinutes->setRange(watch::WatchSettings::kMinMinutes, watch::WatchSettings::kMaxMinutes);
    m_ui->spnWatchMinutes->setValue(watchSettings.minutes);
    m_ui->spnWatchMinutes->setEnabled(watchSettings.enabled);
    connect(m_ui->chkWatch, &QCheckBox::toggled, m_ui->spnWatchMinutes, &QWidget::setEnabled);
    // The port field holds 1..65535 as its 16-bit pattern; the time-out is signed.
    m_ui->txtPort->setText(QString::number(static_cast<quint16>(s.ServerPort)));
    m_ui->txtTimeout->setText(QString::number(s.ServerTimeout));

    const int buttonWidth =
        std::max({80, m_ui->cmdOK->sizeHint().width(), m_ui->cmdHelp->sizeHint().width()});
    m_ui->cmdOK->setFixedWidth(buttonWidth);
    m_ui->cmdHelp->setFixedWidth(buttonWidth);
    FixSize(this, QSize(5835, 4020));
    m_ui->cmdOK->setFocus();
}

OptionsDialog::~OptionsDialog() = default;

bool OptionsDialog::eventFilter(QObject* watched, QEvent* event) {
    // A box's whole text is selected when it gets the focus; deferred, or a
    // mouse press would put the cursor over the selection.
    if (event->type() == QEvent::FocusIn)
        if (auto* box = qobject_cast<QLineEdit*>(watched))
            QTimer::singleShot(0, box, &QLineEdit::selectAll);
    return QDialog::eventFilter(watched, event);
}

void OptionsDialog::applyChangeRule(QLineEdit* box) {
    const QString text = box->text();
    if (!text.isEmpty() && !(options::ValueOfText(text) > 0))
        box->clear();
}

std::optional<int> OptionsDialog::readBox(QLineEdit* box, int defaultValue, int maximum,
                                          const QString& refusal) {
    if (FixedText::TrimBlanks(box->text()).isEmpty())
        return defaultValue;
    const double value = options::RoundHalfEven(options::ValueOfText(box->text()));
    if (value >= 1 && value <= maximum)
        return static_cast<int>(value);
    ui::ShowMessage(
        {this, ui::MessageIcon::Warning, windowTitle(), refusal, QMessageBox::Ok, QMessageBox::Ok});
    box->setFocus();
    box->selectAll();
    return std::nullopt;
}

void OptionsDialog::accept() {
    // Both boxes are checked before anything is stored, so a refusal changes nothing.
    const std::optional<int> port = readBox(m_ui->txtPort, kDefaultPort, kMaxPort,
                                            tr("The POP port must be a number from 1 to %1.").arg(kMaxPort));
    if (!port)
        return;
    const std::optional<int> timeout =
        readBox(m_ui->txtTimeout, kDefaultTimeout, kMaxTimeout,
                tr("The timeout must be a number of seconds from 1 to %1.").arg(kMaxTimeout));
    if (!timeout)
        return;
    if (!applyAutostart())
        return;
    watch::WatchSettings watchSettings = watch::WatchSettings::Load(m_state.ProgramFolder);
    const bool watchChanged = watchSettings.enabled != m_ui->chkWatch->isChecked() ||
                              watchSettings.minutes != m_ui->spnWatchMinutes->value();
    watchSettings.enabled = m_ui->chkWatch->isChecked();
    watchSettings.minutes = m_ui->spnWatchMinutes->value();
    if (watchChanged && !watchSettings.save(m_state.ProgramFolder)) {
        ui::ShowMessage(
            {this, ui::MessageIcon::Warning, windowTitle(),
             tr("The background check settings could not be saved in %1.").arg(ExtraSettings::FileName()),
             QMessageBox::Ok, QMessageBox::Ok});
        return;
    }

    SettingsRecord& s = m_state.Settings;
    s.DeletePromptOff = m_ui->chkDelete->isChecked() ? 0 : 1;
    s.CheckDonePromptOff = m_ui->chkNew->isChecked() ? 0 : 1;
    s.ThemeColoursOff = m_ui->chkThemes->isChecked() ? 0 : 1;
    s.ServerPort = static_cast<qint16>(static_cast<quint16>(*port));
    s.ServerTimeout = static_cast<qint16>(*timeout);
    if (m_state.hooks.applyThemeColours)
        m_state.hooks.applyThemeColours();
    QDialog::accept();
}

bool OptionsDialog::applyAutostart() {
    const bool wanted = m_ui->chkAutostart->isChecked();
    if (wanted == m_autostartOn)
        return true;
    const AutostartEntry entry(QCoreApplication::applicationFilePath());
    const QString failure = wanted ? entry.switchOn() : entry.switchOff();
    if (failure.isEmpty()) {
        m_autostartOn = wanted;
        return true;
    }
    const QString what = wanted ? tr("QUILLORE Tidemarsh could not be set to start when you log in.")
                                : tr("QUILLORE Tidemarsh could not be kept from starting when you log in.");
    ui::ShowMessage({this, ui::MessageIcon::Warning, windowTitle(), what + QStringLiteral("\n\n") + failure,
                     QMessageBox::Ok, QMessageBox::Ok});
    m_autostartOn = entry.isOn();
    m_ui->chkAutostart->setChecked(m_autostartOn);
    m_ui->chkAutostart->setFocus();
    return false;
}

namespace options {
void ShowOptionsDialog(AppState& state, QWidget* parent) {
    OptionsDialog dialog(state, parent);
    dialog.exec();
}
} // namespace options
