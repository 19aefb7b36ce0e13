// The small parts under the session: server addresses and the reply splitter.
#include "pop3/pop3types.h"
#include "pop3/replyreader.h"

#include <QTest>

using namespace pop3;

Q_DECLARE_METATYPE(pop3::Security)

class ProtocolPartsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void endpoint_data();
    void endpoint();
    void replyReader_data();
    void replyReader();
    void readerCaps_data();
    void readerCaps();
};

void ProtocolPartsTest::endpoint_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("defaultPort");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<Security>("security");

    QTest::newRow("bare host: TLS probe, then STLS on the settings port")
        << "mail.example.com" << 110 << true << "mail.example.com" << 110 << Security::Auto;
    QTest::newRow("bare host, settings port 995")
        << "mail.example.com" << 995 << true << "mail.example.com" << 995 << Security::ImplicitTls;
    QTest::newRow("settings port 0 means 110")
        << "mail.example.com" << 0 << true << "mail.example.com" << 110 << Security::Auto;
    QTest::newRow("host:995 is implicit TLS")
        << "mail.example.com:995" << 110 << true << "mail.example.com" << 995 << Security::ImplicitTls;
    QTest::newRow("host:other port requires STLS")
        << "mail.example.com:1110" << 110 << true << "mail.example.com" << 1110 << Security::StartTls;
    QTest::newRow("pop3s://") << "pop3s://mail.example.com" << 110 << true << "mail.example.com" << 995
                              << Security::ImplicitTls;
    QTest::newRow("pop3s:// with port, upper case scheme")
        << "POP3S://mail.example.com:2995/" << 110 << true << "mail.example.com" << 2995
        << Security::ImplicitTls;
    QTest::newRow("pop3://") << "pop3://mail.example.com" << 110 << true << "mail.example.com" << 110
                             << Security::Plain;
    QTest::newRow("pop3:// with port")
        << "pop3://10.0.0.1:2110" << 110 << true << "10.0.0.1" << 2110 << Security::Plain;
    QTest::newRow("IPv6 in brackets with port")
        << "[::1]:995" << 110 << true << "::1" << 995 << Security::ImplicitTls;
    QTest::newRow("bare IPv6") << "2001:db8::1" << 110 << true << "2001:db8::1" << 110 << Security::Auto;
    QTest::newRow("surrounding blanks")
        << "  mail.example.com  " << 110 << true << "mail.example.com" << 110 << Security::Auto;
    QTest::newRow("empty") << "" << 110 << false << "" << 0 << Security::Auto;
    QTest::newRow("port zero") << "mail.example.com:0" << 110 << false << "" << 0 << Security::Auto;
    QTest::newRow("port too large") << "mail.example.com:65536" << 110 << false << "" << 0 << Security::Auto;
    QTest::newRow("port not a number") << "mail.example.com:pop" << 110 << false << "" << 0 << Security::Auto;
    QTest::newRow("blank inside") << "mail example.com" << 110 << false << "" << 0 << Security::Auto;
    QTest::newRow("user@host") << "bob@mail.example.com" << 110 << false << "" << 0 << Security::Auto;
    QTest::newRow("other scheme") << "imap://mail.example.com" << 110 << false << "" << 0 << Security::Auto;
    QTest::newRow("unclosed bracket") << "[::1:995" << 110 << false << "" << 0 << Security::Auto;
    QTest::newRow("line break") << "mail.example.com\r\nQUIT" << 110 << false << "" << 0 << Security::Auto;
}

void ProtocolPartsTest::endpoint() {
    QFETCH(QString, address);
    QFETCH(int, defaultPort);
    QFETCH(bool, valid);
    Endpoint e;
    QCOMPARE(Endpoint::Parse(address, quint16(defaultPort), e), valid);
    if (!valid)
        return;
    QTEST(e.host, "host");
    QTEST(int(e.port), "port");
    QTEST(e.security, "security");
}

void ProtocolPartsTest::replyReader_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("multiLine");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("rest");

    QTest::newRow("+OK with text") << QByteArray("+OK 2 messages\r\nnext") << false << int(Reply::Ok)
                                   << QByteArray("2 messages") << QByteArray() << QByteArray("next");
    QTest::newRow("-ERR") << QByteArray("-ERR [IN-USE] locked\r\n") << false << int(Reply::Err)
                          << QByteArray("[IN-USE] locked") << QByteArray() << QByteArray();
    QTest::newRow("SASL continuation") << QByteArray("+ \r\n") << false << int(Reply::Continue)
                                       << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("-ERR to a multi-line command has no body")
        << QByteArray("-ERR no\r\n+OK\r\n") << true << int(Reply::Err) << QByteArray("no") << QByteArray()
        << QByteArray("+OK\r\n");
    QTest::newRow("body, dot-stuffing, bare LF")
        << QByteArray("+OK\r\nA: 1\r\n..x\nB: 2\n.\nafter") << true << int(Reply::Ok) << QByteArray()
        << QByteArray("A: 1\r\n.x\nB: 2\n") << QByteArray("after");
    QTest::newRow("empty body") << QByteArray("+OK\r\n.\r\n") << true << int(Reply::Ok) << QByteArray()
                                << QByteArray() << QByteArray();
    QTest::newRow("a lone dot with CR only is data")
        << QByteArray("+OK\r\n.\r.\r\n\r\n.\r\n") << true << int(Reply::Ok) << QByteArray()
        << QByteArray("\r.\r\n\r\n") << QByteArray();
    QTest::newRow("garbage status line is a refusal")
        << QByteArray("HTTP/1.0 200\r\n") << false << int(Reply::Err) << QByteArray("HTTP/1.0 200")
        << QByteArray() << QByteArray();
}

// Whole replies, fed in every possible pair of pieces.
void ProtocolPartsTest::replyReader() {
    QFETCH(QByteArray, input);
    QFETCH(bool, multiLine);
    QFETCH(QByteArray, rest);
    for (qsizetype cut = 0; cut <= input.size(); ++cut) {
        ReplyReader reader;
        Reply reply;
        reader.append(input.left(cut));
        auto status = reader.next(multiLine, 1 << 20, reply);
        if (status == ReplyReader::Status::NeedMore) {
            reader.append(input.mid(cut));
            status = reader.next(multiLine, 1 << 20, reply);
        } else {
            reader.append(input.mid(cut));
        }
        QCOMPARE(status, ReplyReader::Status::Complete);
        QTEST(int(reply.kind), "kind");
        QTEST(reply.text, "text");
        QTEST(reply.body, "body");
        QCOMPARE(reader.buffered(), rest.size()); // what belongs to the next reply stays
    }
}

void ProtocolPartsTest::readerCaps_data() {
    QTest::addColumn<QByteArray>("oversized");
    QTest::addColumn<int>("chunk");
    const QByteArray longLine = QByteArray(300, 'x') + "\r\n";
    QByteArray manyLines;
    for (int i = 0; i < 50; ++i)
        manyLines += "Received: from somewhere\r\n";
    // Lines that look like the terminator inside the long ones must not end the reply.
    const QByteArray dotsInside = QByteArray(150, 'y') + ".\r\n" + QByteArray(200, 'z') + "\r\n";
    for (int chunk : {1, 7, 4096}) {
        QTest::addRow("body over its cap, chunks of %d", chunk) << "+OK\r\n" + manyLines + ".\r\n" << chunk;
        QTest::addRow("line over its cap, chunks of %d", chunk) << "+OK\r\n" + longLine + ".\r\n" << chunk;
        QTest::addRow("long line ending in dots, chunks of %d", chunk) << "+OK\r\n" + dotsInside + ".\r\n"
                                                                       << chunk;
        QTest::addRow("status line over its cap, chunks of %d", chunk)
            << "+OK " + QByteArray(300, 's') + "\r\nSubject: x\r\n.\r\n"
            << chunk;
    }
}

// An oversized reply is read to its end and flagged; the reply after it is intact,
// and what is over the cap is never kept.
void ProtocolPartsTest::readerCaps() {
    QFETCH(QByteArray, oversized);
    QFETCH(int, chunk);
    ReplyReader reader;
    reader.setMaxLine(100);
    const QByteArray stream = oversized + "+OK\r\nSubject: next\r\n.\r\n";
    QList<Reply> replies;
    for (qsizetype at = 0; at < stream.size(); at += chunk) {
        reader.append(stream.mid(at, chunk));
        QVERIFY(reader.buffered() <= chunk + 500);
        Reply reply;
        while (reader.next(true, 500, reply) == ReplyReader::Status::Complete)
            replies.append(reply);
    }
    QCOMPARE(replies.size(), 2);
    QVERIFY(replies[0].overLimit);
    QCOMPARE(replies[0].kind, Reply::Ok);
    QVERIFY(replies[0].body.isEmpty());
    QVERIFY(!replies[1].overLimit);
    QCOMPARE(replies[1].body, QByteArray("Subject: next\r\n"));

    ReplyReader fits;
    Reply reply;
    fits.append("+OK\r\n" + QByteArray(99, 'y') + "\r\n.\r\n");
    fits.setMaxLine(100);
    QCOMPARE(fits.next(true, 1000, reply), ReplyReader::Status::Complete);
    QVERIFY(!reply.overLimit);
    QCOMPARE(reply.body.size(), 101);

    // A single-line reply over the cap is dropped to its line end.
    ReplyReader single;
    single.setMaxLine(100);
    single.append("-ERR " + QByteArray(5000, 'e') + "\r\n+OK fine\r\n");
    QCOMPARE(single.next(false, 0, reply), ReplyReader::Status::Complete);
    QVERIFY(reply.overLimit);
    QCOMPARE(reply.kind, Reply::Err);
    QCOMPARE(single.next(false, 0, reply), ReplyReader::Status::Complete);
    QCOMPARE(reply.text, QByteArray("fine"));
}

QTEST_GUILESS_MAIN(ProtocolPartsTest)
#include "protocolpartstest.moc"
