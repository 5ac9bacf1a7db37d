// The macro store: named string values and the expansion of "$(name)"
// references inside strings.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class CMacroEntry {
 public:
  std::wstring MacroName;
  std::wstring MacroText;
};

class CMacroManager {
 public:
  CMacroManager();

  // Appends an entry without looking for an existing one of that name.
  void Add(const std::wstring& sKey, const std::wstring& CfgLine);
  // Text of the first entry whose name equals sKey exactly, or "".
  std::wstring GetString(const std::wstring& sKey) const;
  // Sets the text of the entry named sKey in place, or appends one.
  void Replace(const std::wstring& sKey, const std::wstring& CfgLine);
  // The same, taking the text over.
  void Replace(const std::wstring& sKey, std::wstring&& CfgLine);
  // Expands sData and stores it under sMacroName.
  void AddMacro(const std::wstring& sMacroName, const std::wstring& sData);
  // sData with every macro reference expanded. Raises VslError when the
  // expansion does not come to an end (see kMaxExpansionLength).
  std::wstring GetMacExpandedString(const std::wstring& sData) const;
  std::int32_t Count() const { return lMacroCount; }
  // The entry at idx (0 .. Count-1); raises VslError outside.
  const CMacroEntry& GetMacroByIndex(std::int32_t idx) const;

  // An expansion whose text grows beyond this many characters, or that
  // repeats more than kMaxExpansionSteps times, is stopped with an error.
  static constexpr std::size_t kMaxExpansionLength = 1u << 20;
  static constexpr std::size_t kMaxExpansionSteps = 100000;

 private:
  std::int32_t FindIndex(const std::wstring& sKey) const;
  static std::wstring FindMacroRef(const std::wstring& s);
  bool HasRoom() const { return lMacroCount <= lUpperBound; }
  void Grow();

  std::vector<std::unique_ptr<CMacroEntry>> aMacros;
  std::int32_t lMacroCount = 0;
  std::int32_t lGrowBy = 50;
  std::int32_t lUpperBound = 0;
  // Index of the first entry of each name; lookups give the same answer as
  // the scan from index 0 because names never move and never repeat.
  std::unordered_map<std::wstring, std::int32_t> index_;
};
