// vsltool reg: the registry below HKEY_LOCAL_MACHINE written to and loaded
// from registry files, through platform::Reg().
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "utility/RegFile.h"

namespace regtool {

// Reads the key at `path` (below HKEY_LOCAL_MACHINE, "" for the root) and
// every key below it and hands `sink` one section per key as it goes,
// parents before their subkeys, subkeys and values in case-insensitive name
// order (the default value first). The path is spelt as the registry stores
// it. Raises VslError when the key does not exist or cannot be read; what
// `sink` raises ends the walk as well.
void Export(const std::wstring& path, const std::function<void(const regfile::Section&)>& sink);

// Applies a registry file to the registry as one transaction, as `feed`
// hands its bytes to the reader it is given (Feed, then Finish), each line
// as it is read: [key] creates the key, [-key] deletes it with its subtree
// (a missing key is no error), values are set or deleted. A failure, a
// malformed line among them, raises VslError whose Number() is the file's
// line, and the transaction is undone (where the platform can: see
// Registry::Transact).
void Import(const std::function<void(regfile::Reader&)>& feed);
// The same for a file parsed whole.
void Import(const regfile::File& file);

}  // namespace regtool
