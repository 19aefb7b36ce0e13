#include "pop3client.h"

namespace pop3 {

class Session {};

Client::Client(QObject* parent) : QObject(parent) {}
Client::Client(std::shared_ptr<StreamFactory>, QObject* parent) : QObject(parent) {}
Client::~Client() = default;

void Client::setTraceFile(const QString&) {}
QString Client::traceFile() const { return {}; }
void Client::setUserName(const QString&) {}
void Client::setPassword(const QString&) {}
void Client::setHostName(const QString&) {}
void Client::setDefaultPort(quint16) {}
void Client::setTimeoutSeconds(int) {}
void Client::setImplicitTlsProbeSeconds(int) {}
void Client::addCaCertificates(const QList<QSslCertificate>&) {}
int Client::Connect() { return ConnectionProblem; }
int Client::GetHeaders() { return NotConnected; }
int Client::Disconnect() { return NotConnected; }
int Client::KeepAlive() { return NotConnected; }
int Client::CancelOperation(int) { return Ok; }
int Client::Count() const { return 0; }
const Message& Client::Item(int) const { static const Message empty; return empty; }
int Client::DeleteFromServer(int) { return NotConnected; }
QVector<int> Client::DeleteFromServer(const QVector<int>& numbers) { return QVector<int>(numbers.size(), NotConnected); }
bool Client::isConnected() const { return false; }
bool Client::isBusy() const { return false; }
QString Client::lastServerReply() const { return {}; }

bool Endpoint::Parse(const QString&, quint16, Endpoint&) { return false; }
void ParseHeaderBlock(const QByteArray&, Message&) {}

} // namespace pop3
