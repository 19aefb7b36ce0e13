#pragma once

#include <QByteArray>
#include <QString>

// Messages of the kinds real mailboxes hold, with what the component must make
// of their headers: encoded words in several charsets, 8-bit bytes, Reply-To
// without From, groups, thousands of recipients, no Content-Type.
struct SampleMessage {
    QByteArray raw;        // CRLF line ends
    QByteArray header;     // the header block of raw, without the blank line
    bool checkFrom = true; // false: no From header, its display text is the component's choice
    QString from;
    QString fromAddr;
    QString replyToAddr;
    QString subject;
    QString date;
    QString contentType;
    QString contentSubType;
    int recipients = 0;
};

// Message number n (1-based) of a mailbox built from the kinds in turn; its
// subject carries "#n" so a message out of order shows.
SampleMessage MakeSampleMessage(int n);
int SampleKindCount();
