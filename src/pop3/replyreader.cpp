#include "replyreader.h"

#include <cstring>

namespace pop3 {

namespace {

QByteArray afterPrefix(const char* line, qsizetype length, qsizetype prefix) {
    return QByteArray(line + prefix, length - prefix).trimmed();
}

} // namespace

void ReplyReader::append(const QByteArray& data) {
    // Drop consumed bytes once they make up half the buffer: amortised O(1) per byte.
    const qsizetype consumed = m_inBody ? m_bodyStart : m_pos;
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
    m_inBody = false;
    m_partial = Reply();
}

ReplyReader::Status ReplyReader::next(bool multiLine, qsizetype maxBody, Reply& out) {
    if (!m_inBody) {
        const char* data = m_buffer.constData();
        const qsizetype size = m_buffer.size();
        const void* nl = std::memchr(data + m_pos, '\n', static_cast<size_t>(size - m_pos));
        if (!nl)
            return size - m_pos > m_maxLine ? Status::TooLong : Status::NeedMore;
        const qsizetype end = static_cast<const char*>(nl) - data;
        qsizetype length = end - m_pos;
        if (length > m_maxLine)
            return Status::TooLong;
        if (length > 0 && data[m_pos + length - 1] == '\r')
            --length;
        const char* line = data + m_pos;
        m_partial = Reply();
        if (length >= 3 && std::memcmp(line, "+OK", 3) == 0) {
            m_partial.kind = Reply::Ok;
            m_partial.text = afterPrefix(line, length, 3);
        } else if (length >= 4 && std::memcmp(line, "-ERR", 4) == 0) {
            m_partial.kind = Reply::Err;
            m_partial.text = afterPrefix(line, length, 4);
        } else if (length >= 1 && line[0] == '+') {
            m_partial.kind = Reply::Continue;
            m_partial.text = afterPrefix(line, length, 1);
        } else {
            // Not a POP3 status line: the session treats it as a refusal.
            m_partial.kind = Reply::Err;
            m_partial.text = QByteArray(line, length);
        }
        m_pos = end + 1;
        if (!multiLine || m_partial.kind != Reply::Ok) {
            out = std::move(m_partial);
            m_partial = Reply();
            return Status::Complete;
        }
        m_inBody = true;
        m_bodyStart = m_pos;
    }
    return readBody(maxBody, out);
}

ReplyReader::Status ReplyReader::readBody(qsizetype maxBody, Reply& out) {
    // Unstuffed runs of lines are copied out in one piece, so a header usually
    // costs one allocation of its exact size.
    const char* data = m_buffer.constData();
    const qsizetype size = m_buffer.size();
    while (m_pos < size) {
        const void* nl = std::memchr(data + m_pos, '\n', static_cast<size_t>(size - m_pos));
        if (!nl)
            return size - m_pos > m_maxLine ? Status::TooLong : Status::NeedMore;
        const qsizetype end = static_cast<const char*>(nl) - data;
        qsizetype content = end - m_pos;
        if (content > m_maxLine)
            return Status::TooLong;
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
            if (content == 1) { // the terminating "."
                m_inBody = false;
                out = std::move(m_partial);
                m_partial = Reply();
                return Status::Complete;
            }
            m_partial.body.append(data + start + 1, end - start); // dot-unstuffing
        } else {
            m_pos = end + 1;
        }
        if (m_partial.body.size() + (m_pos - m_bodyStart) > maxBody)
            return Status::TooLong;
    }
    return Status::NeedMore;
}

} // namespace pop3
