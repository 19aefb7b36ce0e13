#pragma once

#include <QObject>

class FixedTextTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void encode_data();
    void encode();
    void decode_data();
    void decode();
};
