#include "store/certificateexceptions.h"
#include "store/storeerror.h"
#include "storetestutil.h"

#include <QCryptographicHash>
#include <QDir>
#include <QObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace StoreTestUtil;

namespace {
QByteArray digest(const char* seed) {
    return QCryptographicHash::hash(seed, QCryptographicHash::Sha256);
}
} // namespace

class CertificateExceptionsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void noFileMeansNoExceptions();
    void trustedCertificatesSurviveANewStore();
    void trustingAgainReplacesOnlyThatServer();
    void damagedLinesAreSkipped();
    void refusesWhatWouldBreakTheFormat();
    void unwritableFolderNamesTheFile();

private:
    QString folder() const { return m_dir->path() + u'/'; }
    QString file() const { return folder() + CertificateExceptionStore::FileName(); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void CertificateExceptionsTest::noFileMeansNoExceptions() {
    QVERIFY(CertificateExceptionStore(folder()).ReadAll().isEmpty());
    QVERIFY(!QFile::exists(file()));
}

void CertificateExceptionsTest::trustedCertificatesSurviveANewStore() {
    CertificateExceptionStore(folder()).Trust(u"mail.example.org"_s, 995, digest("a"));
    CertificateExceptionStore(folder()).Trust(u"::1"_s, 1110, digest("b"));
    QCOMPARE(modeOf(file()), 0600);
    QVERIFY(!QFile::exists(folder() + u"CertificateExceptions.tmp"_s));
    const QList<CertificateExceptionRecord> expected{{u"mail.example.org"_s, 995, digest("a")},
                                                     {u"::1"_s, 1110, digest("b")}};
    QCOMPARE(CertificateExceptionStore(folder()).ReadAll(), expected);
    QVERIFY(readBytes(file()).contains("mail.example.org 995 " + digest("a").toHex() + '\n'));
}

void CertificateExceptionsTest::trustingAgainReplacesOnlyThatServer() {
    CertificateExceptionStore store(folder());
    store.Trust(u"mail.example.org"_s, 995, digest("old"));
    store.Trust(u"mail.example.org"_s, 110, digest("other port"));
    store.Trust(u"MAIL.example.org"_s, 995, digest("new"));
    const QList<CertificateExceptionRecord> expected{{u"mail.example.org"_s, 110, digest("other port")},
                                                     {u"MAIL.example.org"_s, 995, digest("new")}};
    QCOMPARE(store.ReadAll(), expected);
}

void CertificateExceptionsTest::damagedLinesAreSkipped() {
    const QByteArray good = "good.example 995 " + digest("g").toHex() + "\n";
    QVERIFY(writeBytes(file(), "# comment\n"
                               "short.example 995 abcd\n"
                               "noport.example x " +
                                   digest("x").toHex() +
                                   "\n"
                                   "zero.example 0 " +
                                   digest("z").toHex() +
                                   "\n"
                                   "big.example 70000 " +
                                   digest("z").toHex() + "\n" + good + "extra.example 995 " +
                                   digest("e").toHex() +
                                   " more\n"
                                   "\n"));
    const QList<CertificateExceptionRecord> expected{{u"good.example"_s, 995, digest("g")}};
    QCOMPARE(CertificateExceptionStore(folder()).ReadAll(), expected);
}

void CertificateExceptionsTest::refusesWhatWouldBreakTheFormat() {
    CertificateExceptionStore store(folder());
    QVERIFY_THROWS_EXCEPTION(StoreError, store.Trust(u"two words"_s, 995, digest("a")));
    QVERIFY_THROWS_EXCEPTION(StoreError, store.Trust(u"line\nbreak"_s, 995, digest("a")));
    QVERIFY_THROWS_EXCEPTION(StoreError, store.Trust(u"host"_s, 0, digest("a")));
    QVERIFY_THROWS_EXCEPTION(StoreError, store.Trust(u"host"_s, 995, "short"));
    QVERIFY(!QFile::exists(file()));
}

void CertificateExceptionsTest::unwritableFolderNamesTheFile() {
    CertificateExceptionStore(folder()).Trust(u"kept.example"_s, 995, digest("k"));
    const QByteArray before = readBytes(file());
    // A folder where the temporary file must go stops the write even for root.
    QVERIFY(QDir(folder()).mkdir(u"CertificateExceptions.tmp"_s));
    try {
        CertificateExceptionStore(folder()).Trust(u"new.example"_s, 995, digest("n"));
        QFAIL("no error");
    } catch (const StoreError& error) {
        QVERIFY2(error.message().contains(u"CertificateExceptions"_s), qPrintable(error.message()));
    }
    QCOMPARE(readBytes(file()), before);
}

int runCertificateExceptionsTest(int argc, char** argv) {
    CertificateExceptionsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "certificateexceptionstest.moc"
