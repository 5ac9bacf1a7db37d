// UTF-16 little-endian coding, for files written the Windows way.
#include "platform/Text.h"

namespace text {

namespace {

void PutCodePoint(std::wstring& out, char32_t cp) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<wchar_t>(cp));
}

void PutUnit(std::string& out, char16_t u) {
  out.push_back(static_cast<char>(u & 0xFF));
  out.push_back(static_cast<char>(u >> 8));
}

}  // namespace

std::wstring FromUtf16Le(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size() / 2);
  const std::size_t units = bytes.size() / 2;
  auto unit = [&](std::size_t i) {
    return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                 static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  };
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const char16_t low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        PutCodePoint(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      out.push_back(L'\xFFFD');
      continue;
    }
    out.push_back(static_cast<wchar_t>(u));
  }
  if (bytes.size() % 2 != 0) out.push_back(L'\xFFFD');
  return out;
}

std::string ToUtf16Le(std::wstring_view s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (wchar_t c : s) {
    const auto cp = static_cast<char32_t>(c);
    if constexpr (sizeof(wchar_t) == 4) {
      if (cp >= 0x10000 && cp <= 0x10FFFF) {
        const char32_t v = cp - 0x10000;
        PutUnit(out, static_cast<char16_t>(0xD800 + (v >> 10)));
        PutUnit(out, static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        continue;
      }
      if (cp > 0x10FFFF) {
        PutUnit(out, 0xFFFD);
        continue;
      }
    }
    PutUnit(out, static_cast<char16_t>(cp));
  }
  return out;
}

}  // namespace text
