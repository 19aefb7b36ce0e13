#pragma once

#include "store/records.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// Reading the e-mail addresses out of address-book exports, and deciding which
// of them join the Friends list. No widgets: the import dialog only shows the
// result.
namespace addressbook {

enum class Format { VCard, Csv, Ldif };

// The content decides when it says clearly what it is (BEGIN:VCARD, an LDIF
// dn: or version: line); otherwise the file name's suffix; otherwise CSV.
Format DetectFormat(const QString& fileName, const QByteArray& bytes);

// Every EMAIL of every card (vCard 2.1, 3 and 4): folded lines, quoted-printable
// and base64 values, any CHARSET.
QStringList ReadVCard(const QByteArray& bytes);
// Every column whose header contains "mail"; comma, semicolon or tab separated,
// chosen from the header row; RFC 4180 quoting.
QStringList ReadCsv(const QByteArray& bytes);
// mail: and mozillaSecondEmail: of every entry, base64 values and folded lines.
QStringList ReadLdif(const QByteArray& bytes);
QStringList Read(Format format, const QByteArray& bytes);

// The addresses in one field value: tokens holding an "@" with something on
// both sides, without enclosing <>, (), quotes or a mailto: prefix. A value
// like "Ann Lee <ann@example.org>" gives ann@example.org, and so does
// "ann@home" <ann@example.org> (a name-addr counts as its address alone);
// "SMTP" gives nothing.
QStringList AddressesIn(const QString& value);

// Text in the named character set (any iconv knows); UTF-8, falling back to
// Latin-1, when the set is empty or unknown.
QString DecodeCharset(const QByteArray& bytes, const QByteArray& charset);

// Reads and parses the file. Returns nothing and sets error when the file
// cannot be read or is too large to be an address book.
std::optional<QStringList> ReadFile(const QString& path, QString* error);

// How the addresses of one file meet the Friends list.
struct Plan {
    int found = 0;          // distinct addresses in the file (letter case ignored)
    int alreadyFriends = 0; // of those, already on the list (the store's comparison)
    QStringList toAdd;      // the others that fit the record field, in file order
    QStringList tooLong;    // the others that do not fit: reported, never cut
};
Plan PlanImport(const QStringList& addresses, const QList<QPair<int, QString>>& friends);

// Bytes of an address in the Friends record field.
constexpr int kAddressBytes = FriendRecord::RecordLength;

} // namespace addressbook
