#include "app/folder_source.h"

#include "app/folder_entries.h"
#include "app/natural_order.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

namespace kestrelle {
namespace {

constexpr std::string_view kNetworkTypes[] = {
    "nfs", "nfs4", "cifs",      "smb3", "smbfs",  "ncpfs", "afs",
    "9p",  "ceph", "glusterfs", "coda", "lustre", "davfs",
};

// mountinfo escapes space, tab, newline and backslash as a backslash and three octal digits.
std::string decodeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view digits = field.substr(i + 1, 3);
            if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
                out.push_back(static_cast<char>(((digits[0] - '0') << 6) | ((digits[1] - '0') << 3) |
                                                (digits[2] - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && line[at] == ' ') ++at;
        const std::size_t end = std::min(line.find(' ', at), line.size());
        if (end > at) fields.push_back(line.substr(at, end - at));
        at = end;
    }
    return fields;
}

std::string folderOf(const QString& location) {
    return location.isEmpty() ? std::string() : QFile::encodeName(location).toStdString();
}

bool isFolder(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

QString lastComponent(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return shownFileName(slash == std::string::npos ? path : path.substr(slash + 1));
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    std::vector<MountEntry> mounts;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::vector<std::string_view> fields = splitFields(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        // id parent major:minor root mount-point options [optional...] - type source super-options
        const auto separator = std::find(fields.begin(), fields.end(), std::string_view("-"));
        if (fields.size() < 7 || separator == fields.end() || separator - fields.begin() < 6 ||
            fields.end() - separator < 2 || fields[4].empty() || fields[4][0] != '/') {
            continue;
        }
        mounts.push_back({decodeMountField(fields[4]), decodeMountField(*(separator + 1))});
    }
    return mounts;
}

std::vector<MountEntry> readMountTable() {
    std::ifstream file("/proc/self/mountinfo", std::ios::binary);
    if (!file) return {};
    std::ostringstream text;
    text << file.rdbuf();
    return parseMountInfo(text.str());
}

VolumeKind volumeKindOf(const MountEntry& mount, const std::vector<std::string>& removableFolders) {
    const std::string_view type = mount.fsType;
    if (std::find(std::begin(kNetworkTypes), std::end(kNetworkTypes), type) != std::end(kNetworkTypes)) {
        return VolumeKind::Network;
    }
    if (type.substr(0, 4) == "fuse") return VolumeKind::Fuse;
    for (const std::string& folder : removableFolders) {
        if (mount.mountPoint != folder && pathIsWithin(mount.mountPoint, folder))
            return VolumeKind::Removable;
    }
    return VolumeKind::Local;
}

PlaceRoots PlaceRoots::current() {
    PlaceRoots roots;
    roots.home = folderOf(QDir::homePath());
    roots.desktop = folderOf(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    roots.pictures = folderOf(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
    roots.mounts = readMountTable();
    return roots;
}

LocalFolderSource::LocalFolderSource(PlaceRoots roots) : roots_(std::move(roots)) {}

std::vector<Place> LocalFolderSource::places() {
    std::vector<Place> result;
    if (isFolder(roots_.home)) result.push_back({PlaceKind::Home, QStringLiteral("Home"), roots_.home});
    // Without XDG user folders both fall back to the home folder itself; no need to show it twice.
    if (roots_.desktop != roots_.home && isFolder(roots_.desktop)) {
        result.push_back({PlaceKind::Desktop, lastComponent(roots_.desktop), roots_.desktop});
    }
    if (roots_.pictures != roots_.home && isFolder(roots_.pictures)) {
        result.push_back({PlaceKind::Pictures, lastComponent(roots_.pictures), roots_.pictures});
    }

    struct Volume {
        QString shownName;
        std::string name;
        VolumeKind kind;
    };
    std::vector<Volume> volumes;
    for (const MountEntry& mount : roots_.mounts) {
        const bool underRemovable = std::any_of(
            roots_.removableFolders.begin(), roots_.removableFolders.end(), [&](const std::string& folder) {
                return mount.mountPoint != folder && pathIsWithin(mount.mountPoint, folder);
            });
        const bool seen = std::any_of(volumes.begin(), volumes.end(),
                                      [&](const Volume& v) { return v.name == mount.mountPoint; });
        if (underRemovable && !seen) {
            volumes.push_back({lastComponent(mount.mountPoint), mount.mountPoint,
                               volumeKindOf(mount, roots_.removableFolders)});
        }
    }
    sortNaturally(volumes);
    for (const Volume& volume : volumes)
        result.push_back({PlaceKind::Volume, volume.shownName, volume.name, volume.kind});

    if (!roots_.fileSystem.empty()) {
        result.push_back({PlaceKind::FileSystem, QStringLiteral("File System"), roots_.fileSystem});
    }
    return result;
}

std::optional<std::vector<Subfolder>> LocalFolderSource::subfolders(const std::string& path) {
    FolderReader reader(path);
    if (!reader.isOpen()) return std::nullopt;
    // Inside a volume that may be slow or asleep, no child is opened just to draw its button.
    const bool probe = volumeHolding(path) == VolumeKind::Local;
    std::vector<Subfolder> folders;
    while (const std::optional<FolderEntry> entry = reader.next()) {
        if (entry->hidden() || entry->type != EntryType::Folder) continue;
        const std::string childPath = joinPath(path, entry->name);
        folders.push_back({entry->name, shownFileName(entry->name), !probe || mayHoldSubfolders(childPath)});
    }
    sortNaturally(folders);
    return folders;
}

VolumeKind LocalFolderSource::volumeHolding(const std::string& path) const {
    const MountEntry* holder = nullptr;
    for (const MountEntry& mount : roots_.mounts) {
        if (pathIsWithin(path, mount.mountPoint) &&
            (!holder || mount.mountPoint.size() > holder->mountPoint.size())) {
            holder = &mount;
        }
    }
    return holder ? volumeKindOf(*holder, roots_.removableFolders) : VolumeKind::Local;
}

bool LocalFolderSource::isMountPoint(const std::string& path) const {
    return std::any_of(roots_.mounts.begin(), roots_.mounts.end(),
                       [&](const MountEntry& m) { return m.mountPoint == path; });
}

bool LocalFolderSource::mayHoldSubfolders(const std::string& path) const {
    if (isMountPoint(path) && volumeHolding(path) != VolumeKind::Local) return true;
    FolderReader reader(path);
    if (!reader.isOpen()) return false;
    for (int seen = 0; seen < kProbeLimit; ++seen) {
        const std::optional<FolderEntry> entry = reader.next();
        if (!entry) return false;
        if (!entry->hidden() && entry->type == EntryType::Folder) return true;
    }
    return true;
}

std::string joinPath(const std::string& parent, const std::string& name) {
    if (parent.empty() || parent.back() == '/') return parent + name;
    return parent + '/' + name;
}

QString shownFileName(const std::string& name) {
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

bool pathIsWithin(const std::string& path, const std::string& folder) {
    if (folder.empty()) return false;
    if (folder == "/") return !path.empty() && path[0] == '/';
    return path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

}  // namespace kestrelle
