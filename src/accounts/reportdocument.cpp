#include "accounts/reportdocument.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>

#include <algorithm>

namespace ReportDocument {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QColor kTitleColour(0, 0, 255);
const QColor kHeaderBackground(0x1f, 0x3a, 0x68);
constexpr qreal kTableInches = 5.0;

// Text layout measures fixed lengths in pixels at the default resolution, which
// a fresh image carries; inches become layout units through it.
qreal LayoutDpi() {
    return QImage(1, 1, QImage::Format_Mono).logicalDpiX();
}

// Account names and check times come from a file anyone could have edited: a
// control character must not break or reorder the report's lines.
QString Printable(const QString& text) {
    QString out = text;
    for (QChar& c : out)
        if (!c.isPrint())
            c = QLatin1Char(' ');
    return out;
}

} // namespace

qint64 SpamPercent(qint32 total, qint32 deleted) {
    if (total == 0)
        return 0;
    // Exact integer rounding: 12.5 must not come out as 12.4999 and round down.
    const qint64 numerator = qint64(deleted) * 100;
    const qint64 a = numerator < 0 ? -numerator : numerator;
    const qint64 b = total < 0 ? -qint64(total) : qint64(total);
    qint64 quotient = a / b;
    const qint64 twiceRest = 2 * (a % b);
    if (twiceRest > b || (twiceRest == b && (quotient & 1)))
        ++quotient;
    return (numerator < 0) != (total < 0) ? -quotient : quotient;
}

QString CountText(qint64 value, const QLocale& locale) {
    QLocale grouped = locale;
    grouped.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return grouped.toString(value);
}

QList<Line> BlockLines(const AccountRecord& account, const QLocale& locale) {
    const bool neverCounted = account.TotalMessages == 0;
    const QString zero = QStringLiteral("0");
    const QString total = neverCounted ? zero : CountText(account.TotalMessages, locale);
    const QString deleted =
        neverCounted || account.DeletedMessages <= 0 ? zero : CountText(account.DeletedMessages, locale);
    const qint64 percent = SpamPercent(account.TotalMessages, account.DeletedMessages);
    return {
        {QStringLiteral("Account:"), 3, account.AccountName},
        {QStringLiteral("Total Messages:"), 2, total},
        {QStringLiteral("Deleted Messages:"), 2, deleted},
        {QStringLiteral("Last Checked:"), 2, account.LastChecked},
        {QStringLiteral("Spam Percent:"), 2, QString::number(percent) + QLatin1Char('%')},
    };
}

QString BlockText(const AccountRecord& account, const QLocale& locale) {
    QString text;
    for (const Line& line : BlockLines(account, locale))
        text += line.label + QString(line.tabs, QLatin1Char('\t')) + line.value + kCrLf;
    return text + kCrLf;
}

QString BodyText(const QList<AccountRecord>& accounts, const QLocale& locale) {
    QString body = kCrLf;
    for (const AccountRecord& account : accounts)
        body += BlockText(account, locale);
    return body;
}

QString TitleText(QDate date, const QLocale& locale) {
    return QStringLiteral("QUILLORE Tidemarsh Report - ") + locale.toString(date, QLocale::ShortFormat);
}

namespace {

std::unique_ptr<QTextDocument> NewDocument() {
    auto document = std::make_unique<QTextDocument>();
    document->setDocumentMargin(0); // the page margins do this
    document->setUndoRedoEnabled(false);
    QFont font = document->defaultFont(); // the desktop's face, at a size meant for paper
    font.setPointSizeF(11);
    document->setDefaultFont(font);
    return document;
}

void InsertTitle(QTextCursor& cursor, const QString& text, qreal dpi) {
    QTextBlockFormat titleBlock;
    titleBlock.setBottomMargin(0.15 * dpi);
    cursor.setBlockFormat(titleBlock);
    QTextCharFormat title;
    title.setFontWeight(QFont::Bold);
    title.setForeground(kTitleColour);
    cursor.insertText(text, title);
}

// The table with its header row filled in and bodyRows empty rows under it.
QTextTable* InsertTable(QTextCursor& cursor, int bodyRows, qreal dpi) {
    QTextTableFormat tableFormat;
    tableFormat.setAlignment(Qt::AlignLeft);
    tableFormat.setWidth(QTextLength(QTextLength::FixedLength, kTableInches * dpi));
    tableFormat.setColumnWidthConstraints({QTextLength(QTextLength::PercentageLength, 100)});
    tableFormat.setHeaderRowCount(1); // repeated on every page of a long report
    tableFormat.setBorder(1);
    tableFormat.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    tableFormat.setBorderCollapse(true);
    tableFormat.setCellSpacing(0);
    tableFormat.setCellPadding(0.06 * dpi);
    QTextTable* table = cursor.insertTable(1 + bodyRows, 1, tableFormat);

    QTextTableCell header = table->cellAt(0, 0);
    QTextTableCellFormat headerFormat = header.format().toTableCellFormat();
    headerFormat.setBackground(kHeaderBackground);
    header.setFormat(headerFormat);
    QTextCharFormat headerText;
    headerText.setFontWeight(QFont::Bold);
    headerText.setForeground(Qt::white);
    header.firstCursorPosition().insertText(QStringLiteral("DETAILS"), headerText);
    return table;
}

// Labels take one to three TABs in the text so that values line up at the
// old fixed stops; on paper one stop past the widest label does that for any font.
QTextBlockFormat BodyBlockFormat(const QFont& font, const QLocale& locale) {
    const QFontMetricsF metrics(font);
    qreal widest = 0;
    for (const Line& line : BlockLines(AccountRecord(), locale))
        widest = std::max(widest, metrics.horizontalAdvance(line.label));
    QTextBlockFormat bodyBlock;
    bodyBlock.setTabPositions(
        {QTextOption::Tab(widest + metrics.horizontalAdvance(QStringLiteral("MMM")), QTextOption::LeftTab)});
    return bodyBlock;
}

// No rule between the body rows, so they read as one cell.
void JoinBodyRow(QTextTableCell& cell, int row, int bodyRows) {
    QTextTableCellFormat cellFormat = cell.format().toTableCellFormat();
    if (row > 1) {
        cellFormat.setTopBorder(0);
        cellFormat.setTopBorderStyle(QTextFrameFormat::BorderStyle_None);
        cellFormat.setTopPadding(0);
    }
    if (row < bodyRows) {
        cellFormat.setBottomBorder(0);
        cellFormat.setBottomBorderStyle(QTextFrameFormat::BorderStyle_None);
        cellFormat.setBottomPadding(0);
    }
    cell.setFormat(cellFormat);
}

} // namespace

std::unique_ptr<QTextDocument> Build(const QList<AccountRecord>& accounts, QDate date,
                                     const QLocale& locale) {
    auto document = NewDocument();
    const qreal dpi = LayoutDpi();
    QTextCursor cursor(document.get());
    InsertTitle(cursor, TitleText(date, locale), dpi);
    // One body row per account rather than all in one cell: a single cell
    // across many pages costs far more to print (3,000 accounts: 13 s in one
    // cell, 6.7 s in rows).
    const int bodyRows = std::max<int>(1, int(accounts.size()));
    QTextTable* table = InsertTable(cursor, bodyRows, dpi);
    const QTextBlockFormat bodyBlock = BodyBlockFormat(document->defaultFont(), locale);
    QTextCharFormat bodyText;
    bodyText.setForeground(Qt::black);

    // The body starts with an empty line, and each block ends with one.
    for (int row = 1; row <= bodyRows; ++row) {
        QTextTableCell cell = table->cellAt(row, 0);
        JoinBodyRow(cell, row, bodyRows);
        QTextCursor body = cell.firstCursorPosition();
        body.setBlockFormat(bodyBlock);
        body.setCharFormat(bodyText);
        // The first row's own empty block is the body's leading empty line.
        bool cellEmpty = row > 1;
        if (row - 1 < accounts.size()) {
            for (const Line& line : BlockLines(accounts.at(row - 1), locale)) {
                if (!cellEmpty)
                    body.insertBlock(bodyBlock, bodyText);
                cellEmpty = false;
                body.insertText(line.label + QLatin1Char('\t') + Printable(line.value), bodyText);
            }
            body.insertBlock(bodyBlock, bodyText);
        }
    }
    return document;
}

void ApplyPageMargins(QPagedPaintDevice* device) {
    device->setPageMargins(QMarginsF(1, 1, 1, 1), QPageLayout::Inch);
}

void Print(QTextDocument& document, QPagedPaintDevice* device) {
    // With a page size the document counts as paginated: print() then keeps our
    // margins (none; the device has them) and adds no page numbers.
    const QRectF area = device->pageLayout().paintRect(QPageLayout::Inch);
    document.setPageSize(area.size() * LayoutDpi());
    document.print(device);
}

} // namespace ReportDocument
