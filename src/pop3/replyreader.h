#pragma once

#include <QByteArray>

namespace pop3 {

struct Reply {
    enum Kind { Ok, Err, Continue };
    Kind kind = Err;
    QByteArray text; // the status line after "+OK", "-ERR" or "+", trimmed
    QByteArray body; // multi-line replies: dot-unstuffed lines, line ends as received
    // A line or the body went past its cap: the rest was read and thrown away, up
    // to the reply's end, and body is empty. The next reply is intact.
    bool overLimit = false;
};

// Splits the server's byte stream into replies. Bytes may arrive split anywhere;
// lines may end in CRLF or a bare LF. Lines and bodies have caps, and a reply
// over a cap is read to its end without keeping what is over it, so a hostile
// server cannot make us buffer without bound, and one oversized reply does not
// cost the replies after it.
class ReplyReader {
public:
    enum class Status { NeedMore, Complete };

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
    enum class Mode { StatusLine, Body, SkipLine, SkipBody };

    Status readStatusLine(bool multiLine, qsizetype maxBody, Reply& out);
    Status readBody(qsizetype maxBody, Reply& out);
    Status skipLine(Reply& out);
    Status skipBody(Reply& out);
    void startSkippingBody();
    Status complete(Reply& out);

    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qsizetype m_bodyStart = 0; // body bytes from here to m_pos are not yet copied out
    qsizetype m_maxLine = kDefaultMaxLine;
    Mode m_mode = Mode::StatusLine;
    bool m_bodyAfterLine = false; // SkipLine: an over-long "+OK" line of a multi-line reply
    bool m_midLine = false;       // SkipBody: the bytes dropped last ended inside a line
    Reply m_partial;
};

} // namespace pop3
