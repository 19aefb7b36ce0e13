// The fixture's own checks, over a bare socket so they stand without the POP3
// component: fresh mailboxes log in at once, each sees only its own mail,
// deletions reach the store only after QUIT, the server's records read back as
// sessions (with their commands where recorded), and a locked mailbox says [IN-USE].
#include "support/mailserver/testmailserver.h"

#include <QElapsedTimer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A deliberately minimal POP3 dialogue, synchronous: enough to see what the server does.
class RawPop3 {
public:
    bool open(const TestMailServer& server, bool implicitTls) {
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.addCaCertificates(server.caFile());
        m_socket.setSslConfiguration(conf);
        if (implicitTls) {
            m_socket.connectToHostEncrypted(server.host(), server.pop3sPort());
            if (!m_socket.waitForEncrypted(10000))
                return false;
        } else {
            m_socket.connectToHost(server.host(), server.pop3Port());
            if (!m_socket.waitForConnected(10000))
                return false;
        }
        return line().startsWith("+OK");
    }
    bool startTls() {
        if (!command("STLS").startsWith("+OK"))
            return false;
        m_socket.startClientEncryption();
        return m_socket.waitForEncrypted(10000);
    }
    QByteArray line(int timeoutMs = 30000) {
        while (!m_socket.canReadLine()) {
            if (!m_socket.waitForReadyRead(timeoutMs))
                return {};
        }
        return m_socket.readLine();
    }
    QByteArray command(const QByteArray& text, int timeoutMs = 30000) {
        m_socket.write(text + "\r\n");
        return line(timeoutMs);
    }
    // A multi-line reply's body, unstuffed, CRLF kept; empty on -ERR.
    QByteArray multiLine(const QByteArray& text) {
        if (!command(text).startsWith("+OK"))
            return {};
        QByteArray body;
        for (QByteArray l = line(); !l.isEmpty() && l != ".\r\n"; l = line())
            body += l.startsWith("..") ? l.mid(1) : l;
        return body;
    }
    bool login(const QString& user, const QString& password, QByteArray* reply = nullptr) {
        command("USER " + user.toUtf8());
        const QByteArray r = command("PASS " + password.toUtf8());
        if (reply)
            *reply = r;
        return r.startsWith("+OK");
    }
    void abort() { m_socket.abort(); }

private:
    QSslSocket m_socket;
};

QByteArray sampleMessage(int n) {
    return QStringLiteral("From: Sender %1 <sender%1@example.org>\r\nTo: t@example.net\r\n"
                          "Subject: message %1\r\n\r\nbody of %1\r\n.starts with a dot\r\n")
        .arg(n)
        .toUtf8();
}

} // namespace

class TestMailServerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { TIDEMARSH_REQUIRE_MAILSERVER(m_server); }

    void refusesMissingOrDeadServer_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::newRow("no file") << QByteArray();
        QTest::newRow("not a server") << QByteArray("[server]\nkind=dovecot\n");
        // pid 0x7ffffffe cannot be a process on Linux (pid_max is at most 2^22)
        QTest::newRow("server gone") << QByteArray("[server]\nkind=dovecot\nhost=127.0.0.1\npop3_port=1\n"
                                                   "pop3s_port=2\nmail_root=/tmp\npid=2147483646\n");
    }
    void refusesMissingOrDeadServer() {
        QFETCH(QByteArray, ini);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("mailserver.ini"));
        if (!ini.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(ini);
        }
        TestMailServer server(path);
        QVERIFY(!server.isValid());
        QVERIFY(server.errorString().contains(path));
        QVERIFY(!server.createMailbox().isValid());
    }

    void newMailboxServesItsOwnMail_data() {
        QTest::addColumn<bool>("implicitTls");
        QTest::newRow("STLS") << false;
        QTest::newRow("POP3S") << true;
    }
    void newMailboxServesItsOwnMail() {
        QFETCH(bool, implicitTls);
        const QList<TestMailbox> boxes = m_server.createMailboxes(2);
        TestMailbox mine = boxes[0];
        TestMailbox other = boxes[1];
        QVERIFY2(mine.isValid(), qPrintable(mine.errorString()));
        QVERIFY2(other.isValid(), qPrintable(other.errorString()));
        QVERIFY(mine.user() != other.user());
        QVERIFY(mine.addMessages({sampleMessage(1), sampleMessage(2), sampleMessage(3)}));
        QCOMPARE(other.addMessage(sampleMessage(9)), 1);

        QByteArray reply;
        RawPop3 wrong;
        QVERIFY(wrong.open(m_server, implicitTls));
        QVERIFY(!wrong.login(mine.user(), other.password(), &reply));
        QVERIFY2(reply.startsWith("-ERR"), reply.constData());
        wrong.abort();

        RawPop3 pop;
        QVERIFY(pop.open(m_server, implicitTls));
        if (!implicitTls)
            QVERIFY(pop.startTls());
        QVERIFY2(pop.login(mine.user(), mine.password(), &reply), reply.constData());
        QCOMPARE(pop.command("STAT").left(6), QByteArray("+OK 3 "));
        // Served in delivery order, byte for byte (with CRLF), dot-stuffed on the wire.
        for (int n = 1; n <= 3; ++n)
            QCOMPARE(pop.multiLine("RETR " + QByteArray::number(n)), sampleMessage(n));
        QVERIFY(pop.command("QUIT").startsWith("+OK"));
        const auto session = mine.waitForSessionEnd();
        QVERIFY2(session, qPrintable(mine.serverLog().join(QLatin1Char('\n'))));
        QVERIFY(session->quit);
        QCOMPARE(session->deletions, 0);
        QVERIFY(!session->fetchedNoBodies());
        QVERIFY(session->retrs == 3 || session->retrs == -1);
        QVERIFY(session->tls.value_or(true));
        QCOMPARE(mine.sessions().size(), 1);
        if (const auto refused = mine.refusedLogins())
            QCOMPARE(*refused, 1);
        QCOMPARE(other.sessions().size(), 0); // nobody logged in as the other mailbox
        QCOMPARE(other.serverLog().size(), 0);
    }

    void fileNamesCarrySizes() {
        if (!m_server.storesMaildir())
            QSKIP("this server keeps mail in a store of its own, not a Maildir");
        TestMailbox box = m_server.createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        const QByteArray lf = "Subject: lf only\n\nline\n";
        QCOMPARE(box.addMessage(lf), 1);
        QCOMPARE(box.addMessage(sampleMessage(2)), 2);
        const QStringList files = box.messageFiles();
        QCOMPARE(files.size(), 2);
        const QByteArray crlfSecond = sampleMessage(2);
        const QByteArray lfSecond = QByteArray(crlfSecond).replace("\r\n", "\n");
        QVERIFY2(files[0].endsWith(QStringLiteral(",S=%1,W=%2:2,").arg(lf.size()).arg(lf.size() + 3)),
                 qPrintable(files[0]));
        QVERIFY2(
            files[1].endsWith(QStringLiteral(",S=%1,W=%2:2,").arg(lfSecond.size()).arg(crlfSecond.size())),
            qPrintable(files[1]));
        QFile stored(files[1]);
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), lfSecond);
    }

    void deletionsTakeEffectOnlyAtQuit() {
        TestMailbox box = m_server.createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        QVERIFY(box.addMessages({sampleMessage(1), sampleMessage(2), sampleMessage(3)}));

        RawPop3 cut;
        QVERIFY(cut.open(m_server, true));
        QByteArray reply;
        QVERIFY2(cut.login(box.user(), box.password(), &reply), reply.constData());
        QVERIFY(cut.command("DELE 1").startsWith("+OK"));
        cut.abort();
        const auto cutSession = box.waitForSessionEnd();
        QVERIFY2(cutSession, qPrintable(box.serverLog().join(QLatin1Char('\n'))));
        QVERIFY(!cutSession->quit);
        QCOMPARE(cutSession->deletions, 0);
        QCOMPARE(box.remainingMessages(), (QList<int>{1, 2, 3}));

        RawPop3 pop;
        QVERIFY(pop.open(m_server, true));
        QVERIFY(pop.login(box.user(), box.password()));
        QVERIFY(pop.command("DELE 2").startsWith("+OK"));
        QVERIFY(pop.command("QUIT").startsWith("+OK"));
        const auto quitSession = box.waitForSession([](const ServerSession& s) { return s.quit; });
        QVERIFY2(quitSession, qPrintable(box.serverLog().join(QLatin1Char('\n'))));
        QCOMPARE(quitSession->deletions, 1);
        QCOMPARE(box.remainingMessages(), (QList<int>{1, 3}));
    }

    // What the client sent after login reads back in order, without the login.
    void recordsCommands() {
        TestMailServer::MailboxOptions options;
        options.recordTraffic = true;
        TestMailbox box = m_server.createMailbox(options);
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        QVERIFY(box.addMessages({sampleMessage(1), sampleMessage(2)}));
        RawPop3 pop;
        QVERIFY(pop.open(m_server, true));
        QVERIFY(pop.login(box.user(), box.password()));
        QVERIFY(pop.command("STAT").startsWith("+OK 2 "));
        QVERIFY(pop.multiLine("TOP 2 40").startsWith("From: Sender 2"));
        QVERIFY(pop.command("QUIT").startsWith("+OK"));
        const auto session = box.waitForSessionEnd();
        QVERIFY2(session, qPrintable(box.serverLog().join(QLatin1Char('\n'))));
        if (!session->commands)
            QSKIP("this server does not record the commands of a session");
        const QStringList expected{QStringLiteral("STAT"), QStringLiteral("TOP 2 40"),
                                   QStringLiteral("QUIT")};
        QCOMPARE(*session->commands, expected);
        // A mailbox made without asking records nothing on a server that needs asking.
        TestMailbox plain = m_server.createMailbox();
        RawPop3 other;
        QVERIFY(other.open(m_server, true));
        QVERIFY(other.login(plain.user(), plain.password()));
        QVERIFY(other.command("QUIT").startsWith("+OK"));
        const auto unrecorded = plain.waitForSessionEnd();
        QVERIFY(unrecorded);
        if (m_server.kind() == QLatin1String("dovecot"))
            QVERIFY(!unrecorded->commands);
    }

    void lockedMailboxRefusesSecondSession() {
        TestMailServer::MailboxOptions options;
        options.lockSession = true;
        TestMailbox box = m_server.createMailbox(options);
        if (!m_server.canLockSessions())
            QSKIP("this server cannot lock a mailbox per session");
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        QVERIFY(box.addMessage(sampleMessage(1)));

        RawPop3 first;
        QVERIFY(first.open(m_server, true));
        QVERIFY(first.login(box.user(), box.password()));
        RawPop3 second;
        QVERIFY(second.open(m_server, true));
        QByteArray reply;
        QElapsedTimer waited;
        waited.start();
        QVERIFY(!second.login(box.user(), box.password(), &reply));
        QVERIFY2(reply.startsWith("-ERR [IN-USE]"), reply.constData());
        QVERIFY(first.command("STAT").startsWith("+OK 1 "));
        QVERIFY(first.command("QUIT").startsWith("+OK"));
        qInfo("the server refused the second session after %lld ms", waited.elapsed());

        // An unlocked mailbox lets a second session in at once.
        TestMailbox open = m_server.createMailbox();
        QVERIFY(open.isValid());
        RawPop3 a;
        RawPop3 b;
        QVERIFY(a.open(m_server, true));
        QVERIFY(b.open(m_server, true));
        QVERIFY(a.login(open.user(), open.password()));
        QVERIFY(b.login(open.user(), open.password()));
    }

private:
    TestMailServer m_server;
};

QTEST_GUILESS_MAIN(TestMailServerTest)
#include "testmailservertest.moc"
