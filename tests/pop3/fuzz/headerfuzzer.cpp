// libFuzzer entry: any bytes as a header block. ParseHeaderBlock must neither
// crash, hang nor read out of bounds, whatever a server sends.
#include "pop3types.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pop3::Message message;
    pop3::ParseHeaderBlock(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)),
                           message);
    // Touch the results so that bad strings are noticed by the sanitizers.
    volatile qsizetype sink = message.From.size() + message.FromAddr.size() + message.ReplyToAddr.size() +
                              message.Subject.size() + message.Date.size() + message.ContentType.size() +
                              message.ContentSubType.size() + message.Recipients;
    (void)sink;
    return 0;
}
