#include "pop3/replyreader.h"

#include <cstring>

namespace pop3 {

namespace {

QByteArray afterPrefix(const char* line, qsizetype length, qsizetype prefix) {
    return QByteArray(line + prefix, length - prefix).trimmed();
}

// The kind of a status line, from its first bytes.
Reply::Kind kindOf(const char* line, qsizetype length) {
    if (length >= 3 && std::memcmp(line, "+OK", 3) == 0)
        return Reply::Ok;
    if (length >= 4 && std::memcmp(line, "-ERR", 4) == 0)
        return Reply::Err;
    if (length >= 1 && line[0] == '+')
        return Reply::Continue;
    return Reply::Err; // not a POP3 status line: the session treats it as a refusal
}

} // namespace

void ReplyReader::append(const QByteArray& data) {
    // Drop consumed bytes once they make up half the buffer: amortised O(1) per byte.
    const qsizetype consumed = m_mode == Mode::Body ? m_bodyStart : m_pos;
    if (consumed > 0 && consumed >= m_buffer.size() / 2) {
        m_buffer.remove(0, consumed);
        m_pos -= consumed;
        m_bodyStart -= consumed;
    }
    m_buffer.append(data);
}

void ReplyReader::clear() {
    m_buffer.clear();
    m_pos = 0;
    m_bodyStart = 0;
    m_mode = Mode::StatusLine;
    m_bodyAfterLine = false;
    m_midLine = false;
    m_partial = Reply();
}

ReplyReader::Status ReplyReader::next(bool multiLine, qsizetype maxBody, Reply& out) {
    switch (m_mode) {
    case Mode::StatusLine:
        return readStatusLine(multiLine, maxBody, out);
    case Mode::Body:
        return readBody(maxBody, out);
    case Mode::SkipLine:
        return skipLine(out);
    case Mode::SkipBody:
        return skipBody(out);
    }
    return Status::NeedMore;
}

ReplyReader::Status ReplyReader::complete(Reply& out) {
    m_mode = Mode::StatusLine;
    out = std::move(m_partial);
    m_partial = Reply();
    return Status::Complete;
}

ReplyReader::Status ReplyReader::readStatusLine(bool multiLine, qsizetype maxBody, Reply& out) {
    const char* data = m_buffer.constData();
    const qsizetype size = m_buffer.size();
    const void* nl = std::memchr(data + m_pos, '\n', static_cast<size_t>(size - m_pos));
    const qsizetype available = (nl ? static_cast<const char*>(nl) - data : size) - m_pos;
    if (available > m_maxLine) {
        // Judge the line by its start and drop the rest.
        m_partial = Reply();
        m_partial.kind = kindOf(data + m_pos, available);
        m_partial.overLimit = true;
        m_bodyAfterLine = multiLine && m_partial.kind == Reply::Ok;
        m_mode = Mode::SkipLine;
        return skipLine(out);
    }
    if (!nl)
        return Status::NeedMore;
    const qsizetype end = static_cast<const char*>(nl) - data;
    qsizetype length = end - m_pos;
    if (length > 0 && data[m_pos + length - 1] == '\r')
        --length;
    const char* line = data + m_pos;
    m_partial = Reply();
    m_partial.kind = kindOf(line, length);
    const qsizetype prefix = m_partial.kind == Reply::Ok                          ? 3
                             : m_partial.kind == Reply::Continue                  ? 1
                             : (length >= 4 && std::memcmp(line, "-ERR", 4) == 0) ? 4
                                                                                  : 0;
    m_partial.text = afterPrefix(line, length, prefix);
    m_pos = end + 1;
    if (!multiLine || m_partial.kind != Reply::Ok)
        return complete(out);
    m_mode = Mode::Body;
    m_bodyStart = m_pos;
    return readBody(maxBody, out);
}

ReplyReader::Status ReplyReader::readBody(qsizetype maxBody, Reply& out) {
    // Unstuffed runs of lines are copied out in one piece, so a header usually
    // costs one allocation of its exact size.
    const char* data = m_buffer.constData();
    const qsizetype size = m_buffer.size();
    while (m_pos < size) {
        const void* nl = std::memchr(data + m_pos, '\n', static_cast<size_t>(size - m_pos));
        if (!nl) {
            if (size - m_pos > m_maxLine) {
                startSkippingBody();
                m_midLine = true;
                m_pos = size;
            }
            return Status::NeedMore;
        }
        const qsizetype end = static_cast<const char*>(nl) - data;
        qsizetype content = end - m_pos;
        if (content > m_maxLine) {
            startSkippingBody();
            m_pos = end + 1;
            return skipBody(out);
        }
        if (content > 0 && data[end - 1] == '\r')
            --content;
        const qsizetype start = m_pos;
        if (content >= 1 && data[start] == '.') {
            if (m_partial.body.isEmpty())
                m_partial.body = QByteArray(data + m_bodyStart, start - m_bodyStart); // exact size
            else
                m_partial.body.append(data + m_bodyStart, start - m_bodyStart);
            m_pos = end + 1;
            m_bodyStart = m_pos;
            if (content == 1) // the terminating "."
                return complete(out);
            m_partial.body.append(data + start + 1, end - start); // dot-unstuffing
        } else {
            m_pos = end + 1;
        }
        if (m_partial.body.size() + (m_pos - m_bodyStart) > maxBody) {
            startSkippingBody();
            return skipBody(out);
        }
    }
    return Status::NeedMore;
}

void ReplyReader::startSkippingBody() {
    m_mode = Mode::SkipBody;
    m_partial.body = QByteArray();
    m_partial.overLimit = true;
    m_midLine = false;
    m_bodyStart = m_pos;
}

ReplyReader::Status ReplyReader::skipLine(Reply& out) {
    const char* data = m_buffer.constData();
    const qsizetype size = m_buffer.size();
    const void* nl = std::memchr(data + m_pos, '\n', static_cast<size_t>(size - m_pos));
    if (!nl) {
        m_pos = size; // dropped at the next append
        return Status::NeedMore;
    }
    m_pos = static_cast<const char*>(nl) - data + 1;
    if (!m_bodyAfterLine)
        return complete(out);
    m_mode = Mode::SkipBody;
    m_midLine = false;
    return skipBody(out);
}

ReplyReader::Status ReplyReader::skipBody(Reply& out) {
    const char* data = m_buffer.constData();
    const qsizetype size = m_buffer.size();
    while (m_pos < size) {
        const void* nl = std::memchr(data + m_pos, '\n', static_cast<size_t>(size - m_pos));
        if (!nl) {
            // A partial line longer than ".\r" cannot be the terminator.
            if (size - m_pos > 2) {
                m_midLine = true;
                m_pos = size;
            }
            return Status::NeedMore;
        }
        const qsizetype end = static_cast<const char*>(nl) - data;
        qsizetype content = end - m_pos;
        if (content > 0 && data[end - 1] == '\r')
            --content;
        const bool terminator = !m_midLine && content == 1 && data[m_pos] == '.';
        m_midLine = false;
        m_pos = end + 1;
        if (terminator)
            return complete(out);
    }
    return Status::NeedMore;
}

} // namespace pop3
