#pragma once

#include <QFileInfo>
#include <QSettings>
#include <QString>

// The APOP tests' GNU Mailutils pop3d (apopserver.sh, CTest fixture "apopserver"),
// as its apopserver.ini describes it. Plain POP3 only; every greeting carries an
// APOP timestamp. "plain" has no APOP secret, "apop" has one (its password).
struct ApopServer {
    QString unavailable; // why the server cannot run here; empty when it runs
    QString host;
    quint16 port = 0;
    QString plainUser;
    QString plainPassword;
    QString apopUser;
    QString apopPassword;

    static ApopServer Read() {
        ApopServer server;
        const QString ini = qEnvironmentVariable("TIDEMARSH_APOPSERVER_INI");
        if (ini.isEmpty() || !QFileInfo::exists(ini)) {
            server.unavailable = QStringLiteral("no apopserver.ini: the apopserver fixture did not run");
            return server;
        }
        QSettings s(ini, QSettings::IniFormat);
        s.beginGroup(QStringLiteral("server"));
        server.unavailable = s.value(QStringLiteral("unavailable")).toString();
        server.host = s.value(QStringLiteral("host")).toString();
        server.port = static_cast<quint16>(s.value(QStringLiteral("port")).toUInt());
        server.plainUser = s.value(QStringLiteral("plain_user")).toString();
        server.plainPassword = s.value(QStringLiteral("plain_password")).toString();
        server.apopUser = s.value(QStringLiteral("apop_user")).toString();
        server.apopPassword = s.value(QStringLiteral("apop_password")).toString();
        if (server.unavailable.isEmpty() && server.port == 0)
            server.unavailable = QStringLiteral("apopserver.ini names no port");
        return server;
    }
    QString address() const { return QStringLiteral("pop3://%1:%2").arg(host).arg(port); }
};
