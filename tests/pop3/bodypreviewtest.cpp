// The starts of messages (TOP n 40 replies) as mailers write them and as
// attackers might, through MakeBodyPreview.
#include "pop3/bodypreview.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace pop3;

namespace {

// A reply from header lines and body lines, with the CR LF line ends servers send.
QByteArray Mail(const QByteArrayList& headers, const QByteArrayList& body) {
    QByteArray out = "From: a@example.com\r\nSubject: test\r\n";
    for (const QByteArray& h : headers)
        out += h + "\r\n";
    out += "\r\n";
    for (const QByteArray& line : body)
        out += line + "\r\n";
    return out;
}

// "name|type|size" per attachment, "+" after the size when it is a lower bound.
QString Summary(const BodyPreview& preview) {
    QStringList parts;
    for (const PreviewAttachment& a : preview.attachments)
        parts.append(QStringLiteral("%1|%2|%3%4")
                         .arg(a.name, a.mimeType)
                         .arg(a.size)
                         .arg(a.atLeast ? QStringLiteral("+") : QString()));
    if (preview.unlistedAttachments)
        parts.append(QStringLiteral("+%1").arg(preview.unlistedAttachments));
    return parts.join(u';');
}

QString Flags(const BodyPreview& preview) {
    QStringList flags;
    if (preview.convertedFromHtml)
        flags.append(QStringLiteral("html"));
    if (preview.cutShort)
        flags.append(QStringLiteral("cut"));
    if (preview.limited)
        flags.append(QStringLiteral("limited"));
    return flags.join(u',');
}

QByteArray Lines(int count) {
    QByteArray out;
    for (int i = 1; i <= count; ++i)
        out += "line " + QByteArray::number(i) + "\r\n";
    return out;
}

// multipart/mixed inside multipart/mixed, depth times, around one text part.
QByteArray Nested(int depth, const QByteArray& text) {
    QByteArray out = "Subject: deep\r\nContent-Type: multipart/mixed; boundary=b0\r\n\r\n";
    for (int i = 1; i < depth; ++i)
        out += "--b" + QByteArray::number(i - 1) + "\r\nContent-Type: multipart/mixed; boundary=b" +
               QByteArray::number(i) + "\r\n\r\n";
    out += "--b" + QByteArray::number(depth - 1) + "\r\nContent-Type: text/plain\r\n\r\n" + text + "\r\n";
    return out;
}

const QByteArray kHtmlNewsletter =
    "<!DOCTYPE html><html><head><title>Newsletter</title><style>p{color:red}</style>"
    "<script>document.write('tracked')</script></head>\r\n"
    "<body><h1>Spring&nbsp;sale</h1><p>Dear customer,<br>our <b>prices</b>\r\n fell.</p>"
    "<img src=\"http://127.0.0.1:@PORT@/logo.png\" alt=\"Shop logo\">"
    "<img src=\"http://127.0.0.1:@PORT@/open.gif?id=77\" width=\"1\" height=\"1\">\r\n"
    "<p><a href=\"https://shop.example/offer?id=1\">See the offer</a> or write to "
    "<a href=\"mailto:help@shop.example\">help@shop.example</a>.</p>"
    "<ul><li>One</li><li>Two &amp; three</li></ul>"
    "<table><tr><td>Price</td><td>5 &euro;</td></tr></table></body></html>\r\n";
const QString kHtmlNewsletterText = QString::fromUtf8("Spring sale\n\nDear customer,\nour prices fell.\n\n"
                                                      "[Shop logo]\n\nSee the offer [shop.example] or write "
                                                      "to help@shop.example.\n\n• One\n• Two & three\n"
                                                      "Price 5 €");

} // namespace

class BodyPreviewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decodes_data();
    void decodes();
    void attachments_data();
    void attachments();
    void hostile_data();
    void hostile();
    void htmlFetchesNothing();
    void runsOnWorkerThreads();
};

void BodyPreviewTest::decodes_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("flags");

    QTest::newRow("plain") << Mail({"Content-Type: text/plain; charset=us-ascii"},
                                   {"Hello Bob,", "", "see you at 10.", ""})
                           << "Hello Bob,\n\nsee you at 10."
                           << "";
    QTest::newRow("no Content-Type, UTF-8 bytes") << Mail({}, {"Gr\xc3\xbc\xc3\x9f"
                                                               "e"})
                                                  << QString::fromUtf8("Grüße") << "";
    QTest::newRow("quoted-printable UTF-8 with a soft break")
        << Mail({"Content-Type: text/plain; charset=UTF-8", "Content-Transfer-Encoding: quoted-printable"},
                {"Gr=C3=BC=C3=9Fe aus K=C3=B6ln, =", "bis bald =E2=80=94 Jo"})
        << QString::fromUtf8("Grüße aus Köln, bis bald — Jo") << "";
    QTest::newRow("base64 ISO-8859-1 (read as windows-1252)")
        << Mail({"Content-Type: text/plain; charset=ISO-8859-1", "Content-Transfer-Encoding: base64"},
                {QByteArray("Caf\xe9 cr\xe8me\r\nPrix: 5 \x80").toBase64()})
        << QString::fromUtf8("Café crème\nPrix: 5 €") << "";
    QTest::newRow("bogus charset, Latin-1 bytes")
        << Mail({"Content-Type: text/plain; charset=x-no-such-charset-42"}, {"Caf\xe9"})
        << QString::fromUtf8("Café") << "";
    QTest::newRow("bogus charset, UTF-8 bytes")
        << Mail({"Content-Type: text/plain; charset=\"\x01\xff\""}, {"Caf\xc3\xa9"})
        << QString::fromUtf8("Café") << "";
    QTest::newRow("format=flowed, quotes, stuffing, signature")
        << Mail({"Content-Type: text/plain; format=flowed"},
                {"This is a long ", "line that goes on.", "> quoted ", "> more", ">> deeper ", "> back",
                 " >stuffed", "-- ", "sig"})
        << "This is a long line that goes on.\n> quoted more\n>> deeper\n> back\n>stuffed\n-- \nsig"
        << "";
    QTest::newRow("format=flowed with delsp=yes")
        << Mail({"Content-Type: text/plain; format=flowed; delsp=yes"}, {"Donau", "dampf ", "schiff"})
        << "Donau\ndampfschiff"
        << "";
    QTest::newRow("HTML only: text, no images, links as their host")
        << Mail({"Content-Type: text/html"}, {kHtmlNewsletter}) << kHtmlNewsletterText << "html";
    QTest::newRow("HTML charset from its meta element")
        << Mail(
               {"Content-Type: text/html"},
               {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-15\"><p>\xa4 5</p>"})
        << QString::fromUtf8("€ 5") << "html";
    QTest::newRow("HTML declared UTF-8 whatever its meta says")
        << Mail({"Content-Type: text/html; charset=utf-8"},
                {"<meta charset=\"iso-8859-1\"><p>Caf\xc3\xa9</p>"})
        << QString::fromUtf8("Café") << "html";
    QTest::newRow("HTML pre keeps its lines, entities decoded")
        << Mail({"Content-Type: text/html"}, {"<pre>a  b\n  c &lt;d&gt;</pre>"}) << "a  b\n  c <d>"
        << "html";
    QTest::newRow("alternative: plain chosen")
        << Mail({"Content-Type: multipart/alternative; boundary=\"=_alt\""},
                {"preamble", "--=_alt", "Content-Type: text/plain; charset=utf-8", "", "Plain words",
                 "--=_alt", "Content-Type: text/html; charset=utf-8", "", "<p>HTML words</p>", "--=_alt--"})
        << "Plain words"
        << "";
    QTest::newRow("alternative with HTML first: plain still chosen")
        << Mail({"Content-Type: multipart/alternative; boundary=x"},
                {"--x", "Content-Type: text/html", "", "<p>HTML words</p>", "--x", "Content-Type: text/plain",
                 "", "Plain words", "--x--"})
        << "Plain words"
        << "";
    QTest::newRow("mixed with an HTML body and a plain footer: the body")
        << Mail({"Content-Type: multipart/mixed; boundary=x"},
                {"--x", "Content-Type: text/html", "", "<p>The body</p>", "--x", "Content-Type: text/plain",
                 "", "List footer", "--x--"})
        << "The body"
        << "html";
    QTest::newRow("body shorter than the lines asked for: whole")
        << Mail({}, {Lines(39).chopped(2)}) << QString::fromLatin1(Lines(39).replace("\r\n", "\n").chopped(1))
        << "";
    QTest::newRow("body of 40 lines: cut short")
        << Mail({}, {Lines(40).chopped(2)}) << QString::fromLatin1(Lines(40).replace("\r\n", "\n").chopped(1))
        << "cut";
    QTest::newRow("cut-off base64 part, closing boundary missing")
        << Mail({"Content-Type: multipart/mixed; boundary=x"},
                {"--x", "Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: base64", "",
                 QByteArray("xGr\xc3\xbc\xc3\x9f"
                            "e aus K\xc3\xb6ln")
                     .toBase64()
                     .left(22)})
        << QString::fromUtf8("xGrüße aus K") << "cut";
    QTest::newRow("reply cut inside a part's header block")
        << Mail({"Content-Type: multipart/mixed; boundary=x"},
                {"--x", "Content-Type: text/plain", "", "Seen", "--x", "Content-Type: appl"})
        << "Seen"
        << "cut";
    QTest::newRow("no body at all") << QByteArray("Subject: only headers\r\n") << ""
                                    << "";
}

void BodyPreviewTest::decodes() {
    QFETCH(QByteArray, reply);
    QFETCH(QString, text);
    QFETCH(QString, flags);
    const BodyPreview preview = MakeBodyPreview(reply);
    QCOMPARE(preview.text, text);
    QCOMPARE(Flags(preview), flags);
}

void BodyPreviewTest::attachments_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("attachments");

    const QByteArray pdf = QByteArray(3000, '\x25').toBase64(); // 4000 letters
    QTest::newRow("mixed: text and a PDF")
        << Mail({"Content-Type: multipart/mixed; boundary=\"b1\""},
                {"--b1", "Content-Type: text/plain", "", "See the report.", "--b1",
                 "Content-Type: application/pdf; name=\"old.pdf\"", "Content-Transfer-Encoding: base64",
                 "Content-Disposition: attachment; filename=\"report.pdf\"", "", pdf.left(76), pdf.mid(76),
                 "--b1--"})
        << "See the report."
        << "report.pdf|application/pdf|3000";
    QTest::newRow("RFC 2231 and RFC 2047 names, size= wins over the length seen")
        << Mail({"Content-Type: multipart/mixed; boundary=b1"},
                {"--b1", "", "Body", "--b1", "Content-Type: image/png", "Content-Disposition: attachment;",
                 " filename*=UTF-8''%C3%BCbersicht.png; size=123456", "", "iVBORw0KGgo=", "--b1",
                 "Content-Type: text/csv; name=\"=?UTF-8?B?Q2Fmw6kuY3N2?=\"", "", "a;b", "--b1--"})
        << "Body" << QString::fromUtf8("übersicht.png|image/png|123456;Café.csv|text/csv|3");
    QTest::newRow("nested: alternative and related inside mixed")
        << Mail({"Content-Type: multipart/mixed; boundary=m"},
                {"--m",
                 "Content-Type: multipart/alternative; boundary=a",
                 "",
                 "--a",
                 "Content-Type: text/plain",
                 "",
                 "Plain",
                 "--a",
                 "Content-Type: multipart/related; boundary=r",
                 "",
                 "--r",
                 "Content-Type: text/html",
                 "",
                 "<p>Rich<img src=cid:logo></p>",
                 "--r",
                 "Content-Type: image/gif",
                 "Content-ID: <logo>",
                 "Content-Transfer-Encoding: base64",
                 "",
                 "R0lGODlhAQABAAAAACw=",
                 "--r--",
                 "--a--",
                 "--m",
                 "Content-Type: message/rfc822",
                 "",
                 "Subject: forwarded",
                 "",
                 "Hi",
                 "--m--"})
        << "Plain"
        << "|image/gif|14;|message/rfc822|24";
    QTest::newRow("cut-off attachment: at least what was seen")
        << Mail({"Content-Type: multipart/mixed; boundary=b"},
                {"--b", "Content-Type: text/plain", "", "Body", "--b", "Content-Type: application/zip",
                 "Content-Disposition: attachment; filename=a.zip", "Content-Transfer-Encoding: base64", "",
                 "UEsDBBQAAAAIAA=="})
        << "Body"
        << "a.zip|application/zip|10+";
    QTest::newRow("whole message is a file")
        << Mail({"Content-Type: application/octet-stream; name=x.bin"}, {"abcdef"}) << ""
        << "x.bin|application/octet-stream|8";
    QTest::newRow("digest parts default to messages")
        << Mail({"Content-Type: multipart/digest; boundary=d"},
                {"--d", "", "Subject: one", "", "Body", "--d--"})
        << ""
        << "|message/rfc822|20";
}

void BodyPreviewTest::attachments() {
    QFETCH(QByteArray, reply);
    QFETCH(QString, text);
    QFETCH(QString, attachments);
    const BodyPreview preview = MakeBodyPreview(reply);
    QCOMPARE(preview.text, text);
    QCOMPARE(Summary(preview), attachments);
    QVERIFY(!preview.text.contains(QLatin1String("JSUl"))); // the PDF's base64 stays out of the text
}

// Input built to cost time or memory. Each must come back within kBound, with the
// limit reached and what could be shown. The decoder checks its 250 ms budget
// between lines and nodes; the one step it cannot interrupt is libxml2 parsing
// at most 256 KB of HTML (30 ms here for the densest case below); the rest is
// slack for a sanitizer build (several times slower) on a machine shared with
// other builds.
void BodyPreviewTest::hostile_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("textStart");
    QTest::addColumn<QString>("flags");
    QTest::addColumn<int>("attachments");

    QTest::newRow("nesting 12 deep: the text is past the cap") << Nested(12, "deep") << ""
                                                               << "cut,limited" << 0;
    QTest::newRow("nesting 8 deep: still shown") << Nested(8, "deep") << "deep"
                                                 << "cut" << 0;
    QTest::newRow("nesting 50,000 deep (2 MB)") << Nested(50000, "deep") << ""
                                                << "cut,limited" << 0;
    QTest::newRow("10 MB single line") << Mail({}, {QByteArray(10 * 1024 * 1024, 'A')}) << "AAAA"
                                       << "cut,limited" << 0;
    QTest::newRow("1 MB single line of HTML tags (part cut at 256 KB)")
        << Mail({"Content-Type: text/html"},
                {"<p>x" + QByteArray(1024 * 1024 / 8, 0).replace('\0', "<b>y</b>")})
        << "xyyyy"
        << "html,limited" << 0;
    QTest::newRow("HTML nested 200,000 elements deep")
        << Mail({"Content-Type: text/html"}, {QByteArray(200000, 0).replace('\0', "<div>") + "deep"}) << ""
        << "html,limited" << 0;
    QByteArray many;
    for (int i = 0; i < 5000; ++i)
        many += "--p\r\nContent-Type: image/png\r\n\r\nAAAA\r\n";
    QTest::newRow("5,000 parts") << Mail({"Content-Type: multipart/mixed; boundary=p"},
                                         {"--p", "", "Text first", many})
                                 << "Text first"
                                 << "cut,limited" << 50;
    QTest::newRow("1 MB folded Content-Type")
        << Mail({"Content-Type: text/plain;" + QByteArray(100000, 0).replace('\0', "\r\n x=\"yyyy\";")},
                {"Body"})
        << "Body"
        << "" << 0;
    QByteArray pieces = "Content-Type: application/x-a; name*0=a";
    for (int i = 1; pieces.size() < 8000; ++i)
        pieces += ";\r\n name*" + QByteArray::number(i) + "*=%41";
    QTest::newRow("400 parts of 1,000 RFC 2231 name pieces each")
        << Mail({"Content-Type: multipart/mixed; boundary=p"},
                {"--p", "", "Text first",
                 QByteArray(400, 0).replace('\0', "--p\r\n" + pieces + "\r\n\r\nx\r\n")})
        << "Text first"
        << "cut,limited" << 50;
    QTest::newRow("a 3 MB header block and nothing else")
        << QByteArray(100000, 0).replace('\0', "Received: from somewhere by nowhere;\r\n") << ""
        << "limited" << 0;
}

void BodyPreviewTest::hostile() {
    QFETCH(QByteArray, reply);
    QFETCH(QString, textStart);
    QFETCH(QString, flags);
    QFETCH(int, attachments);
    constexpr qint64 kBound = 3000;
    QElapsedTimer timer;
    timer.start();
    const BodyPreview preview = MakeBodyPreview(reply);
    const qint64 ms = timer.elapsed();
    qInfo("%s: %lld ms for %lld bytes", QTest::currentDataTag(), ms, qlonglong(reply.size()));
    QVERIFY2(ms < kBound, qPrintable(QStringLiteral("%1 ms").arg(ms)));
    QVERIFY2(textStart.isEmpty() || preview.text.startsWith(textStart), qPrintable(preview.text.left(80)));
    if (textStart.isEmpty())
        QVERIFY2(!preview.text.contains(QLatin1String("deep")), qPrintable(preview.text.left(80)));
    QVERIFY(preview.text.size() <= PreviewLimits().maxChars);
    QVERIFY(preview.text.count(u'\n') < PreviewLimits().maxLines);
    QCOMPARE(Flags(preview), flags);
    QCOMPARE(preview.attachments.size(), attachments);
}

// A page that names a local server for its images, its DTD and a frame: the
// server sees no connection while the text is made.
void BodyPreviewTest::htmlFetchesNothing() {
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    int connections = 0;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            ++connections;
            socket->close();
        }
    });
    const QByteArray port = QByteArray::number(server.serverPort());
    QByteArray html = "<!DOCTYPE html SYSTEM \"http://127.0.0.1:@PORT@/html.dtd\">" + kHtmlNewsletter +
                      "<iframe src=\"http://127.0.0.1:@PORT@/frame\"></iframe>"
                      "<link rel=stylesheet href=\"http://127.0.0.1:@PORT@/css\">";
    html.replace("@PORT@", port);
    const BodyPreview preview = MakeBodyPreview(Mail({"Content-Type: text/html"}, {html}));
    QCOMPARE(preview.text, kHtmlNewsletterText);
    QTest::qWait(300); // a fetch started on another thread would have connected by now
    QCOMPARE(connections, 0);
}

// Previews made on several threads at once agree with one made alone (the
// decoder keeps no shared state but what is set up once). std::thread, so that
// ThreadSanitizer sees the joins.
void BodyPreviewTest::runsOnWorkerThreads() {
    const QByteArray reply =
        Mail({"Content-Type: text/html; charset=iso-8859-1"}, {"<p>Caf\xe9 <b>cr\xe8me</b></p>"});
    const QByteArray plain = Mail({"Content-Type: text/plain; charset=koi8-r"}, {"\xf0\xd2\xc9\xd7\xc5\xd4"});
    std::atomic<int> wrong = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i)
                if (MakeBodyPreview(reply).text != QString::fromUtf8("Café crème") ||
                    MakeBodyPreview(plain).text != QString::fromUtf8("Привет"))
                    ++wrong;
        });
    for (std::thread& thread : threads)
        thread.join();
    QCOMPARE(wrong.load(), 0);
}

QTEST_GUILESS_MAIN(BodyPreviewTest)
#include "bodypreviewtest.moc"
