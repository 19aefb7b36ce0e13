#include "check/core/accounterrortext.h"

namespace AccountError {
namespace {
// The server's own state, told alike whether a login or a download ran into it.
QString SessionText(int code) {
    switch (code) {
    case 16:
        return QStringLiteral(
            " (Code 16):  The mailbox is in use by another program.  Close the other mail program "
            "or wait a few minutes, then try again.");
    case 17:
        return QStringLiteral(
            " (Code 17):  The server does not allow another login this soon after the last one.  "
            "Wait a few minutes, then try again.");
    case 18:
        return QStringLiteral(
            " (Code 18):  The server reported a temporary problem.  Wait a few minutes, then try "
            "again.");
    case 19:
        return QStringLiteral(
            " (Code 19):  There is no open connection to the server.  Try performing the action "
            "again.");
    case 20:
        return QStringLiteral(
            " (Code 20):  Another operation with the server is still running.  Wait for it to "
            "finish, then try again.");
    default:
        return {};
    }
}

QString LoginText(int code) {
    switch (code) {
    case 1:
        return QStringLiteral(
            " (Code 1):  There was a problem connecting to the defined server.  Ensure the server "
            "information is correct.");
    case 2:
        return QStringLiteral(" (Code 2):  The user name defined for the account is incorrect.");
    case 4:
        return QStringLiteral(" (Code 4):  The user name or password defined for the account is incorrect.");
    case 11:
        return QStringLiteral(
            " (Code 11):  The defined server connection could not be resolved.  The server may be "
            "busy, not currently responding or the defined server name may be incorrect.");
    case 12:
        return QStringLiteral(
            " (Code 12):  The connection to the defined server timed out.  The server may be busy "
            "or not currently responding.");
    case 13:
        return QStringLiteral(
            " (Code 13):  The connection to the defined server timed out.  The server may be busy "
            "or not currently responding.");
    case 14:
        return QStringLiteral(
            " (Code 14):  The server's security certificate could not be verified, so no password "
            "was sent.  Ensure the server name is correct and that the server has a valid "
            "certificate.");
    case 15:
        return QStringLiteral(
            " (Code 15):  The server does not offer a secure connection, so no password was sent.  "
            "Ensure the server information is correct.");
    default:
        return QStringLiteral(
            " (Code 0):  An unknown error occurred.  Ensure the settings for the account are "
            "correct.");
    }
}

QString DownloadText(int code) {
    switch (code) {
    case 5:
        return QStringLiteral(" (Code 5):  There was a problem parsing the downloaded messages headers.  Try "
                              "performing the action again.");
    case 8:
        return QStringLiteral(
            " (Code 8):  The connection to the server was lost.  Try performing the action again.");
    case 14:
        return QStringLiteral(
            " (Code 14):  The server's security certificate could not be verified.  Try performing "
            "the action again.");
    case 15:
        return QStringLiteral(
            " (Code 15):  The server no longer offers a secure connection.  Try performing the "
            "action again.");
    default:
        return QStringLiteral(" (Code 0):  An unknown error occurred.  Try performing the action again.");
    }
}
} // namespace

QString CodeText(int kind, int code) {
    if (kind != LoginKind && kind != DownloadKind)
        return {};
    if (QString session = SessionText(code); !session.isEmpty())
        return session;
    if (kind == LoginKind)
        return LoginText(code);
    if (kind == DownloadKind)
        return DownloadText(code);
    return {};
}

void AppendCodeText(QString& message, int kind, int code) {
    message += CodeText(kind, code);
}
} // namespace AccountError
