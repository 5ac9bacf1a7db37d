// Whether the current user may create entries in a directory of the host.
// Read-only as an attribute is the owner-write bit (FileSystem attributes);
// this asks the operating system itself, so it accounts for ownership,
// group and other permissions and for the privileges of an administrator.
#pragma once

#include <string>

namespace platform {

// True when `hostDir` (a path as FileSystem::HostPath spells it) is a
// directory in which this process may create a file.
bool CanCreateIn(const std::string& hostDir);

}  // namespace platform
