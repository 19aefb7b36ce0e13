// libFuzzer entry: the whole path of server bytes to a review row. The input is
// read twice: as one header block, and as the byte stream of TOP replies, cut
// into pieces as a network would, through the reply reader. Every reply becomes
// a row, and the start of a message for its preview. Nothing may crash, hang, or
// read out of bounds, whatever a server sends.
#include "pop3/bodypreview.h"
#include "pop3/pop3types.h"
#include "pop3/replyreader.h"
#include "review/core/friendmatcher.h"
#include "review/core/reviewitem.h"

#include <cstddef>
#include <cstdint>

namespace {

const FriendMatcher& Friends() {
    static const FriendMatcher friends(QStringList{QStringLiteral("friend@example.com")});
    return friends;
}

void ToRow(const QByteArray& headers, int number) {
    pop3::Message message;
    pop3::ParseHeaderBlock(headers, message);
    const ReviewItem row = MakeReviewItem(message, number, Friends(), QLocale::c());
    // Touch the results so that bad strings are noticed by the sanitizers.
    volatile qsizetype sink = message.FromAddr.size() + message.ReplyToAddr.size() + message.Recipients;
    for (const QString& text : row.texts)
        sink = sink + text.size();
    const pop3::BodyPreview preview = pop3::MakeBodyPreview(headers);
    sink = sink + preview.text.size() + preview.attachments.size();
    for (const pop3::PreviewAttachment& attachment : preview.attachments)
        sink = sink + attachment.name.size() + attachment.mimeType.size();
    (void)sink;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    ToRow(bytes, 1);

    pop3::ReplyReader reader;
    reader.setMaxLine(512); // small caps, so the fuzzer reaches the skipping paths
    const qsizetype piece = 1 + qsizetype(size % 61);
    int number = 0;
    for (qsizetype at = 0; at < bytes.size(); at += piece) {
        reader.append(bytes.mid(at, piece));
        pop3::Reply reply;
        while (reader.next(true, 16 * 1024, reply) == pop3::ReplyReader::Status::Complete) {
            if (reply.kind == pop3::Reply::Ok && !reply.overLimit)
                ToRow(reply.body, ++number);
        }
    }
    return 0;
}
