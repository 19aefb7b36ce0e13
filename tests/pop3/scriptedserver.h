#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QSet>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <functional>
#include <memory>
#include <vector>

class QSslSocket;

// A small POP3 server of our own on a free loopback port, with real TLS, for
// faults a real server will not produce on demand. It answers the usual commands
// from a list of header blocks; a hook can take over any command.
class ScriptedPop3Server : public QTcpServer {
    Q_OBJECT
public:
    enum class Tls { None, Implicit, StartTls };
    struct Connection {
        QSslSocket* socket = nullptr;
        QByteArray buffer;
        QSet<int> marked;
        bool authenticated = false;
        bool dropped = false;
        void send(const QByteArray& data);
        void drop();
    };
    // What a hook wants done with a command.
    enum class Action { Default, Handled, DefaultThenDrop };
    using Hook = std::function<Action(Connection&, const QByteArray& command, int index)>;

    // certName: a pair in tests/pop3/data ("server", "selfsigned", "wronghost", "expired").
    ScriptedPop3Server(Tls tls, const QString& certName,
                       const QHostAddress& address = QHostAddress(QHostAddress::LocalHost),
                       QObject* parent = nullptr);
    ~ScriptedPop3Server() override;

    static QString dataPath(const QString& file);
    static QList<QSslCertificate> testCa();

    QList<QByteArray> headers; // message n is headers[n-1]
    Hook hook;
    QByteArray received; // all decrypted bytes from clients
    QSet<int> deleted;   // removed by a confirmed QUIT
    int commandCount = 0;
    QByteArray password = "pw-7731-secret";
    QByteArray capabilities = "TOP\r\nUIDL\r\nUSER\r\nPIPELINING\r\n";
    QByteArray greeting = "+OK scripted server ready\r\n";
    int greetingDelayMs = 0;    // plain text and STLS: how long a new connection waits for the greeting
    bool failHandshake = false; // implicit TLS: answer the next ClientHello with plain text and close
    // Connections whose socket is still open.
    int openConnections() const;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void onReadyRead(Connection& c);
    void handle(Connection& c, const QByteArray& command);
    void reply(Connection& c, const QByteArray& command);

    Tls m_tls;
    QSslCertificate m_certificate;
    QSslKey m_key;
    std::vector<std::unique_ptr<Connection>> m_connections;
};
