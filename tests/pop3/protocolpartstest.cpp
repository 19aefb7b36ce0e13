// The small parts under the session: server addresses and the reply splitter.
#include "pop3types.h"
#include "replyreader.h"

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

void ProtocolPartsTest::readerCaps() {
    ReplyReader reader;
    reader.setMaxLine(100);
    Reply reply;
    reader.append(QByteArray(101, 'x')); // no line end yet, already too long
    QCOMPARE(reader.next(false, 1000, reply), ReplyReader::Status::TooLong);

    ReplyReader body;
    body.append("+OK\r\n");
    for (int i = 0; i < 50; ++i)
        body.append("Received: from somewhere\r\n");
    QCOMPARE(body.next(true, 500, reply), ReplyReader::Status::TooLong);

    ReplyReader fits;
    fits.append("+OK\r\n" + QByteArray(99, 'y') + "\r\n.\r\n");
    fits.setMaxLine(100);
    QCOMPARE(fits.next(true, 1000, reply), ReplyReader::Status::Complete);
    QCOMPARE(reply.body.size(), 101);
}

QTEST_GUILESS_MAIN(ProtocolPartsTest)
#include "protocolpartstest.moc"
