#include "support/pop3proxy.h"

#include <QPointer>
#include <QTimer>

struct Pop3Proxy::Link {
    QTcpSocket* client = nullptr;
    QTcpSocket* server = nullptr;
    QByteArray clientLine; // client bytes not yet ended by a line break
    QByteArray serverLine;
    bool cut = false;
};

Pop3Proxy::Pop3Proxy(const QString& targetHost, quint16 targetPort, QObject* parent)
    : QObject(parent), m_targetHost(targetHost), m_targetPort(targetPort) {
    connect(&m_server, &QTcpServer::newConnection, this, &Pop3Proxy::onNewConnection);
}

Pop3Proxy::~Pop3Proxy() {
    for (auto& link : m_links) {
        // Quietly: a socket's last signals must not reach its partner being deleted.
        link->client->disconnect();
        link->server->disconnect();
        delete link->client;
        delete link->server;
    }
}

bool Pop3Proxy::listen() {
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void Pop3Proxy::onNewConnection() {
    while (QTcpSocket* client = m_server.nextPendingConnection()) {
        client->setParent(nullptr);
        auto link = std::make_unique<Link>();
        Link* raw = link.get();
        raw->client = client;
        raw->server = new QTcpSocket;
        raw->client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        raw->server->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(raw->client, &QTcpSocket::readyRead, this, [this, raw] { fromClient(*raw); });
        connect(raw->server, &QTcpSocket::readyRead, this, [this, raw] { fromServer(*raw); });
        connect(raw->client, &QTcpSocket::disconnected, this, [this, raw] {
            if (m_delayMs > 0)
                QTimer::singleShot(m_delayMs, raw->server, [raw] { raw->server->disconnectFromHost(); });
            else
                raw->server->disconnectFromHost();
        });
        connect(raw->server, &QTcpSocket::disconnected, this, [this, raw] {
            if (m_delayMs > 0)
                QTimer::singleShot(m_delayMs, raw->client, [raw] { raw->client->disconnectFromHost(); });
            else
                raw->client->disconnectFromHost();
        });
        raw->server->connectToHost(m_targetHost, m_targetPort);
        m_links.push_back(std::move(link));
    }
}

void Pop3Proxy::send(QTcpSocket* to, const QByteArray& data) {
    if (data.isEmpty())
        return;
    if (m_delayMs <= 0) {
        to->write(data);
        return;
    }
    QPointer<QTcpSocket> target(to);
    QTimer::singleShot(m_delayMs, to, [target, data] {
        if (target)
            target->write(data);
    });
}

void Pop3Proxy::cut(Link& link) {
    link.cut = true;
    ++m_quitsDropped;
    link.client->abort();
    link.server->abort();
}

void Pop3Proxy::fromClient(Link& link) {
    const QByteArray data = link.client->readAll();
    if (link.cut)
        return;
    if (!m_dropAtQuit && !m_hideStls) {
        m_commands += static_cast<int>(data.count('\n'));
        send(link.server, data);
        return;
    }
    link.clientLine += data;
    QByteArray forward;
    qsizetype end;
    while ((end = link.clientLine.indexOf('\n')) >= 0) {
        const QByteArray line = link.clientLine.left(end + 1);
        link.clientLine.remove(0, end + 1);
        ++m_commands;
        if (m_dropAtQuit && line.trimmed().toUpper() == "QUIT") {
            // Everything before QUIT reaches the server; QUIT itself never does.
            send(link.server, forward);
            link.server->flush();
            QPointer<QTcpSocket> guard(link.server);
            Link* raw = &link;
            QTimer::singleShot(m_delayMs + 200, this, [this, raw, guard] {
                if (guard)
                    cut(*raw);
            });
            link.cut = true;
            return;
        }
        forward += line;
    }
    send(link.server, forward);
}

void Pop3Proxy::fromServer(Link& link) {
    const QByteArray data = link.server->readAll();
    if (!m_hideStls) {
        send(link.client, data);
        return;
    }
    link.serverLine += data;
    QByteArray forward;
    qsizetype end;
    while ((end = link.serverLine.indexOf('\n')) >= 0) {
        const QByteArray line = link.serverLine.left(end + 1);
        link.serverLine.remove(0, end + 1);
        if (line.trimmed().toUpper() == "STLS")
            continue; // the capability only: the client then stays in plain text
        if (!m_hiddenSasl.isEmpty() && line.startsWith("SASL ")) {
            QList<QByteArray> words = line.trimmed().split(' ');
            words.removeAll(m_hiddenSasl);
            forward += words.join(' ') + "\r\n";
            continue;
        }
        forward += line;
    }
    send(link.client, forward);
}
