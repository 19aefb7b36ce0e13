// Child process for the crash test: deletes the first account of the store in
// the given folder again and again until the parent kills it.
#include "store/accountstore.h"

#include <QString>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: store_crash_child <program folder>\n", stderr);
        return 2;
    }
    const AccountStore store(QString::fromLocal8Bit(argv[1]));
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    try {
        while (store.CountAccounts() > 0)
            store.DeleteAccount(1);
    } catch (const StoreError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
