// Verification must start from the system's trust store. The test installs the
// fixture's CA the way an administrator would (update-ca-certificates) and runs
// pop3bench as a separate process with no certificate of its own, so nothing in
// the process has been told about the CA. Needs root; skipped otherwise.
#include "support/mailserver/testmailserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <memory>
#include <unistd.h>

namespace {

const QString kCaFolder = QStringLiteral("/usr/local/share/ca-certificates");

bool RunUpdateCaCertificates(QString& output) {
    QProcess update;
    update.setProcessChannelMode(QProcess::MergedChannels);
    update.start(QStringLiteral("update-ca-certificates"), {});
    const bool ok = update.waitForFinished(120000) && update.exitStatus() == QProcess::NormalExit &&
                    update.exitCode() == 0;
    output = QString::fromLocal8Bit(update.readAll());
    return ok;
}

// Puts the CA into the system store for the life of the object, and takes it out
// again however the test ends.
class InstalledCa {
public:
    explicit InstalledCa(const QString& pemFile)
        : m_path(QStringLiteral("%1/tidemarsh-test-%2-%3.crt")
                     .arg(kCaFolder)
                     .arg(::getpid())
                     .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))) {
        QDir().mkpath(kCaFolder);
        if (!QFile::copy(pemFile, m_path)) {
            m_error = QStringLiteral("cannot copy %1 to %2").arg(pemFile, m_path);
            return;
        }
        QString output;
        if (!RunUpdateCaCertificates(output))
            m_error = QStringLiteral("update-ca-certificates failed: ") + output;
    }
    ~InstalledCa() {
        if (!QFile::exists(m_path))
            return;
        QFile::remove(m_path);
        // update-ca-certificates rebuilds the bundle but leaves the links to a
        // removed local certificate behind: take them out first.
        const QString linkName = QFileInfo(m_path).completeBaseName() + QStringLiteral(".pem");
        const QDir certs(QStringLiteral("/etc/ssl/certs"));
        for (const QFileInfo& entry :
             certs.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
            if (entry.isSymLink() && QFileInfo(entry.symLinkTarget()).fileName() == linkName)
                QFile::remove(entry.absoluteFilePath());
        }
        QFile::remove(certs.filePath(linkName));
        QString output;
        RunUpdateCaCertificates(output);
    }
    QString error() const { return m_error; }

private:
    QString m_path;
    QString m_error;
};

struct BenchRun {
    int exitCode = -1;
    QString output;
};

BenchRun RunPop3Bench(const QString& security, const QString& host, quint16 port, const TestMailbox& box) {
    QProcess bench;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Nothing but the system store may vouch for the server.
    for (const char* name : {"POP3_CAFILE", "POP3S_PORT", "SSL_CERT_FILE", "SSL_CERT_DIR"})
        env.remove(QString::fromLatin1(name));
    bench.setProcessEnvironment(env);
    bench.setProcessChannelMode(QProcess::MergedChannels);
    bench.start(QStringLiteral(POP3BENCH_PATH), {QStringLiteral("--security=") + security, host,
                                                 QString::number(port), box.user(), box.password()});
    BenchRun run;
    if (!bench.waitForFinished(90000)) {
        bench.kill();
        bench.waitForFinished();
        run.output = QStringLiteral("pop3bench did not finish");
        return run;
    }
    run.exitCode = bench.exitStatus() == QProcess::NormalExit ? bench.exitCode() : -1;
    run.output = QString::fromLocal8Bit(bench.readAll());
    return run;
}

} // namespace

class SystemTrustTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        if (::geteuid() != 0)
            QSKIP(
                "Installing a CA into the system trust store needs root; run the suite as root to cover it.");
        QVERIFY2(m_server.isValid(), qPrintable(m_server.errorString()));
    }

    void cleanupTestCase() { m_ca.reset(); }

    // Before the CA is installed the server cannot be verified: proves the
    // process has no other way to trust it.
    void refusedWithoutTheCa_data() { securityForms_data(); }
    void refusedWithoutTheCa() {
        QFETCH(QString, security);
        const BenchRun run = runAgainstNewMailbox(security);
        QVERIFY2(run.exitCode != 0, qPrintable(run.output));
        QVERIFY2(run.output.contains(QStringLiteral("code 14")), qPrintable(run.output));
    }

    void verifiedThroughSystemStore_data() { securityForms_data(); }
    void verifiedThroughSystemStore() {
        QFETCH(QString, security);
        if (!m_ca)
            m_ca = std::make_unique<InstalledCa>(m_server.caFile());
        QVERIFY2(m_ca->error().isEmpty(), qPrintable(m_ca->error()));
        const BenchRun run = runAgainstNewMailbox(security);
        QVERIFY2(run.exitCode == 0, qPrintable(run.output));
        QVERIFY2(run.output.contains(QStringLiteral("messages 1")), qPrintable(run.output));
    }

private:
    static void securityForms_data() {
        QTest::addColumn<QString>("security");
        QTest::newRow("STARTTLS") << QStringLiteral("starttls");
        QTest::newRow("implicit TLS") << QStringLiteral("tls");
    }

    BenchRun runAgainstNewMailbox(const QString& security) {
        TestMailbox box = m_server.createMailbox();
        if (!box.isValid())
            return {-1, box.errorString()};
        box.addMessage("From: a@example.org\r\nSubject: trusted\r\n\r\nbody\r\n");
        const quint16 port = security == u"tls" ? m_server.pop3sPort() : m_server.pop3Port();
        return RunPop3Bench(security, m_server.host(), port, box);
    }

    TestMailServer m_server;
    std::unique_ptr<InstalledCa> m_ca; // removed in cleanupTestCase, or when a check fails and the test ends
};

QTEST_GUILESS_MAIN(SystemTrustTest)
#include "systemtrusttest.moc"
