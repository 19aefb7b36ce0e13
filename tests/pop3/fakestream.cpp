#include "fakestream.h"

#include <QTimer>

Transcript Transcript::parse(const QByteArray& log) {
    Transcript t;
    for (const QByteArray& raw : log.split('\n')) {
        const QByteArray line = raw.trimmed().isEmpty() ? QByteArray() : raw;
        if (line.isEmpty())
            continue;
        const QByteArray body = line.mid(3);
        if (line.startsWith("---")) {
            t.steps.push_back({Kind::NextConnection, {}});
        } else if (line.startsWith("S: <close>")) {
            t.steps.push_back({Kind::Close, {}});
        } else if (line.startsWith("S: <stall>")) {
            t.steps.push_back({Kind::Stall, {}});
        } else if (line.startsWith("S:")) {
            if (!t.steps.empty() && t.steps.back().kind == Kind::Server)
                t.steps.back().data += body + "\r\n";
            else
                t.steps.push_back({Kind::Server, body + "\r\n"});
        } else if (line.startsWith("C:")) {
            t.steps.push_back({Kind::Client, body + "\r\n"});
        }
    }
    return t;
}

QByteArray Transcript::serverBytes() const {
    QByteArray all;
    for (const Step& s : steps)
        if (s.kind == Kind::Server)
            all += s.data;
    return all;
}

FakeStream::FakeStream(std::shared_ptr<Transcript> script, std::shared_ptr<Record> record,
                       const QSet<quint16>& refused, const QSet<quint16>& silent, const TlsOnly& tlsOnly)
    : m_script(std::move(script)), m_record(std::move(record)), m_refused(refused), m_silent(silent),
      m_tlsOnly(tlsOnly) {
    m_record->stepsDone = 0;
}

void FakeStream::open(const QString&, quint16 port, bool implicitTls) {
    m_record->ports.append(port);
    if (m_tlsOnly.ports.contains(port) && !implicitTls) {
        // Waits for a ClientHello that never comes.
        QTimer::singleShot(0, this, [this] {
            if (m_aborted)
                return;
            Q_EMIT opened();
            if (m_tlsOnly.closes && !m_aborted)
                Q_EMIT failed(Failure::RemoteClosed, QStringLiteral("closed"));
        });
        return;
    }
    if (m_silent.contains(port))
        return;
    if (m_refused.contains(port)) {
        QTimer::singleShot(0, this, [this] {
            if (!m_aborted)
                Q_EMIT failed(Failure::Refused, QStringLiteral("refused"));
        });
        return;
    }
    m_encrypted = implicitTls;
    // This connection plays the part of the transcript after the previous ones'.
    for (int skip = m_record->connections++; skip > 0 && m_step < m_script->steps.size(); ++m_step)
        if (m_script->steps[m_step].kind == Transcript::Kind::NextConnection)
            --skip;
    m_record->stepsDone = m_step;
    QTimer::singleShot(0, this, [this] {
        if (m_aborted)
            return;
        Q_EMIT opened();
        play();
    });
}

void FakeStream::startTls() {
    QTimer::singleShot(0, this, [this] {
        if (m_aborted)
            return;
        if (m_script->tlsFails) {
            Q_EMIT failed(Failure::Tls, QStringLiteral("handshake failed"));
            return;
        }
        m_encrypted = true;
        Q_EMIT encrypted();
    });
}

QByteArray FakeStream::readAll() {
    QByteArray data;
    data.swap(m_inbox);
    return data;
}

void FakeStream::write(const QByteArray& data) {
    if (m_aborted)
        return;
    m_record->written.append(data);
    if (m_closed)
        return;
    m_fromClient += data;
    auto& steps = m_script->steps;
    while (!m_fromClient.isEmpty()) {
        if (m_step >= steps.size() || steps[m_step].kind != Transcript::Kind::Client) {
            m_record->errors.append(
                QStringLiteral("unexpected from client: %1").arg(QString::fromLatin1(m_fromClient)));
            m_fromClient.clear();
            return;
        }
        const QByteArray& expected = steps[m_step].data;
        if (m_fromClient.startsWith(expected)) {
            m_fromClient.remove(0, expected.size());
            m_record->stepsDone = ++m_step;
        } else if (expected.startsWith(m_fromClient)) {
            return; // the rest of the line is still to come
        } else {
            m_record->errors.append(QStringLiteral("expected %1, client sent %2")
                                        .arg(QString::fromLatin1(expected.trimmed()),
                                             QString::fromLatin1(m_fromClient.trimmed())));
            m_fromClient.clear();
            return;
        }
    }
    play();
}

// Queues the server's lines up to the next thing the client must say.
void FakeStream::play() {
    auto& steps = m_script->steps;
    while (m_step < steps.size()) {
        const Transcript::Step& s = steps[m_step];
        if (s.kind == Transcript::Kind::Server) {
            QByteArray data = s.data;
            if (m_script->bareLf)
                data.replace("\r\n", "\n");
            m_outbox += data;
            m_record->stepsDone = ++m_step;
        } else if (s.kind == Transcript::Kind::Close) {
            m_closeAfterOutbox = true;
            m_closed = true;
            m_record->stepsDone = ++m_step;
            break;
        } else if (s.kind == Transcript::Kind::Stall) {
            m_record->stepsDone = ++m_step;
            break;
        } else if (s.kind == Transcript::Kind::NextConnection) {
            break; // the rest belongs to another connection
        } else {
            break;
        }
    }
    if (!m_delivering && (!m_outbox.isEmpty() || m_closeAfterOutbox)) {
        m_delivering = true;
        QTimer::singleShot(0, this, &FakeStream::deliverNext);
    }
}

// One read per event-loop turn; a cut ends a read early.
void FakeStream::deliverNext() {
    m_delivering = false;
    if (m_aborted)
        return;
    if (!m_outbox.isEmpty()) {
        qsizetype n = m_outbox.size();
        for (qsizetype i = 1; i < m_outbox.size(); ++i) {
            if (m_script->cuts.contains(m_delivered + i)) {
                n = i;
                break;
            }
        }
        m_inbox += m_outbox.left(n);
        m_outbox.remove(0, n);
        m_delivered += n;
        Q_EMIT readyRead();
        if (m_aborted)
            return;
    }
    if (!m_outbox.isEmpty()) {
        m_delivering = true;
        QTimer::singleShot(0, this, &FakeStream::deliverNext);
    } else if (m_closeAfterOutbox) {
        m_closeAfterOutbox = false;
        Q_EMIT failed(Failure::RemoteClosed, QStringLiteral("closed"));
    }
}

std::unique_ptr<pop3::Stream> FakeStreamFactory::create() {
    return std::make_unique<FakeStream>(m_script, record, refusedPorts, silentPorts, tlsOnly);
}
