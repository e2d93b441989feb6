#pragma once
// Writing a settings or profile file without ever leaving a half-written one behind: the bytes go to a
// temporary file in the same folder, which then replaces the old file in one rename. Paths are byte
// strings in any encoding.

#include <cstdint>
#include <string>

namespace kestrelle {

// Writes `bytes` to `path` through a temporary file and a rename. False with `error` set when the
// folder is missing, the disk is full or the rename fails; the old file is then unchanged.
bool replaceFileContents(const std::string& path, const std::string& bytes, std::string& error);

// Reads a whole regular file of at most `maxBytes`; false for a missing, unreadable, non-regular or
// larger file.
bool readSmallFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes);

// Creates every missing folder of `path` (absolute or relative). False when one cannot be made or a
// file is in the way.
bool makeFolders(const std::string& path);

// Settings and profile files are a few hundred bytes; anything beyond this is not one of ours.
constexpr std::uint64_t kMaxConfigFileBytes = 1024 * 1024;

}  // namespace kestrelle
