#pragma once

#include <QByteArray>

namespace pop3 {

struct Reply {
    enum Kind { Ok, Err, Continue };
    Kind kind = Err;
    QByteArray text; // the status line after "+OK", "-ERR" or "+", trimmed
    QByteArray body; // multi-line replies: dot-unstuffed lines, line ends as received
};

// Splits the server's byte stream into replies. Bytes may arrive split anywhere;
// lines may end in CRLF or a bare LF. Lines and bodies have caps so that a
// hostile server cannot make us buffer without bound.
class ReplyReader {
public:
    enum class Status { NeedMore, Complete, TooLong };

    static constexpr qsizetype kDefaultMaxLine = 1 << 20;

    void append(const QByteArray& data);
    // Parses the next reply. A multi-line reply has a body only after "+OK".
    // maxBody bounds the body of this reply.
    Status next(bool multiLine, qsizetype maxBody, Reply& out);
    // Bytes received but not yet taken by a complete reply.
    qsizetype buffered() const { return m_buffer.size() - m_pos; }
    void clear();
    void setMaxLine(qsizetype bytes) { m_maxLine = bytes; }

private:
    Status readBody(qsizetype maxBody, Reply& out);

    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qsizetype m_bodyStart = 0; // body bytes from here to m_pos are not yet copied out
    qsizetype m_maxLine = kDefaultMaxLine;
    bool m_inBody = false;
    Reply m_partial;
};

} // namespace pop3
