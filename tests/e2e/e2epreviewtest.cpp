// The preview pane through the real main window against a real server: each
// kind of message shows as text, a page's images and tracking pixel are never
// fetched, restless or hidden selections ask nothing, and the server is asked
// TOP n 40 exactly once for each message previewed, never RETR.
#include "e2eharness.h"
#include "review/core/reviewmodel.h"
#include "review/previewpane.h"
#include "review/reviewcontroller.h"
#include "review/reviewlistview.h"
#include "support/pop3proxy.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTestEventLoop>

#include <algorithm>

namespace {

const QString kLoading = QStringLiteral("Loading preview...");

QByteArray Mail(const QByteArray& subject, const QByteArrayList& headers, const QByteArray& body) {
    QByteArray out = "From: Sender <sender@example.org>\r\nTo: me@example.org\r\nSubject: " + subject +
                     "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0000\r\nMIME-Version: 1.0\r\n";
    for (const QByteArray& header : headers)
        out += header + "\r\n";
    return out + "\r\n" + body;
}

// multipart/mixed inside multipart/mixed, depth times, around one text part.
QByteArray Nested(int depth, const QByteArray& text) {
    QByteArray body;
    for (int i = 1; i < depth; ++i)
        body += "--b" + QByteArray::number(i - 1) + "\r\nContent-Type: multipart/mixed; boundary=b" +
                QByteArray::number(i) + "\r\n\r\n";
    body += "--b" + QByteArray::number(depth - 1) + "\r\nContent-Type: text/plain\r\n\r\n" + text + "\r\n";
    return Mail("Deep", {"Content-Type: multipart/mixed; boundary=b0"}, body);
}

QByteArray HtmlPage(quint16 trackerPort) {
    QByteArray page = "<html><head><style>p{color:red}</style></head><body><h1>Spring sale</h1>\r\n"
                      "<p>Dear customer, our prices fell.</p>\r\n"
                      "<img src=\"http://127.0.0.1:@PORT@/logo.png\" alt=\"Shop logo\">\r\n"
                      "<img src=\"http://127.0.0.1:@PORT@/open.gif?id=77\" width=\"1\" height=\"1\">\r\n"
                      "<p style=\"background:url(http://127.0.0.1:@PORT@/bg.png)\">"
                      "<a href=\"http://127.0.0.1:@PORT@/offer\">See the offer</a></p></body></html>\r\n";
    return page.replace("@PORT@", QByteArray::number(trackerPort));
}

QByteArray WithAttachment() {
    return Mail("Invoice", {"Content-Type: multipart/mixed; boundary=\"=_m\""},
                "--=_m\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nSee the invoice attached.\r\n"
                "--=_m\r\nContent-Type: application/pdf; name=\"invoice.pdf\"\r\n"
                "Content-Disposition: attachment; filename=\"invoice.pdf\"; size=12345\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\n" +
                    QByteArray(12345, 'x').toBase64() + "\r\n--=_m--\r\n");
}

// Every kind of message the test previews, and a few nobody rests on.
enum Number {
    kPlain = 1,
    kQuotedPrintable,
    kBase64,
    kHtml,
    kAttachment,
    kDeep,
    kLongLine,
    kOverCap,
    kControls,
    kPassedOver1,
    kPassedOver2,
    kWhileHidden,
    kMessageCount = kWhileHidden
};

QList<QByteArray> Messages(quint16 trackerPort) {
    return {
        Mail("Plain", {"Content-Type: text/plain; charset=us-ascii"}, "Hello Bob,\r\n\r\nthe plain one.\r\n"),
        Mail("QP", {"Content-Type: text/plain; charset=UTF-8", "Content-Transfer-Encoding: quoted-printable"},
             "Gr=C3=BC=C3=9Fe aus K=C3=B6ln, =\r\nbis bald =E2=80=94 Jo\r\n"),
        Mail("Base64", {"Content-Type: text/plain; charset=ISO-8859-1", "Content-Transfer-Encoding: base64"},
             QByteArray("Caf\xe9 cr\xe8me \xe0 la carte").toBase64() + "\r\n"),
        Mail("Newsletter", {"Content-Type: text/html; charset=utf-8"}, HtmlPage(trackerPort)),
        WithAttachment(),
        Nested(40, "deep words"),
        Mail("Long line", {}, QByteArray(600 * 1024, 'A') + "\r\nsecond line\r\n"),
        Mail("Over the cap", {}, QByteArray(3 * 1024 * 1024, 'B') + "\r\n"),
        Mail("Controls", {"Content-Type: text/plain; charset=utf-8"},
             "Pay \xe2\x80\xae"
             "gnp.exe\x07 now\x1b[31m\r\n"),
        Mail("Passed over 1", {}, "never rested on\r\n"),
        Mail("Passed over 2", {}, "never rested on\r\n"),
        Mail("While hidden", {}, "selected while the pane was hidden\r\n"),
    };
}

// The session that ended with QUIT, once the server has recorded it. The QUIT
// leaves from the event loop, so the wait runs in it.
std::optional<ServerSession> QuitSession(const TestMailbox& box) {
    const auto quit = [](const ServerSession& session) { return session.quit; };
    (void)QTest::qWaitFor([&] { return box.waitForSession(quit, 0).has_value(); }, 15000);
    return box.waitForSession(quit, 0);
}

} // namespace

class E2ePreviewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void showsEachKind_data();
    void showsEachKind();
    void restlessSelectionAsksNothing();
    void hiddenPaneAsksNothing();
    void serverSawTopOnlyForPreviewed();
    void answerAfterAcceptAllIsDropped();

private:
    QPlainTextEdit* text() const {
        return m_app->window().findChild<QPlainTextEdit*>(QStringLiteral("txtPreview"));
    }
    QLabel* info() const { return m_app->window().findChild<QLabel*>(QStringLiteral("lblPreviewInfo")); }
    void select(int messageNumber);
    // Selects the message and waits for its text; how long that took, or -1.
    qint64 previewOf(int messageNumber);

    std::unique_ptr<TestMailServer> m_server;
    TestMailbox m_box;
    std::unique_ptr<E2eHarness> m_app;
    QTcpServer m_tracker;
    int m_trackerHits = 0;
    QList<int> m_previewed; // in the order the test previewed them
    QList<qint64> m_latencies;
};

void E2ePreviewTest::initTestCase() {
    m_server = std::make_unique<TestMailServer>();
    TIDEMARSH_REQUIRE_MAILSERVER(*m_server);
    E2eHarness::TrustTestCa(*m_server);
    QVERIFY(m_tracker.listen(QHostAddress::LocalHost));
    connect(&m_tracker, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_tracker.nextPendingConnection()) {
            ++m_trackerHits;
            socket->close();
        }
    });

    TestMailServer::MailboxOptions options;
    options.recordTraffic = true;
    m_box = m_server->createMailbox(options);
    QVERIFY2(m_box.isValid(), qPrintable(m_box.errorString()));
    QVERIFY(m_box.addMessages(Messages(m_tracker.serverPort())));

    m_app = std::make_unique<E2eHarness>();
    QVERIFY(m_app->start(E2eHarness::AccountFor(*m_server, m_box)));
    m_app->state().Settings.CheckDonePromptOff = 1;
    QVERIFY(text() && info());
    QVERIFY(m_app->window().action(Command::PreviewPane)->isChecked()); // shown at first
    m_app->trigger(Command::CheckMail);
    QCOMPARE(m_app->window().review().rowCount(), int(kMessageCount));
    // The first row is selected after the check, and shown like any selection.
    QTRY_COMPARE_WITH_TIMEOUT(text()->toPlainText(), QStringLiteral("Hello Bob,\n\nthe plain one."), 20000);
    m_previewed.append(kPlain);
}

void E2ePreviewTest::cleanupTestCase() {
    if (m_latencies.isEmpty())
        return;
    QList<qint64> sorted = m_latencies;
    std::sort(sorted.begin(), sorted.end());
    qInfo("preview latency, selection to text, %s, %lld previews: min %lld ms, median %lld ms, max %lld ms",
          qPrintable(m_server->kind()), qlonglong(sorted.size()), sorted.first(),
          sorted.at(sorted.size() / 2), sorted.last());
    m_app.reset();
}

void E2ePreviewTest::select(int messageNumber) {
    const ReviewModel& model = *m_app->window().review().model();
    ReviewListView* list = m_app->list();
    for (int row = 0; row < model.rowCount(); ++row)
        if (model.item(row).MessageNumber == messageNumber) {
            list->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                                    QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
            return;
        }
    QFAIL("no such message listed");
}

qint64 E2ePreviewTest::previewOf(int messageNumber) {
    // A plain event loop, as the program runs: QTest::qWaitFor sleeps between its
    // rounds, which would add its own delays to every step of the way.
    QTestEventLoop loop;
    qint64 shownAfter = -1;
    QElapsedTimer sinceSelection;
    const QMetaObject::Connection watch = connect(text(), &QPlainTextEdit::textChanged, this, [&] {
        if (shownAfter < 0 && text()->toPlainText() != kLoading && !text()->toPlainText().isEmpty()) {
            shownAfter = sinceSelection.elapsed();
            loop.exitLoop();
        }
    });
    sinceSelection.start();
    select(messageNumber);
    if (shownAfter < 0)
        loop.enterLoopMSecs(20000);
    disconnect(watch);
    return shownAfter;
}

void E2ePreviewTest::showsEachKind_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("textPattern"); // the whole text, as a regular expression
    QTest::addColumn<QString>("infoPart");

    QTest::newRow("quoted-printable UTF-8")
        << int(kQuotedPrintable) << QString::fromUtf8("Grüße aus Köln, bis bald — Jo") << QString();
    QTest::newRow("base64 ISO-8859-1")
        << int(kBase64) << QString::fromUtf8("Café crème à la carte") << QString();
    QTest::newRow("HTML only, remote images, tracking pixel")
        << int(kHtml)
        << "Spring sale\\n\\nDear customer, our prices fell.\\n\\n\\[Shop logo\\]\\n\\n"
           "See the offer \\[127\\.0\\.0\\.1\\]"
        << "Converted from HTML: no images or links were loaded.";
    QTest::newRow("multipart with an attachment") << int(kAttachment) << "See the invoice attached\\."
                                                  << "Attachments: invoice.pdf (application/pdf, 12.06 KB)";
    QTest::newRow("deep MIME nesting: past the cap, nothing of it shown")
        << int(kDeep) << QRegularExpression::escape(QStringLiteral("(This message has no text to show.)"))
        << "Shortened";
    // Its start, in lines short enough for the text view to lay out at once.
    QTest::newRow("a 600 KB line: its start") << int(kLongLine) << "(A{1000}\\n){20,}A+"
                                              << "Shortened";
    QTest::newRow("a 3 MB line, past the reply's cap")
        << int(kOverCap) << "The first lines of this message are too large to show\\."
        << "Shortened";
    // Controls show as spaces, the override goes.
    QTest::newRow("controls and a bidi override")
        << int(kControls) << "Pay gnp\\.exe  now \\[31m" << QString();
}

void E2ePreviewTest::showsEachKind() {
    QFETCH(int, number);
    QFETCH(QString, textPattern);
    QFETCH(QString, infoPart);
    const qint64 ms = previewOf(number);
    QVERIFY2(ms >= 0, qPrintable(text()->toPlainText().left(200)));
    m_previewed.append(number);
    m_latencies.append(ms);
    qInfo("%s: %lld ms from selection to text", QTest::currentDataTag(), ms);
    // The pane asks only once the selection has rested.
    QVERIFY2(ms >= PreviewPane::kRestMs, qPrintable(QString::number(ms)));
    const QRegularExpression whole(QRegularExpression::anchoredPattern(textPattern),
                                   QRegularExpression::DotMatchesEverythingOption);
    QVERIFY2(whole.match(text()->toPlainText()).hasMatch(), qPrintable(text()->toPlainText().left(300)));
    if (infoPart.isEmpty())
        QVERIFY2(info()->isHidden(), qPrintable(info()->text()));
    else
        QVERIFY2(info()->text().contains(infoPart), qPrintable(info()->text()));
    QCOMPARE(info()->textFormat(), Qt::PlainText);
    QTest::qWait(100); // a fetch started by the page would have connected by now
    QCOMPARE(m_trackerHits, 0);
}

void E2ePreviewTest::restlessSelectionAsksNothing() {
    // Through two messages faster than the rest, then back to one already seen.
    select(kPassedOver1);
    QTest::qWait(PreviewPane::kRestMs / 3);
    QCOMPARE(text()->toPlainText(), kLoading);
    select(kPassedOver2);
    QTest::qWait(PreviewPane::kRestMs / 3);
    select(kPlain);
    QCOMPARE(text()->toPlainText(), QStringLiteral("Hello Bob,\n\nthe plain one.")); // at once: kept
    QTest::qWait(3 * PreviewPane::kRestMs);
    QCOMPARE(text()->toPlainText(), QStringLiteral("Hello Bob,\n\nthe plain one."));
}

void E2ePreviewTest::hiddenPaneAsksNothing() {
    QAction* toggle = m_app->window().action(Command::PreviewPane);
    QCOMPARE(toggle->objectName(), QStringLiteral("mnuActionsPreview"));
    QVERIFY(toggle->isCheckable());
    toggle->trigger();
    QVERIFY(!toggle->isChecked());
    auto* pane = m_app->window().findChild<PreviewPane*>(QStringLiteral("PreviewPane"));
    QVERIFY(pane->isHidden());
    select(kWhileHidden);
    QTest::qWait(3 * PreviewPane::kRestMs);
    select(kQuotedPrintable);
    toggle->trigger();
    QVERIFY(toggle->isChecked());
    QVERIFY(!pane->isHidden());
    QCOMPARE(text()->toPlainText(), QString::fromUtf8("Grüße aus Köln, bis bald — Jo")); // kept
}

void E2ePreviewTest::serverSawTopOnlyForPreviewed() {
    m_app->trigger(Command::AcceptAll);
    const auto session = QuitSession(m_box);
    QVERIFY2(session, qPrintable(m_box.serverLog().join(QLatin1Char('\n'))));
    QVERIFY(session->fetchedNoBodies());
    QCOMPARE(m_trackerHits, 0);
    if (!session->commands)
        QSKIP("this server does not record the commands of a session; no RETR was all it could show");
    QList<int> previews;
    int headerTops = 0;
    static const QRegularExpression top(QStringLiteral("^TOP (\\d+) (\\d+)$"));
    for (const QString& command : *session->commands) {
        QVERIFY2(!command.startsWith(QLatin1String("RETR"), Qt::CaseInsensitive), qPrintable(command));
        const auto m = top.match(command);
        if (m.hasMatch() && m.captured(2) == QLatin1String("0"))
            ++headerTops;
        else if (m.hasMatch())
            previews.append(m.captured(1).toInt());
        QVERIFY2(m.hasMatch() || !command.startsWith(QLatin1String("TOP")), qPrintable(command));
    }
    QCOMPARE(headerTops, int(kMessageCount));
    // Each once, in the order they were previewed: the pane keeps what it was sent.
    QCOMPARE(previews, m_previewed);
    for (const QString& command : *session->commands)
        if (command.startsWith(QLatin1String("TOP")) && !command.endsWith(QLatin1String(" 0")))
            QVERIFY2(command.endsWith(QLatin1String(" 40")), qPrintable(command));
}

// A TOP still on its way when the review ends: its answer is dropped, and the
// pane of the emptied list stays empty. Over a slow link, which also shows the
// latency a user far from the server meets.
void E2ePreviewTest::answerAfterAcceptAllIsDropped() {
    TestMailServer::MailboxOptions options;
    options.recordTraffic = true;
    TestMailbox box = m_server->createMailbox(options);
    QVERIFY2(box.isValid(), qPrintable(box.errorString()));
    QVERIFY(box.addMessages({Mail("First", {}, "first body\r\n"), Mail("Second", {}, "second body\r\n"),
                             Mail("Third", {}, "third body\r\n")}));
    constexpr int kOneWayMs = 100;
    Pop3Proxy proxy(m_server->host(), m_server->pop3Port());
    proxy.setOneWayDelayMs(kOneWayMs);
    QVERIFY(proxy.listen());

    m_app.reset(); // the first window goes, with its own folder
    m_app = std::make_unique<E2eHarness>();
    AccountRecord account = E2eHarness::AccountFor(*m_server, box);
    account.ServerAddress = QStringLiteral("127.0.0.1:") + QString::number(proxy.port());
    QVERIFY(m_app->start(account));
    m_app->state().Settings.CheckDonePromptOff = 1;
    m_app->trigger(Command::CheckMail);
    QCOMPARE(m_app->window().review().rowCount(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(text()->toPlainText(), QStringLiteral("first body"), 20000);
    const qint64 ms = previewOf(2);
    QCOMPARE(text()->toPlainText(), QStringLiteral("second body"));
    qInfo("over a %d ms round trip: %lld ms from selection to text", 2 * kOneWayMs, ms);
    QVERIFY(ms >= PreviewPane::kRestMs + 2 * kOneWayMs - 30);

    QElapsedTimer sinceSelection;
    sinceSelection.start();
    select(3);
    // Rested: the TOP is sent; its answer is a round trip away.
    QVERIFY(
        QTest::qWaitFor([&] { return sinceSelection.elapsed() >= PreviewPane::kRestMs + kOneWayMs / 2; }));
    QCOMPARE(text()->toPlainText(), kLoading);
    m_app->trigger(Command::AcceptAll);
    QCOMPARE(text()->toPlainText(), QString());
    QTest::qWait(4 * kOneWayMs);
    QCOMPARE(text()->toPlainText(), QString());
    const auto session = QuitSession(box);
    QVERIFY2(session, qPrintable(box.serverLog().join(QLatin1Char('\n'))));
    if (session->commands)
        QVERIFY2(session->commands->contains(QStringLiteral("TOP 3 40")),
                 qPrintable(session->commands->join(QLatin1String(", "))));
}

QTEST_MAIN(E2ePreviewTest)
#include "e2epreviewtest.moc"
