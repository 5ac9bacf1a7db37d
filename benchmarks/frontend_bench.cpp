// Front-end speed: tokenizing and parsing a generated script of 100,000
// statements that uses 1,000 macros. Nothing runs at parse time; every
// command is emitted.
#include <benchmark/benchmark.h>

#include <string>

#include "parser/CVSLParser.h"
#include "platform/Platform.h"

namespace {

std::wstring GenerateScript(int statements, int macros) {
  std::wstring s;
  for (int i = 0; i < macros; ++i)
    s += L"m" + std::to_wstring(i) + L" = \"value " + std::to_wstring(i) + L"\"\n";
  for (int i = macros; i < statements; ++i) {
    const std::wstring a = std::to_wstring(i % macros);
    const std::wstring b = std::to_wstring((i * 7) % macros);
    switch (i % 5) {
      case 0: s += L"DelFile \"C:\\app\\$(m" + a + L")\\file.txt\"\n"; break;
      case 1: s += L"RegWriteString \"Software\\$(m" + a + L")\", \"v\", \"$(m" + b + L")\"\n"; break;
      case 2: s += L"IF ($(m" + a + L") == \"value " + a + L"\") THEN MsgBox \"$(m" + b + L")\" ENDIF\n"; break;
      case 3: s += L"XCopy \"Z:\\src\\$(m" + a + L")\", \"C:\\dst\" # copy\n"; break;
      default: s += L"Run \"C:\\bin\\tool.exe\", \"/x $(m" + b + L")\"\n"; break;
    }
  }
  return s;
}

void BM_TokenizeAndParse(benchmark::State& state) {
  const std::wstring script = GenerateScript(100000, 1000);
  for (auto _ : state) {
    CVSLParser parser;
    parser.Tokenizer().OpenText(script);
    parser.Start();
    benchmark::DoNotOptimize(parser.CodeGen().InstCount());
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_TokenizeAndParse)->Unit(benchmark::kMillisecond);

void BM_TokenizeOnly(benchmark::State& state) {
  const std::wstring script = GenerateScript(100000, 1000);
  for (auto _ : state) {
    CTokenizer tokenizer;
    tokenizer.OpenText(script);
    int n = 0;
    while (tokenizer.NextToken() != Tokens::TK_EOF) ++n;
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_TokenizeOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
