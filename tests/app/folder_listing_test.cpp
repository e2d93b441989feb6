// Which folders the tree finds and which files the browser lists, over temporary folders.

#include "app/folder_source.h"
#include "app/photo_folder.h"
#include "app/render_session.h"
#include "tests/support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

using testing::TempHomeTest;
using testing::writeFile;

void makeFolder(const std::string& path) {
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path;
}

std::vector<std::string> namesOf(const std::vector<ListedFile>& files) {
    std::vector<std::string> names;
    for (const ListedFile& file : files) names.push_back(file.name);
    return names;
}

std::vector<std::string> namesOf(const std::vector<Subfolder>& folders) {
    std::vector<std::string> names;
    for (const Subfolder& folder : folders) names.push_back(folder.name);
    return names;
}

TEST(MountTable, ParsesEscapesAndSkipsMalformedLines) {
    const std::string text =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 8:17 / /media/ann/My\\040Stick rw,nosuid - vfat /dev/sdb1 rw\n"
        "41 22 0:50 / /mnt/share rw - nfs4 server:/export rw\n"
        "garbage line\n"
        "42 22 0:51 / /run/user/1000/doc rw - fuse.portal portal rw";
    const std::vector<MountEntry> mounts = parseMountInfo(text);
    ASSERT_EQ(mounts.size(), 4u);
    EXPECT_EQ(mounts[1].mountPoint, "/media/ann/My Stick");
    EXPECT_EQ(mounts[1].fsType, "vfat");

    const std::vector<std::string> removable = {"/media", "/run/media"};
    EXPECT_EQ(volumeKindOf(mounts[0], removable), VolumeKind::Local);
    EXPECT_EQ(volumeKindOf(mounts[1], removable), VolumeKind::Removable);
    EXPECT_EQ(volumeKindOf(mounts[2], removable), VolumeKind::Network);
    EXPECT_EQ(volumeKindOf(mounts[3], removable), VolumeKind::Fuse);
    // The folder that holds removable media is not itself one.
    EXPECT_EQ(volumeKindOf({"/media", "ext4"}, removable), VolumeKind::Local);
}

TEST(PathHelpers, WholeComponentsOnly) {
    EXPECT_TRUE(pathIsWithin("/home/ann/Pictures", "/home/ann"));
    EXPECT_TRUE(pathIsWithin("/home/ann", "/home/ann"));
    EXPECT_FALSE(pathIsWithin("/home/anna", "/home/ann"));
    EXPECT_TRUE(pathIsWithin("/etc", "/"));
    EXPECT_EQ(joinPath("/", "etc"), "/etc");
    EXPECT_EQ(joinPath("/home", "ann"), "/home/ann");
    EXPECT_EQ(folderPathAsTyped("  \t/home/ann \n"), "/home/ann");
}

class FolderSourceTest : public TempHomeTest {
protected:
    PlaceRoots roots() const {
        PlaceRoots roots;
        roots.home = path("home");
        roots.fileSystem = path("fs");
        roots.removableFolders = {path("media")};
        return roots;
    }
};

TEST_F(FolderSourceTest, SubfoldersAreVisibleFoldersInNaturalOrderWithButtonsWhereTheyHoldFolders) {
    makeFolder(path("home"));
    for (const char* name : {"img10", "img2", "Img1", "beta", ".hidden", "empty", "full"}) {
        makeFolder(path("home/") + name);
    }
    makeFolder(path("home/full/inner"));
    makeFolder(path("home/empty/.only-hidden"));
    ASSERT_TRUE(writeFile(path("home/file.jpg"), "x"));
    ASSERT_EQ(::symlink("full", path("home/link-to-full").c_str()), 0);
    ASSERT_EQ(::symlink("loop", path("home/loop").c_str()), 0);  // a link to itself

    LocalFolderSource source(roots());
    const auto folders = source.subfolders(path("home"));
    ASSERT_TRUE(folders.has_value());
    EXPECT_EQ(namesOf(*folders),
              (std::vector<std::string>{"beta", "empty", "full", "Img1", "img2", "img10", "link-to-full"}));
    for (const Subfolder& folder : *folders) {
        const bool holdsFolders = folder.name == "full" || folder.name == "link-to-full";
        EXPECT_EQ(folder.hasButton, holdsFolders) << folder.name;
    }
    EXPECT_FALSE(source.subfolders(path("missing")).has_value());
}

// A folder whose name ends (or starts) in a blank opens as itself, not as its neighbour without the
// blank; white space around a path that names nothing is still dropped.
TEST_F(FolderSourceTest, BlanksAtTheEndsOfAFolderNameAreKept) {
    for (const char* name : {"Trip", "Trip ", " Trip"}) makeFolder(path(name));
    ASSERT_TRUE(writeFile(path("Trip /a.jpg"), "x"));
    EXPECT_EQ(folderPathAsTyped(path("Trip ")), path("Trip "));
    EXPECT_EQ(folderPathAsTyped(path(" Trip")), path(" Trip"));
    EXPECT_EQ(folderPathAsTyped(path("Trip") + "\n"), path("Trip"));
}

TEST_F(FolderSourceTest, PlacesHoldHomeVolumesAndTheRootAndRemovableVolumesAreNeverProbed) {
    makeFolder(path("home"));
    makeFolder(path("fs"));
    makeFolder(path("media"));
    makeFolder(path("media/stick"));  // empty, but removable: a button without looking
    makeFolder(path("media/disk"));   // empty local volume
    makeFolder(path("media/nfs"));
    PlaceRoots placeRoots = roots();
    placeRoots.mounts = {{path("media/stick"), "vfat"}, {path("media/nfs"), "nfs"}, {path("home"), "ext4"}};
    LocalFolderSource source(placeRoots);

    const std::vector<Place> places = source.places();
    ASSERT_EQ(places.size(), 4u);
    EXPECT_EQ(places[0].kind, PlaceKind::Home);
    EXPECT_EQ(places[1].path, path("media/nfs"));
    EXPECT_EQ(places[1].volume, VolumeKind::Network);
    EXPECT_EQ(places[2].path, path("media/stick"));
    EXPECT_EQ(places[2].volume, VolumeKind::Removable);
    EXPECT_EQ(places[3].kind, PlaceKind::FileSystem);

    const auto inMedia = source.subfolders(path("media"));
    ASSERT_TRUE(inMedia.has_value());
    for (const Subfolder& folder : *inMedia) {
        EXPECT_EQ(folder.hasButton, folder.name != "disk") << folder.name;
    }
    // Inside a removable volume nothing is opened to decide the buttons.
    makeFolder(path("media/stick/empty"));
    const auto inStick = source.subfolders(path("media/stick"));
    ASSERT_EQ(inStick->size(), 1u);
    EXPECT_TRUE(inStick->front().hasButton);
}

class BrowserFilesTest : public TempHomeTest {};

// The headless renderer takes a folder's photos in the browser's order, so one folder gives one show.
TEST_F(BrowserFilesTest, TheRendererListsAFolderInTheBrowsersNaturalOrder) {
    const std::string folder = path("show");
    makeFolder(folder);
    for (const char* name : {"photo10.jpg", "photo2.jpg", "Photo1.jpg", "notes.txt"}) {
        ASSERT_TRUE(writeFile(folder + "/" + name, "data"));
    }
    std::vector<std::string> photos;
    ASSERT_EQ(collectPhotos({folder}, photos), "");
    EXPECT_EQ(photos, (std::vector<std::string>{folder + "/Photo1.jpg", folder + "/photo2.jpg",
                                                folder + "/photo10.jpg"}));
    std::vector<std::string> browserOrder;
    for (const ListedFile& file : listBrowserFiles(folder, BrowserMode::Photo)) {
        browserOrder.push_back(folder + "/" + file.name);
    }
    EXPECT_EQ(photos, browserOrder);

    std::vector<std::string> none;
    EXPECT_EQ(collectPhotos({path("missing")}, none), path("missing") + ": no such file or folder");
    makeFolder(path("empty"));
    EXPECT_EQ(collectPhotos({path("empty")}, none), "folder " + path("empty") + " holds no photos");
    EXPECT_TRUE(none.empty());
}

TEST_F(BrowserFilesTest, ListsRegularFilesWithAcceptedNamesKeepingTheirRealCase) {
    const std::string folder = path("photos");
    makeFolder(folder);
    const char* names[] = {"IMG_0010.JPG", "img_0002.jpg", "scan.TIFF", "image.wbmp",
                           "photo.jpeg",   ".hidden.png",  "notes.txt", "photo.jpe",
                           "x.WAV",        "x.wave",       "notajpg"};
    for (const char* name : names) ASSERT_TRUE(writeFile(folder + "/" + name, "data"));
    makeFolder(folder + "/folder.jpg");
    ASSERT_EQ(::mkfifo((folder + "/pipe.jpg").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("IMG_0010.JPG", (folder + "/link.jpg").c_str()), 0);
    ASSERT_EQ(::symlink("missing.jpg", (folder + "/dangling.jpg").c_str()), 0);
    const std::string notUtf8 = std::string("caf\xE9\xFF") + ".jpg";
    ASSERT_TRUE(writeFile(folder + "/" + notUtf8, "data"));

    const std::vector<ListedFile> photos = listBrowserFiles(folder, BrowserMode::Photo);
    std::vector<std::string> listed = namesOf(photos);
    EXPECT_EQ(listed,
              (std::vector<std::string>{".hidden.png", notUtf8, "image.wbmp", "img_0002.jpg", "IMG_0010.JPG",
                                        "link.jpg", "notajpg", "photo.jpeg", "scan.TIFF"}));
    const auto shown = std::find_if(photos.begin(), photos.end(),
                                    [](const ListedFile& f) { return f.name == "IMG_0010.JPG"; });
    EXPECT_EQ(shown->shownName, QStringLiteral("img_0010.jpg"));

    EXPECT_EQ(namesOf(listBrowserFiles(folder, BrowserMode::Audio)), (std::vector<std::string>{"x.WAV"}));
    EXPECT_TRUE(listBrowserFiles(path("missing"), BrowserMode::Photo).empty());

    // The dragged paths open the real file, whatever the case shown.
    const DragPayload payload = dragPayloadFor(folder, photos, {4, 1, 4, 99, -1}, BrowserMode::Photo);
    EXPECT_EQ(payload.line, DragLine::Photos);
    EXPECT_EQ(payload.paths, (std::vector<std::string>{folder + "/" + notUtf8, folder + "/IMG_0010.JPG"}));
    EXPECT_EQ(::access(payload.paths[1].c_str(), R_OK), 0);
    EXPECT_EQ(dragPayloadFor(folder, photos, {0}, BrowserMode::Audio).line, DragLine::Soundtrack);
}

// In audio mode the browser lists every file the soundtrack takes, in natural order and any case, and
// neither photos nor names that only look alike.
TEST_F(BrowserFilesTest, AudioModeListsEveryFormatTheSoundtrackTakes) {
    const std::string folder = path("music");
    makeFolder(folder);
    for (const char* name : {"10 end.mp3", "2 start.FLAC", "b.wav", "c.ogg", "d.opus", "e.m4a", "f.aac",
                             "clip.mp4", "photo.jpg", "notes.txt", "mp3", "x.mp3.part", "song.wave"}) {
        ASSERT_TRUE(writeFile(folder + "/" + name, "data"));
    }
    makeFolder(folder + "/album.flac");
    ASSERT_EQ(::mkfifo((folder + "/pipe.mp3").c_str(), 0644), 0);
    EXPECT_EQ(namesOf(listBrowserFiles(folder, BrowserMode::Audio)),
              (std::vector<std::string>{"2 start.FLAC", "10 end.mp3", "b.wav", "c.ogg", "clip.mp4", "d.opus",
                                        "e.m4a", "f.aac"}));
    EXPECT_EQ(namesOf(listBrowserFiles(folder, BrowserMode::Photo)), std::vector<std::string>{"photo.jpg"});
}

}  // namespace
}  // namespace kestrelle
