#include "platform/Text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/CaseFoldTable.h"

namespace text {

std::wstring FromUtf8(std::string_view bytes) {
  std::wstring out;
  AppendFromUtf8(out, bytes);
  return out;
}

void AppendFromUtf8(std::wstring& out, std::string_view bytes) {
  // The text takes at most one unit a byte: room for that, filled in one
  // pass, then cut to what was written.
  const std::size_t n = bytes.size();
  const std::size_t at = out.size();
  out.resize(at + n);
  wchar_t* const begin = out.data() + at;
  wchar_t* w = begin;
  std::size_t i = 0;
  while (i < n) {
    // Eight ASCII bytes at a time where they come in a run.
    if (i + 8 <= n) {
      std::uint64_t eight;
      std::memcpy(&eight, bytes.data() + i, 8);
      if ((eight & 0x8080808080808080u) == 0) {
        for (int k = 0; k < 8; ++k) w[k] = static_cast<wchar_t>(bytes[i + static_cast<std::size_t>(k)]);
        w += 8;
        i += 8;
        continue;
      }
    }
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      *w++ = static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    int len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b & 0xE0) == 0xC0) { len = 2; cp = b & 0x1F; min = 0x80; }
    else if ((b & 0xF0) == 0xE0) { len = 3; cp = b & 0x0F; min = 0x800; }
    else if ((b & 0xF8) == 0xF0) { len = 4; cp = b & 0x07; min = 0x10000; }
    bool ok = len > 0 && i + len <= n;
    for (int k = 1; ok && k < len; ++k) {
      unsigned char c = static_cast<unsigned char>(bytes[i + k]);
      if ((c & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (c & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      *w++ = L'\xFFFD';
      ++i;
      continue;
    }
    if constexpr (sizeof(wchar_t) == 2) {
      if (cp >= 0x10000) {
        cp -= 0x10000;
        *w++ = static_cast<wchar_t>(0xD800 + (cp >> 10));
        *w++ = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
      } else {
        *w++ = static_cast<wchar_t>(cp);
      }
    } else {
      *w++ = static_cast<wchar_t>(cp);
    }
    i += len;
  }
  out.resize(at + static_cast<std::size_t>(w - begin));
}

std::string ToUtf8(std::wstring_view s) {
  // ASCII, most names, is copied unit for unit up to the first code point
  // beyond it.
  std::size_t i = 0;
  while (i < s.size() && static_cast<std::uint32_t>(s[i]) < 0x80) ++i;
  std::string out(i, '\0');
  for (std::size_t k = 0; k < i; ++k) out[k] = static_cast<char>(s[k]);
  if (i == s.size()) return out;
  out.reserve(s.size() + 8);
  for (; i < s.size(); ++i) {
    char32_t cp = static_cast<char32_t>(s[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size()) {
        char32_t lo = static_cast<char32_t>(s[i + 1]);
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          ++i;
        }
      }
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

namespace {

using Unit = std::make_unsigned_t<wchar_t>;

// The code point at s[i] and the number of units it takes (1, or 2 for a
// surrogate pair where wchar_t has 16 bits).
char32_t CodePointAt(std::wstring_view s, std::size_t i, std::size_t* width) {
  char32_t c = static_cast<Unit>(s[i]);
  *width = 1;
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size()) {
      char32_t lo = static_cast<Unit>(s[i + 1]);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        *width = 2;
        return 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
      }
    }
  }
  return c;
}

// Is s[i] the second half of a surrogate pair?
bool InsidePair(std::wstring_view s, std::size_t i) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (i == 0 || i >= s.size()) return false;
    Unit hi = static_cast<Unit>(s[i - 1]);
    Unit lo = static_cast<Unit>(s[i]);
    return hi >= 0xD800 && hi <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF;
  } else {
    (void)s;
    (void)i;
    return false;
  }
}

}  // namespace

char32_t FoldKey(char32_t c) {
  if (c < 0x80) return (c >= U'a' && c <= U'z') ? c - 0x20 : c;
  using casefold::KeyRange;
  const KeyRange* begin = casefold::kKeyRanges;
  const KeyRange* end = begin + casefold::kKeyRangeCount;
  // The last range starting at or before c.
  const KeyRange* r =
      std::upper_bound(begin, end, c, [](char32_t v, const KeyRange& range) { return v < range.first; });
  if (r == begin) return c;
  --r;
  if (c > r->last || (c - r->first) % r->stride != 0) return c;
  return static_cast<char32_t>(static_cast<std::int32_t>(c) + r->delta);
}

std::wstring Fold(std::wstring_view s) {
  std::wstring out(s);
  // ASCII, most of any path, folds without the table; the rest from the
  // first code point beyond it.
  wchar_t* const units = out.data();
  const std::size_t n = out.size();
  std::size_t i = 0;
  for (; i < n; ++i) {
    const auto c = static_cast<std::uint32_t>(units[i]);
    if (c >= 0x80) break;
    if (c - U'a' < 26) units[i] = static_cast<wchar_t>(c - 0x20);
  }
  while (i < out.size()) {
    std::size_t width = 1;
    char32_t c = CodePointAt(out, i, &width);
    char32_t key = FoldKey(c);
    if (key != c) {
      // The key takes as many units as the code point.
      if (width == 2) {
        key -= 0x10000;
        out[i] = static_cast<wchar_t>(0xD800 + (key >> 10));
        out[i + 1] = static_cast<wchar_t>(0xDC00 + (key & 0x3FF));
      } else {
        out[i] = static_cast<wchar_t>(key);
      }
    }
    i += width;
  }
  return out;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  // Folding keeps the length, so texts of different lengths differ.
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size();) {
    std::size_t wa = 1, wb = 1;
    char32_t x = CodePointAt(a, i, &wa);
    char32_t y = CodePointAt(b, i, &wb);
    if (x != y && FoldKey(x) != FoldKey(y)) return false;
    // Equal keys lie in one plane, so both took the same number of units.
    i += wa;
  }
  return true;
}

int CompareNoCase(std::wstring_view a, std::wstring_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    // Two ASCII units compare by their upper-case letters, without the table.
    const auto ua = static_cast<std::uint32_t>(a[i]);
    const auto ub = static_cast<std::uint32_t>(b[j]);
    if (ua < 0x80 && ub < 0x80) {
      const std::uint32_t x = ua - (ua - U'a' < 26 ? 0x20 : 0);
      const std::uint32_t y = ub - (ub - U'a' < 26 ? 0x20 : 0);
      if (x != y) return x < y ? -1 : 1;
      ++i;
      ++j;
      continue;
    }
    std::size_t wa = 1, wb = 1;
    char32_t x = FoldKey(CodePointAt(a, i, &wa));
    char32_t y = FoldKey(CodePointAt(b, j, &wb));
    if (x != y) return x < y ? -1 : 1;
    i += wa;
    j += wb;
  }
  if (i == a.size() && j == b.size()) return 0;
  return i == a.size() ? -1 : 1;
}

std::size_t FindNoCase(std::wstring_view s, std::wstring_view find, std::size_t from) {
  if (find.empty()) return from <= s.size() ? from : std::wstring_view::npos;
  if (find.size() > s.size()) return std::wstring_view::npos;
  std::size_t firstWidth = 1;
  const char32_t first = FoldKey(CodePointAt(find, 0, &firstWidth));
  for (std::size_t i = from; i + find.size() <= s.size(); ++i) {
    // A match never starts inside a code point.
    if (InsidePair(s, i)) continue;
    std::size_t w = 1;
    if (FoldKey(CodePointAt(s, i, &w)) != first) continue;
    std::size_t j = i + w, k = firstWidth;
    while (k < find.size()) {
      std::size_t ws = 1, wf = 1;
      if (FoldKey(CodePointAt(s, j, &ws)) != FoldKey(CodePointAt(find, k, &wf))) break;
      j += ws;
      k += wf;
    }
    if (k == find.size()) return i;
  }
  return std::wstring_view::npos;
}

std::string FoldingIdentity() { return std::string("unicode-simple-fold-min/") + kCaseFoldingVersion; }

std::wstring Decimal(long long n) { return std::to_wstring(n); }

}  // namespace text
