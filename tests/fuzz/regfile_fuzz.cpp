// The .reg reader: any bytes are read without a crash, and a file read
// without errors is written by ToText so that reading that text again gives
// the same keys and values (for a version 5 file in UTF-16LE with its byte
// order mark, as Windows writes one).
#include <cstdio>
#include <cstdlib>

#include "platform/Platform.h"
#include "platform/Text.h"
#include "utility/RegFileContent.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<regfile::Error> errors;
  const regfile::File file = regfile::Parse({reinterpret_cast<const char*>(data), size}, &errors);
  if (!errors.empty()) return 0;
  const std::wstring text = regfile::ToText(file, &errors);
  if (!errors.empty()) return 0;
  const std::string bytes =
      file.format == regfile::Format::Version5 ? "\xFF\xFE" + text::ToUtf16Le(text) : text::ToUtf8(text);
  const regfile::File again = regfile::Parse(bytes, &errors);
  if (!errors.empty() || RegFileContent(again, false) != RegFileContent(file, false)) {
    std::fprintf(stderr, "The written file reads differently:\n%s\n", text::ToUtf8(text).c_str());
    for (const regfile::Error& e : errors) std::fprintf(stderr, "line %d: %s\n", e.line, text::ToUtf8(e.message).c_str());
    std::fprintf(stderr, "was:\n%s\nnow:\n%s\n", text::ToUtf8(RegFileContent(file, false)).c_str(),
                 text::ToUtf8(RegFileContent(again, false)).c_str());
    std::abort();
  }
  return 0;
}
