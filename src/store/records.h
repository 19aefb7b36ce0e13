#pragma once

#include <QString>
#include <QtGlobal>

// In-memory forms of the fixed-length records. Text fields hold trimmed values;
// the byte layouts live in the stores that read and write them.

struct AccountRecord {
    QString AccountName;                         // 20 bytes on disk
    QString LoginName;                           // 75
    QString LoginPassword;                       // 75
    QString ServerAddress;                       // 75
    QString LastChecked = QStringLiteral("N/A"); // 75
    qint32 TotalMessages = 0;
    qint32 DeletedMessages = 0;

    static constexpr int RecordLength = 328;
    bool operator==(const AccountRecord&) const = default;
};

struct SettingsRecord {
    qint16 DeletePromptOff = 0;
    qint16 CheckDonePromptOff = 0;
    qint16 ServerPort = 110;
    qint16 ServerTimeout = 30;
    qint16 WindowWidth = 0;
    qint16 WindowHeight = 0;
    qint16 WindowLeft = 0;
    qint16 WindowTop = 0;
    qint16 ThemeColoursOff = 0;

    static constexpr int RecordLength = 18;
    bool operator==(const SettingsRecord&) const = default;

    // The port field holds 1..65535 as its 16-bit pattern (ports past 32767 read
    // negative); 0 or less where none was stored means the POP3 port.
    quint16 PopPort() const { return ServerPort != 0 ? static_cast<quint16>(ServerPort) : quint16(110); }
    int TimeoutSeconds() const { return ServerTimeout > 0 ? ServerTimeout : 30; }
};

struct FriendRecord {
    QString Address; // 60 bytes on disk
    static constexpr int RecordLength = 60;
};
