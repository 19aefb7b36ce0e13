#include "store/accountstore.h"
#include "storetestutil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace StoreTestUtil;

class CrashTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void killDuringDeleteAccount();
};

// A real child process rewrites a store of about 1 MB over and over and is
// killed with SIGKILL at a random moment. Whatever the moment, Acc.dat must
// hold a complete set of records: the set before some deletion or after it.
void CrashTest::killDuringDeleteAccount() {
    constexpr int kAccounts = 3000;
    constexpr int kRounds = 30;
    QByteArray original;
    original.reserve(kAccounts * 328);
    for (int i = 0; i < kAccounts; ++i) {
        AccountRecord record;
        record.AccountName = u"acct%1"_s.arg(i, 5, 10, QChar(u'0'));
        record.LoginName = u"login%1"_s.arg(i);
        record.TotalMessages = i;
        original += AccountStore::Encode(record);
    }

    // Kill within a few rewrites' time, however slow this machine's fsync is.
    qint64 rewriteMicroseconds = 0;
    {
        QTemporaryDir dir;
        const AccountStore store(dir.path() + u'/');
        QVERIFY(writeBytes(store.filePath(), original));
        QElapsedTimer timer;
        timer.start();
        store.DeleteAccount(1);
        rewriteMicroseconds = timer.nsecsElapsed() / 1000;
    }
    const quint32 killWindow = quint32(std::max<qint64>(40000, 4 * rewriteMicroseconds));

    int killedMidRewrite = 0;
    int killedAfterSomeDeletions = 0;
    for (int round = 0; round < kRounds; ++round) {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const AccountStore store(dir.path() + u'/');
        QVERIFY(writeBytes(store.filePath(), original));

        QProcess child;
        child.start(QStringLiteral(STORE_CRASH_CHILD), {dir.path() + u'/'});
        QVERIFY2(child.waitForStarted(5000), qPrintable(child.errorString()));
        QVERIFY(child.waitForReadyRead(10000));
        QCOMPARE(child.readLine(), QByteArray("ready\n"));
        QThread::usleep(QRandomGenerator::global()->bounded(killWindow));
        child.kill(); // SIGKILL
        QVERIFY(child.waitForFinished(10000));
        QVERIFY2(child.exitStatus() == QProcess::CrashExit,
                 qPrintable(u"the child ended by itself: "_s +
                            QString::fromLocal8Bit(child.readAllStandardError())));

        if (QFile::exists(store.tempPath()))
            ++killedMidRewrite;
        const QByteArray after = readBytes(store.filePath());
        QVERIFY2(QFile::exists(store.filePath()), "Acc.dat is gone");
        QCOMPARE(after.size() % 328, 0);
        const int deleted = kAccounts - int(after.size() / 328);
        QVERIFY(deleted >= 0 && deleted < kAccounts);
        QVERIFY2(after == original.mid(qsizetype(deleted) * 328),
                 qPrintable(u"round %1: records lost or torn after %2 deletions"_s.arg(round).arg(deleted)));
        if (deleted > 0)
            ++killedAfterSomeDeletions;

        // The store carries on, a leftover Acc.tmp included.
        store.DeleteAccount(1);
        QCOMPARE(store.CountAccounts(), kAccounts - deleted - 1);
        QVERIFY(!QFile::exists(store.tempPath()));
        QCOMPARE(modeOf(store.filePath()), 0600);
    }
    // Otherwise the test would not have shown anything about interrupted rewrites.
    QVERIFY2(killedMidRewrite > 0, "no kill landed while Acc.tmp existed");
    QVERIFY(killedAfterSomeDeletions > 0);
    qInfo("%d of %d kills landed mid-rewrite (one rewrite: %lld us)", killedMidRewrite, kRounds,
          rewriteMicroseconds);
}

int runCrashTest(int argc, char** argv) {
    CrashTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "crashtest.moc"
