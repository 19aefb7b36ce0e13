// headerparsebench: time ParseHeaderBlock on a header block as relayed mail has it
// (thirty Received lines, encoded words, a group in To, a multipart type).
//
//   headerparsebench [COUNT]
//
// Prints the block size, the count parsed, the total and the per-block time.
#include "pop3/pop3types.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (count <= 0) {
        std::fprintf(stderr, "usage: headerparsebench [COUNT]\n");
        return 2;
    }
    QByteArray raw;
    for (int i = 0; i < 30; ++i)
        raw += "Received: from relay" + QByteArray::number(i) +
               ".example.net by mx.example.com; Fri, 01 Mar 2024 10:03:50 +0200\r\n";
    raw += "From: =?UTF-8?B?Sm9zw6kgUGXDsWE=?= <jose@example.es>\r\nTo: a@x.example, Team: b@x.example;\r\n"
           "Subject: =?ISO-8859-1?Q?R=E9union?=\r\nContent-Type: multipart/mixed; boundary=x\r\n\r\n";

    QElapsedTimer timer;
    timer.start();
    int recipients = 0;
    for (int i = 0; i < count; ++i) {
        pop3::Message m;
        pop3::ParseHeaderBlock(raw, m);
        recipients += m.Recipients; // keeps the work observable
    }
    const qint64 ns = timer.nsecsElapsed();
    std::printf(
        "header block: %lld bytes\nparsed: %d (recipients seen: %d)\ntotal: %.1f ms\nper block: %.2f us\n",
        static_cast<long long>(raw.size()), count, recipients, ns / 1e6, ns / 1e3 / count);
    return 0;
}
