#pragma once
// Where a log export may write: the name the save dialog gave with the archive suffix made sure of,
// and the test that keeps an export from replacing the very file it reads.

#include <string>

namespace kestrelle {

constexpr const char* kArchiveSuffix = "iba";

// `chosen` with ".iba" added when its file name has no suffix of its own ("notes" -> "notes.iba",
// "notes.txt" and "notes.iba" stay). Empty stays empty.
std::string archivePathWithSuffix(const std::string& chosen);

// Whether two paths name the same file: the same inode when both exist, otherwise the same path once
// made absolute and normalised ("a/./b", "a//b" and symbolic links of the folders counted as equal).
bool isSameFile(const std::string& first, const std::string& second);

}  // namespace kestrelle
