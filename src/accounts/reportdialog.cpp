#include "accounts/reportdialog.h"

#include "accounts/reportdocument.h"
#include "common/accessibility.h"
#include "common/storeerrorbox.h"
#include "store/accountstore.h"

#include <QAction>
#include <QComboBox>
#include <QGraphicsView>
#include <QLayout>
#include <QLineEdit>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QScreen>
#include <QTextDocument>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <utility>

namespace {

constexpr double kTwipsPerInch = 1440.0;
constexpr double kClientWidthTwips = 9450.0;
constexpr double kClientHeightTwips = 6795.0;

constexpr Qt::WindowFlags kFlags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint;

} // namespace

ReportDialog::ReportDialog(const QList<AccountRecord>& accounts, QDate date, const QLocale& locale,
                           QWidget* owner)
    : QPrintPreviewDialog(owner, kFlags), m_document(ReportDocument::Build(accounts, date, locale)) {
    setObjectName(QStringLiteral("frmReport"));
    setWindowTitle(tr("Accounts Report"));
    ReportDocument::ApplyPageMargins(printer());
    connect(this, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* printer) { ReportDocument::Print(*m_document, printer); });

    if (auto* preview = findChild<QPrintPreviewWidget*>()) {
        preview->setObjectName(QStringLiteral("vp"));
        preview->setAccessibleName(tr("Report preview"));
        // The page view inside is what takes the keys.
        if (auto* pages = preview->findChild<QGraphicsView*>())
            pages->setAccessibleName(tr("Report pages"));
    }
    // The toolbar's page and zoom boxes have no caption of their own.
    for (auto* edit : findChildren<QLineEdit*>())
        edit->setAccessibleName(qobject_cast<QComboBox*>(edit->parentWidget()) ? tr("Zoom")
                                                                               : tr("Page number"));
    for (auto* zoom : findChildren<QComboBox*>())
        zoom->setAccessibleName(tr("Zoom"));

    // The tools answer to Tab like any control, and the common ones to their usual keys.
    for (auto* button : findChildren<QToolButton*>())
        button->setFocusPolicy(Qt::TabFocus);
    const std::pair<const char*, QKeySequence::StandardKey> keys[] = {{"Print", QKeySequence::Print},
                                                                      {"Zoom in", QKeySequence::ZoomIn},
                                                                      {"Zoom out", QKeySequence::ZoomOut}};
    for (QAction* action : findChildren<QAction*>())
        for (const auto& [text, key] : keys)
            if (action->text() == QPrintPreviewDialog::tr(text) && action->shortcut().isEmpty())
                action->setShortcut(key);

    // Page width, not the whole page: at this window's size a whole page is too
    // small to read. Through the dialog's own action, so its buttons agree.
    for (QAction* action : findChildren<QAction*>())
        if (action->text() == QPrintPreviewDialog::tr("Fit width"))
            action->trigger();

    const QScreen* shown = owner ? owner->screen() : screen();
    const double dpiX = shown ? shown->logicalDotsPerInchX() : 96.0;
    const double dpiY = shown ? shown->logicalDotsPerInchY() : 96.0;
    // Never narrower than the toolbar: its overflow would hide Print.
    const auto* tools = findChild<QToolBar*>();
    int toolsWidth = tools ? tools->sizeHint().width() : 0;
    if (layout())
        toolsWidth += layout()->contentsMargins().left() + layout()->contentsMargins().right();
    resize(std::max(qRound(kClientWidthTwips * dpiX / kTwipsPerInch), toolsWidth),
           qRound(kClientHeightTwips * dpiY / kTwipsPerInch));
    ui::NameUnnamedParts(this); // the preview's toolbar, its overflow and the zoom list
}

ReportDialog::~ReportDialog() = default;

QTextDocument* ReportDialog::document() const {
    return m_document.get();
}

void ReportDialog::showEvent(QShowEvent* event) {
    QPrintPreviewDialog::showEvent(event);
    // On the pages: arrow and page keys then move through them at once.
    if (auto* pages = findChild<QGraphicsView*>())
        pages->setFocus(Qt::OtherFocusReason);
}

void ShowAccountsReport(QWidget* owner, AppState& state) {
    QList<AccountRecord> accounts;
    try {
        accounts = AccountStore(state.ProgramFolder).ReadAll();
    } catch (const StoreError& error) {
        ui::ShowStoreError(owner, QStringLiteral("Accounts Report"),
                           QStringLiteral("The accounts could not be read, so the report lists none."),
                           error);
    }
    if (!accounts.isEmpty())
        state.CurrentAccount = accounts.constLast();

    ReportDialog dialog(accounts, QDate::currentDate(), QLocale::system(), owner);
    dialog.exec();
}
