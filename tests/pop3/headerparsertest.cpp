// Header blocks as real mailers write them, through ParseHeaderBlock.
#include "pop3/headerworker.h"
#include "pop3/pop3types.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace pop3;

class HeaderParserTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fields_data();
    void fields();
    void recipients_data();
    void recipients();
    void contentType_data();
    void contentType();
    void keepsWhatItDoesNotOwn();
    void regressionCorpus();
    void parserThreadGivesTheSameRows();
};

void HeaderParserTest::fields_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("fromAddr");
    QTest::addColumn<QString>("replyTo");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("date");

    QTest::newRow("plain") << QByteArray("From: Alice Example <alice@example.com>\r\nSubject: Hello\r\n"
                                         "Date: Fri, 01 Mar 2024 10:03:50 +0200\r\n\r\n")
                           << "Alice Example"
                           << "alice@example.com"
                           << ""
                           << "Hello"
                           << "Fri, 01 Mar 2024 10:03:50 +0200";
    QTest::newRow("no display name: the address")
        << QByteArray("From: bob@example.org\r\n\r\n") << "bob@example.org"
        << "bob@example.org"
        << ""
        << ""
        << "";
    QTest::newRow("quoted name with comma, Reply-To")
        << QByteArray("From: \"Doe, Jane\" <jane@example.com>\r\n"
                      "Reply-To: Lists <list@example.net>\r\n\r\n")
        << "Doe, Jane"
        << "jane@example.com"
        << "list@example.net"
        << ""
        << "";
    QTest::newRow("RFC 2047 UTF-8 B and ISO-8859-1 Q")
        << QByteArray("From: =?UTF-8?B?Sm9zw6kgUGXDsWE=?= <jose@example.es>\r\n"
                      "Subject: =?ISO-8859-1?Q?R=E9union_=E0?= 14h\r\n\r\n")
        << QString::fromUtf8("José Peña") << "jose@example.es"
        << "" << QString::fromUtf8("Réunion à 14h") << "";
    QTest::newRow("encoded words split and folded")
        << QByteArray("Subject: =?UTF-8?Q?Gr=C3=BC?=\r\n =?UTF-8?Q?=C3=9Fe?= aus\r\n\tBerlin\r\n\r\n") << ""
        << ""
        << "" << QString::fromUtf8("Grüße aus\tBerlin") << "";
    QTest::newRow("adjacent padded base64 words keep every word")
        << QByteArray("From: =?UTF-8?B?SsO8cg==?= =?UTF-8?B?Z2Vu?= <j@example.de>\r\n"
                      "Subject: =?utf-8?b?w6k=?= =?UTF-8?B?w6k=?=\r\n =?UTF-8?B?w6k=?= x "
                      "=?ISO-8859-1?B?6Q==?= =?UTF-8?B?w6k=?=\r\n\r\n")
        << QString::fromUtf8("Jürgen") << "j@example.de"
        << "" << QString::fromUtf8("ééé x éé") << "";
    QTest::newRow("ISO-2022-JP and KOI8-R")
        << QByteArray("From: =?KOI8-R?B?8NLJ18XU?= <ivan@example.ru>\r\n"
                      "Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=\r\n\r\n")
        << QString::fromUtf8("Привет") << "ivan@example.ru"
        << "" << QString::fromUtf8("こんにちは") << "";
    QTest::newRow("undeclared windows-1252 bytes") << QByteArray("Subject: Caf\xe9 \x80 5\r\n\r\n") << ""
                                                   << ""
                                                   << "" << QString::fromUtf8("Café € 5") << "";
    QTest::newRow("undeclared UTF-8 bytes") << QByteArray("Subject: Caf\xc3\xa9\r\n\r\n") << ""
                                            << ""
                                            << "" << QString::fromUtf8("Café") << "";
    QTest::newRow("From is a group: its first member")
        << QByteArray("From: Team: a@example.com, b@example.com;\r\n\r\n") << "a@example.com"
        << "a@example.com"
        << ""
        << ""
        << "";
    QTest::newRow("comment after the address")
        << QByteArray("From: carol@example.com (Carol)\r\n\r\n") << "Carol"
        << "carol@example.com"
        << ""
        << ""
        << "";
    QTest::newRow("name and address without brackets")
        << QByteArray("From: Big Bug bb@bug.com\r\n\r\n") << "Big Bug bb@bug.com"
        << "bb@bug.com"
        << ""
        << ""
        << "";
    QTest::newRow("no brackets, comma in the name")
        << QByteArray("From: Bug, Big bb@bug.com\r\n\r\n") << "Bug, Big bb@bug.com"
        << "bb@bug.com"
        << ""
        << ""
        << "";
    QTest::newRow("no brackets, encoded name, address in quotes")
        << QByteArray("From: =?UTF-8?B?Sm9zw6kgUGXDsWE=?= \"jose@example.es\"\r\n\r\n")
        << QString::fromUtf8("José Peña \"jose@example.es\"") << "jose@example.es"
        << ""
        << ""
        << "";
    QTest::newRow("no brackets, no address: the name") << QByteArray("From: Big Bug\r\n\r\n") << "Big Bug"
                                                       << ""
                                                       << ""
                                                       << ""
                                                       << "";
    QTest::newRow("no brackets, two addresses: none taken")
        << QByteArray("From: Big Bug bb@bug.com or cc@bug.com\r\n\r\n") << "Big Bug bb@bug.com or cc@bug.com"
        << ""
        << ""
        << ""
        << "";
    QTest::newRow("address without a domain") << QByteArray("From: postmaster\r\n\r\n") << "postmaster"
                                              << "postmaster"
                                              << ""
                                              << ""
                                              << "";
    QTest::newRow("bare LF line ends") << QByteArray("From: Dan <dan@example.com>\nSubject: lf\n\n") << "Dan"
                                       << "dan@example.com"
                                       << ""
                                       << "lf"
                                       << "";
    QByteArray relayed;
    for (int i = 0; i < 30; ++i)
        relayed += "Received: from relay" + QByteArray::number(i) +
                   ".example.net by mx.example.com; Fri, 01 Mar 2024 10:03:50 +0200\r\n";
    QTest::newRow("fields after thirty Received lines")
        << relayed + "From: Eve <eve@example.com>\r\nSubject: hops\r\n\r\n"
        << "Eve"
        << "eve@example.com"
        << ""
        << "hops"
        << "";
    QTest::newRow("empty") << QByteArray() << ""
                           << ""
                           << ""
                           << ""
                           << "";
}

void HeaderParserTest::fields() {
    QFETCH(QByteArray, raw);
    Message m;
    ParseHeaderBlock(raw, m);
    QTEST(m.From, "from");
    QTEST(m.FromAddr, "fromAddr");
    QTEST(m.ReplyToAddr, "replyTo");
    QTEST(m.Subject, "subject");
    QTEST(m.Date, "date");
}

void HeaderParserTest::recipients_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("count");
    QTest::newRow("none") << QByteArray("Subject: x\r\n\r\n") << 0;
    QTest::newRow("To and Cc") << QByteArray("To: a@x.example, b@x.example\r\nCc: c@x.example\r\n\r\n") << 3;
    QTest::newRow("quoted commas") << QByteArray(
                                          "To: \"Doe, J\" <j@x.example>, \"A, B, C\" <abc@x.example>\r\n\r\n")
                                   << 2;
    QTest::newRow("group members counted")
        << QByteArray("To: Team: a@x.example, b@x.example;, c@x.example\r\n\r\n") << 3;
    QTest::newRow("empty group") << QByteArray("To: undisclosed-recipients:;\r\n\r\n") << 0;
    QTest::newRow("comments and folding")
        << QByteArray("To: a@x.example (A, the first),\r\n\tb@x.example\r\n\r\n") << 2;
    QByteArray many = "To: ";
    for (int i = 0; i < 1500; ++i)
        many += (i ? ",\r\n " : "") + QByteArray("user") + QByteArray::number(i) + "@example.com";
    QTest::newRow("1500 recipients") << many + "\r\n\r\n" << 1500;
}

void HeaderParserTest::recipients() {
    QFETCH(QByteArray, raw);
    Message m;
    ParseHeaderBlock(raw, m);
    QTEST(m.Recipients, "count");
}

void HeaderParserTest::contentType_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("subType");
    QTest::newRow("absent: text/plain") << QByteArray("Subject: x\r\n\r\n") << "text"
                                        << "plain";
    QTest::newRow("upper case with parameters")
        << QByteArray("Content-Type: TEXT/HTML; charset=\"utf-8\"\r\n\r\n") << "text"
        << "html";
    QTest::newRow("multipart with boundary")
        << QByteArray("Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n") << "multipart"
        << "mixed";
    QTest::newRow("multipart without boundary")
        << QByteArray("Content-Type: multipart/alternative\r\n\r\n") << "multipart"
        << "alternative";
}

void HeaderParserTest::contentType() {
    QFETCH(QByteArray, raw);
    Message m;
    ParseHeaderBlock(raw, m);
    QTEST(m.ContentType, "type");
    QTEST(m.ContentSubType, "subType");
}

void HeaderParserTest::keepsWhatItDoesNotOwn() {
    Message m;
    m.Size = 42;
    m.MessageStatusFlag = pop3::MessageStatus::Downloaded;
    m.Uidl = "u1";
    m.Headers = "Subject: =?UTF-8?Q?line=0D=0Abreak=09tab?=\r\n\r\n";
    ParseHeaderBlock(m.Headers, m);
    QCOMPARE(m.Size, qint64(42));
    QCOMPARE(m.MessageStatusFlag, pop3::MessageStatus::Downloaded);
    QCOMPARE(m.Uidl, QByteArray("u1"));
    QCOMPARE(m.Headers, QByteArray("Subject: =?UTF-8?Q?line=0D=0Abreak=09tab?=\r\n\r\n"));
    // Decoded control characters stay; the views flatten them.
    QVERIFY(m.Subject.contains(QLatin1String("line")) && m.Subject.contains(QLatin1String("break")));
}

namespace {

// The parsed fields of one corpus entry, as its expectation file holds them.
QJsonObject ParsedFields(const Message& m) {
    return QJsonObject{{QStringLiteral("From"), m.From},
                       {QStringLiteral("FromAddr"), m.FromAddr},
                       {QStringLiteral("ReplyToAddr"), m.ReplyToAddr},
                       {QStringLiteral("Subject"), m.Subject},
                       {QStringLiteral("Date"), m.Date},
                       {QStringLiteral("ContentType"), m.ContentType},
                       {QStringLiteral("ContentSubType"), m.ContentSubType},
                       {QStringLiteral("Recipients"), m.Recipients}};
}

} // namespace

// Inputs that once broke, or could break, a header parser: each parses to the fields
// in its expectation file (expected/<entry>.json). TIDEMARSH_WRITE_EXPECTED=1 rewrites
// those files from the parser's current output; review the difference before committing.
void HeaderParserTest::regressionCorpus() {
    const QDir corpus(QStringLiteral(POP3_CORPUS_DIR));
    const QDir expected(QStringLiteral(POP3_EXPECTED_DIR));
    const bool rewrite = qEnvironmentVariableIntValue("TIDEMARSH_WRITE_EXPECTED") != 0;
    const QStringList files = corpus.entryList(QDir::Files);
    QVERIFY(files.size() >= 10);
    for (const QString& name : files) {
        QFile input(corpus.filePath(name));
        QVERIFY(input.open(QIODevice::ReadOnly));
        Message m;
        ParseHeaderBlock(input.readAll(), m);
        const QJsonObject actual = ParsedFields(m);
        QFile expectation(expected.filePath(name + QStringLiteral(".json")));
        if (rewrite) {
            QVERIFY(expectation.open(QIODevice::WriteOnly | QIODevice::Truncate));
            expectation.write(QJsonDocument(actual).toJson(QJsonDocument::Indented));
            continue;
        }
        QVERIFY2(expectation.open(QIODevice::ReadOnly),
                 qPrintable(name +
                            QStringLiteral(": no expectation file (TIDEMARSH_WRITE_EXPECTED=1 writes it)")));
        const QJsonObject want = QJsonDocument::fromJson(expectation.readAll()).object();
        QCOMPARE(want.keys(), actual.keys());
        for (const QString& field : actual.keys())
            QVERIFY2(want.value(field) == actual.value(field),
                     qPrintable(QStringLiteral("%1 %2: expected %3, parsed %4")
                                    .arg(name, field, want.value(field).toVariant().toString(),
                                         actual.value(field).toVariant().toString())));
    }
}

// The download hands each block to the parser thread: what comes back, in what
// order, must be what parsing on the spot gives, raw header kept or not.
void HeaderParserTest::parserThreadGivesTheSameRows() {
    const QDir corpus(QStringLiteral(POP3_CORPUS_DIR));
    QList<QByteArray> blocks;
    for (const QString& name : corpus.entryList(QDir::Files)) {
        QFile input(corpus.filePath(name));
        QVERIFY(input.open(QIODevice::ReadOnly));
        blocks.append(input.readAll());
    }
    // Several rounds, so batches split somewhere in the middle of the corpus.
    const int rounds = 20;
    QList<ParsedMessage> parsed;
    bool drained = false;
    {
        HeaderWorker worker([](const Message& m, int number) {
            return QVariant(QString::number(number) + QLatin1Char('|') + m.Subject);
        });
        connect(&worker, &HeaderWorker::parsed, this,
                [&parsed](const QList<ParsedMessage>& batch) { parsed += batch; });
        connect(&worker, &HeaderWorker::drained, this, [&drained] { drained = true; });
        int number = 0;
        for (int round = 0; round < rounds; ++round)
            for (const QByteArray& block : std::as_const(blocks)) {
                Message listing;
                listing.Size = ++number;
                worker.submit({number, listing, block, number % 2 == 0});
            }
        worker.finishInput();
        QTRY_VERIFY(drained);
    }
    QCOMPARE(parsed.size(), rounds * blocks.size());
    for (int i = 0; i < parsed.size(); ++i) {
        const ParsedMessage& got = parsed.at(i);
        const QByteArray& block = blocks.at(i % blocks.size());
        Message direct;
        ParseHeaderBlock(block, direct);
        QCOMPARE(got.number, i + 1);
        QCOMPARE(got.message.Size, qint64(i + 1)); // the listing's values travel with the row
        QCOMPARE(ParsedFields(got.message), ParsedFields(direct));
        QCOMPARE(got.message.Headers, got.number % 2 == 0 ? block : QByteArray());
        QCOMPARE(got.row.toString(), QString::number(got.number) + QLatin1Char('|') + direct.Subject);
    }
}

QTEST_GUILESS_MAIN(HeaderParserTest)
#include "headerparsertest.moc"
