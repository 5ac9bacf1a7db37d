// Small text helpers shared by the parser, the macro store and the system
// operations.
#pragma once

#include <cstdint>
#include <string>

namespace Utility {

// True when text has at least two characters and begins and ends with '"'.
bool IsQuoted(const std::wstring& text);
// Removes one enclosing pair of double quotes (or a lone leading one).
std::wstring StripQuotes(const std::wstring& text);
// "$(name)" -> "name"; "" for three characters or fewer.
std::wstring StripMacroRef(const std::wstring& text);
// Replaces every case-insensitive occurrence of find, left to right, never
// searching inside an inserted replacement.
std::wstring ReplaceAll(const std::wstring& text, const std::wstring& find, const std::wstring& repl);
// True when text is longer than two characters and its second is ':'.
bool HasDriveLetter(const std::wstring& text);
// ReplaceAll that gives up (answers false) as soon as the result would grow
// beyond maxLength characters.
bool ReplaceAllWithin(const std::wstring& text, const std::wstring& find, const std::wstring& repl,
                      std::size_t maxLength, std::wstring& result);

// Converts decimal text (optional blanks around it, optional sign) to a
// signed 32-bit number; raises VslError naming the text otherwise. Used for
// the number text of "RegWriteValue" by the parser and the executor alike.
std::int32_t ToInt32(const std::wstring& text);

}  // namespace Utility
