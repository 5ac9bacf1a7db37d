// A scratch directory with the POSIX file system and a registry database
// inside it, installed as the platform while a test runs.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/posix/FileSystem.h"
#include "platform/posix/Registry.h"

class ToolsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vsltools-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    ::setenv("VSL_PREFIX", (root_ + "/prefix").c_str(), 1);
    fs_ = std::make_unique<posix::PosixFileSystem>();
    registry_ = NewRegistry("registry.db");
    platform::Platform p;
    p.fileSystem = fs_.get();
    p.registry = registry_.get();
    installed_ = std::make_unique<platform::ScopedPlatform>(p);
  }

  void TearDown() override {
    installed_.reset();
    registry_.reset();
    fs_.reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    ::unsetenv("VSL_PREFIX");
  }

  std::unique_ptr<posix::PosixRegistry> NewRegistry(const std::string& name) {
    const std::string path = root_ + "/" + name;
    return std::make_unique<posix::PosixRegistry>([path] { return path; });
  }

  std::string H(const std::string& rel) const { return root_ + "/" + rel; }
  // The script path of a file in the scratch directory (Z: is /).
  std::wstring W(const std::string& rel) const { return text::FromUtf8(H(rel)); }

  void Write(const std::string& rel, const std::string& bytes) { std::ofstream(H(rel), std::ios::binary) << bytes; }
  std::string Read(const std::string& rel) const {
    std::ifstream in(H(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool Exists(const std::string& rel) const {
    struct stat st;
    return ::lstat(H(rel).c_str(), &st) == 0;
  }

  std::string root_;
  std::unique_ptr<posix::PosixFileSystem> fs_;
  std::unique_ptr<posix::PosixRegistry> registry_;
  std::unique_ptr<platform::ScopedPlatform> installed_;
};
