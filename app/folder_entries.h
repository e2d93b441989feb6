#pragma once
// Reading a folder's entries one at a time, with what each one is (a symbolic link counts as what it
// points to; a dangling link or a link loop as neither folder nor file).

#include <dirent.h>

#include <memory>
#include <optional>
#include <string>

namespace kestrelle {

enum class EntryType { Folder, File, Other };

struct FolderEntry {
    std::string name;
    EntryType type = EntryType::Other;

    bool hidden() const { return !name.empty() && name[0] == '.'; }
};

class FolderReader {
public:
    explicit FolderReader(const std::string& path);

    bool isOpen() const { return folder_ != nullptr; }
    // The next entry other than "." and ".."; none at the end or on a read error.
    std::optional<FolderEntry> next();

private:
    struct Closer {
        void operator()(DIR* folder) const { closedir(folder); }
    };
    std::unique_ptr<DIR, Closer> folder_;
};

}  // namespace kestrelle
