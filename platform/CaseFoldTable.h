// The table behind text::FoldKey, generated at build time from Unicode's
// CaseFolding.txt by scripts/gen_casefold.py. Only Text.cpp and the generated
// source use it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace text {

extern const char kCaseFoldingVersion[];

namespace casefold {

// Code points first, first + stride, first + 2 * stride, ... up to last
// (stride 1 or 2) have the comparison key code point + delta. The ranges are
// sorted and do not overlap; a code point in none of them, or between the
// members of a range of stride 2, is its own key. ASCII is not listed.
struct KeyRange {
  std::uint32_t first;
  std::uint32_t last;
  std::int32_t delta;
  std::uint32_t stride;
};

extern const KeyRange kKeyRanges[];
extern const std::size_t kKeyRangeCount;

}  // namespace casefold
}  // namespace text
