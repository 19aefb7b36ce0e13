#include "pop3/pop3types.h"
#include "review/core/deletionoutcome.h"
#include "review/core/displaytext.h"
#include "review/core/friendmatcher.h"
#include "review/core/maildate.h"
#include "review/core/progresspercent.h"
#include "review/core/reviewitem.h"
#include "review/core/reviewmodel.h"
#include "review/core/setbytes.h"
#include "store/friendsstore.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

class ReviewCoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void setBytes_data();
    void setBytes();
    void setBytesLooseValues();
    void groupedNumber_data();
    void groupedNumber();
    void progressPercent_data();
    void progressPercent();
    void friendTest_data();
    void friendTest();
    void rowTexts_data();
    void rowTexts();
    void displayTextIsCleaned_data();
    void displayTextIsCleaned();
    void mailDate_data();
    void mailDate();
    void sortsByKeyBothWays_data();
    void sortsByKeyBothWays();
    void linesAreCleaned_data();
    void linesAreCleaned();
    void rowsAddedLaterKeepTheOrder();
    void persistentRowsFollowTheSort();
    void ticks();
    void modelIsConsistent();
    void accountColumnOnlyForAllAccounts();
    void sortsByAccount_data();
    void sortsByAccount();
    void headerFileNumbers();
    void deletionText_data();
    void deletionText();
};

void ReviewCoreTest::setBytes_data() {
    QTest::addColumn<double>("bytes");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << 0.0 << "en_US"
                          << "0 Bytes";
    QTest::newRow("500") << 500.0 << "en_US"
                         << "500 Bytes";
    QTest::newRow("fraction cut") << 1023.9 << "en_US"
                                  << "1023 Bytes";
    QTest::newRow("negative cut towards zero") << -5.7 << "en_US"
                                               << "-5 Bytes";
    QTest::newRow("1024") << 1024.0 << "en_US"
                          << "1.00 KB";
    QTest::newRow("1536") << 1536.0 << "en_US"
                          << "1.50 KB";
    QTest::newRow("1600 = 1000 + 600") << 1600.0 << "en_US"
                                       << "1.56 KB";
    QTest::newRow("1,048,575 no grouping") << 1048575.0 << "en_US"
                                           << "1024.00 KB";
    QTest::newRow("1 MB") << 1048576.0 << "en_US"
                          << "1.00 MB";
    QTest::newRow("just under 1 GB") << 1073741823.0 << "en_US"
                                     << "1024.00 MB";
    QTest::newRow("1 GB") << 1073741824.0 << "en_US"
                          << "1.00 GB";
    QTest::newRow("5 TB stays GB") << 5.0e12 << "en_US"
                                   << "4656.61 GB";
    QTest::newRow("comma decimal") << 1536.0 << "de_DE"
                                   << "1,50 KB";
    QTest::newRow("comma decimal no grouping") << 1048575.0 << "de_DE"
                                               << "1024,00 KB";
    QTest::newRow("bytes ignore locale") << 999.0 << "de_DE"
                                         << "999 Bytes";
}

void ReviewCoreTest::setBytes() {
    QFETCH(double, bytes);
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    QCOMPARE(SetBytes(bytes, QLocale(locale)), expected);
}

void ReviewCoreTest::setBytesLooseValues() {
    const QLocale en(QStringLiteral("en_US"));
    QCOMPARE(SetBytes(QVariant(), en), QString());
    QCOMPARE(SetBytes(QVariant(QMetaType::fromType<double>()), en), QStringLiteral("0 Bytes"));
    QCOMPARE(SetBytes(QVariant(QStringLiteral("twelve")), en), QStringLiteral("Unknown"));
    QCOMPARE(SetBytes(QVariant(qint64(1536)), en), QStringLiteral("1.50 KB"));
}

void ReviewCoreTest::groupedNumber_data() {
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");
    QTest::newRow("1500 comma") << qint64(1500) << "en_US"
                                << "1,500";
    QTest::newRow("1234 comma") << qint64(1234) << "en_US"
                                << "1,234";
    QTest::newRow("small") << qint64(999) << "en_US"
                           << "999";
    QTest::newRow("dot grouping") << qint64(1234567) << "de_DE"
                                  << "1.234.567";
    QTest::newRow("C locale still groups") << qint64(32767) << "C"
                                           << "32,767";
}

void ReviewCoreTest::groupedNumber() {
    QFETCH(qint64, value);
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    QCOMPARE(GroupedNumber(value, QLocale(locale)), expected);
}

void ReviewCoreTest::progressPercent_data() {
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("expected");
    QTest::newRow("1 of 8: 12.5 to even") << 1 << 8 << 12;
    QTest::newRow("2 of 8") << 2 << 8 << 25;
    QTest::newRow("3 of 8: 37.5 to even") << 3 << 8 << 38;
    QTest::newRow("5 of 8: 62.5 to even") << 5 << 8 << 62;
    QTest::newRow("7 of 8: 87.5 to even") << 7 << 8 << 88;
    QTest::newRow("8 of 8") << 8 << 8 << 100;
    QTest::newRow("1 of 3") << 1 << 3 << 33;
    QTest::newRow("2 of 3") << 2 << 3 << 67;
    QTest::newRow("1 of 200: 0.5 to even") << 1 << 200 << 0;
    QTest::newRow("3 of 200: 1.5 to even") << 3 << 200 << 2;
    QTest::newRow("5 of 200: 2.5 to even") << 5 << 200 << 2;
    QTest::newRow("nothing to do") << 0 << 0 << 0;
    QTest::newRow("32767 rows, last") << 32767 << 32767 << 100;
    QTest::newRow("32767 rows, one short") << 32766 << 32767 << 100;
}

void ReviewCoreTest::progressPercent() {
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(int, expected);
    QCOMPARE(ProgressPercent(done, total), expected);
}

void ReviewCoreTest::friendTest_data() {
    QTest::addColumn<QString>("fromAddr");
    QTest::addColumn<QString>("replyToAddr");
    QTest::addColumn<QStringList>("friends");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("ticked");
    const QStringList bob{QStringLiteral("bob@example.com")};
    QTest::newRow("friend") << "bob@example.com"
                            << "" << bob << "bob@example.com" << true;
    QTest::newRow("stranger") << "eve@example.com"
                              << "" << bob << "eve@example.com" << false;
    QTest::newRow("friend in capitals with blanks")
        << "bob@example.com"
        << "" << QStringList{QStringLiteral("  BOB@EXAMPLE.COM  ")} << "bob@example.com" << true;
    QTest::newRow("domain entry does not match")
        << "bob@example.com"
        << "" << QStringList{QStringLiteral("example.com")} << "bob@example.com" << false;
    QTest::newRow("part of address does not match")
        << "bob@example.com"
        << "" << QStringList{QStringLiteral("bob@example.co")} << "bob@example.com" << false;
    QTest::newRow("blank from uses reply-to, which is a friend")
        << "   "
        << "Bob@Example.com" << bob << "Bob@Example.com" << true;
    QTest::newRow("empty from uses reply-to") << ""
                                              << "eve@example.com" << bob << "eve@example.com" << false;
    QTest::newRow("from kept as received, blanks and all") << " bob@example.com "
                                                           << "x@y" << bob << " bob@example.com " << true;
    QTest::newRow("tab is not trimmed, and shows as a blank") << "bob@example.com\t"
                                                              << "" << bob << "bob@example.com " << false;
    QTest::newRow("reply-to ignored when from is set")
        << "eve@example.com"
        << "bob@example.com" << bob << "eve@example.com" << false;
    QTest::newRow("entry stored as name and address in brackets")
        << "mum@family.test"
        << "" << QStringList{QStringLiteral("Mum <Mum@Family.test>")} << "mum@family.test" << true;
    QTest::newRow("name and address entry, another address")
        << "dad@family.test"
        << "" << QStringList{QStringLiteral("Mum <mum@family.test>")} << "dad@family.test" << false;
    QTest::newRow("no friends") << "bob@example.com"
                                << "" << QStringList() << "bob@example.com" << false;
    QTest::newRow("non-ASCII case") << "jürgen@example.de"
                                    << "" << QStringList{QStringLiteral("JÜRGEN@EXAMPLE.DE")}
                                    << "jürgen@example.de" << true;
}

void ReviewCoreTest::friendTest() {
    QFETCH(QString, fromAddr);
    QFETCH(QString, replyToAddr);
    QFETCH(QStringList, friends);
    QFETCH(QString, address);
    QFETCH(bool, ticked);
    pop3::Message message;
    message.FromAddr = fromAddr;
    message.ReplyToAddr = replyToAddr;
    const ReviewItem item = MakeReviewItem(message, 1, FriendMatcher(friends));
    QCOMPARE(item.text(ReviewItem::Address), address);
    QCOMPARE(item.keep, ticked);
    // The hashed test must agree with the store's comparison, entry by entry, on
    // the address as received (the shown one is cleaned for display).
    const QString received = QString(fromAddr).remove(QLatin1Char(' ')).isEmpty() ? replyToAddr : fromAddr;
    bool storeSays = false;
    for (const QString& entry : friends)
        storeSays = storeSays || FriendsStore::SameAddress(received, entry);
    QCOMPARE(item.keep, storeSays);
}

void ReviewCoreTest::rowTexts_data() {
    QTest::addColumn<int>("recipients");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("recipientsText");
    QTest::addColumn<QString>("sizeText");
    QTest::newRow("no recipients") << 0 << qint64(1000) << "1"
                                   << "1000 Bytes";
    QTest::newRow("negative count") << -2 << qint64(1024) << "1"
                                    << "1.00 KB";
    QTest::newRow("one") << 1 << qint64(1536) << "1"
                         << "1.50 KB";
    QTest::newRow("1500") << 1500 << qint64(3 * 1048576) << "1,500"
                          << "3.00 MB";
    QTest::newRow("1234") << 1234 << qint64(9 * 1024) << "1,234"
                          << "9.00 KB";
}

void ReviewCoreTest::rowTexts() {
    QFETCH(int, recipients);
    QFETCH(qint64, size);
    QFETCH(QString, recipientsText);
    QFETCH(QString, sizeText);
    pop3::Message message;
    message.From = QStringLiteral("Jöran Ångström");
    message.FromAddr = QStringLiteral("joran@example.se");
    message.Subject = QStringLiteral("<b>not bold</b>");
    message.Date = QStringLiteral("Mon, 7 Dec 2026 10:00:00 +0100");
    message.Size = size;
    message.ContentType = QStringLiteral("multipart");
    message.ContentSubType = QStringLiteral("mixed");
    message.Recipients = recipients;
    const ReviewItem item = MakeReviewItem(message, 42, FriendMatcher(), QLocale(QStringLiteral("en_US")));
    QCOMPARE(item.text(ReviewItem::From), message.From);
    QCOMPARE(item.text(ReviewItem::Subject), message.Subject);
    QCOMPARE(item.text(ReviewItem::Date), message.Date);
    QCOMPARE(item.text(ReviewItem::Size), sizeText);
    QCOMPARE(item.text(ReviewItem::Content), QStringLiteral("multipart/mixed"));
    QCOMPARE(item.text(ReviewItem::Recipients), recipientsText);
    QCOMPARE(item.MessageNumber, 42);
    QVERIFY(!item.keep);

    // Folded or hostile values become one line in every column.
    message.Subject = QStringLiteral("Re: a long\r\n\tfolded\x01subject");
    message.From = QStringLiteral("Eve\nMallory");
    QCOMPARE(MakeReviewItem(message, 1, FriendMatcher()).text(ReviewItem::Subject),
             QStringLiteral("Re: a long   folded subject"));
    QCOMPARE(MakeReviewItem(message, 1, FriendMatcher()).text(ReviewItem::From),
             QStringLiteral("Eve Mallory"));
}

void ReviewCoreTest::displayTextIsCleaned_data() {
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("shown");
    QTest::newRow("right-to-left override")
        << QStringLiteral("Pay\u202ElaP.com") << QStringLiteral("PaylaP.com");
    QTest::newRow("embeddings, isolates and marks")
        << QStringLiteral("\u202Aa\u202Bb\u202Cc\u202Dd\u2066e\u2067f\u2068g\u2069h\u200Ei\u200Fj\u061Ck")
        << QStringLiteral("abcdefghijk");
    QTest::newRow("line and paragraph separators")
        << QStringLiteral("a\u2028b\u2029c") << QStringLiteral("a b c");
    QTest::newRow("C1 controls and NEL")
        << QStringLiteral("a\u0085b\u009Bc\u0080d") << QStringLiteral("a b c d");
    QTest::newRow("escape and delete") << QStringLiteral("a\x1B[31mb\x7F") << QStringLiteral("a [31mb ");
    QTest::newRow("ordinary text kept")
        << QStringLiteral("Grüße, 東京 – ok") << QStringLiteral("Grüße, 東京 – ok");
}

void ReviewCoreTest::displayTextIsCleaned() {
    QFETCH(QString, raw);
    QFETCH(QString, shown);
    pop3::Message message;
    message.From = raw;
    message.FromAddr = raw + QStringLiteral("@example.com");
    message.Subject = raw;
    message.Date = raw;
    message.ContentType = raw;
    const ReviewItem item = MakeReviewItem(message, 1, FriendMatcher());
    QCOMPARE(item.text(ReviewItem::From), shown);
    QCOMPARE(item.text(ReviewItem::Address), shown + QStringLiteral("@example.com"));
    QCOMPARE(item.text(ReviewItem::Subject), shown);
    QCOMPARE(item.text(ReviewItem::Date), shown);
    QCOMPARE(item.text(ReviewItem::Content), shown + QStringLiteral("/plain"));
}

void ReviewCoreTest::linesAreCleaned_data() {
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("shown");
    QTest::newRow("line feeds kept, CR LF and lone CR become line feeds")
        << QStringLiteral("one\ntwo\r\nthree\rfour\n\nfive")
        << QStringLiteral("one\ntwo\nthree\nfour\n\nfive");
    QTest::newRow("tabs to the next stop of eight")
        << QStringLiteral("a\tb\n\tc\nabcdefgh\ti")
        << QStringLiteral("a       b\n        c\nabcdefgh        i");
    QTest::newRow("bidi override, isolates and marks removed")
        << QStringLiteral("Pay\u202ElaP.com\n\u2066x\u2069\u200F") << QStringLiteral("PaylaP.com\nx");
    QTest::newRow("separators, other controls, C1 and escape become spaces")
        << QStringLiteral("a\u2028b\u2029c\x0B\x0C\x07"
                          "d\u0085e\x1B[2Jf\x7F\x00g")
        << QStringLiteral("a b c   d e [2Jf  g");
    QTest::newRow("ordinary text kept")
        << QStringLiteral("Grüße,\n東京 – ok") << QStringLiteral("Grüße,\n東京 – ok");
}

void ReviewCoreTest::linesAreCleaned() {
    QFETCH(QString, raw);
    QFETCH(QString, shown);
    QCOMPARE(CleanLinesForDisplay(raw), shown);
}

namespace {
ReviewItem Row(int number, const QString& from, const QString& size) {
    ReviewItem item;
    item.MessageNumber = number;
    item.texts[ReviewItem::From] = from;
    item.texts[ReviewItem::Size] = size;
    return item;
}

QList<int> Numbers(const ReviewModel& model) {
    QList<int> numbers;
    for (int row = 0; row < model.rowCount(); ++row)
        numbers.append(model.data(model.index(row, 0), ReviewModel::MessageNumberRole).toInt());
    return numbers;
}
} // namespace

void ReviewCoreTest::mailDate_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected"); // invalid: cannot be read
    const QDateTime moment(QDate(2003, 7, 1), QTime(8, 52, 37), Qt::UTC);
    const QDateTime none;
    QTest::newRow("RFC 5322") << QStringLiteral("Tue, 1 Jul 2003 10:52:37 +0200") << moment;
    QTest::newRow("no weekday") << QStringLiteral("1 Jul 2003 10:52:37 +0200") << moment;
    QTest::newRow("weekday misspelt") << QStringLiteral("Tues, 01 Jul 2003 10:52:37 +0200") << moment;
    QTest::newRow("no seconds") << QStringLiteral("Tue, 1 Jul 2003 10:52 +0200") << moment.addSecs(-37);
    QTest::newRow("two-digit year 03") << QStringLiteral("Tue, 1 Jul 03 10:52:37 +0200") << moment;
    QTest::newRow("two-digit year 99") << QStringLiteral("1 Jul 99 08:52:37 +0000") << moment.addYears(-4);
    QTest::newRow("three-digit year") << QStringLiteral("1 Jul 103 08:52:37 +0000") << moment;
    QTest::newRow("zone EDT") << QStringLiteral("Tue, 1 Jul 2003 04:52:37 EDT") << moment;
    QTest::newRow("zone GMT") << QStringLiteral("Tue, 1 Jul 2003 08:52:37 GMT") << moment;
    QTest::newRow("military zone") << QStringLiteral("Tue, 1 Jul 2003 08:52:37 A") << moment;
    QTest::newRow("no zone: UTC") << QStringLiteral("Tue, 1 Jul 2003 08:52:37") << moment;
    QTest::newRow("number wins over name") << QStringLiteral("Tue, 1 Jul 2003 10:52:37 +0200 CEST") << moment;
    QTest::newRow("comment") << QStringLiteral("Tue, 1 Jul 2003 10:52:37 +0200 (Central (European) Time)")
                             << moment;
    QTest::newRow("letter case, full names")
        << QStringLiteral("tuesday, 1 JULY 2003 10:52:37 +0200") << moment;
    QTest::newRow("blanks, no comma") << QStringLiteral("  Tue  1\tJul 2003   10:52:37  +0200 ") << moment;
    QTest::newRow("asctime") << QStringLiteral("Tue Jul  1 08:52:37 2003") << moment;
    QTest::newRow("ISO 8601") << QStringLiteral("2003-07-01T10:52:37+02:00") << moment;
    QTest::newRow("ISO 8601 Z, fraction") << QStringLiteral("2003-07-01T08:52:37.250Z") << moment;
    QTest::newRow("ISO date and time") << QStringLiteral("2003-07-01 08:52:37") << moment;
    QTest::newRow("day-Mon-year") << QStringLiteral("01-Jul-2003 08:52:37 +0000") << moment;
    QTest::newRow("zone crosses the year") << QStringLiteral("Sun, 31 Dec 2023 23:30:00 -0130")
                                           << QDateTime(QDate(2024, 1, 1), QTime(1, 0), Qt::UTC);
    QTest::newRow("leap day") << QStringLiteral("29 Feb 2024 12:00:00 +0000")
                              << QDateTime(QDate(2024, 2, 29), QTime(12, 0), Qt::UTC);
    QTest::newRow("empty") << QString() << none;
    QTest::newRow("words") << QStringLiteral("yesterday afternoon") << none;
    QTest::newRow("no such day") << QStringLiteral("29 Feb 2023 12:00:00 +0000") << none;
    QTest::newRow("no such hour") << QStringLiteral("1 Jul 2003 24:00:00 +0000") << none;
    QTest::newRow("no such minute") << QStringLiteral("1 Jul 2003 10:60:00 +0000") << none;
    QTest::newRow("no such month") << QStringLiteral("Tue, 1 Jux 2003 10:52:37 +0200") << none;
    QTest::newRow("no year") << QStringLiteral("Tue, 1 Jul 10:52:37 +0200") << none;
    QTest::newRow("two times") << QStringLiteral("1 Jul 2003 10:52:37 11:00:00") << none;
    QTest::newRow("bad zone") << QStringLiteral("1 Jul 2003 10:52:37 +02x0") << none;
    QTest::newRow("zone minutes over 59") << QStringLiteral("1 Jul 2003 10:52:37 +0260") << none;
    QTest::newRow("ordinal day") << QStringLiteral("1st Jul 2003 10:52:37") << none;
}

void ReviewCoreTest::mailDate() {
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);
    const std::optional<qint64> parsed = ParseMailDate(text);
    if (!expected.isValid()) {
        QVERIFY2(!parsed, qPrintable(QDateTime::fromSecsSinceEpoch(parsed.value_or(0), Qt::UTC).toString()));
        return;
    }
    QVERIFY(parsed);
    QCOMPARE(QDateTime::fromSecsSinceEpoch(*parsed, Qt::UTC), expected);
}

namespace {
// Rows built as a check builds them, so the sort keys are the real ones. Six
// messages; 2 and 6 are alike in every key, 3 and 5 have dates that cannot be read.
QVector<ReviewItem> SortRows() {
    struct Input {
        const char* from;
        qint64 size;
        const char* date;
        int recipients;
    };
    const Input inputs[] = {
        {"carol", 10643, "Tue, 2 Jan 2024 10:00:00 +0000", 1234}, // "10.39 KB", "1,234"
        {"Alice", 2591, "Mon, 1 Jan 2024 23:30:00 -0500", 3},     // "2.53 KB", 04:30 UTC on the 2nd
        {"bob", 502, "not a date", 0},                            // "502 Bytes", "1"
        {"dave", 1048576, "Sat, 30 Dec 2023 08:00:00 GMT", 12},   // "1.00 MB"
        {"Eve", 9216, "", 2},                                     // "9.00 KB"
        {"alice", 2591, "1 Jan 2024 23:30 -0500", 3},
    };
    QVector<ReviewItem> rows;
    int number = 0;
    for (const Input& in : inputs) {
        pop3::Message message;
        message.From = QString::fromLatin1(in.from);
        message.Size = in.size;
        message.Date = QString::fromLatin1(in.date);
        message.Recipients = in.recipients;
        rows.append(MakeReviewItem(message, ++number, FriendMatcher(), QLocale(QStringLiteral("en_US"))));
    }
    return rows;
}
} // namespace

void ReviewCoreTest::sortsByKeyBothWays_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<QList<int>>("ascending");
    QTest::addColumn<QList<int>>("descending");
    // Equal keys keep the order of arrival in both directions.
    QTest::newRow("Size by bytes") << int(ReviewItem::Size) << QList<int>{3, 2, 6, 5, 1, 4}
                                   << QList<int>{4, 1, 5, 2, 6, 3};
    QTest::newRow("Date by moment, unreadable last")
        << int(ReviewItem::Date) << QList<int>{4, 2, 6, 1, 3, 5} << QList<int>{1, 2, 6, 4, 3, 5};
    QTest::newRow("# by number") << int(ReviewItem::Recipients) << QList<int>{3, 5, 2, 6, 4, 1}
                                 << QList<int>{1, 4, 2, 6, 5, 3};
    QTest::newRow("From by text, case ignored")
        << int(ReviewItem::From) << QList<int>{2, 6, 3, 1, 4, 5} << QList<int>{5, 4, 1, 3, 2, 6};
}

void ReviewCoreTest::sortsByKeyBothWays() {
    QFETCH(int, column);
    QFETCH(QList<int>, ascending);
    QFETCH(QList<int>, descending);
    ReviewModel model;
    QCOMPARE(model.columnCount(), 7);
    const QStringList headers{QStringLiteral("From"), QStringLiteral("Address"), QStringLiteral("Subject"),
                              QStringLiteral("Date"), QStringLiteral("Size"),    QStringLiteral("Content"),
                              QStringLiteral("#")};
    for (int c = 0; c < 7; ++c)
        QCOMPARE(model.headerData(c, Qt::Horizontal).toString(), headers.at(c));

    const QVector<ReviewItem> rows = SortRows();
    model.setItems(rows);
    QCOMPARE(model.sortColumn(), -1);
    QCOMPARE(Numbers(model), (QList<int>{1, 2, 3, 4, 5, 6}));
    const QStringList texts{model.item(0).text(column), model.item(1).text(column)};

    model.sort(column, Qt::AscendingOrder);
    QCOMPARE(Numbers(model), ascending);
    QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
    model.sort(column, Qt::AscendingOrder); // the same again changes nothing
    QCOMPARE(layout.count(), 0);
    model.sort(column, Qt::DescendingOrder);
    QCOMPARE(Numbers(model), descending);
    QCOMPARE(model.sortOrder(), Qt::DescendingOrder);
    QCOMPARE(layout.count(), 1);
    // The cells keep their texts.
    QCOMPARE(model.data(model.index(static_cast<int>(descending.indexOf(1)), column)).toString(),
             texts.at(0));
    QCOMPARE(model.data(model.index(static_cast<int>(descending.indexOf(2)), column)).toString(),
             texts.at(1));

    // Rows that arrive later, and a new fill, take their place in the current direction.
    model.setItems(rows.mid(0, 5));
    model.addItem(rows.at(5));
    QCOMPARE(Numbers(model), descending);
    model.sort(column, Qt::AscendingOrder);
    model.clear();
    for (const ReviewItem& row : rows)
        model.addItem(row);
    QCOMPARE(Numbers(model), ascending);
}

void ReviewCoreTest::rowsAddedLaterKeepTheOrder() {
    ReviewModel model;
    model.addItem(Row(1, QStringLiteral("m"), {}));
    model.addItem(Row(2, QStringLiteral("a"), {}));
    QCOMPARE(Numbers(model), (QList<int>{1, 2})); // unsorted: at the end
    model.sort(ReviewItem::From);
    QCOMPARE(Numbers(model), (QList<int>{2, 1}));
    QCOMPARE(model.addItem(Row(3, QStringLiteral("c"), {})), 1);
    QCOMPARE(model.addItem(Row(4, QStringLiteral("z"), {})), 3);
    QCOMPARE(model.addItem(Row(5, QStringLiteral("M"), {})), 3); // equal text goes after the earlier row
    QCOMPARE(Numbers(model), (QList<int>{2, 3, 1, 5, 4}));
    // A new fill while sorted arrives sorted, equal texts in enumeration order.
    model.setItems(
        {Row(1, QStringLiteral("y"), {}), Row(2, QStringLiteral("b"), {}), Row(3, QStringLiteral("B"), {})});
    QCOMPARE(Numbers(model), (QList<int>{2, 3, 1}));
    model.clear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.sortColumn(), int(ReviewItem::From));
}

void ReviewCoreTest::persistentRowsFollowTheSort() {
    ReviewModel model;
    model.setItems(
        {Row(1, QStringLiteral("c"), {}), Row(2, QStringLiteral("a"), {}), Row(3, QStringLiteral("b"), {})});
    const QPersistentModelIndex selected(model.index(0, 3)); // message 1
    model.sort(ReviewItem::From);
    QVERIFY(selected.isValid());
    QCOMPARE(selected.row(), 2);
    QCOMPARE(selected.column(), 3);
    QCOMPARE(model.item(selected.row()).MessageNumber, 1);
}

void ReviewCoreTest::ticks() {
    ReviewModel model;
    model.setItems({Row(1, {}, {}), Row(2, {}, {}), Row(3, {}, {})});
    QCOMPARE(model.firstUnticked(), 0);
    QVERIFY(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsUserCheckable));
    QVERIFY(!model.flags(model.index(0, 1)).testFlag(Qt::ItemIsUserCheckable));
    QVERIFY(model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole));
    QVERIFY(!model.setData(model.index(1, 2), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(model.data(model.index(1, 0), Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
    QVERIFY(!model.data(model.index(1, 2), Qt::CheckStateRole).isValid());
    QCOMPARE(model.firstUnticked(), 0);

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setAllKeep(true);
    QCOMPARE(changed.count(), 1); // one signal for all rows, not one per row
    QCOMPARE(model.firstUnticked(), -1);
    model.setAllKeep(false);
    model.setAllKeep(true);
    QCOMPARE(model.firstUnticked(), -1);
    model.setAllKeep(false);
    for (int row = 0; row < 3; ++row)
        QVERIFY(!model.item(row).keep);

    ReviewModel empty;
    QSignalSpy emptyChanged(&empty, &QAbstractItemModel::dataChanged);
    empty.setAllKeep(true);
    QCOMPARE(empty.rowCount(), 0);
    QCOMPARE(emptyChanged.count(), 0);
}

void ReviewCoreTest::modelIsConsistent() {
    ReviewModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setItems({Row(1, QStringLiteral("c"), QStringLiteral("1 Bytes")), Row(2, QStringLiteral("a"), {})});
    model.sort(ReviewItem::Size);
    model.addItem(Row(3, QStringLiteral("b"), QStringLiteral("0 Bytes")));
    model.setAllKeep(true);
    QCOMPARE(model.data(model.index(0, ReviewItem::Size), Qt::TextAlignmentRole).value<Qt::Alignment>() &
                 Qt::AlignHorizontal_Mask,
             Qt::AlignRight);
    QCOMPARE(model.data(model.index(0, ReviewItem::Subject), Qt::TextAlignmentRole).value<Qt::Alignment>() &
                 Qt::AlignHorizontal_Mask,
             Qt::AlignLeft);
    model.clear();
}

QTEST_GUILESS_MAIN(ReviewCoreTest)
#include "reviewcoretest.moc"

namespace {
// Rows of a review of every account: (account index, message number, sender).
ReviewItem AccountRow(int account, int number, const QString& from) {
    ReviewItem item = Row(number, from, {});
    item.account = account;
    return item;
}

QStringList AccountAndNumber(const ReviewModel& model) {
    QStringList shown;
    for (int row = 0; row < model.rowCount(); ++row)
        shown.append(model.data(model.index(row, ReviewModel::AccountColumn)).toString() + QLatin1Char('/') +
                     QString::number(model.item(row).MessageNumber));
    return shown;
}
} // namespace

void ReviewCoreTest::accountColumnOnlyForAllAccounts() {
    ReviewModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setItems({Row(1, QStringLiteral("a"), {})});
    QCOMPARE(model.columnCount(), 7);
    QVERIFY(!model.headerData(ReviewModel::AccountColumn, Qt::Horizontal).isValid());

    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.setItems({AccountRow(1, 1, QStringLiteral("x")), AccountRow(0, 1, QStringLiteral("y"))},
                   {QStringLiteral("Home"), QStringLiteral("Work")});
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.columnCount(), 8);
    QCOMPARE(model.headerData(ReviewModel::AccountColumn, Qt::Horizontal).toString(),
             QStringLiteral("Account"));
    QCOMPARE(model.data(model.index(0, ReviewModel::AccountColumn)).toString(), QStringLiteral("Work"));
    QCOMPARE(model.accountName(1), QStringLiteral("Home"));
    QCOMPARE(model.data(model.index(0, ReviewItem::From)).toString(), QStringLiteral("x"));
    // The tick stays in the first column.
    QVERIFY(!model.flags(model.index(0, ReviewModel::AccountColumn)).testFlag(Qt::ItemIsUserCheckable));
    QVERIFY(!model.data(model.index(0, ReviewModel::AccountColumn), Qt::CheckStateRole).isValid());

    // Emptied (Accept All, a deletion, the next check): one account again.
    model.clear();
    QCOMPARE(model.columnCount(), 7);
    QVERIFY(model.accounts().isEmpty());
}

void ReviewCoreTest::sortsByAccount_data() {
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("expected");
    // Letter case ignored; within an account the rows keep their arrival order.
    QTest::newRow("ascending")
        << int(Qt::AscendingOrder)
        << QStringLiteral("alpha/1 alpha/2 Beta/1 Beta/2 gamma/1").split(QLatin1Char(' '));
    QTest::newRow("descending")
        << int(Qt::DescendingOrder)
        << QStringLiteral("gamma/1 Beta/1 Beta/2 alpha/1 alpha/2").split(QLatin1Char(' '));
}

void ReviewCoreTest::sortsByAccount() {
    QFETCH(int, order);
    QFETCH(QStringList, expected);
    ReviewModel model;
    const QStringList accounts{QStringLiteral("gamma"), QStringLiteral("Beta"), QStringLiteral("alpha")};
    model.setItems({AccountRow(0, 1, {}), AccountRow(1, 1, {}), AccountRow(2, 1, {}), AccountRow(1, 2, {}),
                    AccountRow(2, 2, {})},
                   accounts);
    model.sort(ReviewModel::AccountColumn, static_cast<Qt::SortOrder>(order));
    QCOMPARE(model.sortColumn(), int(ReviewModel::AccountColumn));
    QCOMPARE(AccountAndNumber(model), expected);

    // A one-account review has no such column: its rows arrive as they come.
    model.setItems({Row(2, QStringLiteral("b"), {}), Row(1, QStringLiteral("a"), {})});
    QCOMPARE(model.sortColumn(), -1);
    QCOMPARE(Numbers(model), (QList<int>{2, 1}));
    model.sort(ReviewModel::AccountColumn);
    QCOMPARE(model.sortColumn(), -1);
}

void ReviewCoreTest::headerFileNumbers() {
    ReviewItem item = Row(7, {}, {});
    QCOMPARE(item.headerFile(), 7); // one account: the message number, as ever
    item.fileNumber = 12;
    QCOMPARE(item.headerFile(), 12);
    QCOMPARE(item.MessageNumber, 7);
    FriendMatcher none;
    const ReviewItem made = MakeReviewItem(pop3::Message(), 3, none);
    QCOMPARE(made.headerFile(), 3);
    QCOMPARE(made.account, -1);
}

void ReviewCoreTest::deletionText_data() {
    QTest::addColumn<QList<AccountDeletion>>("outcomes");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QString>("text");
    const QString why =
        QStringLiteral("\r\n\r\nThis can happen if the connection to the server was lost or the "
                       "server would not allow the action.");
    QTest::newRow("all went") << QList<AccountDeletion>{{QStringLiteral("Home"), 5, 5, true},
                                                        {QStringLiteral("Work"), 1, 1, true}}
                              << false
                              << QStringLiteral("Home: 5 messages deleted.\r\nWork: 1 message deleted.");
    QTest::newRow("one kept everything")
        << QList<AccountDeletion>{{QStringLiteral("Home"), 0, 0, true},
                                  {QStringLiteral("Work"), 1200, 1200, true}}
        << false
        << QStringLiteral(
               "Home: nothing to delete; every message was kept.\r\nWork: 1,200 messages deleted.");
    QTest::newRow("QUIT not confirmed")
        << QList<AccountDeletion>{{QStringLiteral("Home"), 3, 0, false}, {QStringLiteral("Work"), 2, 2, true}}
        << true
        << QStringLiteral(
               "Home: nothing was deleted. The server did not confirm the end of the session, so its "
               "messages stay there.\r\nWork: 2 messages deleted.") +
               why;
    QTest::newRow("some marks refused")
        << QList<AccountDeletion>{{QStringLiteral("Work"), 4, 3, true}, {QStringLiteral("Home"), 4, 2, true}}
        << true
        << QStringLiteral(
               "Work: 3 messages deleted; 1 message could not be marked for deletion and stays on the "
               "server.\r\nHome: 2 messages deleted; 2 messages could not be marked for deletion and "
               "stay on the server.") +
               why;
    QTest::newRow("nothing to lose where QUIT failed")
        << QList<AccountDeletion>{{QStringLiteral("Home"), 0, 0, false}, {QStringLiteral("Work"), 1, 1, true}}
        << false
        << QStringLiteral("Home: nothing to delete; every message was kept.\r\nWork: 1 message deleted.");
}

void ReviewCoreTest::deletionText() {
    QFETCH(QList<AccountDeletion>, outcomes);
    QFETCH(bool, failed);
    QFETCH(QString, text);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(AnyDeletionFailed(outcomes), failed);
    QCOMPARE(AccountsDeletionText(outcomes), text);
    QCOMPARE(DeletionStatusText(9, 17), QStringLiteral("Deleted 9 messages; 17 kept on the server."));
    QCOMPARE(DeletionStatusText(1, 0), QStringLiteral("Deleted 1 message; 0 kept on the server."));
}
