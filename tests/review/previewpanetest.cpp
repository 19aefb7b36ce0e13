// The preview pane driven as the review list drives it: selections, answers
// that arrive late or for another message, and what the user sees and hears.
#include "review/previewpane.h"

#include <QAccessible>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QVBoxLayout>

namespace {
pop3::BodyPreview Preview(const QString& text) {
    pop3::BodyPreview preview;
    preview.text = text;
    return preview;
}

const QString kLoading = QStringLiteral("Loading preview...");
} // namespace

class PreviewPaneTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void asksOnlyAfterTheSelectionRests();
    void keptPreviewsAreNotAskedForAgain();
    void lateAnswerForAnotherMessage();
    void failureIsShownAndAskedAgainLater();
    void textIsPlainAndCleaned();
    void longLinesAreBroken_data();
    void longLinesAreBroken();
    void htmlMessageFetchesNothing();
    void keyboardAndScreenReader();

private:
    QPlainTextEdit* text() const { return m_pane->findChild<QPlainTextEdit*>(QStringLiteral("txtPreview")); }
    QLabel* info() const { return m_pane->findChild<QLabel*>(QStringLiteral("lblPreviewInfo")); }

    std::unique_ptr<QWidget> m_window;
    PreviewPane* m_pane = nullptr;
    std::unique_ptr<QSignalSpy> m_wanted;
};

void PreviewPaneTest::init() {
    m_window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(m_window.get());
    auto* before = new QPushButton(QStringLiteral("Before"), m_window.get());
    before->setObjectName(QStringLiteral("cmdBefore"));
    layout->addWidget(before);
    m_pane = new PreviewPane(m_window.get());
    layout->addWidget(m_pane);
    m_wanted = std::make_unique<QSignalSpy>(m_pane, &PreviewPane::previewWanted);
    QCOMPARE(m_pane->objectName(), QStringLiteral("PreviewPane"));
    QVERIFY(text() && info());
}

void PreviewPaneTest::cleanup() {
    m_wanted.reset();
    m_window.reset();
}

void PreviewPaneTest::asksOnlyAfterTheSelectionRests() {
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    m_pane->showMessage(1);
    QTest::qWait(100);
    m_pane->showMessage(2);
    QTest::qWait(100);
    m_pane->showMessage(3);
    QElapsedTimer sinceLast;
    sinceLast.start();
    QTest::qWait(150);
    // Each selection came sooner than the rest: nothing asked yet (unless the machine stalled).
    if (sinceFirst.elapsed() < 2 * PreviewPane::kRestMs)
        QCOMPARE(m_wanted->count(), 0);
    QCOMPARE(text()->toPlainText(), kLoading);
    QTRY_COMPARE(m_wanted->count(), 1);
    QVERIFY2(sinceLast.elapsed() >= PreviewPane::kRestMs - 30,
             qPrintable(QString::number(sinceLast.elapsed())));
    QCOMPARE(m_wanted->at(0).at(0).toInt(), 3);
    QTest::qWait(2 * PreviewPane::kRestMs);
    QCOMPARE(m_wanted->count(), 1);
}

void PreviewPaneTest::keptPreviewsAreNotAskedForAgain() {
    m_pane->showMessage(1);
    QTRY_COMPARE(m_wanted->count(), 1);
    m_pane->setPreview(1, Preview(QStringLiteral("First message")));
    QCOMPARE(text()->toPlainText(), QStringLiteral("First message"));
    m_pane->showMessage(2);
    QTRY_COMPARE(m_wanted->count(), 2);
    m_pane->setPreview(2, Preview(QStringLiteral("Second message")));
    m_pane->showMessage(1);
    QCOMPARE(text()->toPlainText(), QStringLiteral("First message")); // at once, from the session's store
    QTest::qWait(2 * PreviewPane::kRestMs);
    QCOMPARE(m_wanted->count(), 2);

    m_pane->clear(); // a new session forgets them
    QCOMPARE(text()->toPlainText(), QString());
    m_pane->showMessage(1);
    QTRY_COMPARE(m_wanted->count(), 3);
}

void PreviewPaneTest::lateAnswerForAnotherMessage() {
    m_pane->showMessage(1);
    QTRY_COMPARE(m_wanted->count(), 1);
    m_pane->showMessage(2);
    m_pane->setPreview(1, Preview(QStringLiteral("Answer for one")));
    QCOMPARE(text()->toPlainText(), kLoading);
    QTRY_COMPARE(m_wanted->count(), 2);
    m_pane->setPreview(2, Preview(QStringLiteral("Answer for two")));
    QCOMPARE(text()->toPlainText(), QStringLiteral("Answer for two"));
    m_pane->showMessage(1); // the late answer was kept
    QCOMPARE(text()->toPlainText(), QStringLiteral("Answer for one"));
    QTest::qWait(2 * PreviewPane::kRestMs);
    QCOMPARE(m_wanted->count(), 2);
}

void PreviewPaneTest::failureIsShownAndAskedAgainLater() {
    m_pane->showMessage(1);
    QTRY_COMPARE(m_wanted->count(), 1);
    m_pane->showMessage(2);
    m_pane->showMessage(1); // back while the first question is still open: not asked twice
    QTest::qWait(2 * PreviewPane::kRestMs);
    QCOMPARE(m_wanted->count(), 1);
    m_pane->setPreviewFailed(1, QStringLiteral("the server\nrefused\u202E TOP"));
    QCOMPARE(text()->toPlainText(), QStringLiteral("No preview: the server refused TOP"));
    m_pane->showMessage(2);
    m_pane->showMessage(1);
    QTRY_COMPARE(m_wanted->count(), 2);
    QCOMPARE(m_wanted->at(1).at(0).toInt(), 1);
}

void PreviewPaneTest::textIsPlainAndCleaned() {
    pop3::BodyPreview preview =
        Preview(QStringLiteral("<b>not bold</b> <img src=\"x.png\">\nPay\u202Egnp.exe\x07\tend"));
    preview.attachments.append(
        {QStringLiteral("invoice\u202Efdp.exe"), QStringLiteral("application/pdf"), 2048, false});
    preview.attachments.append({QString(), QStringLiteral("image/png"), 100, true});
    preview.unlistedAttachments = 3;
    preview.cutShort = true;
    m_pane->showMessage(7);
    m_pane->setPreview(7, preview);
    QCOMPARE(text()->toPlainText(),
             QStringLiteral("<b>not bold</b> <img src=\"x.png\">\nPaygnp.exe      end"));
    QVERIFY(text()->isReadOnly());
    QVERIFY(!info()->isHidden());
    QCOMPARE(info()->textFormat(), Qt::PlainText);
    QCOMPARE(info()->text(), QStringLiteral("Attachments: invoicefdp.exe (application/pdf, 2.00 KB); unnamed "
                                            "(image/png, at least 100 Bytes); 3 more\n"
                                            "Only the beginning of the message is shown."));
    m_pane->showMessage(-1);
    QCOMPARE(text()->toPlainText(), QString());
    QVERIFY(info()->isHidden());
}

// A paragraph the text view would lay out whole (a quarter of a second for a
// hostile single line) is broken into short ones, at a space near the limit
// where there is one; nothing of the text is lost.
void PreviewPaneTest::longLinesAreBroken_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QList<int>>("lengths");
    QTest::newRow("short: as it is") << QString(999, u'a') << QList<int>{999};
    QTest::newRow("no space: cut at 1,000") << QString(2500, u'A') << QList<int>{1000, 1000, 500};
    QString words;
    while (words.size() < 2100)
        words += QStringLiteral("word ");
    QTest::newRow("words: at the last space before 1,000") << words << QList<int>{999, 999, 100};
    QTest::newRow("32,768 characters, no space")
        << QString(32768, u'B') << QList<int>(32, 1000) + QList<int>{768};
}

void PreviewPaneTest::longLinesAreBroken() {
    QFETCH(QString, line);
    QFETCH(QList<int>, lengths);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_pane->showMessage(3);
    QElapsedTimer shown;
    shown.start();
    m_pane->setPreview(3, Preview(QStringLiteral("first\n") + line + QStringLiteral("\nlast")));
    qInfo("%s: shown in %lld ms", QTest::currentDataTag(), shown.elapsed());
    QStringList lines = text()->toPlainText().split(u'\n');
    QCOMPARE(lines.takeFirst(), QStringLiteral("first"));
    QCOMPARE(lines.takeLast(), QStringLiteral("last"));
    QList<int> got;
    for (const QString& each : lines)
        got.append(int(each.size()));
    QCOMPARE(got, lengths);
    QString joined = lines.join(u' ');
    if (!line.contains(u' '))
        joined = lines.join(QString());
    QCOMPARE(joined, line);
}

// The pane shows an HTML message whose images, pixel and links point at a
// local server, in a window on screen: the server sees no connection.
void PreviewPaneTest::htmlMessageFetchesNothing() {
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    int connections = 0;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            ++connections;
            socket->close();
        }
    });
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort());
    const QString html =
        QStringLiteral("<html><head><link rel=stylesheet href=\"%1/s.css\"></head><body>"
                       "<p>Hello <img src=\"%1/logo.png\" alt=\"Logo\"></p>"
                       "<img src=\"%1/pixel.gif?u=42\" width=1 height=1>"
                       "<p style=\"background:url(%1/bg.png)\"><a href=\"%1/click\">Unsubscribe</a>"
                       "</p></body></html>")
            .arg(base);
    const pop3::BodyPreview preview =
        pop3::MakeBodyPreview("Content-Type: text/html; charset=utf-8\r\n\r\n" + html.toUtf8() + "\r\n");
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_pane->showMessage(5);
    m_pane->setPreview(5, preview);
    QCOMPARE(text()->toPlainText(), QStringLiteral("Hello [Logo]\n\nUnsubscribe [127.0.0.1]"));
    QCOMPARE(info()->text(), QStringLiteral("Converted from HTML: no images or links were loaded."));
    QTest::qWait(500); // paint, lay out, and give any fetch time to connect
    QCOMPARE(connections, 0);
}

void PreviewPaneTest::keyboardAndScreenReader() {
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_pane->showMessage(1);
    pop3::BodyPreview preview = Preview(QStringLiteral("Readable text"));
    preview.convertedFromHtml = true;
    m_pane->setPreview(1, preview);
    auto* before = m_window->findChild<QPushButton*>(QStringLiteral("cmdBefore"));
    before->setFocus();
    QTest::keyClick(before, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), text());
    QTest::keyClick(text(), Qt::Key_Tab); // Tab leaves the text instead of typing into it
    QCOMPARE(QApplication::focusWidget(), info());

    QAccessibleInterface* edit = QAccessible::queryAccessibleInterface(text());
    QVERIFY(edit);
    QCOMPARE(edit->text(QAccessible::Name), QStringLiteral("Message preview"));
    QVERIFY(edit->state().readOnly);
    QVERIFY(edit->state().focusable);
    QVERIFY(edit->textInterface());
    QCOMPARE(edit->textInterface()->text(0, edit->textInterface()->characterCount()),
             QStringLiteral("Readable text"));
    QAccessibleInterface* notes = QAccessible::queryAccessibleInterface(info());
    QVERIFY(notes);
    QCOMPARE(notes->text(QAccessible::Name), QStringLiteral("Attachments and notes"));
    QCOMPARE(notes->text(QAccessible::Description), info()->text());
}

QTEST_MAIN(PreviewPaneTest)
#include "previewpanetest.moc"
