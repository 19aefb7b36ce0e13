#pragma once

#include "store/records.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

// What the shell lends to the UI subsystems so they can report back without
// including the shell: status panes, the command-state refresh, the bars' colours.
struct ShellHooks {
    std::function<void(const QString&)> setPanel1;
    std::function<void(const QString&)> setPanel2;
    std::function<void()> refreshCommandStates;
    // Repaints the bars after Settings.ThemeColoursOff has changed.
    std::function<void()> applyThemeColours;
    // A check by hand is about to log in to the account (empty: to every account):
    // a background look at it must end first.
    std::function<void(const QString& account)> accountClaimed;
    // A check by hand listed the account: what waits there (UIDLs, empty where
    // the server has none, and sizes, in mailbox order) counts as seen.
    std::function<void(const QString& account, const QList<QByteArray>& uidls, const QList<qint64>& sizes)>
        accountListed;

    // The calls for the UI: each does nothing while its hook is unset (tests, start-up).
    void showPanel1(const QString& text) const {
        if (setPanel1)
            setPanel1(text);
    }
    void showPanel2(const QString& text) const {
        if (setPanel2)
            setPanel2(text);
    }
    void refreshCommands() const {
        if (refreshCommandStates)
            refreshCommandStates();
    }
    void claimAccount(const QString& account) const {
        if (accountClaimed)
            accountClaimed(account);
    }
    void tellListed(const QString& account, const QList<QByteArray>& uidls,
                    const QList<qint64>& sizes) const {
        if (accountListed)
            accountListed(account, uidls, sizes);
    }
};

// The main program's shared state: one instance, owned by the main window and
// handed to the dialogs and controllers that need it. Flags are plain bools here.
struct AppState {
    QString ProgramFolder; // absolute, ends with '/'
    bool BusyFlag = false;
    bool ActivatedOnce = false;
    bool SecondInstance = false;

    AccountRecord CurrentAccount;
    int AccountCount = 0;
    QString ReviewAccountName;

    SettingsRecord Settings;

    ShellHooks hooks;
};
