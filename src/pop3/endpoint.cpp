#include "pop3/pop3types.h"

#include <QHostAddress>

namespace pop3 {

namespace {

bool parsePort(const QString& text, quint16& port) {
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (QChar c : text)
        if (!c.isDigit() || c.unicode() > '9')
            return false;
    const int value = text.toInt();
    if (value < 1 || value > 65535)
        return false;
    port = static_cast<quint16>(value);
    return true;
}

bool plausibleHost(const QString& host) {
    if (host.isEmpty() || host.size() > 253)
        return false;
    for (QChar c : host) {
        const char16_t u = c.unicode();
        if (u <= 0x20 || u == 0x7f || u == '/' || u == '@' || u == '?' || u == '#' || u == '\\' || u == '[' ||
            u == ']')
            return false;
    }
    return true;
}

// "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 address.
bool splitHostAndPort(const QString& rest, QString& host, QString& portText, bool& portGiven) {
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        host = rest.mid(1, close - 1);
        const QString tail = rest.mid(close + 1);
        if (!tail.isEmpty()) {
            if (!tail.startsWith(QLatin1Char(':')))
                return false;
            portText = tail.mid(1);
            portGiven = true;
        }
        if (QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol)
            return false;
    } else if (rest.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        host = rest.left(colon);
        portText = rest.mid(colon + 1);
        portGiven = true;
    } else if (rest.count(QLatin1Char(':')) > 1) {
        host = rest; // a bare IPv6 address
        if (QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol)
            return false;
    } else {
        host = rest;
    }
    return true;
}

} // namespace

bool Endpoint::Parse(const QString& address, quint16 defaultPort, Endpoint& out) {
    QString rest = address.trimmed();
    if (defaultPort == 0)
        defaultPort = 110;
    Endpoint e;
    bool schemeGiven = false;
    if (rest.startsWith(QLatin1String("pop3s://"), Qt::CaseInsensitive)) {
        e.security = Security::ImplicitTls;
        rest = rest.mid(8);
        schemeGiven = true;
    } else if (rest.startsWith(QLatin1String("pop3://"), Qt::CaseInsensitive)) {
        e.security = Security::Plain;
        rest = rest.mid(7);
        schemeGiven = true;
    }
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);

    QString host;
    QString portText;
    bool portGiven = false;
    if (!splitHostAndPort(rest, host, portText, portGiven))
        return false;
    if (!plausibleHost(host))
        return false;
    quint16 port = 0;
    if (portGiven && !parsePort(portText, port))
        return false;
    e.host = host;

    if (schemeGiven) {
        e.port = portGiven ? port : (e.security == Security::ImplicitTls ? quint16(995) : defaultPort);
    } else if (portGiven) {
        e.port = port;
        e.security = port == 995 ? Security::ImplicitTls : Security::StartTls;
    } else if (defaultPort == 995) {
        e.port = 995;
        e.security = Security::ImplicitTls;
    } else {
        e.port = defaultPort;
        e.security = Security::Auto;
    }
    out = e;
    return true;
}

} // namespace pop3
