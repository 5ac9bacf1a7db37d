// A file system kept in memory, for the fuzz targets: what a fuzzed script
// creates, copies, deletes or writes lives and dies with one input, and the
// machine's own files are never reached.
//
// The file system has the drives C: and Z:, each with its own current
// directory, names without regard to case, and the Windows search rules of
// platform::FileSystem. It has no links. It holds at most 2,000 entries, 24
// levels and 64 KiB in one file; beyond that a call fails as a full disk
// would, so that a script copying a tree into itself comes to an end.
#pragma once

#include <memory>

#include "platform/Platform.h"

std::unique_ptr<platform::FileSystem> NewMemoryFileSystem();
