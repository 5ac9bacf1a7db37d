// The .reg reader: any bytes are read without a crash, and a file read
// without errors is written by ToText so that reading that text again gives
// the same keys and values (for a version 5 file in UTF-16LE with its byte
// order mark, as Windows writes one).
#include <cstdio>
#include <cstdlib>

#include "platform/Platform.h"
#include "platform/Text.h"
#include "utility/RegFile.h"

namespace {

// What a file says, without its line numbers.
std::wstring Content(const regfile::File& f) {
  std::wstring out = f.format == regfile::Format::Version5 ? L"5" : L"4";
  for (const regfile::Section& s : f.sections) {
    out += (s.remove ? L"\n-[" : L"\n[") + s.path + L"]";
    for (const regfile::Value& v : s.values) {
      out += L"\n" + v.name + (v.remove ? L"=-" : L"=" + std::to_wstring(v.type) + (v.raw ? L"r:" : L":"));
      if (v.HoldsText()) out += v.text;
      for (std::uint8_t b : v.bytes) out += std::to_wstring(b) + L",";
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<regfile::Error> errors;
  const regfile::File file = regfile::Parse({reinterpret_cast<const char*>(data), size}, &errors);
  if (!errors.empty()) return 0;
  const std::wstring text = regfile::ToText(file, &errors);
  if (!errors.empty()) return 0;
  const std::string bytes =
      file.format == regfile::Format::Version5 ? "\xFF\xFE" + text::ToUtf16Le(text) : text::ToUtf8(text);
  const regfile::File again = regfile::Parse(bytes, &errors);
  if (!errors.empty() || Content(again) != Content(file)) {
    std::fprintf(stderr, "The written file reads differently:\n%s\n", text::ToUtf8(text).c_str());
    for (const regfile::Error& e : errors) std::fprintf(stderr, "line %d: %s\n", e.line, text::ToUtf8(e.message).c_str());
    std::fprintf(stderr, "was:\n%s\nnow:\n%s\n", text::ToUtf8(Content(file)).c_str(), text::ToUtf8(Content(again)).c_str());
    std::abort();
  }
  return 0;
}
