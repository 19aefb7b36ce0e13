// The system keyring for real: gnome-keyring on a private session bus
// (run-with-keyring.sh). A password kept there never reaches Acc.dat, is read
// back for the login, is named by the editor's Test, and goes with the account.
// Against the same Dovecot: the Test with a password command.
#include "accounts/accounteditor.h"
#include "accounts/accountssetupdialog.h"
#include "check/core/loginsettings.h"
#include "common/messagebox.h"
#include "signin/secretstore.h"
#include "signin/signinconfig.h"
#include "store/accountstore.h"
#include "store/extrasettings.h"
#include "support/dialogfixture.h"
#include "support/mailserver/testmailserver.h"
#include "support/modalhelper.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <optional>

using namespace Qt::StringLiterals;
using testsupport::Child;

namespace {

SecretStore::Outcome Read(const QString& folder, const QString& key) {
    SecretStore store(folder);
    std::optional<SecretStore::Outcome> outcome;
    store.read(key, [&outcome](const SecretStore::Outcome& o) { outcome = o; });
    (void)QTest::qWaitFor([&] { return outcome.has_value(); }, 10000);
    return outcome.value_or(SecretStore::Outcome{});
}

// What the keyring itself holds, asked without Tidemarsh: secret-tool.
QString KeyringLookup(const QString& key) {
    QProcess tool;
    tool.start(u"secret-tool"_s, {u"lookup"_s, u"user"_s, key, u"server"_s, u"Tidemarsh"_s});
    tool.waitForFinished(10000);
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

QString SecretIdOf(const QString& folder, const QString& account) {
    return signin::Config::Load(ExtraSettings(folder), account).secretId;
}

} // namespace

class KeyringTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestMailServer> m_server;
    testsupport::MessageBoxCapture m_boxes;

    // A new account through the editor, as typed; the keyring box as it opens.
    void addAccount(AppState& state, QTreeWidget& list, QPushButton& edit, QPushButton& del,
                    const QString& name, const TestMailbox& box, bool* keyringTicked) {
        AccountEditor editor(state, 0, &list, &edit, &del, nullptr);
        editor.show();
        *keyringTicked = Child<QCheckBox>(&editor, "chkKeyring")->isChecked();
        Child<QLineEdit>(&editor, "txtAccount")->setText(name);
        Child<QLineEdit>(&editor, "txtLogin")->setText(box.user());
        Child<QLineEdit>(&editor, "txtPassword")->setText(box.password());
        Child<QLineEdit>(&editor, "txtServer")->setText(u"pop3s://127.0.0.1:%1"_s.arg(m_server->pop3sPort()));
        Child<QPushButton>(&editor, "cmdOK")->click();
        QTRY_VERIFY(!editor.isVisible());
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(SecretStore::KeyringAnswers(), "run this test through run-with-keyring.sh");
        m_server = std::make_unique<TestMailServer>();
        TIDEMARSH_REQUIRE_MAILSERVER(*m_server);
        m_boxes.start();
    }
    void cleanupTestCase() { m_boxes.stop(); }

    // Written and read back through the keyring; no file beside Acc.dat.
    void storeAndReadBack() {
        QTemporaryDir dir;
        SecretStore store(dir.path());
        std::optional<SecretStore::Outcome> written;
        store.write(u"k-1/password"_s, u"s3cret"_s,
                    [&written](const SecretStore::Outcome& o) { written = o; });
        QTRY_VERIFY(written.has_value());
        QVERIFY2(written->ok, qPrintable(written->error));
        QCOMPARE(written->where, SecretStore::Where::Keyring);
        const SecretStore::Outcome read = Read(dir.path(), u"k-1/password"_s);
        QVERIFY(read.ok && read.found);
        QCOMPARE(read.value, u"s3cret"_s);
        QCOMPARE(KeyringLookup(u"k-1/password"_s), u"s3cret"_s);
        QVERIFY(!QFile::exists(store.filePath()));
    }

    // The editor keeps a new account's password in the keyring (ticked by
    // default here); Acc.dat holds only the marker; the Test and a login use
    // the kept password and say where it came from; Delete removes it.
    void accountLifecycle() {
        TestMailbox box = m_server->createMailbox();
        QTemporaryDir dir;
        AppState state;
        state.ProgramFolder = dir.path() + u'/';
        QTreeWidget list;
        QPushButton edit, del;
        bool ticked = false;
        addAccount(state, list, edit, del, u"Kept"_s, box, &ticked);
        QVERIFY(ticked);
        addAccount(state, list, edit, del, u"Other"_s, box, &ticked);

        QFile acc(dir.filePath(u"Acc.dat"_s));
        QVERIFY(acc.open(QIODevice::ReadOnly));
        const QByteArray bytes = acc.readAll();
        QCOMPARE(bytes.size(), 2 * 328);
        QVERIFY(!bytes.contains(box.password().toUtf8()));
        const AccountRecord record = AccountStore(dir.path()).ReadAccount(1);
        QCOMPARE(record.LoginPassword.trimmed(), signin::PasswordMarker(signin::Method::Password));
        const QString id = SecretIdOf(dir.path(), u"Kept"_s);
        QCOMPARE(KeyringLookup(signin::PasswordKey(id)), box.password());

        // The Test, reopened on the stored account with an empty password box.
        {
            AccountEditor editor(state, 1, &list, &edit, &del, nullptr);
            editor.tester().addCaCertificates(QSslCertificate::fromPath(m_server->caFile()));
            editor.show();
            QVERIFY(Child<QLineEdit>(&editor, "txtPassword")->text().isEmpty());
            QVERIFY(Child<QPushButton>(&editor, "cmdOK")->isEnabled());
            m_boxes.clear();
            Child<QPushButton>(&editor, "cmdTest")->click();
            QTRY_VERIFY_WITH_TIMEOUT(!m_boxes.isEmpty(), 60000);
            QVERIFY2(m_boxes.last().text.contains(
                         u"logged in with SASL PLAIN, the password from the system keyring"_s),
                     qPrintable(m_boxes.last().text));
        }

        AccountsSetupDialog setup(state, nullptr);
        setup.show();
        QTreeWidget* rows = Child<QTreeWidget>(&setup, "ListView1");
        rows->setCurrentItem(rows->topLevelItem(0));
        Child<QPushButton>(&setup, "cmdDelete")->click();
        QTRY_VERIFY_WITH_TIMEOUT(KeyringLookup(signin::PasswordKey(id)).isEmpty(), 10000);
        QVERIFY(!Read(dir.path(), signin::PasswordKey(id)).found);
        // The other account's password stays.
        QCOMPARE(KeyringLookup(signin::PasswordKey(SecretIdOf(dir.path(), u"Other"_s))), box.password());
    }

    // The Test with a password command: its output is the password, and the Test says so.
    void testWithPasswordCommand() {
        TestMailbox box = m_server->createMailbox();
        QTemporaryDir dir;
        AppState state;
        state.ProgramFolder = dir.path() + u'/';
        QTreeWidget list;
        QPushButton edit, del;
        AccountEditor editor(state, 0, &list, &edit, &del, nullptr);
        editor.tester().addCaCertificates(QSslCertificate::fromPath(m_server->caFile()));
        editor.show();
        Child<QLineEdit>(&editor, "txtAccount")->setText(u"Command"_s);
        Child<QLineEdit>(&editor, "txtLogin")->setText(box.user());
        Child<QLineEdit>(&editor, "txtServer")->setText(u"pop3s://127.0.0.1:%1"_s.arg(m_server->pop3sPort()));
        Child<QComboBox>(&editor, "cboSignIn")->setCurrentIndex(2);
        Child<QLineEdit>(&editor, "txtCommand")->setText(u"printf '%s\\n' '"_s + box.password() + u"'"_s);
        m_boxes.clear();
        Child<QPushButton>(&editor, "cmdTest")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!m_boxes.isEmpty(), 60000);
        QVERIFY2(m_boxes.last().text.contains(
                     u"logged in with SASL PLAIN, the password from the password command"_s),
                 qPrintable(m_boxes.last().text));
    }
};

QTEST_MAIN(KeyringTest)
#include "keyringtest.moc"
