#pragma once
// Path text of the project file: paths are the file system's bytes, so names that are not UTF-8 must
// survive a trip through XML text; and a path read from a file is normalised before anything uses it.

#include <optional>
#include <string>
#include <string_view>

namespace kestrelle {

// Text for a byte string in an XML attribute: valid UTF-8 sequences of printable characters stay as they
// are; '%', control bytes (0x00-0x1F, 0x7F), U+FFFE, U+FFFF and every byte that is not part of a valid
// UTF-8 sequence become "%XX" (upper-case hex). The result is valid UTF-8.
std::string encodePathText(std::string_view bytes);
// The bytes back; none when a '%' is not followed by two hex digits.
std::optional<std::string> decodePathText(std::string_view text);

// `path` with "//", "." and ".." taken out lexically (a ".." removes the name before it). Must be
// absolute; none when it is not, or when a ".." climbs above the root.
std::optional<std::string> normaliseAbsolutePath(std::string_view path);

// The folder holding `path` ("/" for a file in the root, "." for a bare name), without a trailing '/'.
std::string folderOfPath(const std::string& path);
// The last name of `path`.
std::string fileNameOfPath(const std::string& path);
// `path` below `folder` as "a/b.jpg", or none when it does not lie beneath it (both absolute).
std::optional<std::string> pathBeneath(const std::string& path, const std::string& folder);
// The absolute form of `path` against the working folder, normalised; none when that fails.
std::optional<std::string> absolutePath(const std::string& path);

}  // namespace kestrelle
