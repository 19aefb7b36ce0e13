#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <vector>

// A loopback proxy in front of a POP3 server for the tests. It can hide STLS
// from the capability list (so the dialogue stays readable), cut the link the
// moment the client sends QUIT, and hold every chunk back for a delay in each
// direction (a slow link). Runs on the test's own event loop.
class Pop3Proxy : public QObject {
    Q_OBJECT
public:
    Pop3Proxy(const QString& targetHost, quint16 targetPort, QObject* parent = nullptr);
    ~Pop3Proxy() override;

    // Call in the proxy's own thread (invokeMethod) when it runs on one.
    Q_INVOKABLE bool listen();
    quint16 port() const { return m_server.serverPort(); }

    void setHideStls(bool hide) { m_hideStls = hide; }
    // Drops one SASL mechanism from the capability list (with setHideStls only:
    // the list must travel in plain text to be changed).
    void setHiddenSasl(const QByteArray& mechanism) { m_hiddenSasl = mechanism; }
    void setDropAtQuit(bool drop) { m_dropAtQuit = drop; }
    void setOneWayDelayMs(int ms) { m_delayMs = ms; }

    int quitsDropped() const { return m_quitsDropped; }
    int commandsSeen() const { return m_commands; }

private:
    struct Link;
    void onNewConnection();
    void fromClient(Link& link);
    void fromServer(Link& link);
    void send(QTcpSocket* to, const QByteArray& data);
    void cut(Link& link);

    QTcpServer m_server{this}; // a child, so moveToThread takes it along
    QString m_targetHost;
    quint16 m_targetPort;
    bool m_hideStls = false;
    QByteArray m_hiddenSasl;
    bool m_dropAtQuit = false;
    int m_delayMs = 0;
    int m_quitsDropped = 0;
    int m_commands = 0;
    std::vector<std::unique_ptr<Link>> m_links;
};
