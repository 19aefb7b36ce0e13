// Sign-in without a keyring service and without a network: the password
// command, the 0600 secrets file, and what LoginSettings makes of each method.
#include "check/core/loginsettings.h"
#include "signin/oauthtokens.h"
#include "signin/passwordcommand.h"
#include "signin/secretstore.h"
#include "signin/signinconfig.h"
#include "store/extrasettings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

struct CommandResult {
    QString secret;
    QString failure;
};

std::optional<CommandResult> RunCommand(const QString& command, int timeoutSeconds) {
    QObject context;
    std::optional<CommandResult> result;
    signin::PasswordCommand::Run(command, timeoutSeconds, &context,
                                 [&result](const QString& secret, const QString& failure) {
                                     result = CommandResult{secret, failure};
                                 });
    (void)QTest::qWaitFor([&] { return result.has_value(); }, (timeoutSeconds + 10) * 1000);
    return result;
}

SecretStore::Outcome Wait(const std::function<void(SecretStore::Done)>& call) {
    std::optional<SecretStore::Outcome> outcome;
    call([&outcome](const SecretStore::Outcome& o) { outcome = o; });
    (void)QTest::qWaitFor([&] { return outcome.has_value(); }, 10000);
    return outcome.value_or(SecretStore::Outcome{});
}

struct Prepared {
    pop3::SessionSettings settings;
    QString failure;
    bool done = false;
};

Prepared Prepare(const AccountRecord& account, const QString& folder,
                 const LoginSettings::Options& options = {}) {
    QObject context;
    Prepared prepared;
    SettingsRecord settings;
    LoginSettings::Prepare(account, settings, folder, &context, options,
                           [&prepared](const pop3::SessionSettings& s, const QString& failure) {
                               prepared.settings = s;
                               prepared.failure = failure;
                               prepared.done = true;
                           });
    (void)QTest::qWaitFor([&] { return prepared.done; }, 20000);
    return prepared;
}

AccountRecord Account(const QString& password) {
    AccountRecord account;
    account.AccountName = QStringLiteral("Work");
    account.LoginName = QStringLiteral("me@example.org");
    account.LoginPassword = password;
    account.ServerAddress = QStringLiteral("pop.example.org");
    return account;
}

} // namespace

class SignInCoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(!SecretStore::KeyringAnswers(), "this test must run without a keyring service");
    }

    void passwordCommand_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("secret");
        QTest::addColumn<QString>("failure"); // a part of the failure text
        QTest::newRow("first line of output")
            << QStringLiteral("printf 'pa ss\\nsecond line\\n'") << QStringLiteral("pa ss") << QString();
        QTest::newRow("quoted arguments, no shell: a pipe is only a word")
            << QStringLiteral("echo \"a b\" | tr a x") << QStringLiteral("a b | tr a x") << QString();
        QTest::newRow("a shell when the user writes one")
            << QStringLiteral("sh -c 'echo secret | tr s S'") << QStringLiteral("Secret") << QString();
        QTest::newRow("a failing command's message")
            << QStringLiteral("sh -c 'echo vault is locked >&2; exit 3'") << QString()
            << QStringLiteral("failed (exit code 3). vault is locked");
        QTest::newRow("nothing printed")
            << QStringLiteral("true") << QString() << QStringLiteral("printed no password");
        QTest::newRow("no such program")
            << QStringLiteral("/nonexistent/passtool") << QString() << QStringLiteral("could not be started");
    }
    void passwordCommand() {
        QFETCH(QString, command);
        QFETCH(QString, secret);
        QFETCH(QString, failure);
        const std::optional<CommandResult> result = RunCommand(command, 10);
        QVERIFY(result);
        QCOMPARE(result->secret, secret);
        QVERIFY2(failure.isEmpty() ? result->failure.isEmpty() : result->failure.contains(failure),
                 qPrintable(result->failure));
    }

    void splitCommand_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("words"); // {"<none>"}: refused
        QTest::newRow("quotes and escapes")
            << QStringLiteral("pass show 'mail/my work' \"a \\\"b\\\" $c\" d\\ e")
            << QStringList{u"pass"_s, u"show"_s, u"mail/my work"_s, u"a \"b\" $c"_s, u"d e"_s};
        QTest::newRow("nothing is expanded")
            << QStringLiteral("echo $HOME ~ *") << QStringList{u"echo"_s, u"$HOME"_s, u"~"_s, u"*"_s};
        QTest::newRow("empty quotes are a word")
            << QStringLiteral("tool '' x") << QStringList{u"tool"_s, u""_s, u"x"_s};
        QTest::newRow("an open quote is refused") << QStringLiteral("tool 'x") << QStringList{u"<none>"_s};
    }
    void splitCommand() {
        QFETCH(QString, command);
        QFETCH(QStringList, words);
        const std::optional<QStringList> split = signin::PasswordCommand::SplitCommand(command);
        if (words == QStringList{u"<none>"_s})
            QVERIFY(!split);
        else
            QCOMPARE(split.value_or(QStringList{u"<none>"_s}), words);
    }

    void hangingCommandIsStopped() {
        QElapsedTimer timer;
        timer.start();
        const std::optional<CommandResult> result = RunCommand(QStringLiteral("sleep 30"), 1);
        QVERIFY(result);
        QVERIFY2(timer.elapsed() < 5000, QByteArray::number(timer.elapsed()));
        QVERIFY(result->secret.isEmpty());
        QVERIFY2(result->failure.contains(QStringLiteral("within 1 seconds and was stopped")),
                 qPrintable(result->failure));
    }

    // No keyring: the secrets file, 0600, one key removed leaves the others.
    void fileStoreWithoutKeyring() {
        QTemporaryDir dir;
        SecretStore store(dir.path());
        auto written = Wait([&](SecretStore::Done d) {
            store.write(QStringLiteral("a/password"), QStringLiteral("pw1"), d);
        });
        QVERIFY2(written.ok, qPrintable(written.error));
        QCOMPARE(written.where, SecretStore::Where::File);
        Wait([&](SecretStore::Done d) { store.write(QStringLiteral("b/oauth2"), QStringLiteral("{}"), d); });
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(store.filePath()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        const auto read = Wait([&](SecretStore::Done d) { store.read(QStringLiteral("a/password"), d); });
        QVERIFY(read.ok && read.found);
        QCOMPARE(read.value, QStringLiteral("pw1"));
        QVERIFY(Wait([&](SecretStore::Done d) { store.remove({QStringLiteral("a/password")}, d); }).ok);
        QVERIFY(!Wait([&](SecretStore::Done d) { store.read(QStringLiteral("a/password"), d); }).found);
        QVERIFY(Wait([&](SecretStore::Done d) { store.read(QStringLiteral("b/oauth2"), d); }).found);
        // Nothing but the file: no temporary left beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{SecretStore::FileName()});
    }

    // What Prepare sends for each way an account keeps its secret.
    void prepare_data() {
        QTest::addColumn<QString>("method");   // password, keyring, command, command-token
        QTest::addColumn<QString>("stored");   // Acc.dat's LoginPassword
        QTest::addColumn<QString>("kept");     // in the secrets file under the account's id
        QTest::addColumn<QString>("password"); // what goes out as the password
        QTest::addColumn<QString>("token");    // what goes out as a token
        QTest::addColumn<QString>("failure");  // a part of the failure text
        const QString marker = signin::PasswordMarker(signin::Method::Password);
        QTest::newRow("an older Acc.dat: its clear-text password is used as it is")
            << u"password"_s << u"old-secret"_s << QString() << u"old-secret"_s << QString() << QString();
        QTest::newRow("password in the keyring: Acc.dat's marker is never sent")
            << u"keyring"_s << marker << u"kept-secret"_s << u"kept-secret"_s << QString() << QString();
        QTest::newRow("marker without a kept password: a failure, no login with the marker")
            << u"keyring"_s << marker << QString() << QString() << QString()
            << u"Tidemarsh.secrets does not hold it"_s;
        QTest::newRow("marker while Tidemarsh.ini says nothing: still never sent")
            << u"password"_s << marker << QString() << QString() << QString() << u"no longer says where"_s;
        QTest::newRow("password command") << u"command"_s << signin::PasswordMarker(signin::Method::Command)
                                          << QString() << u"from-command"_s << QString() << QString();
        QTest::newRow("token command")
            << u"command-token"_s << signin::PasswordMarker(signin::Method::Command) << QString() << QString()
            << u"from-command"_s << QString();
    }
    void prepare() {
        QFETCH(QString, method);
        QFETCH(QString, stored);
        QFETCH(QString, kept);
        QFETCH(QString, password);
        QFETCH(QString, token);
        QFETCH(QString, failure);
        QTemporaryDir dir;
        signin::Config config;
        config.secretId = QStringLiteral("id-1");
        config.keepInKeyring = method == QLatin1String("keyring");
        if (method.startsWith(QLatin1String("command"))) {
            config.method = signin::Method::Command;
            config.command = QStringLiteral("echo from-command");
            config.commandGivesToken = method == QLatin1String("command-token");
        }
        if (method != QLatin1String("password"))
            QVERIFY(config.save(ExtraSettings(dir.path()), QStringLiteral("Work")));
        if (!kept.isEmpty()) {
            SecretStore store(dir.path());
            QVERIFY(Wait([&](SecretStore::Done d) {
                        store.write(signin::PasswordKey(config.secretId), kept, d);
                    }).ok);
        }
        const Prepared prepared = Prepare(Account(stored), dir.path());
        QVERIFY(prepared.done);
        QVERIFY2(failure.isEmpty() ? prepared.failure.isEmpty() : prepared.failure.contains(failure),
                 qPrintable(prepared.failure));
        if (!failure.isEmpty())
            return;
        QCOMPARE(prepared.settings.password, password);
        QCOMPARE(prepared.settings.accessToken, token);
        QCOMPARE(prepared.settings.tokenMechanism,
                 token.isEmpty() ? pop3::TokenMechanism::None : pop3::TokenMechanism::Auto);
        QVERIFY(!signin::IsPasswordMarker(prepared.settings.password));
    }

    // OAuth2: a kept token with time left goes out as it is; none, and no one
    // to ask (a background login), says a sign-in is needed, without a browser.
    void oauthKeptTokenAndBackgroundLogin() {
        QTemporaryDir dir;
        signin::Config config;
        config.method = signin::Method::OAuth2;
        config.provider = signin::Provider::Other;
        config.clientId = QStringLiteral("client-1");
        config.authorizationUrl = QStringLiteral("http://127.0.0.1:9/authorize");
        config.tokenUrl = QStringLiteral("http://127.0.0.1:9/token");
        config.scope = QStringLiteral("mail");
        config.secretId = QStringLiteral("id-2");
        QVERIFY(config.save(ExtraSettings(dir.path()), QStringLiteral("Work")));
        const AccountRecord account = Account(signin::PasswordMarker(signin::Method::OAuth2));

        const Prepared none = Prepare(account, dir.path());
        QVERIFY(LoginSettings::IsSignInNeeded(none.failure));

        signin::Tokens tokens;
        tokens.accessToken = QStringLiteral("access-1");
        tokens.refreshToken = QStringLiteral("refresh-1");
        tokens.expiresAt = QDateTime::currentDateTimeUtc().addSecs(3600);
        tokens.clientId = config.clientId;
        tokens.tokenUrl = config.tokenUrl;
        SecretStore store(dir.path());
        QVERIFY(Wait([&](SecretStore::Done d) {
                    store.write(signin::TokensKey(config.secretId), tokens.toJson(), d);
                }).ok);
        const Prepared kept = Prepare(account, dir.path());
        QVERIFY2(kept.failure.isEmpty(), qPrintable(kept.failure));
        QCOMPARE(kept.settings.accessToken, QStringLiteral("access-1"));
        QVERIFY(kept.settings.password.isEmpty());

        // Tokens of another registration are never sent to this one.
        config.clientId = QStringLiteral("client-2");
        QVERIFY(config.save(ExtraSettings(dir.path()), QStringLiteral("Work")));
        QVERIFY(LoginSettings::IsSignInNeeded(Prepare(account, dir.path()).failure));
    }
};

QTEST_GUILESS_MAIN(SignInCoreTest)
#include "signincoretest.moc"
