#include "app/photo_folder.h"

#include "app/folder_entries.h"
#include "app/folder_source.h"
#include "app/natural_order.h"
#include "base/text.h"
#include "media/audio_decoder.h"
#include "render/photo_loader.h"

#include <algorithm>

#include <sys/stat.h>

namespace kestrelle {

bool isListedName(std::string_view name, BrowserMode mode) {
    if (mode == BrowserMode::Photo) return isSupportedPhotoName(name);
    return hasAudioFileName(std::string(name));
}

std::vector<ListedFile> listBrowserFiles(const std::string& folder, BrowserMode mode, bool* readable) {
    std::vector<ListedFile> files;
    FolderReader reader(folder);
    if (readable) *readable = reader.isOpen();
    while (const std::optional<FolderEntry> entry = reader.next()) {
        if (entry->type != EntryType::File || !isListedName(entry->name, mode)) continue;
        files.push_back({entry->name, shownFileName(entry->name).toLower()});
    }
    sortNaturally(files);
    return files;
}

DragPayload dragPayloadFor(const std::string& folder, const std::vector<ListedFile>& files,
                           std::vector<int> rows, BrowserMode mode) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    DragPayload payload;
    payload.line = mode == BrowserMode::Audio ? DragLine::Soundtrack : DragLine::Photos;
    for (int row : rows) {
        if (row >= 0 && static_cast<std::size_t>(row) < files.size()) {
            payload.paths.push_back(joinPath(folder, files[static_cast<std::size_t>(row)].name));
        }
    }
    return payload;
}

std::string folderPathAsTyped(std::string_view text) {
    // Blanks are legal at either end of a file name: a path that names something as given is kept
    // whole, or "Trip " would open "Trip".
    std::string whole(text);
    struct stat info {};
    if (!whole.empty() && ::stat(whole.c_str(), &info) == 0) return whole;
    return std::string(trimAsciiSpace(text));
}

}  // namespace kestrelle
