// Throughput of the registry operations on the SQLite registry: each write
// creates or opens its key, sets a string value and closes the key; each
// read opens the key, reads the value and closes the key.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "parser/CVSLParser.h"
#include "TempRegistry.h"
#include "utility/Utility.h"

namespace {

constexpr int kOperations = 10000;

std::wstring KeyPath(int i) { return L"Software\\Bench\\Key" + std::to_wstring(i % 100); }
std::wstring ValueName(int i) { return L"Value" + std::to_wstring(i); }

void BM_RegWriteString(benchmark::State& state) {
  TempRegistry registry;
  int next = 0;  // every write adds a new value
  for (auto _ : state) {
    for (int i = 0; i < kOperations; ++i, ++next) {
      if (!Utility::RegWriteString(platform::kHKeyLocalMachine, KeyPath(next), ValueName(next),
                                   L"C:\\Program Files\\App"))
        state.SkipWithError("a write failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * kOperations);
}
BENCHMARK(BM_RegWriteString)->Unit(benchmark::kMillisecond);

void BM_RegReadString(benchmark::State& state) {
  TempRegistry registry;
  for (int i = 0; i < kOperations; ++i)
    Utility::RegWriteString(platform::kHKeyLocalMachine, KeyPath(i), ValueName(i), L"C:\\Program Files\\App");
  for (auto _ : state) {
    for (int i = 0; i < kOperations; ++i) {
      if (Utility::RegReadString(platform::kHKeyLocalMachine, KeyPath(i), ValueName(i)).empty())
        state.SkipWithError("a read failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * kOperations);
}
BENCHMARK(BM_RegReadString)->Unit(benchmark::kMillisecond);

// The same work as script commands run at parse time: each statement is an
// assignment whose value is the command, so it runs while the script is
// parsed.
std::wstring ScriptOf(const wchar_t* command, int first, bool withData) {
  std::wstring s;
  for (int i = first; i < first + kOperations; ++i) {
    s += L"r = ";
    s += command;
    s += L" \"" + KeyPath(i) + L"\", \"" + ValueName(i) + L"\"";
    if (withData) s += L", \"C:\\Program Files\\App\"";
    s += L"\n";
  }
  return s;
}

void BM_ScriptRegWriteString(benchmark::State& state) {
  TempRegistry registry;
  int first = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::wstring script = ScriptOf(L"RegWriteString", first, true);
    first += kOperations;
    state.ResumeTiming();
    CVSLParser parser;
    parser.Tokenizer().OpenText(script);
    parser.Start();
    if (parser.Macros().GetString(L"r") != L"True") state.SkipWithError("a write failed");
  }
  state.SetItemsProcessed(state.iterations() * kOperations);
}
BENCHMARK(BM_ScriptRegWriteString)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScriptRegReadString(benchmark::State& state) {
  TempRegistry registry;
  for (int i = 0; i < kOperations; ++i)
    Utility::RegWriteString(platform::kHKeyLocalMachine, KeyPath(i), ValueName(i), L"C:\\Program Files\\App");
  const std::wstring script = ScriptOf(L"RegReadString", 0, false);
  for (auto _ : state) {
    CVSLParser parser;
    parser.Tokenizer().OpenText(script);
    parser.Start();
    if (parser.Macros().GetString(L"r").empty()) state.SkipWithError("a read failed");
  }
  state.SetItemsProcessed(state.iterations() * kOperations);
}
BENCHMARK(BM_ScriptRegReadString)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
