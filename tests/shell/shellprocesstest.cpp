// The program as real processes of the built executable, each copy in its own
// program folder, on a private X server.
#include "shelltestsupport.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using shelltest::In;

namespace {

struct FileState {
    qint64 size = 0;
    qint64 modified = 0;
    QByteArray hash;
    bool operator==(const FileState&) const = default;
};

// Every file and folder below folder, with its size, time and content.
QMap<QString, FileState> Snapshot(const QString& folder) {
    QMap<QString, FileState> out;
    const QFileInfo self(folder);
    out.insert(QStringLiteral("."), {0, self.lastModified().toMSecsSinceEpoch(), {}});
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        FileState state{info.size(), info.lastModified().toMSecsSinceEpoch(), {}};
        if (info.isFile())
            state.hash =
                QCryptographicHash::hash(shelltest::ReadAll(info.filePath()), QCryptographicHash::Sha256);
        out.insert(QDir(folder).relativeFilePath(info.filePath()), state);
    }
    return out;
}

// Whether the process has a window mapped on the X server.
bool HasVisibleWindow(qint64 pid) {
    QProcess search;
    search.setStandardOutputFile(QProcess::nullDevice());
    search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                             QStringLiteral("--pid"), QString::number(pid)});
    return search.waitForFinished() && search.exitStatus() == QProcess::NormalExit && search.exitCode() == 0;
}

} // namespace

class ShellProcessTest : public QObject {
    Q_OBJECT

    // A program folder holding its own copy of the executable.
    static bool Install(const QTemporaryDir& dir) {
        const QString target = In(dir.path(), "tidemarsh");
        return QFile::copy(qEnvironmentVariable("TIDEMARSH_EXE"), target) &&
               QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // On the X server by default; offscreen where what is tested needs no screen.
    enum class Screen { X11, Offscreen };
    static void Launch(QProcess& p, const QTemporaryDir& dir, Screen screen = Screen::X11) {
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (screen == Screen::Offscreen) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            p.setProcessEnvironment(env);
        }
        p.start(In(dir.path(), "tidemarsh"), {});
    }
    // The process that holds the single-instance lock, from the lock file.
    static qint64 LockOwner(const QTemporaryDir& dir) {
        return shelltest::ReadAll(In(dir.path(), "Tidemarsh.lock")).split('\n').value(0).toLongLong();
    }
    // Started, holding the lock, first activation done (it creates Acc.dat),
    // and on the X server, its window on screen.
    static bool WaitUntilRunning(QProcess& p, const QTemporaryDir& dir, Screen screen = Screen::X11) {
        return p.waitForStarted() &&
               QTest::qWaitFor(
                   [&] {
                       return QFileInfo::exists(In(dir.path(), "Acc.dat")) &&
                              LockOwner(dir) == p.processId() &&
                              (screen == Screen::Offscreen || HasVisibleWindow(p.processId()));
                   },
                   20000);
    }
    static bool Terminate(QProcess& p) {
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QFileInfo(qEnvironmentVariable("TIDEMARSH_EXE")).isExecutable(), "TIDEMARSH_EXE not set");
    }

    void secondCopyEndsSilently() {
        QTemporaryDir dir;
        QVERIFY(Install(dir));
        QProcess first;
        Launch(first, dir);
        QVERIFY(WaitUntilRunning(first, dir));
        QTest::qWait(1100); // file times have whole-second resolution on some file systems
        const auto before = Snapshot(dir.path());

        // Watch the X server for any window being mapped while the second copy runs.
        QProcess watcher;
        watcher.start(QStringLiteral("stdbuf"),
                      {QStringLiteral("-oL"), QStringLiteral("xev"), QStringLiteral("-root"),
                       QStringLiteral("-event"), QStringLiteral("substructure")});
        QVERIFY(watcher.waitForStarted());
        QTest::qWait(300);

        QProcess second;
        QElapsedTimer clock;
        clock.start();
        Launch(second, dir);
        QVERIFY(second.waitForFinished(20000));
        const qint64 took = clock.elapsed();
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTest::qWait(300);
        watcher.terminate();
        watcher.waitForFinished(5000);
        const QByteArray events = watcher.readAllStandardOutput();
        QVERIFY2(!events.contains("MapNotify"), events.constData());
        qInfo("second copy ended after %lld ms", took);

        QCOMPARE(Snapshot(dir.path()), before);
        QCOMPARE(first.state(), QProcess::Running);
        QVERIFY(HasVisibleWindow(first.processId()));
        QVERIFY(Terminate(first));
    }

    void sigtermRunsTheExitPath() {
        QTemporaryDir dir;
        QVERIFY(Install(dir));
        SettingsRecord initial;
        initial.CheckDonePromptOff = 1;
        initial.WindowLeft = 1500; // 100, 80, 600 x 400 px at 96 dpi
        initial.WindowTop = 1200;
        initial.WindowWidth = 9000;
        initial.WindowHeight = 6000;
        QVERIFY(shelltest::WriteConfig(dir.path(), initial));
        {
            QFile config(In(dir.path(), "Config.dat"));
            QVERIFY(config.open(QIODevice::ReadWrite));
            QVERIFY(config.setFileTime(QDateTime::currentDateTime().addDays(-1),
                                       QFileDevice::FileModificationTime));
        }
        const QDateTime written = QFileInfo(In(dir.path(), "Config.dat")).lastModified();

        QProcess p;
        Launch(p, dir, Screen::Offscreen);
        QVERIFY(WaitUntilRunning(p, dir, Screen::Offscreen));
        QVERIFY(QFileInfo::exists(In(dir.path(), "Tidemarsh.lock")));
        QVERIFY(!QFileInfo::exists(In(dir.path(), "Tidemarsh.dsl")));
        QVERIFY(Terminate(p));

        QVERIFY(QFileInfo(In(dir.path(), "Config.dat")).lastModified() > written);
        QCOMPARE(shelltest::ConfigFields(dir.path()), (QList<int>{0, 1, 110, 30, 9000, 6000, 1500, 1200, 0}));
        QVERIFY(QFileInfo::exists(In(dir.path(), "Tidemarsh.dsl")));
        QVERIFY(!QFileInfo::exists(In(dir.path(), "Tidemarsh.lock")));
    }

    void lockOfACrashedCopyIsTakenOver() {
        QTemporaryDir dir;
        QVERIFY(Install(dir));
        QProcess crashed;
        Launch(crashed, dir, Screen::Offscreen);
        QVERIFY(WaitUntilRunning(crashed, dir, Screen::Offscreen));
        const qint64 crashedPid = crashed.processId();
        crashed.kill();
        QVERIFY(crashed.waitForFinished());
        QCOMPARE(LockOwner(dir), crashedPid); // left behind

        // The next start takes the lock over at once instead of ending as a second copy.
        QProcess next;
        Launch(next, dir, Screen::Offscreen);
        QVERIFY(QTest::qWaitFor([&] { return LockOwner(dir) == next.processId(); }, 20000));
        QTest::qWait(500);
        QCOMPARE(next.state(), QProcess::Running);
        QVERIFY(Terminate(next));
    }
};

QTEST_GUILESS_MAIN(ShellProcessTest)
#include "shellprocesstest.moc"
