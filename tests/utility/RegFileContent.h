// What a parsed registry file says, for comparing two readings: the format, then "[path]" per section ("-[" when
// it is removed) and "name=type:data" per value (its text, or its bytes in hex; "-" when it is removed), each line
// followed by its line number in the file when `lines` is true.
#pragma once

#include <sstream>

#include "utility/RegFile.h"

inline std::wstring RegFileContent(const regfile::File& f, bool lines = true) {
  std::wostringstream o;
  o << static_cast<int>(f.format);
  for (const auto& s : f.sections) {
    o << L"\n" << (s.remove ? L"-[" : L"[") << s.path << L"]";
    if (lines) o << s.line;
    for (const auto& v : s.values) {
      o << L"\n" << v.name << L"=" << v.type << L":" << (v.remove ? L"-" : v.HoldsText() ? v.text : L"") << std::hex;
      for (int b : v.HoldsText() ? std::vector<std::uint8_t>{} : v.bytes) o << b << L",";
      o << std::dec;
      if (lines) o << L"@" << v.line;
    }
  }
  return o.str();
}
