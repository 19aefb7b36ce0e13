// The preview decoder on what real servers send for TOP n 40: messages delivered
// to the fixture's mailbox, fetched over POP3S, split and dot-unstuffed by the
// reply reader, decoded. The server records TOP and never RETR.
#include "pop3/bodypreview.h"
#include "pop3/replyreader.h"
#include "support/mailserver/testmailserver.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTest>

namespace {

QByteArray Base64Lines(int lines) {
    QByteArray out;
    for (int i = 0; i < lines; ++i)
        out += QByteArray(57, char('a' + i % 26)).toBase64() + "\r\n";
    return out;
}

// Alternative text and HTML, then a PDF of 60 lines, so that TOP n 40 ends inside
// the PDF. A line starting with a dot is dot-stuffed by the server.
QByteArray LongMessage() {
    return "From: Shop <news@shop.example>\r\nTo: you@example.org\r\nSubject: Your invoice\r\n"
           "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"mix\"\r\n\r\n"
           "--mix\r\nContent-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n"
           "--alt\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: "
           "quoted-printable\r\n\r\n"
           "Gr=C3=BC=C3=9Fe,\r\n.the invoice is attached.\r\n--alt\r\nContent-Type: text/html\r\n\r\n"
           "<p>HTML version</p>\r\n--alt--\r\n"
           "--mix\r\nContent-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"invoice.pdf\"\r\n\r\n" +
           Base64Lines(60) + "--mix--\r\n";
}

QByteArray HtmlMessage() {
    return "From: Shop <news@shop.example>\r\nSubject: Sale\r\nContent-Type: text/html; "
           "charset=iso-8859-1\r\n\r\n"
           "<html><body><h1>Sale</h1><p>Caf\xe9 <img src=\"http://127.0.0.1:9/p.gif\" alt=\"cup\"></p>\r\n"
           "</body></html>\r\n";
}

} // namespace

class PreviewFromServerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { TIDEMARSH_REQUIRE_MAILSERVER(m_server); }
    void topRepliesDecode();

private:
    // Sends line and reads its reply (multi-line when asked) through the reply reader.
    pop3::Reply command(const QByteArray& line, bool multiLine) {
        if (!line.isEmpty())
            m_socket.write(line + "\r\n");
        pop3::Reply reply;
        while (m_reader.next(multiLine, 4 * 1024 * 1024, reply) == pop3::ReplyReader::Status::NeedMore) {
            if (!m_socket.waitForReadyRead(15000))
                return pop3::Reply{};
            m_reader.append(m_socket.readAll());
        }
        return reply;
    }

    TestMailServer m_server;
    QSslSocket m_socket;
    pop3::ReplyReader m_reader;
};

void PreviewFromServerTest::topRepliesDecode() {
    TestMailbox box = m_server.createMailbox();
    QVERIFY2(box.isValid(), qPrintable(box.errorString()));
    QVERIFY2(box.addMessages({LongMessage(), HtmlMessage()}), qPrintable(box.errorString()));

    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(QSslCertificate::fromPath(m_server.caFile()));
    m_socket.setSslConfiguration(tls);
    m_socket.connectToHostEncrypted(m_server.host(), m_server.pop3sPort());
    QVERIFY2(m_socket.waitForEncrypted(15000), qPrintable(m_socket.errorString()));
    QCOMPARE(command({}, false).kind, pop3::Reply::Ok);
    QCOMPARE(command("USER " + box.user().toUtf8(), false).kind, pop3::Reply::Ok);
    QCOMPARE(command("PASS " + box.password().toUtf8(), false).kind, pop3::Reply::Ok);

    const pop3::Reply first = command("TOP 1 40", true);
    QCOMPARE(first.kind, pop3::Reply::Ok);
    const pop3::BodyPreview invoice = pop3::MakeBodyPreview(first.body);
    QCOMPARE(invoice.text, QString::fromUtf8("Grüße,\n.the invoice is attached."));
    QVERIFY(invoice.cutShort);
    QVERIFY(!invoice.convertedFromHtml && !invoice.limited);
    QCOMPARE(invoice.attachments.size(), 1);
    QCOMPARE(invoice.attachments[0].name, QStringLiteral("invoice.pdf"));
    QCOMPARE(invoice.attachments[0].mimeType, QStringLiteral("application/pdf"));
    QVERIFY(invoice.attachments[0].atLeast);
    QVERIFY2(invoice.attachments[0].size > 0 && invoice.attachments[0].size < 60 * 57,
             qPrintable(QString::number(invoice.attachments[0].size)));

    const pop3::Reply second = command("TOP 2 40", true);
    QCOMPARE(second.kind, pop3::Reply::Ok);
    const pop3::BodyPreview sale = pop3::MakeBodyPreview(second.body);
    QCOMPARE(sale.text, QString::fromUtf8("Sale\n\nCafé [cup]"));
    QVERIFY(sale.convertedFromHtml && !sale.cutShort && !sale.limited);
    QVERIFY(sale.attachments.isEmpty());

    QCOMPARE(command("QUIT", false).kind, pop3::Reply::Ok);
    const auto session = box.waitForSessionEnd();
    QVERIFY2(session, qPrintable(box.serverLog().join(QLatin1Char('\n'))));
    QVERIFY(session->fetchedNoBodies());
    if (session->tops >= 0)
        QCOMPARE(session->tops, 2);
    QCOMPARE(session->deletions, 0);
}

QTEST_GUILESS_MAIN(PreviewFromServerTest)
#include "previewfromservertest.moc"
