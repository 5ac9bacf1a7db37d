// vsltool reg import of a file with 20,000 values (1,000 keys of 20 values
// of every kind the files hold), into an empty registry database each
// time: reading the file, and reading plus applying it as one transaction.
// vsltool reg export of the same registry, for comparison.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "platform/Text.h"
#include "TempRegistry.h"
#include "utility/RegFile.h"
#include "driver/RegTool.h"

namespace {

constexpr int kKeys = 1000;
constexpr int kValuesPerKey = 20;

std::string MakeFile() {
  std::wstring text = L"Windows Registry Editor Version 5.00\r\n";
  for (int k = 0; k < kKeys; ++k) {
    text += L"\r\n[HKEY_LOCAL_MACHINE\\Software\\Bench\\Group" + std::to_wstring(k % 10) + L"\\Key" +
            std::to_wstring(k) + L"]\r\n";
    for (int v = 0; v < kValuesPerKey; ++v) {
      const std::wstring name = L"\"Value " + std::to_wstring(v) + L" \\\"q\\\"\"=";
      switch (v % 4) {
        case 0: text += name + L"\"C:\\\\Program Files\\\\App " + std::to_wstring(k) + L"\"\r\n"; break;
        case 1: text += name + L"dword:0000" + std::to_wstring(1000 + v) + L"\r\n"; break;
        case 2: text += name + L"hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,\\\r\n  19,1a\r\n"; break;
        default: text += name + L"hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00\r\n"; break;
      }
    }
  }
  return "\xFF\xFE" + text::ToUtf16Le(text);
}

regfile::File ParseOrFail(const std::string& bytes, benchmark::State& state) {
  std::vector<regfile::Error> errors;
  regfile::File file = regfile::Parse(bytes, &errors);
  if (!errors.empty()) state.SkipWithError("the benchmark's file does not parse");
  return file;
}

void BM_RegFileParse(benchmark::State& state) {
  const std::string bytes = MakeFile();
  for (auto _ : state) benchmark::DoNotOptimize(ParseOrFail(bytes, state));
  state.SetItemsProcessed(state.iterations() * kKeys * kValuesPerKey);
}
BENCHMARK(BM_RegFileParse)->Unit(benchmark::kMillisecond);

void BM_RegImport(benchmark::State& state) {
  const std::string bytes = MakeFile();
  for (auto _ : state) {
    state.PauseTiming();
    {
      auto registry = std::make_unique<TempRegistry>();
      state.ResumeTiming();
      regtool::Import(ParseOrFail(bytes, state));
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kKeys * kValuesPerKey);
}
BENCHMARK(BM_RegImport)->Unit(benchmark::kMillisecond);

void BM_RegExport(benchmark::State& state) {
  TempRegistry registry;
  regtool::Import(ParseOrFail(MakeFile(), state));
  for (auto _ : state) {
    std::vector<regfile::Error> errors;
    std::wstring text = regfile::HeaderText(regfile::Format::Regedit4);
    regtool::Export(L"", [&](const regfile::Section& s) { text += regfile::SectionText(s, &errors); });
    benchmark::DoNotOptimize(text);
  }
  state.SetItemsProcessed(state.iterations() * kKeys * kValuesPerKey);
}
BENCHMARK(BM_RegExport)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
