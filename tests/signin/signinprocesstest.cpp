// The real program as its own process, nothing injected: an account that
// signs in with OAuth2, Check Mail from the keyboard, the sign-in question
// answered with Enter, the browser being the script on PATH. Then a later
// check renews the expired access token without asking, and Acc.dat never
// holds a secret.
#include "signin/signinconfig.h"
#include "store/accountstore.h"
#include "store/extrasettings.h"
#include "store/settingsstore.h"
#include "support/mailserver/testmailserver.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

std::optional<QString> Xdotool(const QStringList& arguments) {
    QProcess tool;
    tool.start(u"xdotool"_s, arguments);
    if (!tool.waitForFinished(20000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

QString FindWindow(qint64 pid, const QString& title) {
    return Xdotool({u"search"_s, u"--all"_s, u"--onlyvisible"_s, u"--pid"_s, QString::number(pid),
                    u"--name"_s, u'^' + title + u'$'})
        .value_or(QString())
        .section(u'\n', 0, 0);
}

QString WaitForWindow(qint64 pid, const QString& title, int timeoutMs) {
    QString id;
    (void)QTest::qWaitFor([&] { return !(id = FindWindow(pid, title)).isEmpty(); }, timeoutMs);
    return id;
}

// The window takes the keyboard, then the key goes to it, only once the window
// manager says that window is the active one (a key sent a moment early would
// reach another window). Retried: a window may be mapped before it can take
// the focus.
bool KeyTo(const QString& window, const QString& key) {
    return QTest::qWaitFor(
        [&] {
            return Xdotool({u"windowactivate"_s, u"--sync"_s, window}).has_value() &&
                   Xdotool({u"getactivewindow"_s}).value_or(QString()) == window &&
                   Xdotool({u"key"_s, key}).has_value();
        },
        20000);
}

// Enter on the question until it has gone.
bool AnswerQuestion(qint64 pid) {
    return QTest::qWaitFor(
        [&] {
            const QString question = FindWindow(pid, u"Sign In"_s);
            if (question.isEmpty())
                return true;
            KeyTo(question, u"Return"_s);
            return QTest::qWaitFor([&] { return FindWindow(pid, u"Sign In"_s).isEmpty(); }, 2000);
        },
        30000);
}

QJsonObject ProviderStats(quint16 port) {
    QNetworkAccessManager network;
    QNetworkReply* reply =
        network.get(QNetworkRequest(QUrl(u"http://127.0.0.1:%1/control/stats"_s.arg(port))));
    (void)QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000);
    const QJsonObject stats = QJsonDocument::fromJson(reply->readAll()).object();
    delete reply;
    return stats;
}

void SetProvider(quint16 port, const QString& query) {
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(u"http://127.0.0.1:%1/control/set?%2"_s.arg(port).arg(query)));
    QNetworkReply* reply = network.post(request, QByteArray());
    (void)QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000);
    delete reply;
}

} // namespace

class SignInProcessTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void checkMailSignsInOnceThenRenews() {
        TestMailServer server;
        TIDEMARSH_REQUIRE_MAILSERVER(server);
        const QSettings ini(qEnvironmentVariable("TIDEMARSH_OAUTH_INI"), QSettings::IniFormat);
        const quint16 idp = static_cast<quint16>(ini.value(u"idp/port"_s).toUInt());
        QVERIFY(idp != 0);
        TestMailbox box = server.createMailbox();
        QVERIFY(box.addMessages({"From: a@example.org\r\nSubject: one\r\n\r\nx\r\n",
                                 "From: b@example.org\r\nSubject: two\r\n\r\ny\r\n"}));

        QTemporaryDir dir;
        const QString exe = QDir(dir.path()).filePath(u"tidemarsh"_s);
        QVERIFY(QFile::copy(qEnvironmentVariable("TIDEMARSH_EXE"), exe));
        QVERIFY(QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QFile::copy(server.caFile(), dir.filePath(u"Certificates.pem"_s)));
        AccountRecord record;
        record.AccountName = u"Mail"_s;
        record.LoginName = box.user();
        record.LoginPassword = signin::PasswordMarker(signin::Method::OAuth2);
        record.ServerAddress = u"pop3s://127.0.0.1:%1"_s.arg(server.pop3sPort());
        record.LastChecked = u"N/A"_s;
        AccountStore(dir.path()).WriteAccount(1, record);
        signin::Config config;
        config.method = signin::Method::OAuth2;
        config.provider = signin::Provider::Other;
        config.clientId = u"tidemarsh-process-test"_s;
        config.authorizationUrl = u"http://127.0.0.1:%1/authorize"_s.arg(idp);
        config.tokenUrl = u"http://127.0.0.1:%1/token"_s.arg(idp);
        config.scope = u"mail"_s;
        config.ensureSecretId();
        QVERIFY(config.save(ExtraSettings(dir.path()), record.AccountName));
        SettingsRecord settings;
        settings.CheckDonePromptOff = 1;
        SettingsStore(dir.path()).SaveSettings(settings);
        // Shorter than the program's renewal margin: the next check renews the
        // token, which the provider still accepts for the login right after the sign-in.
        SetProvider(idp, u"expires_in=100"_s);
        const int authorized = ProviderStats(idp).value(u"authorize"_s).toInt();

        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(exe, {});
        QVERIFY(program.waitForStarted());
        const QString main = WaitForWindow(program.processId(), u"QUILLORE Tidemarsh"_s, 90000);
        QVERIFY2(!main.isEmpty(), "the main window did not come up");

        QVERIFY(KeyTo(main, u"F5"_s));
        const QString question = WaitForWindow(program.processId(), u"Sign In"_s, 60000);
        QVERIFY2(!question.isEmpty(), "no question before the browser");
        QVERIFY2(AnswerQuestion(program.processId()), "the question did not take Enter");
        const AccountStore store(dir.path());
        QVERIFY2(QTest::qWaitFor([&] { return store.ReadAccount(1).TotalMessages == 2; }, 60000),
                 "the check did not list the two messages");
        QCOMPARE(ProviderStats(idp).value(u"authorize"_s).toInt(), authorized + 1);

        // The access token is about to expire: renewed, no question, no browser.
        QVERIFY(KeyTo(main, u"F5"_s));
        QVERIFY2(QTest::qWaitFor([&] { return store.ReadAccount(1).TotalMessages == 4; }, 60000),
                 "the second check did not list the messages");
        QVERIFY(FindWindow(program.processId(), u"Sign In"_s).isEmpty());
        QCOMPARE(ProviderStats(idp).value(u"authorize"_s).toInt(), authorized + 1);
        QVERIFY(ProviderStats(idp).value(u"refresh_grants"_s).toInt() >= 1);

        // No secret in Acc.dat; the tokens are in the 0600 file beside it.
        QCOMPARE(store.ReadAccount(1).LoginPassword.trimmed(),
                 signin::PasswordMarker(signin::Method::OAuth2));
        QFile secrets(dir.filePath(u"Tidemarsh.secrets"_s));
        QVERIFY(secrets.open(QIODevice::ReadOnly));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(secrets.fileName()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
        const QJsonObject kept = QJsonDocument::fromJson(secrets.readAll()).object();
        QVERIFY(kept.contains(signin::TokensKey(config.secretId)));
        QFile acc(store.filePath());
        QVERIFY(acc.open(QIODevice::ReadOnly));
        const QByteArray accBytes = acc.readAll();
        QVERIFY(!accBytes.contains("at/") && !accBytes.contains("rt/"));

        program.terminate();
        QVERIFY(program.waitForFinished(30000));
        SetProvider(idp, u"expires_in=3600"_s);
    }
};

QTEST_GUILESS_MAIN(SignInProcessTest)
#include "signinprocesstest.moc"
