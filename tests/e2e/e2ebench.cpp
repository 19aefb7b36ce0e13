// Figures for a large mailbox behind a slow link: a whole check of 10,000
// messages and Delete Unchecked of 5,000 of them, through the real main window,
// against the fixture's Dovecot, with a 20 ms round trip added by a proxy on its
// own thread. Prints the times; checks only that the outcome is right.
#include "e2eharness.h"
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"
#include "support/modalhelper.h"
#include "support/pausemeter.h"
#include "support/pop3proxy.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

class E2eBench : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void largeMailbox_data();
    void largeMailbox();
    void cleanupTestCase();

private:
    std::unique_ptr<TestMailServer> m_server;
    QThread m_proxyThread;
};

void E2eBench::initTestCase() {
    m_server = std::make_unique<TestMailServer>();
    QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
    E2eHarness::TrustTestCa(*m_server);
    m_proxyThread.start();
}

void E2eBench::cleanupTestCase() {
    m_proxyThread.quit();
    m_proxyThread.wait();
}

void E2eBench::largeMailbox_data() {
    QTest::addColumn<int>("messages");
    QTest::addColumn<int>("rttMs");
    const int count = qEnvironmentVariableIntValue("TIDEMARSH_BENCH_MESSAGES") > 0
                          ? qEnvironmentVariableIntValue("TIDEMARSH_BENCH_MESSAGES")
                          : 10000;
    QTest::addRow("%d messages, direct", count) << count << 0;
    QTest::addRow("%d messages, 20 ms round trip", count) << count << 20;
}

void E2eBench::largeMailbox() {
    QFETCH(int, messages);
    QFETCH(int, rttMs);
    TestMailbox box = m_server->createMailbox();
    QVERIFY(box.isValid());
    QList<QByteArray> mails;
    mails.reserve(messages);
    for (int i = 1; i <= messages; ++i)
        mails.append("From: Sender " + QByteArray::number(i % 97) + " <s" + QByteArray::number(i) +
                     "@example.org>\r\nTo: me@example.org\r\nSubject: Message number " +
                     QByteArray::number(i) + "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0000\r\nMessage-ID: <" +
                     QByteArray::number(i) + "@bench>\r\n\r\nBody of the message.\r\n");
    QVERIFY(box.addMessages(mails));

    auto* proxy = new Pop3Proxy(m_server->host(), m_server->pop3Port());
    proxy->setOneWayDelayMs(rttMs / 2);
    proxy->moveToThread(&m_proxyThread);
    bool listening = false;
    QMetaObject::invokeMethod(proxy, &Pop3Proxy::listen, Qt::BlockingQueuedConnection, &listening);
    QVERIFY(listening);

    E2eHarness app;
    AccountRecord account = E2eHarness::AccountFor(*m_server, box);
    if (rttMs > 0)
        account.ServerAddress = QStringLiteral("127.0.0.1:") + QString::number(proxy->port());
    QVERIFY(app.start(account));
    app.state().Settings.CheckDonePromptOff = 1;
    app.state().Settings.DeletePromptOff = 1;

    PauseMeter pauses;
    QElapsedTimer timer;
    timer.start();
    pauses.start();
    app.trigger(Command::CheckMail);
    const qint64 checkMs = timer.elapsed();
    const double checkPauseMs = pauses.longestMs();
    ReviewModel* model = app.window().review().model();
    QCOMPARE(model->rowCount(), messages);

    QList<int> kept;
    for (int row = 0; row < messages; ++row)
        if (model->item(row).MessageNumber % 2 == 0) {
            model->setKeep(row, true);
            kept.append(model->item(row).MessageNumber);
        }
    timer.restart();
    pauses.start();
    app.trigger(Command::DeleteUnchecked);
    const qint64 deleteMs = timer.elapsed();
    const double deletePauseMs = pauses.longestMs();
    pauses.stop();
    QVERIFY2(app.boxes.isEmpty(), qPrintable(app.boxes.isEmpty() ? QString() : app.boxes.first().text));
    QCOMPARE(app.account().DeletedMessages, messages - static_cast<int>(kept.size()));
    QCOMPARE(box.remainingMessages(), kept);

    qInfo("%d messages, round trip %d ms: Check Mail %lld ms (longest pause of the event loop %.1f ms), "
          "Delete Unchecked of %d: %lld ms (longest pause %.1f ms)",
          messages, rttMs, checkMs, checkPauseMs, messages - static_cast<int>(kept.size()), deleteMs,
          deletePauseMs);
    proxy->deleteLater();
}

QTEST_MAIN(E2eBench)
#include "e2ebench.moc"
