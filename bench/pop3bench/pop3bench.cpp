// pop3bench: time a header download with the POP3 component.
//
//   pop3bench [--security=plain|starttls|tls] [--dump] HOST PORT USER PASSWORD
//
// POP3_CAFILE names a PEM file of certificates to trust besides the system's;
// with --security=tls the port is POP3S_PORT when that is set (the benchmark
// harness hands the plain port as PORT). Security maps to the component's
// address forms: plain -> pop3://host:port (STLS still taken when offered),
// starttls -> host:port, tls -> pop3s://host:port.
// Prints the wall time since start (and its parts), the message count and the
// header bytes. With --dump, one tab-separated line per message (number, the
// review list's From, Address, Subject, Date, Size, Content and # columns, the
// status flag) goes to stdout and the figures to stderr.
#include "pop3/job.h"
#include "pop3/session.h"
#include "review/core/friendmatcher.h"
#include "review/core/reviewitem.h"
#include "support/pausemeter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSslCertificate>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

// Tabs and line breaks would break the line-per-message format.
QString FlattenCell(QString text) {
    for (QChar& c : text) {
        if (c == u'\t' || c == u'\r' || c == u'\n' || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text;
}

QString Address(const QString& security, const QString& host, const QString& port) {
    const QString h = host.contains(u':') ? u'[' + host + u']' : host;
    if (security == u"plain")
        return QStringLiteral("pop3://%1:%2").arg(h, port);
    if (security == u"tls")
        return QStringLiteral("pop3s://%1:%2").arg(h, port);
    return QStringLiteral("%1:%2").arg(h, port);
}

struct Row {
    int number = 0;
    pop3::MessageStatus status = pop3::MessageStatus::Listed;
    qint64 headerBytes = 0;
    ReviewItem item;
};

// The whole run: connect, headers (rows made on the parser thread, as the
// check makes them), QUIT; each step starts on the previous one's end.
class Run : public QObject {
public:
    Run(pop3::SessionSettings settings, bool dump) : m_settings(std::move(settings)), m_dump(dump) {
        m_wall.start();
    }

    void start() {
        m_pauses.start();
        auto* connect = new pop3::ConnectJob(m_settings);
        QObject::connect(connect, &pop3::Job::finished, this, [this](const pop3::Failure& failure) {
            if (!fail("Connect", failure))
                headers();
        });
        m_setupNs = m_wall.nsecsElapsed();
        m_session.enqueue(connect);
    }

    int exitCode = 0;

private:
    void headers() {
        m_connectedNs = m_wall.nsecsElapsed();
        auto* job = new pop3::HeadersJob;
        job->setRowMaker(
            [friends = std::make_shared<const FriendMatcher>()](const pop3::Message& message, int number) {
                return QVariant::fromValue(MakeReviewItem(message, number, *friends));
            });
        QObject::connect(
            job, &pop3::HeadersJob::parsed, this, [this](const QList<pop3::ParsedMessage>& batch) {
                for (const pop3::ParsedMessage& parsed : batch)
                    m_rows.push_back(Row{parsed.number, parsed.message.MessageStatusFlag,
                                         parsed.message.Headers.size(), parsed.row.value<ReviewItem>()});
            });
        QObject::connect(job, &pop3::Job::finished, this, [this](const pop3::Failure& failure) {
            if (!fail("GetHeaders", failure))
                quit();
        });
        m_session.enqueue(job);
    }

    void quit() {
        m_headersNs = m_wall.nsecsElapsed();
        auto* job = new pop3::QuitJob;
        QObject::connect(job, &pop3::Job::finished, this, [this](const pop3::Failure& failure) {
            m_quitNs = m_wall.nsecsElapsed();
            report();
            fail("Disconnect", failure);
            QCoreApplication::exit(exitCode);
        });
        m_session.enqueue(job);
    }

    bool fail(const char* step, const pop3::Failure& failure) {
        if (failure.isOk())
            return false;
        std::fprintf(stderr, "pop3bench: %s failed with code %d %s %s\n", step,
                     pop3::ResultCode(failure.code), qPrintable(failure.words),
                     qPrintable(failure.serverReply));
        exitCode = 1;
        QCoreApplication::exit(1);
        return true;
    }

    void report() {
        qint64 headerBytes = 0;
        int failed = 0;
        QTextStream out(stdout);
        for (const Row& row : m_rows) {
            headerBytes += row.headerBytes;
            failed += row.status == pop3::MessageStatus::Downloaded ? 0 : 1;
            if (!m_dump)
                continue;
            out << row.number;
            for (const QString& text : row.item.texts)
                out << u'\t' << FlattenCell(text);
            out << u'\t' << static_cast<int>(row.status) << u'\n';
        }
        out.flush();
        const auto s = [](qint64 ns) { return double(ns) / 1e9; };
        FILE* figures = m_dump ? stderr : stdout;
        std::fprintf(figures,
                     "seconds %.3f (setup %.3f, connect %.3f, headers and rows %.3f, quit %.3f)\n"
                     "messages %d\nheader-bytes %lld\nlongest-pause-ms %.1f\n",
                     s(m_quitNs), s(m_setupNs), s(m_connectedNs - m_setupNs), s(m_headersNs - m_connectedNs),
                     s(m_quitNs - m_headersNs), static_cast<int>(m_rows.size()),
                     static_cast<long long>(headerBytes), m_pauses.longestMs());
        if (failed) {
            std::fprintf(figures, "headers-missing %d\n", failed);
            exitCode = 1;
        }
    }

    pop3::SessionSettings m_settings;
    const bool m_dump;
    pop3::Session m_session;
    PauseMeter m_pauses;
    QElapsedTimer m_wall;
    std::vector<Row> m_rows;
    qint64 m_setupNs = 0;
    qint64 m_connectedNs = 0;
    qint64 m_headersNs = 0;
    qint64 m_quitNs = 0;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Times a POP3 header download."));
    parser.addHelpOption();
    const QCommandLineOption securityOption(QStringLiteral("security"),
                                            QStringLiteral("plain, starttls (default) or tls."),
                                            QStringLiteral("mode"), QStringLiteral("starttls"));
    const QCommandLineOption dumpOption(QStringLiteral("dump"),
                                        QStringLiteral("Print one review-list row per message."));
    parser.addOption(securityOption);
    parser.addOption(dumpOption);
    parser.addPositionalArgument(QStringLiteral("host"), QStringLiteral("Server name or address."));
    parser.addPositionalArgument(QStringLiteral("port"), QStringLiteral("Server port."));
    parser.addPositionalArgument(QStringLiteral("user"), QStringLiteral("User name."));
    parser.addPositionalArgument(QStringLiteral("password"), QStringLiteral("Password."));
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    const QString security = parser.value(securityOption);
    if (args.size() != 4 || !(security == u"plain" || security == u"starttls" || security == u"tls")) {
        std::fputs(qPrintable(parser.helpText()), stderr);
        return 2;
    }
    QString port = args[1];
    if (security == u"tls" && qEnvironmentVariableIsSet("POP3S_PORT"))
        port = qEnvironmentVariable("POP3S_PORT");

    pop3::SessionSettings settings;
    settings.address = Address(security, args[0], port);
    settings.user = args[2];
    settings.password = args[3];
    settings.timeoutSeconds = 60;
    const QString caFile = qEnvironmentVariable("POP3_CAFILE");
    if (!caFile.isEmpty()) {
        settings.caCertificates = QSslCertificate::fromPath(caFile);
        if (settings.caCertificates.isEmpty()) {
            std::fprintf(stderr, "pop3bench: no certificate in %s\n", qPrintable(caFile));
            return 2;
        }
    }
    Run run(settings, parser.isSet(dumpOption));
    run.start();
    const int status = app.exec();
    return status != 0 ? status : run.exitCode;
}
