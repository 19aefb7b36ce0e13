// The real program started in an empty program folder on a private X server:
// the wizard comes up by itself and the keyboard alone creates the first account.
#include "store/accountstore.h"
#include "support/xdotool.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>
#include <sys/stat.h>

namespace {

using xdotool::Focus;
using xdotool::Keys;
using xdotool::Type;
using xdotool::WaitForWindow;

} // namespace

class FirstStartProcessTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void wizardCreatesTheFirstAccount() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString exe = QDir(dir.path()).filePath(QStringLiteral("tidemarsh"));
        QVERIFY(QFile::copy(qEnvironmentVariable("TIDEMARSH_EXE"), exe));
        QVERIFY(QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(exe, {});
        QVERIFY(program.waitForStarted());

        const QString wizard = WaitForWindow(program.processId(), QStringLiteral("New Account Wizard"));
        QVERIFY2(!wizard.isEmpty(), "the wizard did not come up");
        const AccountStore store(dir.path());
        QCOMPARE(QFileInfo(store.filePath()).size(), 0); // counted (so created), still empty

        // Focus starts in the account name; Enter is Next, and Finish on the last page.
        QVERIFY(Focus(wizard));
        for (const QString& entry : {QStringLiteral("Home"), QStringLiteral("me@example.org"),
                                     QStringLiteral("pass word"), QStringLiteral("pop.example.org")}) {
            QVERIFY(Type(entry));
            QVERIFY(Keys({QStringLiteral("Return")}));
        }

        const QString done = WaitForWindow(program.processId(), QStringLiteral("Account Creation"));
        QVERIFY2(!done.isEmpty(), "no completion dialog");
        QCOMPARE(store.CountAccounts(), 1);
        AccountRecord expected;
        expected.AccountName = QStringLiteral("Home");
        expected.LoginName = QStringLiteral("me@example.org");
        expected.LoginPassword = QStringLiteral("pass word");
        expected.ServerAddress = QStringLiteral("pop.example.org");
        QCOMPARE(store.ReadAccount(1), expected);
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(store.filePath()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600)); // it holds a password

        QVERIFY(Focus(done));
        QVERIFY(Keys({QStringLiteral("Return")}));
        QVERIFY(QTest::qWaitFor(
            [&] {
                return xdotool::Run({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                     QStringLiteral("--name"), QStringLiteral("^Account Creation$")})
                    .value_or(QString())
                    .isEmpty();
            },
            20000));
        QCOMPARE(program.state(), QProcess::Running);

        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(store.ReadAccount(1), expected);
    }
};

QTEST_GUILESS_MAIN(FirstStartProcessTest)
#include "firststartprocesstest.moc"
