// A scratch directory with the POSIX file system and a registry database in
// it, installed as the platform while a test runs.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/Text.h"
#include "platform/posix/FileSystem.h"
#include "platform/posix/Registry.h"

class Scratch : public ::testing::Test {
 protected:
  ~Scratch() override { scope_.reset(), std::filesystem::remove_all(root_), ::unsetenv("VSL_PREFIX"); }
  static std::filesystem::path MakeRoot() {
    auto root = std::filesystem::temp_directory_path() / ("vslfe-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root);
    ::setenv("VSL_PREFIX", (root / "prefix").c_str(), 1);
    return root;
  }
  std::unique_ptr<posix::PosixRegistry> NewRegistry(const std::string& name) {
    return std::make_unique<posix::PosixRegistry>([p = H(name)] { return p; });
  }
  std::string H(const std::string& rel) const { return (root_ / rel).string(); }
  std::wstring W(const std::string& rel) const { return text::FromUtf8(H(rel)); }  // Z: is /
  void Write(const std::string& rel, const std::string& bytes) { std::ofstream(H(rel), std::ios::binary) << bytes; }
  std::string Read(const std::string& rel) const {
    std::ifstream in(H(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path root_ = MakeRoot();
  posix::PosixFileSystem fs_;
  std::unique_ptr<posix::PosixRegistry> registry_ = NewRegistry("registry.db");
  std::unique_ptr<platform::ScopedPlatform> scope_ =
      std::make_unique<platform::ScopedPlatform>(platform::Platform{&fs_, registry_.get()});
};
