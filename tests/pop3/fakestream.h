#pragma once

#include "pop3/stream.h"

#include <QByteArray>
#include <QSet>
#include <QStringList>
#include <memory>
#include <vector>

// A scripted server behind the stream seam, written like a server log:
//   S: lines the server sends, C: lines the client must send, in order.
// The fake answers only when the client has sent what the script expects, so a
// client that pipelines where it must not, or sends what it must not (a password
// after a refused STLS), breaks the transcript and the test sees why. A line
// "--- next connection" ends what one connection plays; the next connection
// that opens plays on from there.
struct Transcript {
    enum class Kind { Server, Client, Close, Stall, NextConnection };
    struct Step {
        Kind kind;
        QByteArray data;
    };
    std::vector<Step> steps;
    bool bareLf = false;   // server lines end in LF instead of CRLF
    bool tlsFails = false; // the handshake after STLS fails
    QSet<qsizetype> cuts;  // offsets in the server's output where a read ends

    // Parses "S: ..."/"C: ..." lines; "S: <close>" and "S: <stall>" are actions.
    static Transcript parse(const QByteArray& log);
    QByteArray serverBytes() const;
};

class FakeStream : public pop3::Stream {
    Q_OBJECT
public:
    struct Record {
        QStringList errors;   // transcript violations
        QByteArray written;   // everything the client sent, on every stream
        QList<quint16> ports; // ports opened, in order
        size_t stepsDone = 0; // of the newest stream (streams die with their session)
        int connections = 0;  // streams that played (part of) the transcript
    };
    // Ports whose server speaks TLS from the first byte: a plain connection opens
    // and then hears nothing, or is closed at once (closes).
    struct TlsOnly {
        QSet<quint16> ports;
        bool closes = false;
    };
    FakeStream(std::shared_ptr<Transcript> script, std::shared_ptr<Record> record,
               const QSet<quint16>& refused, const QSet<quint16>& silent, const TlsOnly& tlsOnly);

    void setCaCertificates(const QList<QSslCertificate>&) override {}
    void open(const QString& host, quint16 port, bool implicitTls) override;
    void startTls() override;
    bool isEncrypted() const override { return m_encrypted; }
    qint64 bytesAvailable() const override { return m_inbox.size(); }
    QByteArray readAll() override;
    void write(const QByteArray& data) override;
    void abort() override { m_aborted = true; }

private:
    void play();
    void deliverNext();

    std::shared_ptr<Transcript> m_script;
    std::shared_ptr<Record> m_record;
    QSet<quint16> m_refused;
    QSet<quint16> m_silent;
    TlsOnly m_tlsOnly;
    size_t m_step = 0;
    QByteArray m_fromClient;
    QByteArray m_inbox;
    QByteArray m_outbox;       // scripted server bytes not yet delivered
    qsizetype m_delivered = 0; // server bytes handed over so far (for cuts)
    bool m_closeAfterOutbox = false;
    bool m_delivering = false;
    bool m_encrypted = false;
    bool m_aborted = false;
    bool m_closed = false; // the script closed: what the client still writes goes nowhere
};

class FakeStreamFactory : public pop3::StreamFactory {
public:
    explicit FakeStreamFactory(Transcript script)
        : m_script(std::make_shared<Transcript>(std::move(script))),
          record(std::make_shared<FakeStream::Record>()) {}
    std::unique_ptr<pop3::Stream> create() override;
    bool scriptDone() const { return record->stepsDone >= m_script->steps.size(); }

    QSet<quint16> refusedPorts; // open() on these fails as refused
    QSet<quint16> silentPorts;  // open() on these never completes
    FakeStream::TlsOnly tlsOnly;

private:
    std::shared_ptr<Transcript> m_script;

public:
    std::shared_ptr<FakeStream::Record> record;
};
