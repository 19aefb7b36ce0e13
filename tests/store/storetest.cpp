#include <QCoreApplication>

int runFixedTextTest(int argc, char** argv);
int runAccountStoreTest(int argc, char** argv);
int runFriendsStoreTest(int argc, char** argv);
int runSettingsStoreTest(int argc, char** argv);
int runHeaderFilesTest(int argc, char** argv);
int runCrashTest(int argc, char** argv);
int runCertificateExceptionsTest(int argc, char** argv);
int runExtraSettingsTest(int argc, char** argv);

// One executable for the folder: every test class runs in turn.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int failed = 0;
    for (auto run : {runFixedTextTest, runAccountStoreTest, runFriendsStoreTest, runSettingsStoreTest,
                     runHeaderFilesTest, runCrashTest, runCertificateExceptionsTest, runExtraSettingsTest})
        failed += run(argc, argv);
    return failed == 0 ? 0 : 1;
}
