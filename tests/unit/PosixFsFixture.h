// A temporary directory tree and prefix for tests of the POSIX file system:
// VSL_PREFIX and TMPDIR point inside it while the test runs.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Text.h"
#include "platform/posix/FileSystem.h"
#include "platform/posix/System.h"

// The names of a listing, in its order.
inline std::vector<std::wstring> Names(const std::vector<platform::FindEntry>& v) {
  std::vector<std::wstring> out;
  for (const auto& e : v) out.push_back(e.name);
  return out;
}

// The description of the error `f` raises.
inline std::wstring Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const VslError& e) {
    return e.Description();
  }
  return L"<nothing raised>";
}

class PosixFsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vslfs-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    prefix_ = root_ + "/prefix";
    work_ = root_ + "/work";
    std::filesystem::create_directories(work_);
    std::filesystem::create_directories(root_ + "/tmp");
    Save("VSL_PREFIX", prefix_);
    Save("TMPDIR", root_ + "/tmp");
    fs_ = std::make_unique<posix::PosixFileSystem>();
  }

  void TearDown() override {
    fs_.reset();
    for (auto& [name, value] : saved_) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
    // Make everything deletable again before removing the tree.
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_symlink()) ::chmod(it->path().c_str(), 0755);
    }
    std::filesystem::remove_all(root_, ec);
  }

  void Save(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }

  // The drive form of a host path on Z:.
  static std::wstring Z(const std::string& host) {
    std::wstring w = L"Z:" + text::FromUtf8(host);
    for (auto& c : w)
      if (c == L'/') c = L'\\';
    return w;
  }
  std::wstring W(const std::string& rel = "") const { return rel.empty() ? Z(work_) : Z(work_ + "/" + rel); }
  std::string H(const std::string& rel) const { return work_ + "/" + rel; }

  void MakeFile(const std::string& rel, const std::string& content = "x") {
    std::filesystem::create_directories(std::filesystem::path(H(rel)).parent_path());
    std::ofstream(H(rel), std::ios::binary) << content;
  }
  void MakeDir(const std::string& rel) { std::filesystem::create_directories(H(rel)); }
  std::string Read(const std::string& rel) const {
    std::ifstream in(H(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool Exists(const std::string& rel) const {
    struct stat st;
    return ::lstat(H(rel).c_str(), &st) == 0;
  }
  // Adds drive `letter` (lower case) mapped to `host` in the test prefix.
  void MapDrive(char letter, const std::string& host) {
    std::filesystem::create_directories(prefix_ + "/dosdevices");
    std::filesystem::create_directory_symlink(host, prefix_ + "/dosdevices/" + std::string(1, letter) + ":");
  }

  // PREFIX + one to four upper-case hex digits + ".TMP".
  static bool IsTempName(const std::wstring& name, const std::wstring& prefix = L"DSK") {
    if (name.size() < prefix.size() + 5 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, L".TMP") != 0)
      return false;
    std::wstring hex = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    if (hex.size() > 4) return false;
    for (wchar_t c : hex)
      if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) return false;
    return true;
  }

  std::string root_, prefix_, work_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
  std::unique_ptr<posix::PosixFileSystem> fs_;
};
