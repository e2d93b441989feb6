#include "app/folder_entries.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

namespace kestrelle {

FolderReader::FolderReader(const std::string& path)
    : folder_(path.empty() ? nullptr : opendir(path.c_str())) {}

std::optional<FolderEntry> FolderReader::next() {
    if (!folder_) return std::nullopt;
    while (const dirent* entry = readdir(folder_.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        FolderEntry result{entry->d_name, EntryType::Other};
        if (entry->d_type == DT_DIR) {
            result.type = EntryType::Folder;
        } else if (entry->d_type == DT_REG) {
            result.type = EntryType::File;
        } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            if (fstatat(dirfd(folder_.get()), entry->d_name, &info, 0) == 0) {
                if (S_ISDIR(info.st_mode)) result.type = EntryType::Folder;
                if (S_ISREG(info.st_mode)) result.type = EntryType::File;
            }
        }
        return result;
    }
    return std::nullopt;
}

}  // namespace kestrelle
