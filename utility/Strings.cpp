#include "utility/Strings.h"

#include <limits>

#include "platform/Error.h"
#include "platform/Text.h"

namespace Utility {

bool IsQuoted(const std::wstring& text) {
  return text.size() >= 2 && text.front() == L'"' && text.back() == L'"';
}

std::wstring StripQuotes(const std::wstring& text) {
  if (text.size() < 2) return std::wstring();
  const bool leading = text.front() == L'"';
  const bool both = leading && text.back() == L'"';
  const std::size_t start = leading ? 1 : 0;
  const std::size_t end = both ? text.size() - 1 : text.size();
  return text.substr(start, end - start);
}

std::wstring StripMacroRef(const std::wstring& text) {
  if (text.size() <= 3) return std::wstring();
  std::wstring result;
  if (text.starts_with(L"$(")) result = text.substr(2);
  // A text that ends in ")" without beginning with "$(" has nothing to
  // shorten; it gives the empty string.
  if (text.back() == L')' && !result.empty()) result.pop_back();
  return result;
}

bool ReplaceAllWithin(const std::wstring& text, const std::wstring& find, const std::wstring& repl,
                      std::size_t maxLength, std::wstring& result) {
  // Each search resumes right behind the inserted replacement, which is the
  // place right behind the occurrence in the original text; so building the
  // result from the original text gives the same answer in one pass. An
  // empty search text finds nothing.
  std::size_t p = find.empty() ? std::wstring::npos : text::FindNoCase(text, find, 0);
  if (p == std::wstring::npos) {
    if (text.size() > maxLength) return false;
    result = text;
    return true;
  }
  result.clear();
  result.reserve(text.size());
  std::size_t from = 0;
  while (p != std::wstring::npos) {
    if (result.size() + (p - from) + repl.size() > maxLength) return false;
    result.append(text, from, p - from);
    result.append(repl);
    from = p + find.size();
    p = text::FindNoCase(text, find, from);
  }
  if (result.size() + (text.size() - from) > maxLength) return false;
  result.append(text, from, std::wstring::npos);
  return true;
}

std::wstring ReplaceAll(const std::wstring& text, const std::wstring& find, const std::wstring& repl) {
  std::wstring result;
  ReplaceAllWithin(text, find, repl, std::wstring::npos, result);
  return result;
}

bool HasDriveLetter(const std::wstring& text) { return text.size() > 2 && text[1] == L':'; }

std::int32_t ToInt32(const std::wstring& text) {
  auto fail = [&](const wchar_t* reason) -> VslError {
    return VslError(L"Cannot convert \"" + text + L"\" to a number: " + reason);
  };
  auto isBlank = [](wchar_t c) { return c == L' ' || c == L'\t'; };

  std::size_t i = 0;
  std::size_t end = text.size();
  while (i < end && isBlank(text[i])) ++i;
  while (end > i && isBlank(text[end - 1])) --end;

  bool negative = false;
  if (i < end && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    ++i;
  }
  if (i == end) throw fail(L"it is not a signed 32-bit decimal number");

  // The magnitude is capped just above the largest one allowed, so that
  // long runs of digits cannot overflow the accumulator.
  const long long limit = negative ? 2147483648LL : 2147483647LL;
  long long magnitude = 0;
  bool tooLarge = false;
  for (; i < end; ++i) {
    const wchar_t c = text[i];
    if (c < L'0' || c > L'9') throw fail(L"it is not a signed 32-bit decimal number");
    if (!tooLarge) {
      magnitude = magnitude * 10 + (c - L'0');
      if (magnitude > limit) tooLarge = true;
    }
  }
  if (tooLarge) throw fail(L"it is outside the signed 32-bit range");
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace Utility
