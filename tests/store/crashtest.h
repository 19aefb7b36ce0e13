#pragma once

#include <QObject>

class CrashTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void killDuringDeleteAccount();
};
