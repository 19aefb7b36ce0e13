#pragma once

#include "common/appstate.h"

#include <QDate>
#include <QList>
#include <QLocale>
#include <QPrintPreviewDialog>

#include <memory>

class QTextDocument;

// frmReport, "Accounts Report": a print preview of every account's statistics.
// Paging, zoom, page setup and printing (to a printer or to a PDF file) are the
// preview's own controls; the document is built once, when the window opens.
class ReportDialog : public QPrintPreviewDialog {
    Q_OBJECT
public:
    ReportDialog(const QList<AccountRecord>& accounts, QDate date, const QLocale& locale, QWidget* owner);
    ~ReportDialog() override;

    QTextDocument* document() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<QTextDocument> m_document;
};

// mnuFileReport: reads the account store afresh and shows frmReport modally
// over owner; returns when it closes. CurrentAccount is left holding the last
// record read. A store that cannot be read is reported, and the report then
// lists no accounts.
void ShowAccountsReport(QWidget* owner, AppState& state);
