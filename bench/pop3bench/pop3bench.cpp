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
#include "pop3/pop3client.h"
#include "review/core/friendmatcher.h"
#include "review/core/reviewitem.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSslCertificate>
#include <QTextStream>

#include <cstdio>

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

int Fail(const char* step, pop3::Result result, const pop3::Client& client) {
    std::fprintf(stderr, "pop3bench: %s failed with code %d %s\n", step, pop3::ResultCode(result),
                 qPrintable(client.lastServerReply()));
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    QElapsedTimer wall;
    wall.start();
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

    pop3::Client client;
    client.setHostName(Address(security, args[0], port));
    client.setUserName(args[2]);
    client.setPassword(args[3]);
    client.setTimeoutSeconds(60);
    const QString caFile = qEnvironmentVariable("POP3_CAFILE");
    if (!caFile.isEmpty()) {
        const QList<QSslCertificate> cas = QSslCertificate::fromPath(caFile);
        if (cas.isEmpty()) {
            std::fprintf(stderr, "pop3bench: no certificate in %s\n", qPrintable(caFile));
            return 2;
        }
        client.addCaCertificates(cas);
    }

    const qint64 setupNs = wall.nsecsElapsed();
    if (const pop3::Result code = client.Connect(); code != pop3::Result::Ok)
        return Fail("Connect", code, client);
    const qint64 connectedNs = wall.nsecsElapsed();
    if (const pop3::Result code = client.GetHeaders(); code != pop3::Result::Ok)
        return Fail("GetHeaders", code, client);
    const qint64 headersNs = wall.nsecsElapsed();
    const pop3::Result disconnected = client.Disconnect();
    const qint64 quitNs = wall.nsecsElapsed();

    qint64 headerBytes = 0;
    int failed = 0;
    QTextStream out(stdout);
    const bool dump = parser.isSet(dumpOption);
    const FriendMatcher noFriends;
    for (int n = 1; n <= client.Count(); ++n) {
        const pop3::Message& message = client.Item(n);
        headerBytes += message.Headers.size();
        failed += message.MessageStatusFlag == pop3::MessageStatus::Downloaded ? 0 : 1;
        if (!dump)
            continue;
        const ReviewItem row = MakeReviewItem(message, n, noFriends);
        out << n;
        for (const QString& text : row.texts)
            out << u'\t' << FlattenCell(text);
        out << u'\t' << static_cast<int>(message.MessageStatusFlag) << u'\n';
    }
    out.flush();
    const qint64 endNs = wall.nsecsElapsed();

    // The rows are part of the cost: the check cycle builds one per message, as here.
    const auto s = [](qint64 ns) { return double(ns) / 1e9; };
    FILE* figures = dump ? stderr : stdout;
    std::fprintf(figures,
                 "seconds %.3f (setup %.3f, connect %.3f, headers %.3f, quit %.3f, rows %.3f)\n"
                 "messages %d\nheader-bytes %lld\n",
                 s(endNs), s(setupNs), s(connectedNs - setupNs), s(headersNs - connectedNs),
                 s(quitNs - headersNs), s(endNs - quitNs), client.Count(),
                 static_cast<long long>(headerBytes));
    if (failed)
        std::fprintf(figures, "headers-missing %d\n", failed);
    if (disconnected != pop3::Result::Ok)
        return Fail("Disconnect", disconnected, client);
    return failed ? 1 : 0;
}
