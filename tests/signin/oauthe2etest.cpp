// OAuth2 for real: the test identity provider, Dovecot asking its
// introspection endpoint, and the browser being the script on PATH that the
// program's hand-off finds (xdg-open). The editor's Test and Check Mail run as
// the user runs them; only the message boxes are answered through their seam.
#include "accounts/accounteditor.h"
#include "common/messagebox.h"
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"
#include "shell/commandbars.h"
#include "signin/secretstore.h"
#include "signin/signinconfig.h"
#include "store/accountstore.h"
#include "store/extrasettings.h"
#include "support/dialogfixture.h"
#include "support/mailserver/testmailserver.h"
#include "support/mainwindowfixture.h"
#include "support/modalhelper.h"
#include "support/pop3proxy.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <memory>

using namespace Qt::StringLiterals;
using testsupport::Child;

namespace {

const QString kClientId = u"tidemarsh-test-client"_s;

QByteArray Mail(int number) {
    return u"From: sender%1@example.org\r\nTo: me@example.org\r\nSubject: message %1\r\n\r\nHello.\r\n"_s
        .arg(number)
        .toUtf8();
}

// The provider's control endpoints and its counters.
class Provider {
public:
    explicit Provider(quint16 port) : m_base(u"http://127.0.0.1:%1"_s.arg(port)) {}
    QString url(const QString& path) const { return m_base + path; }
    QJsonObject stats() { return QJsonDocument::fromJson(call(false, u"/control/stats"_s)).object(); }
    int count(const char* key) { return stats().value(QLatin1String(key)).toInt(); }
    void set(const QString& query) { call(true, u"/control/set?"_s + query); }

private:
    QByteArray call(bool post, const QString& path) {
        QNetworkRequest request{QUrl(m_base + path)};
        request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/x-www-form-urlencoded"_s);
        QNetworkReply* reply = post ? m_network.post(request, QByteArray()) : m_network.get(request);
        (void)QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000);
        const QByteArray body = reply->readAll();
        reply->deleteLater();
        return body;
    }
    QString m_base;
    QNetworkAccessManager m_network;
};

// What the account's tokens look like in the secrets file (no keyring here).
bool TokensKept(const QString& folder) {
    QFile file(QDir(folder).filePath(SecretStore::FileName()));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject all = QJsonDocument::fromJson(file.readAll()).object();
    for (const QString& key : all.keys())
        if (key.endsWith(u"/oauth2"_s))
            return true;
    return false;
}

int BrowserOpenings() {
    QFile log(qEnvironmentVariable("TIDEMARSH_BROWSER_LOG"));
    if (!log.open(QIODevice::ReadOnly))
        return 0;
    return static_cast<int>(log.readAll().count('\n'));
}

} // namespace

class OAuthE2eTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestMailServer> m_server;
    std::unique_ptr<Provider> m_provider;
    testsupport::MessageBoxCapture m_boxes;
    QTemporaryDir m_scratch;

    signin::Config config() const {
        signin::Config config;
        config.method = signin::Method::OAuth2;
        config.provider = signin::Provider::Other;
        config.clientId = kClientId;
        config.authorizationUrl = m_provider->url(u"/authorize"_s);
        config.tokenUrl = m_provider->url(u"/token"_s);
        config.scope = u"mail"_s;
        return config;
    }

    // Fills the editor as a user would: the details, then the sign-in group.
    void fillEditor(AccountEditor& editor, const QString& user, const QString& server) {
        Child<QLineEdit>(&editor, "txtAccount")->setText(u"Mail"_s);
        Child<QLineEdit>(&editor, "txtLogin")->setText(user);
        Child<QLineEdit>(&editor, "txtServer")->setText(server);
        Child<QComboBox>(&editor, "cboSignIn")->setCurrentIndex(1);
        Child<QComboBox>(&editor, "cboProvider")->setCurrentIndex(2);
        Child<QLineEdit>(&editor, "txtClientId")->setText(kClientId);
        Child<QLineEdit>(&editor, "txtAuthorizationUrl")->setText(m_provider->url(u"/authorize"_s));
        Child<QLineEdit>(&editor, "txtTokenUrl")->setText(m_provider->url(u"/token"_s));
        Child<QLineEdit>(&editor, "txtScope")->setText(u"mail"_s);
    }

    // The editor's Test; returns the text of its last message box.
    QString runTest(AccountEditor& editor, int boxes) {
        m_boxes.clear();
        QPushButton* test = Child<QPushButton>(&editor, "cmdTest");
        if (!test->isEnabled())
            return u"Test is disabled"_s;
        test->click();
        if (!QTest::qWaitFor([&] { return m_boxes.size() >= boxes && !editor.tester().isRunning(); }, 60000))
            return u"no answer"_s;
        return m_boxes.last().text;
    }

    // A program folder with one OAuth2 account on the fixture's Dovecot.
    void writeAccount(const QString& folder, const QString& user) {
        AccountRecord record;
        record.AccountName = u"Mail"_s;
        record.LoginName = user;
        record.LoginPassword = signin::PasswordMarker(signin::Method::OAuth2);
        record.ServerAddress = u"pop3s://127.0.0.1:%1"_s.arg(m_server->pop3sPort());
        record.LastChecked = u"N/A"_s;
        AccountStore(folder).WriteAccount(1, record);
        signin::Config account = config();
        account.ensureSecretId();
        QVERIFY(account.save(ExtraSettings(folder), record.AccountName));
        QFile::copy(m_server->caFile(), QDir(folder).filePath(u"Certificates.pem"_s));
    }

    // Check Mail in the real main window; the number of messages listed.
    int checkMail(testsupport::MainWindowFixture& app, QString* error = nullptr) {
        QString shown;
        WhenModal(u"frmError"_s, [&shown](QWidget* dialog) {
            shown = Child<QPlainTextEdit>(dialog, "txtError")->toPlainText();
            dialog->close();
        });
        app->action(Command::CheckMail)->trigger();
        if (!QTest::qWaitFor([&] { return !app->isWorking(); }, 120000))
            return -2;
        (void)QTest::qWaitFor([&] { return !shown.isEmpty(); }, 300);
        if (error)
            *error = shown;
        return shown.isEmpty() ? app->review().model()->rowCount() : -1;
    }

private Q_SLOTS:
    void initTestCase() {
        QSettings ini(qEnvironmentVariable("TIDEMARSH_OAUTH_INI"), QSettings::IniFormat);
        const quint16 port = static_cast<quint16>(ini.value(u"idp/port"_s).toUInt());
        m_server = std::make_unique<TestMailServer>();
        TIDEMARSH_REQUIRE_MAILSERVER(*m_server);
        QVERIFY2(port != 0, "the identity provider is not running");
        m_provider = std::make_unique<Provider>(port);
        QVERIFY(!SecretStore::KeyringAnswers());
        qputenv("TIDEMARSH_BROWSER_LOG", m_scratch.filePath(u"browser.log"_s).toLocal8Bit());
        m_boxes.start();
    }
    void cleanupTestCase() { m_boxes.stop(); }

    // The first sign-in, from the editor's Test, with the mechanism the server
    // lists: OAUTHBEARER from Dovecot, XOAUTH2 when a proxy hides OAUTHBEARER.
    void firstSignIn_data() {
        QTest::addColumn<bool>("hideOAuthBearer");
        QTest::addColumn<QString>("mechanism");
        QTest::newRow("OAUTHBEARER") << false << u"signed in with OAuth2 (OAUTHBEARER)"_s;
        QTest::newRow("XOAUTH2") << true << u"signed in with OAuth2 (XOAUTH2)"_s;
    }
    void firstSignIn() {
        QFETCH(bool, hideOAuthBearer);
        QFETCH(QString, mechanism);
        TestMailbox box = m_server->createMailbox();
        QVERIFY(box.addMessages({Mail(1), Mail(2)}));
        Pop3Proxy proxy(m_server->host(), m_server->pop3Port());
        proxy.setHideStls(true);
        proxy.setHiddenSasl("OAUTHBEARER");
        QVERIFY(proxy.listen());
        const QString server = hideOAuthBearer ? u"pop3://127.0.0.1:%1"_s.arg(proxy.port())
                                               : u"pop3s://127.0.0.1:%1"_s.arg(m_server->pop3sPort());
        QTemporaryDir dir;
        AppState state;
        state.ProgramFolder = dir.path() + u'/';
        QTreeWidget list;
        QPushButton edit, del;
        AccountEditor editor(state, 0, &list, &edit, &del, nullptr);
        editor.tester().addCaCertificates(QSslCertificate::fromPath(m_server->caFile()));
        editor.show();
        fillEditor(editor, box.user(), server);
        const int opened = BrowserOpenings();
        QElapsedTimer timer;
        timer.start();
        const QString text = runTest(editor, 2);
        qInfo("the Test with a sign-in in the browser took %lld ms", timer.elapsed());
        QCOMPARE(m_boxes.first().title, u"Sign In"_s);
        QVERIFY2(m_boxes.first().text.contains(u"Sign in to Mail in your browser"_s),
                 qPrintable(m_boxes.first().text));
        QVERIFY2(text.contains(mechanism) && text.contains(u"2 messages are waiting"_s), qPrintable(text));
        QCOMPARE(BrowserOpenings(), opened + 1);
        QVERIFY(TokensKept(dir.path()));

        // OK: Acc.dat holds the marker, never a token; the tokens stay for Check Mail.
        Child<QPushButton>(&editor, "cmdOK")->click();
        QTRY_VERIFY(!editor.isVisible());
        const AccountRecord stored = AccountStore(dir.path()).ReadAccount(1);
        QCOMPARE(stored.LoginPassword.trimmed(), signin::PasswordMarker(signin::Method::OAuth2));
        QVERIFY(TokensKept(dir.path()));
    }

    // A check lists the mailbox after one sign-in; an expired access token is
    // renewed without the browser; a revoked refresh token asks once and says
    // why; a token the server refuses gets one new sign-in, never a loop.
    void checkMailAcrossRenewals() {
        TestMailbox box = m_server->createMailbox();
        QVERIFY(box.addMessages({Mail(1), Mail(2), Mail(3)}));
        testsupport::MainWindowFixture app;
        writeAccount(app.path(), box.user());
        QVERIFY(app.startAndActivate(10000));
        app.state().Settings.CheckDonePromptOff = 1;
        // Shorter than the program's renewal margin: the next check renews it,
        // while the provider still accepts it for the login right after the sign-in.
        m_provider->set(u"expires_in=100"_s);
        const int authorized = m_provider->count("authorize");
        const int opened = BrowserOpenings();

        m_boxes.clear();
        QCOMPARE(checkMail(app), 3);
        QCOMPARE(m_boxes.size(), 1); // the question before the browser
        QCOMPARE(BrowserOpenings(), opened + 1);

        const int renewed = m_provider->count("refresh_grants");
        m_boxes.clear();
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(checkMail(app), 3);
        qInfo("a check that renewed the access token took %lld ms", timer.elapsed());
        QCOMPARE(m_boxes.size(), 0);
        QCOMPARE(m_provider->count("refresh_grants"), renewed + 1);
        QCOMPARE(BrowserOpenings(), opened + 1);

        m_provider->set(u"revoke="_s + box.user());
        m_boxes.clear();
        QCOMPARE(checkMail(app), 3);
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().text.contains(u"The refresh token was revoked."_s),
                 qPrintable(m_boxes.first().text));
        QCOMPARE(m_provider->count("authorize"), authorized + 2);

        m_provider->set(u"expires_in=3600"_s);
        m_provider->set(u"deny="_s + box.user());
        m_boxes.clear();
        QString error;
        QCOMPARE(checkMail(app, &error), -1);
        QCOMPARE(m_boxes.size(), 1); // one new sign-in, then the refusal is reported
        QVERIFY2(m_boxes.first().text.contains(u"The server refused the access token."_s),
                 qPrintable(m_boxes.first().text));
        QCOMPARE(m_provider->count("authorize"), authorized + 3);
        QVERIFY2(error.contains(u"4"_s) && error.contains(u"refused the OAuth2 access token"_s),
                 qPrintable(error));
        m_provider->set(u"allow="_s + box.user());
    }

    // The provider's or the browser's answer is not what this sign-in asked
    // for: refused, said so, and nothing kept.
    void refusedSignIn_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("said");
        QTest::newRow("wrong PKCE verifier") << u"corrupt_challenge=1"_s << u"PKCE verification failed"_s;
        QTest::newRow("state mismatch") << u"tamper_state=1"_s << u"its state did not match"_s;
    }
    void refusedSignIn() {
        QFETCH(QString, fault);
        QFETCH(QString, said);
        TestMailbox box = m_server->createMailbox();
        QTemporaryDir dir;
        AppState state;
        state.ProgramFolder = dir.path() + u'/';
        QTreeWidget list;
        QPushButton edit, del;
        AccountEditor editor(state, 0, &list, &edit, &del, nullptr);
        editor.tester().addCaCertificates(QSslCertificate::fromPath(m_server->caFile()));
        editor.show();
        fillEditor(editor, box.user(), u"pop3s://127.0.0.1:%1"_s.arg(m_server->pop3sPort()));
        const int granted = m_provider->count("code_grants");
        m_provider->set(fault);
        const QString text = runTest(editor, 2);
        QVERIFY2(text.contains(said), qPrintable(text));
        QVERIFY(!TokensKept(dir.path()));
        QCOMPARE(m_provider->count("code_grants"), granted);
    }
};

QTEST_MAIN(OAuthE2eTest)
#include "oauthe2etest.moc"
