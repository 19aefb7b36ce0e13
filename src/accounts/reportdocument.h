#pragma once

#include "store/records.h"

#include <QDate>
#include <QList>
#include <QLocale>
#include <QString>

#include <memory>

class QPagedPaintDevice;
class QTextDocument;

// The accounts report without widgets: its texts from the account store, the
// printable document built from them, and how that document goes to paper.
namespace ReportDocument {

// One line of an account's block: the label, the TABs after it, the value.
struct Line {
    QString label;
    int tabs = 2;
    QString value;
};

// DeletedMessages × 100 / TotalMessages, halves to the even neighbour; 0 when
// TotalMessages is 0. In 64 bits, so every stored pair has an exact result:
// a stored Deleted above Total gives a percentage above 100, shown as it is.
qint64 SpamPercent(qint32 total, qint32 deleted);
// Digits grouped in threes with the locale's separator, whatever its number options.
QString CountText(qint64 value, const QLocale& locale);

// The five lines of one account's block.
QList<Line> BlockLines(const AccountRecord& account, const QLocale& locale);
// The block as text: each line ended by CR LF, then one empty line.
QString BlockText(const AccountRecord& account, const QLocale& locale);
// CR LF, then every account's block in record order.
QString BodyText(const QList<AccountRecord>& accounts, const QLocale& locale);
QString TitleText(QDate date, const QLocale& locale);

// Bold blue title, then a 5-inch, one-column table headed "DETAILS" whose one
// body cell holds the blocks (values lined up on one tab stop).
std::unique_ptr<QTextDocument> Build(const QList<AccountRecord>& accounts, QDate date, const QLocale& locale);

// One-inch margins on every side.
void ApplyPageMargins(QPagedPaintDevice* device);
// Lays the document out on the device's printable area and prints it there
// (honouring the device's page range).
void Print(QTextDocument& document, QPagedPaintDevice* device);

} // namespace ReportDocument
