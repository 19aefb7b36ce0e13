#include "check/core/accounterrortext.h"

namespace AccountError {
using pop3::Result;

namespace {
// The server's own state, told alike whether a login or a download ran into it.
QString SessionText(Result result) {
    switch (result) {
    case Result::MailboxInUse:
        return QStringLiteral(
            " (Code 16):  The mailbox is in use by another program.  Close the other mail program "
            "or wait a few minutes, then try again.");
    case Result::LoginDelay:
        return QStringLiteral(
            " (Code 17):  The server does not allow another login this soon after the last one.  "
            "Wait a few minutes, then try again.");
    case Result::ServerTemporaryFailure:
        return QStringLiteral(
            " (Code 18):  The server reported a temporary problem.  Wait a few minutes, then try "
            "again.");
    case Result::NotConnected:
        return QStringLiteral(
            " (Code 19):  There is no open connection to the server.  Try performing the action "
            "again.");
    case Result::Busy:
        return QStringLiteral(
            " (Code 20):  Another operation with the server is still running.  Wait for it to "
            "finish, then try again.");
    default:
        return {};
    }
}

QString LoginText(Result result) {
    switch (result) {
    case Result::ConnectionProblem:
        return QStringLiteral(
            " (Code 1):  There was a problem connecting to the defined server.  Ensure the server "
            "information is correct.");
    case Result::UserRejected:
        return QStringLiteral(" (Code 2):  The user name defined for the account is incorrect.");
    case Result::LoginRejected:
        return QStringLiteral(" (Code 4):  The user name or password defined for the account is incorrect.");
    case Result::HostNotFound:
        return QStringLiteral(
            " (Code 11):  The defined server connection could not be resolved.  The server may be "
            "busy, not currently responding or the defined server name may be incorrect.");
    case Result::ConnectTimeout:
        return QStringLiteral(
            " (Code 12):  The connection to the defined server timed out.  The server may be busy "
            "or not currently responding.");
    case Result::ResponseTimeout:
        return QStringLiteral(
            " (Code 13):  The connection to the defined server timed out.  The server may be busy "
            "or not currently responding.");
    case Result::CertificateInvalid:
        return QStringLiteral(
            " (Code 14):  The server's security certificate could not be verified, so no password "
            "was sent.  Ensure the server name is correct and that the server has a valid "
            "certificate.");
    case Result::NoSecureConnection:
        return QStringLiteral(
            " (Code 15):  The server does not offer a secure connection, so no password was sent.  "
            "Ensure the server information is correct.");
    default:
        return QStringLiteral(
            " (Code 0):  An unknown error occurred.  Ensure the settings for the account are "
            "correct.");
    }
}

QString DownloadText(Result result) {
    switch (result) {
    case Result::HeadersUnparsable:
        return QStringLiteral(" (Code 5):  There was a problem parsing the downloaded messages headers.  Try "
                              "performing the action again.");
    case Result::ConnectionLost:
        return QStringLiteral(
            " (Code 8):  The connection to the server was lost.  Try performing the action again.");
    case Result::CertificateInvalid:
        return QStringLiteral(
            " (Code 14):  The server's security certificate could not be verified.  Try performing "
            "the action again.");
    case Result::NoSecureConnection:
        return QStringLiteral(
            " (Code 15):  The server no longer offers a secure connection.  Try performing the "
            "action again.");
    case Result::ResponseTimeout:
        return QStringLiteral(
            " (Code 13):  The server stopped answering during the download.  The server may be busy "
            "or the connection too slow; try performing the action again.");
    case Result::CommandRefused:
        return QStringLiteral(
            " (Code 22):  The server refused to list the waiting messages.  Try performing the action "
            "again later.");
    default:
        return QStringLiteral(" (Code 0):  An unknown error occurred.  Try performing the action again.");
    }
}
} // namespace

QString DetailText(const pop3::Failure& failure) {
    return failure.isOk() ? QString() : failure.words;
}

QString CodeText(Kind kind, Result result) {
    if (QString session = SessionText(result); !session.isEmpty())
        return session;
    return kind == Kind::Login ? LoginText(result) : DownloadText(result);
}
} // namespace AccountError
