#pragma once
// What the photo browser lists from a folder, and which paths a drag of its items carries.

#include "project/photo_drag_payload.h"

#include <QString>

#include <string>
#include <string_view>
#include <vector>

namespace kestrelle {

// The kinds of file the browser lists (the numbers are the stored mode values).
enum class BrowserMode { Photo = 1, Audio = 2 };

struct ListedFile {
    std::string name;   // the name as found (real case, the file system's bytes): paths use this
    QString shownName;  // the name shown under the thumbnail: lower-cased
};

// Whether the browser lists a file of that name in `mode`: a supported photo name, or in audio mode a
// name the soundtrack takes (hasAudioFileName: .wav, .mp3, .flac, .ogg, .opus, .m4a, ... in any case).
bool isListedName(std::string_view name, BrowserMode mode);

// The regular files of `folder` (symbolic links to them included) whose names count in `mode`, in
// natural order. FIFOs, sockets and devices are left out, so no thumbnail ever blocks on opening one.
// Empty when the folder cannot be read; `readable` (when given) tells that case from an empty folder.
// The headless renderer lists its input folders with it too, so a folder gives the same show in both.
std::vector<ListedFile> listBrowserFiles(const std::string& folder, BrowserMode mode,
                                         bool* readable = nullptr);

// What a drag of `rows` carries: their paths in ascending row order (whatever order they were picked
// in), each once, for the storyboard line of `mode`. Rows outside `files` are ignored.
DragPayload dragPayloadFor(const std::string& folder, const std::vector<ListedFile>& files,
                           std::vector<int> rows, BrowserMode mode);

// A path as it may arrive typed or stored: kept whole when it names an existing entry (names may end
// in blanks), else with leading and trailing white space removed.
std::string folderPathAsTyped(std::string_view text);

}  // namespace kestrelle
