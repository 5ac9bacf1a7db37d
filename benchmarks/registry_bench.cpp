// Throughput of the registry operations on the SQLite registry: each write
// creates or opens its key, sets a string value and closes the key; each
// read opens the key, reads the value and closes the key.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/posix/Registry.h"
#include "utility/Utility.h"

namespace {

constexpr int kOperations = 10000;

class TempRegistry {
 public:
  TempRegistry() {
    char pattern[] = "/tmp/vslregbenchXXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot create a temporary directory");
    dir_ = pattern;
    std::string path = dir_ + "/registry.db";
    registry_ = std::make_unique<posix::PosixRegistry>([path] { return path; });
    platform::Platform p;
    p.registry = registry_.get();
    scoped_ = std::make_unique<platform::ScopedPlatform>(p);
  }
  ~TempRegistry() {
    scoped_.reset();
    registry_.reset();
    std::filesystem::remove_all(dir_);
  }

 private:
  std::string dir_;
  std::unique_ptr<posix::PosixRegistry> registry_;
  std::unique_ptr<platform::ScopedPlatform> scoped_;
};

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

}  // namespace

BENCHMARK_MAIN();
