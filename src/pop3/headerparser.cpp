#include "pop3types.h"

#include <gmime/gmime.h>

#include <memory>
#include <mutex>

namespace pop3 {

namespace {

struct GObjectUnref {
    void operator()(gpointer object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

// Shared, read-only after creation.
GMimeParserOptions* parserOptions()
{
    static GMimeParserOptions* options = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        g_mime_init();
        options = g_mime_parser_options_new();
        // Undeclared 8-bit text: UTF-8 when it is valid, else what Windows mailers send.
        static const char* charsets[] = {"UTF-8", "windows-1252", nullptr};
        g_mime_parser_options_set_fallback_charsets(options, charsets);
        g_mime_parser_options_set_rfc2047_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_address_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_parameter_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_allow_addresses_without_domain(options, TRUE);
    });
    return options;
}

QString text(const char* utf8) { return utf8 ? QString::fromUtf8(utf8).trimmed() : QString(); }

// The first mailbox of a list, looking inside groups.
InternetAddressMailbox* firstMailbox(InternetAddressList* list, int depth = 0)
{
    if (!list || depth > 8)
        return nullptr;
    const int n = internet_address_list_length(list);
    for (int i = 0; i < n; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address))
            return INTERNET_ADDRESS_MAILBOX(address);
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            if (auto* inner = firstMailbox(
                    internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), depth + 1))
                return inner;
        }
    }
    return nullptr;
}

int countMailboxes(InternetAddressList* list, int depth = 0)
{
    if (!list || depth > 8)
        return 0;
    int total = 0;
    const int n = internet_address_list_length(list);
    for (int i = 0; i < n; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(address))
            total += countMailboxes(
                internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), depth + 1);
        else
            ++total;
    }
    return total;
}

} // namespace

void ParseHeaderBlock(const QByteArray& rawHeaders, Message& message)
{
    GMimeParserOptions* options = parserOptions();
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(
        rawHeaders.constData(), static_cast<size_t>(rawHeaders.size())));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    GPtr<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), options));
    if (!parsed)
        return;
    GMimeMessage* msg = parsed.get();

    if (InternetAddressMailbox* from = firstMailbox(g_mime_message_get_from(msg))) {
        message.FromAddr = text(internet_address_mailbox_get_addr(from));
        const QString name = text(internet_address_get_name(INTERNET_ADDRESS(from)));
        message.From = name.isEmpty() ? message.FromAddr : name;
    }
    if (InternetAddressMailbox* replyTo = firstMailbox(g_mime_message_get_reply_to(msg)))
        message.ReplyToAddr = text(internet_address_mailbox_get_addr(replyTo));
    message.Subject = text(g_mime_message_get_subject(msg));
    message.Date = text(g_mime_object_get_header(GMIME_OBJECT(msg), "Date"));
    message.Recipients = countMailboxes(g_mime_message_get_addresses(msg, GMIME_ADDRESS_TYPE_TO))
        + countMailboxes(g_mime_message_get_addresses(msg, GMIME_ADDRESS_TYPE_CC));

    // No Content-Type means text/plain (RFC 2045), which is the default already.
    if (GMimeObject* part = g_mime_message_get_mime_part(msg)) {
        if (GMimeContentType* type = g_mime_object_get_content_type(part)) {
            const QString media = text(g_mime_content_type_get_media_type(type)).toLower();
            const QString sub = text(g_mime_content_type_get_media_subtype(type)).toLower();
            if (!media.isEmpty() && !sub.isEmpty()) {
                message.ContentType = media;
                message.ContentSubType = sub;
            }
        }
    }
}

} // namespace pop3
