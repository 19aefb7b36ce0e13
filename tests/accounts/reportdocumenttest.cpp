#include "accounts/reportdocument.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include <limits>
#include <memory>

namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

AccountRecord Account(const QString& name, qint32 total, qint32 deleted,
                      const QString& lastChecked = QStringLiteral("N/A")) {
    AccountRecord record;
    record.AccountName = name;
    record.LoginName = QStringLiteral("login");
    record.LoginPassword = QStringLiteral("secret");
    record.ServerAddress = QStringLiteral("pop.example.org");
    record.LastChecked = lastChecked;
    record.TotalMessages = total;
    record.DeletedMessages = deleted;
    return record;
}

// Collapses every run of blanks to one space, so tab stops read as one gap.
QString Squeezed(const QString& text) {
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n')))
        lines.append(line.simplified());
    return lines.join(QLatin1Char('\n'));
}

} // namespace

class ReportDocumentTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // The report as it comes out of a printer: a PDF, read back as text.
    QString printed(const QList<AccountRecord>& accounts, QDate date, const QString& pdftotextOption = {}) {
        const QString pdf = m_dir.filePath(QStringLiteral("report.pdf"));
        QFile::remove(pdf);
        std::unique_ptr<QTextDocument> document = ReportDocument::Build(accounts, date, kEnglish);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setPageSize(QPageSize(QPageSize::A4));
        ReportDocument::ApplyPageMargins(&printer);
        ReportDocument::Print(*document, &printer);

        QProcess tool;
        QStringList arguments;
        if (!pdftotextOption.isEmpty())
            arguments << pdftotextOption;
        arguments << pdf << QStringLiteral("-");
        tool.start(QStringLiteral("pdftotext"), arguments);
        if (!tool.waitForFinished(60000) || tool.exitCode() != 0)
            qWarning("pdftotext failed: %s", tool.readAllStandardError().constData());
        return QString::fromUtf8(tool.readAllStandardOutput());
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
    }

    void spamPercent_data() {
        QTest::addColumn<qint32>("total");
        QTest::addColumn<qint32>("deleted");
        QTest::addColumn<qint64>("percent");
        constexpr qint32 max = std::numeric_limits<qint32>::max();
        constexpr qint32 min = std::numeric_limits<qint32>::min();
        QTest::newRow("1 of 8: 12.5 to even") << 8 << 1 << qint64(12);
        QTest::newRow("3 of 8: 37.5 to even") << 8 << 3 << qint64(38);
        QTest::newRow("3 of 3") << 3 << 3 << qint64(100);
        QTest::newRow("1 of 200: 0.5 to even") << 200 << 1 << qint64(0);
        QTest::newRow("3 of 200: 1.5 to even") << 200 << 3 << qint64(2);
        QTest::newRow("2 of 3: 66.7 up") << 3 << 2 << qint64(67);
        QTest::newRow("nothing seen, 5 stored deleted") << 0 << 5 << qint64(0);
        QTest::newRow("more deleted than seen") << 1 << 5 << qint64(500);
        QTest::newRow("deleted x 100 beyond 32 bits") << 1 << max << qint64(max) * 100;
        QTest::newRow("both at the 32-bit top") << max << max << qint64(100);
        QTest::newRow("both at the 32-bit bottom") << min << min << qint64(100);
        QTest::newRow("negative deleted: -37.5 to even") << 8 << -3 << qint64(-38);
    }
    void spamPercent() {
        QFETCH(qint32, total);
        QFETCH(qint32, deleted);
        QFETCH(qint64, percent);
        QCOMPARE(ReportDocument::SpamPercent(total, deleted), percent);
    }

    void countText_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("comma") << kEnglish << qint64(1234567) << QStringLiteral("1,234,567");
        QTest::newRow("below a thousand") << kEnglish << qint64(999) << QStringLiteral("999");
        QTest::newRow("dot") << QLocale(QLocale::German, QLocale::Germany) << qint64(1234567)
                             << QStringLiteral("1.234.567");
        // C omits grouping unless told otherwise.
        QTest::newRow("C still groups")
            << QLocale::c() << qint64(2147483647) << QStringLiteral("2,147,483,647");
    }
    void countText() {
        QFETCH(QLocale, locale);
        QFETCH(qint64, value);
        QFETCH(QString, text);
        QCOMPARE(ReportDocument::CountText(value, locale), text);
    }

    void blockText_data() {
        QTest::addColumn<AccountRecord>("account");
        QTest::addColumn<QString>("text");
        QTest::newRow("counted") << Account(QStringLiteral("Work"), 1234567, 3000,
                                            QStringLiteral("1/2/24 9:15 AM"))
                                 << QStringLiteral(
                                        "Account:\t\t\tWork\r\nTotal Messages:\t\t1,234,567\r\n"
                                        "Deleted Messages:\t\t3,000\r\nLast Checked:\t\t1/2/24 9:15 AM\r\n"
                                        "Spam Percent:\t\t0%\r\n\r\n");
        QTest::newRow("never checked") << Account(QStringLiteral("New"), 0, 0)
                                       << QStringLiteral("Account:\t\t\tNew\r\nTotal Messages:\t\t0\r\n"
                                                         "Deleted Messages:\t\t0\r\nLast Checked:\t\tN/A\r\n"
                                                         "Spam Percent:\t\t0%\r\n\r\n");
        QTest::newRow("no total hides a stored deleted")
            << Account(QStringLiteral("Odd"), 0, 5)
            << QStringLiteral("Account:\t\t\tOdd\r\nTotal Messages:\t\t0\r\nDeleted Messages:\t\t0\r\n"
                              "Last Checked:\t\tN/A\r\nSpam Percent:\t\t0%\r\n\r\n");
        QTest::newRow("negative deleted shows 0")
            << Account(QStringLiteral("Neg"), 8, -3)
            << QStringLiteral("Account:\t\t\tNeg\r\nTotal Messages:\t\t8\r\nDeleted Messages:\t\t0\r\n"
                              "Last Checked:\t\tN/A\r\nSpam Percent:\t\t-38%\r\n\r\n");
    }
    void blockText() {
        QFETCH(AccountRecord, account);
        QFETCH(QString, text);
        QCOMPARE(ReportDocument::BlockText(account, kEnglish), text);
    }

    void bodyText() {
        QCOMPARE(ReportDocument::BodyText({}, kEnglish), QStringLiteral("\r\n"));
        const AccountRecord a = Account(QStringLiteral("A"), 1, 1);
        const AccountRecord b = Account(QStringLiteral("B"), 2, 1);
        QCOMPARE(ReportDocument::BodyText({a, b}, kEnglish), QStringLiteral("\r\n") +
                                                                 ReportDocument::BlockText(a, kEnglish) +
                                                                 ReportDocument::BlockText(b, kEnglish));
    }

    void printedReport() {
        const QDate date(2024, 3, 9);
        const QList<AccountRecord> accounts{
            Account(QStringLiteral("Big"), 1234567, 0, QStringLiteral("3/8/24 10:00:01 PM")),
            Account(QStringLiteral("Eighth"), 8, 1),
            Account(QStringLiteral("ThreeEighths"), 8, 3),
            Account(QStringLiteral("All"), 3, 3),
            Account(QStringLiteral("Ghost"), 0, 5),
        };
        const QString text = Squeezed(printed(accounts, date, QStringLiteral("-layout")));
        QVERIFY2(text.contains(QStringLiteral("QUILLORE Tidemarsh Report - ") +
                               kEnglish.toString(date, QLocale::ShortFormat)),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("DETAILS")));

        const auto block = [](const char* name, const char* total, const char* deleted, const char* checked,
                              const char* percent) {
            return QStringLiteral("Account: %1\nTotal Messages: %2\nDeleted Messages: %3\nLast Checked: %4\n"
                                  "Spam Percent: %5")
                .arg(QLatin1String(name), QLatin1String(total), QLatin1String(deleted),
                     QLatin1String(checked), QLatin1String(percent));
        };
        for (const QString& expected :
             {block("Big", "1,234,567", "0", "3/8/24 10:00:01 PM", "0%"),
              block("Eighth", "8", "1", "N/A", "12%"), block("ThreeEighths", "8", "3", "N/A", "38%"),
              block("All", "3", "3", "N/A", "100%"), block("Ghost", "0", "0", "N/A", "0%")})
            QVERIFY2(text.contains(expected), qPrintable(expected + QStringLiteral("\n--- in ---\n") + text));
    }

    void printedReportWithoutAccounts() {
        const QString text = Squeezed(printed({}, QDate(2024, 12, 31), QStringLiteral("-layout"))).trimmed();
        // The title and the table header, and nothing of any block.
        QCOMPARE(text, QStringLiteral("QUILLORE Tidemarsh Report - 12/31/24\nDETAILS"));
    }

    void longReportKeepsEveryAccountAndRepeatsTheHeader() {
        QList<AccountRecord> accounts;
        for (int i = 1; i <= 60; ++i)
            accounts.append(Account(QStringLiteral("Acct%1").arg(i, 3, 10, QLatin1Char('0')), i, 0));
        const QString text = printed(accounts, QDate(2024, 1, 1));
        const QStringList pages = text.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
        QVERIFY2(pages.size() >= 3, qPrintable(QString::number(pages.size())));
        for (const QString& page : pages)
            if (!page.trimmed().isEmpty())
                QVERIFY(page.contains(QStringLiteral("DETAILS")));
        for (const AccountRecord& account : accounts)
            QCOMPARE(text.count(account.AccountName), 1);
    }

    // One-inch margins, and nothing wider than the 5-inch table, even a long
    // check time: it wraps inside the cell.
    void printedWithinMarginsAndTable() {
        const QString longChecked =
            QStringLiteral("a rather long last-check text that was written by some other "
                           "program into the file");
        const QString html = printed({Account(QStringLiteral("Wide"), 10, 1, longChecked)}, QDate(2024, 1, 1),
                                     QStringLiteral("-bbox"));
        static const QRegularExpression word(QStringLiteral(
            R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="[\d.]+">([^<]*)</word>)re"));
        double left = 1e9;
        double top = 1e9;
        double right = 0;
        int words = 0;
        for (const QRegularExpressionMatch& m : word.globalMatch(html)) {
            left = std::min(left, m.captured(1).toDouble());
            top = std::min(top, m.captured(2).toDouble());
            right = std::max(right, m.captured(3).toDouble());
            ++words;
        }
        QVERIFY2(words > 20, qPrintable(html.left(2000)));
        const double inch = 72.0;
        QVERIFY2(left >= inch - 0.5 && left < inch + 8, qPrintable(QString::number(left)));
        QVERIFY2(top >= inch - 0.5 && top < inch + 8, qPrintable(QString::number(top)));
        QVERIFY2(right <= inch + 5 * inch, qPrintable(QString::number(right)));
        QVERIFY2(html.contains(QStringLiteral(">into</word>")), qPrintable(html)); // wrapped, not cut
    }
};

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ReportDocumentTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "reportdocumenttest.moc"
