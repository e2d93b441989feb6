#pragma once
// What the folder tree shows: the places at its top (home, desktop, pictures, mounted volumes, the file
// system root) and the subfolders of any folder, in the order people expect. Paths and names are the
// file system's own bytes; the texts shown are decoded from them.

#include <QString>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrelle {

// How a folder's storage behaves when looked into. Anything but Local may be slow, asleep or gone, so
// its folders get an expand button without being opened.
enum class VolumeKind { Local, Removable, Network, Fuse };

// One line of the mount table.
struct MountEntry {
    std::string mountPoint;
    std::string fsType;
};

// The mount table in /proc/self/mountinfo's format (octal escapes such as \040 decoded). Malformed
// lines are skipped.
std::vector<MountEntry> parseMountInfo(std::string_view text);
// The current process's mount table (empty when it cannot be read).
std::vector<MountEntry> readMountTable();

// The kind of a file system type; `removableFolders` are where removable media get mounted.
VolumeKind volumeKindOf(const MountEntry& mount, const std::vector<std::string>& removableFolders);

enum class PlaceKind { Home, Desktop, Pictures, Volume, FileSystem };

// An item at the top of the tree.
struct Place {
    PlaceKind kind = PlaceKind::FileSystem;
    QString name;
    std::string path;
    VolumeKind volume = VolumeKind::Local;
};

// A folder inside a listed folder.
struct Subfolder {
    std::string name;  // the file system's bytes
    QString shownName;
    bool hasButton = false;  // whether it may hold subfolders worth an expand button
};

// Where the folder tree's contents come from.
class FolderSource {
public:
    virtual ~FolderSource() = default;
    // The items at the top of the tree, in the order shown.
    virtual std::vector<Place> places() = 0;
    // The visible subfolders of `path` in natural order; none when the folder cannot be opened.
    virtual std::optional<std::vector<Subfolder>> subfolders(const std::string& path) = 0;
};

// The folders the local places come from. Empty paths are left out.
struct PlaceRoots {
    std::string home;
    std::string desktop;
    std::string pictures;
    std::string fileSystem = "/";
    std::vector<std::string> removableFolders = {"/media", "/run/media"};
    std::vector<MountEntry> mounts;

    // The current user's folders (XDG user folders) and the current mount table.
    static PlaceRoots current();
};

// The local file system, with the mount table telling which folders not to look into.
class LocalFolderSource : public FolderSource {
public:
    explicit LocalFolderSource(PlaceRoots roots = PlaceRoots::current());

    std::vector<Place> places() override;
    std::optional<std::vector<Subfolder>> subfolders(const std::string& path) override;

    // The kind of the volume holding `path` (the longest mount point that contains it).
    VolumeKind volumeHolding(const std::string& path) const;

    // A folder with this many entries and no subfolder found among them is given a button anyway; its
    // first expansion tells.
    static constexpr int kProbeLimit = 4096;

private:
    bool isMountPoint(const std::string& path) const;
    bool mayHoldSubfolders(const std::string& path) const;

    PlaceRoots roots_;
};

// `parent` and `name` joined with one slash.
std::string joinPath(const std::string& parent, const std::string& name);
// A file name's bytes as shown text (invalid UTF-8 shown as replacement characters).
QString shownFileName(const std::string& name);
// Whether `path` is `folder` or inside it, by whole components.
bool pathIsWithin(const std::string& path, const std::string& folder);

}  // namespace kestrelle
