// A registry database in a fresh temporary directory, installed as the
// platform's registry for as long as the object lives; the directory goes
// with it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/posix/Registry.h"

class TempRegistry {
 public:
  TempRegistry() {
    char pattern[] = "/tmp/vslregbenchXXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot create a temporary directory");
    dir_ = pattern;
    const std::string path = dir_ + "/registry.db";
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
