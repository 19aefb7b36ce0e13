#include "accountstoretest.h"
#include "crashtest.h"
#include "fixedtexttest.h"
#include "friendsstoretest.h"
#include "headerfilestest.h"
#include "settingsstoretest.h"

#include <QCoreApplication>
#include <QTest>

// One executable for the folder: every test class runs in turn.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    FixedTextTest fixedText;
    AccountStoreTest accounts;
    FriendsStoreTest friends;
    SettingsStoreTest settings;
    HeaderFilesTest headerFiles;
    CrashTest crash;
    int failed = 0;
    for (QObject* test : std::initializer_list<QObject*>{&fixedText, &accounts, &friends, &settings,
                                                          &headerFiles, &crash})
        failed += QTest::qExec(test, argc, argv);
    return failed == 0 ? 0 : 1;
}
