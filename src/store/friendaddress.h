#pragma once

#include <QString>

#include <optional>

// What a Friends List entry holds for text a user gave. Senders are matched by
// their bare address, so "Mum <mum@family.test>" stored as typed would never
// match her mail: of a name with an address in angle brackets (RFC 5322
// name-addr) only the address is kept.
namespace friendaddress {

// The address inside the angle brackets when text, blanks around it aside, is
// one name-addr ("Mum <mum@family.test>", "\"Lee, Ann\" <ann@example.org>",
// "<ann@example.org>") whose address holds an "@"; nothing for any other form.
std::optional<QString> AddressInAngleBrackets(const QString& text);

// The text to store: that address, else the text trimmed of blanks.
QString ToStore(const QString& text);

} // namespace friendaddress
