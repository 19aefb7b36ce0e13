#include "scriptedserver.h"

#include <QFile>
#include <QSslSocket>
#include <QTimer>

#include <algorithm>

void ScriptedPop3Server::Connection::send(const QByteArray& data) {
    if (socket && !dropped)
        socket->write(data);
}

void ScriptedPop3Server::Connection::drop() {
    dropped = true;
    if (socket)
        socket->abort();
}

ScriptedPop3Server::ScriptedPop3Server(Tls tls, const QString& certName, const QHostAddress& address,
                                       QObject* parent)
    : QTcpServer(parent), m_tls(tls) {
    QFile cert(dataPath(certName + QStringLiteral(".pem")));
    QFile key(dataPath(certName + QStringLiteral(".key")));
    if (cert.open(QIODevice::ReadOnly))
        m_certificate = QSslCertificate(cert.readAll());
    if (key.open(QIODevice::ReadOnly))
        m_key = QSslKey(key.readAll(), QSsl::Ec);
    listen(address, 0);
}

ScriptedPop3Server::~ScriptedPop3Server() {
    for (auto& c : m_connections)
        if (c->socket)
            c->socket->disconnect(this);
}

QString ScriptedPop3Server::dataPath(const QString& file) {
    return QStringLiteral(POP3_TEST_DATA_DIR "/") + file;
}

QList<QSslCertificate> ScriptedPop3Server::testCa() {
    QFile f(dataPath(QStringLiteral("ca.pem")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QSslCertificate::fromData(f.readAll());
}

void ScriptedPop3Server::incomingConnection(qintptr descriptor) {
    auto connection = std::make_unique<Connection>();
    Connection& c = *connection;
    auto* socket = new QSslSocket(this);
    c.socket = socket;
    m_connections.push_back(std::move(connection));
    socket->setSocketDescriptor(descriptor);
    socket->setLocalCertificate(m_certificate);
    socket->setPrivateKey(m_key);
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    connect(socket, &QSslSocket::readyRead, this, [this, &c] { onReadyRead(c); });
    connect(socket, &QSslSocket::disconnected, this, [&c] {
        c.socket->deleteLater();
        c.socket = nullptr;
    });
    if (m_tls == Tls::Implicit && failHandshake) {
        socket->write("+OK this port speaks no TLS\r\n");
        socket->disconnectFromHost();
    } else if (m_tls == Tls::Implicit) {
        connect(socket, &QSslSocket::encrypted, this, [this, &c] { c.send(greeting); });
        socket->startServerEncryption();
    } else if (greetingDelayMs > 0) {
        QTimer::singleShot(greetingDelayMs, socket, [this, &c] { c.send(greeting); });
    } else {
        c.send(greeting);
    }
}

int ScriptedPop3Server::openConnections() const {
    return static_cast<int>(std::count_if(m_connections.cbegin(), m_connections.cend(),
                                          [](const auto& c) { return c->socket != nullptr; }));
}

void ScriptedPop3Server::onReadyRead(Connection& c) {
    if (!c.socket)
        return;
    const QByteArray data = c.socket->readAll();
    received += data;
    c.buffer += data;
    qsizetype nl;
    while (c.socket && !c.dropped && (nl = c.buffer.indexOf('\n')) >= 0) {
        const QByteArray command = c.buffer.left(nl).trimmed();
        c.buffer.remove(0, nl + 1);
        handle(c, command);
    }
}

void ScriptedPop3Server::handle(Connection& c, const QByteArray& command) {
    const int index = ++commandCount;
    const Action action = hook ? hook(c, command, index) : Action::Default;
    if (action == Action::Handled)
        return;
    reply(c, command);
    if (action == Action::DefaultThenDrop && c.socket && !c.dropped) {
        c.dropped = true;
        c.socket->disconnectFromHost(); // after the reply has gone out
    }
}

void ScriptedPop3Server::reply(Connection& c, const QByteArray& command) {
    const QByteArray verb = command.split(' ').value(0).toUpper();
    const QByteArray arg = command.mid(verb.size()).trimmed();
    const int n = arg.split(' ').value(0).toInt();
    auto valid = [&] { return n >= 1 && n <= headers.size() && !c.marked.contains(n); };
    if (verb == "CAPA") {
        QByteArray caps = capabilities;
        if (m_tls == Tls::StartTls && !c.socket->isEncrypted())
            caps += "STLS\r\n";
        c.send("+OK\r\n" + caps + ".\r\n");
    } else if (verb == "STLS" && m_tls == Tls::StartTls && !c.socket->isEncrypted()) {
        c.send("+OK begin TLS\r\n");
        c.socket->startServerEncryption();
    } else if (verb == "USER") {
        c.send("+OK\r\n");
    } else if (verb == "PASS") {
        c.authenticated = arg == password;
        c.send(c.authenticated ? "+OK logged in\r\n" : "-ERR [AUTH] wrong\r\n");
    } else if (!c.authenticated) {
        c.send("-ERR log in first\r\n");
    } else if (verb == "LIST") {
        QByteArray out = "+OK\r\n";
        for (int i = 1; i <= headers.size(); ++i)
            if (!c.marked.contains(i))
                out += QByteArray::number(i) + ' ' + QByteArray::number(headers[i - 1].size() + 100) + "\r\n";
        c.send(out + ".\r\n");
    } else if (verb == "UIDL") {
        QByteArray out = "+OK\r\n";
        for (int i = 1; i <= headers.size(); ++i)
            out += QByteArray::number(i) + " uid" + QByteArray::number(i) + "\r\n";
        c.send(out + ".\r\n");
    } else if (verb == "TOP" && valid()) {
        c.send("+OK\r\n" + headers[n - 1] + "\r\n.\r\n");
    } else if (verb == "DELE" && valid()) {
        c.marked.insert(n);
        c.send("+OK marked\r\n");
    } else if (verb == "NOOP") {
        c.send("+OK\r\n");
    } else if (verb == "QUIT") {
        deleted += c.marked; // RFC 1939: the update state, then the reply
        c.send("+OK bye\r\n");
        c.socket->disconnectFromHost();
    } else {
        c.send("-ERR no\r\n");
    }
}
