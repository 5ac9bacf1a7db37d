// The front end: a script's bytes through the tokenizer and the parser to
// the instruction list, which then runs; every command reaches only the
// memory platform and the doubles.
#include "FuzzPlatform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzPlatform p;
  p.Write(L"C:\\work\\script.vsl", {reinterpret_cast<const char*>(data), size});
  ParseAndRun(L"C:\\work\\script.vsl");
  return 0;
}
