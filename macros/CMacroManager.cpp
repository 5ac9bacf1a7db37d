#include "macros/CMacroManager.h"

#include "platform/Error.h"
#include "platform/Text.h"
#include "utility/Strings.h"

namespace {

// The text named in an error about it, cut when it is long.
std::wstring Excerpt(const std::wstring& s) {
  constexpr std::size_t kShown = 60;
  if (s.size() <= kShown) return s;
  return s.substr(0, kShown) + L"...";
}

[[noreturn]] void ThrowEndless(const std::wstring& sData) {
  throw VslError(L"Macro expansion does not end: \"" + Excerpt(sData) + L"\"");
}

}  // namespace

CMacroManager::CMacroManager() {
  lGrowBy = 50;
  lUpperBound = 0;
  lMacroCount = 0;
  Grow();
}

void CMacroManager::Grow() {
  lUpperBound += lGrowBy;
  aMacros.resize(static_cast<std::size_t>(lUpperBound) + 1);
}

void CMacroManager::Add(const std::wstring& sKey, const std::wstring& CfgLine) {
  if (!HasRoom()) Grow();
  auto entry = std::make_unique<CMacroEntry>();
  entry->MacroName = sKey;
  entry->MacroText = CfgLine;
  aMacros[static_cast<std::size_t>(lMacroCount)] = std::move(entry);
  // Only the first entry of a name is ever found, as a scan from index 0
  // would find it.
  index_.try_emplace(sKey, lMacroCount);
  ++lMacroCount;
}

std::int32_t CMacroManager::FindIndex(const std::wstring& sKey) const {
  auto it = index_.find(sKey);
  return it == index_.end() ? -1 : it->second;
}

std::wstring CMacroManager::GetString(const std::wstring& sKey) const {
  const std::int32_t idx = FindIndex(sKey);
  return idx < 0 ? std::wstring() : aMacros[static_cast<std::size_t>(idx)]->MacroText;
}

void CMacroManager::Replace(const std::wstring& sKey, const std::wstring& CfgLine) {
  std::wstring text = CfgLine;
  Replace(sKey, std::move(text));
}

void CMacroManager::Replace(const std::wstring& sKey, std::wstring&& CfgLine) {
  const std::int32_t idx = FindIndex(sKey);
  if (idx < 0) {
    Add(sKey, CfgLine);
    return;
  }
  CMacroEntry& entry = *aMacros[static_cast<std::size_t>(idx)];
  entry.MacroName = sKey;
  entry.MacroText = std::move(CfgLine);
}

void CMacroManager::AddMacro(const std::wstring& sMacroName, const std::wstring& sData) {
  Replace(sMacroName, GetMacExpandedString(sData));
}

std::wstring CMacroManager::FindMacroRef(const std::wstring& s) {
  const std::size_t start = s.find(L"$(");
  if (start == std::wstring::npos) return std::wstring();
  const std::size_t close = s.find(L')', start + 1);
  if (close == std::wstring::npos) return std::wstring();
  return s.substr(start, close - start + 1);
}

std::wstring CMacroManager::GetMacExpandedString(const std::wstring& sData) const {
  // Each round replaces every occurrence (in any letter case) of the first
  // reference by its value and starts again from the beginning, so that
  // references produced by a value are expanded too. A value stored through
  // Add may hold a complete reference and make this go on for ever (a macro
  // Y holding "$(Y)"), or double the text on every round; hence the bounds
  // on the rounds and on the length.
  std::wstring s = sData;
  for (std::size_t steps = 0;; ++steps) {
    const std::wstring ref = FindMacroRef(s);
    if (ref.empty()) return s;
    if (steps >= kMaxExpansionSteps) ThrowEndless(sData);
    const std::wstring value = GetString(Utility::StripMacroRef(ref));
    std::wstring next;
    if (!Utility::ReplaceAllWithin(s, ref, value, kMaxExpansionLength, next)) ThrowEndless(sData);
    s = std::move(next);
  }
}

const CMacroEntry& CMacroManager::GetMacroByIndex(std::int32_t idx) const {
  if (idx < 0 || idx >= lMacroCount) {
    throw VslError(L"Macro index " + text::Decimal(idx) + L" is outside the range 0 to " +
                   text::Decimal(static_cast<long long>(lMacroCount) - 1));
  }
  return *aMacros[static_cast<std::size_t>(idx)];
}
