#include "project/missing_photos.h"
#include "project/photo_fingerprint.h"

#include "tests/support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace kestrelle {
namespace {

using testing::writeFile;

class MissingPhotosTest : public testing::TempHomeTest {
protected:
    std::string folder(const std::string& relative) {
        const std::string made = path(relative);
        ::mkdir(made.c_str(), 0755);
        return made;
    }
    // A slide for `photo`, with the fingerprint the photo has now (before it goes missing).
    void addSlide(ProjectDocument& document, const std::string& photo) {
        document.content.slides.push_back(SlideContent{photo, 3.0, 3.0, 0, -1, false});
        document.fingerprints.push_back(computePhotoFingerprint(photo));
    }
};

TEST_F(MissingPhotosTest, AMovedProjectFolderAndTheFirstPhotosMoveFindTheOthers) {
    folder("old");
    folder("old/photos");
    folder("old/trip");
    ASSERT_TRUE(writeFile(path("old/photos/a.jpg"), "A"));
    ASSERT_TRUE(writeFile(path("old/b.jpg"), "B"));
    ASSERT_TRUE(writeFile(path("old/trip/c.jpg"), "C"));
    ASSERT_TRUE(writeFile(path("old/trip/d.jpg"), "D"));
    ProjectDocument document;
    for (const char* photo : {"old/photos/a.jpg", "old/b.jpg", "old/trip/c.jpg", "old/trip/d.jpg"}) {
        addSlide(document, path(photo));
    }
    // The project's folder went to new/, and the trip photos to an archive elsewhere.
    folder("new");
    folder("archive");
    folder("archive/2024");
    ASSERT_EQ(std::rename(path("old/photos").c_str(), path("new/photos").c_str()), 0);
    ASSERT_EQ(std::rename(path("old/b.jpg").c_str(), path("new/b.jpg").c_str()), 0);
    ASSERT_EQ(std::rename(path("old/trip").c_str(), path("archive/2024/trip").c_str()), 0);
    for (SlideContent& slide : document.content.slides) slide.photoMissing = true;

    // Without a chosen folder only the project's folder helps.
    EXPECT_EQ(findMissingPhotos(document, path("new"), ""),
              (std::vector<FoundPhoto>{{0, path("new/photos/a.jpg")}, {1, path("new/b.jpg")}}));
    // With one, the first trip photo is found there, and the second follows its move.
    int asked = 0;
    const std::vector<FoundPhoto> found =
        findMissingPhotos(document, path("new"), path("archive"), {}, [&asked] { return ++asked > 0; });
    EXPECT_EQ(found, (std::vector<FoundPhoto>{{0, path("new/photos/a.jpg")},
                                              {1, path("new/b.jpg")},
                                              {2, path("archive/2024/trip/c.jpg")},
                                              {3, path("archive/2024/trip/d.jpg")}}));
    EXPECT_GT(asked, 0);
    // Stopping at once finds nothing.
    EXPECT_TRUE(findMissingPhotos(document, path("new"), path("archive"), {}, [] { return false; }).empty());
}

// A photo beside the old project folder is found by the move the project's own photos made, with no
// folder to search.
TEST_F(MissingPhotosTest, TheMoveOfOneFoundPhotoLeadsToOthersOutsideTheProjectFolder) {
    folder("old");
    folder("old/show");
    folder("old/extra");
    ASSERT_TRUE(writeFile(path("old/show/a.jpg"), "A"));
    ASSERT_TRUE(writeFile(path("old/extra/b.jpg"), "B"));
    ProjectDocument document;
    addSlide(document, path("old/show/a.jpg"));
    addSlide(document, path("old/extra/b.jpg"));
    ASSERT_EQ(std::rename(path("old").c_str(), path("new").c_str()), 0);
    EXPECT_EQ(findMissingPhotos(document, path("new/show"), ""),
              (std::vector<FoundPhoto>{{0, path("new/show/a.jpg")}, {1, path("new/extra/b.jpg")}}));

    // A file of the right name but other bytes is not taken for the photo.
    ASSERT_TRUE(writeFile(path("new/extra/b.jpg"), "not B"));
    EXPECT_EQ(findMissingPhotos(document, path("new/show"), ""),
              (std::vector<FoundPhoto>{{0, path("new/show/a.jpg")}}));
}

TEST_F(MissingPhotosTest, ASearchedFolderMatchesByNameAndFingerprint) {
    folder("gone");
    ASSERT_TRUE(writeFile(path("gone/beach.jpg"), "the real beach"));
    ASSERT_TRUE(writeFile(path("gone/old name.jpg"), "renamed photo"));
    ASSERT_TRUE(writeFile(path("gone/plain.jpg"), "no fingerprint"));
    ProjectDocument document;
    addSlide(document, path("gone/beach.jpg"));
    addSlide(document, path("gone/old name.jpg"));
    addSlide(document, path("gone/plain.jpg"));
    document.fingerprints[2] = {};
    addSlide(document, path("gone/never.jpg"));
    for (const char* photo : {"gone/beach.jpg", "gone/old name.jpg", "gone/plain.jpg"}) {
        ASSERT_EQ(::unlink(path(photo).c_str()), 0);
    }

    folder("search");
    folder("search/a");
    folder("search/b");
    folder("search/b/deep");
    // Another photo of the same name comes first in the listing; the fingerprint tells them apart.
    ASSERT_TRUE(writeFile(path("search/a/beach.jpg"), "another beach"));
    ASSERT_TRUE(writeFile(path("search/b/deep/beach.jpg"), "the real beach"));
    ASSERT_TRUE(writeFile(path("search/b/new name.jpg"), "renamed photo"));
    ASSERT_TRUE(writeFile(path("search/plain.jpg"), "anything"));
    // A link back up would loop; a FIFO of a wanted name is no photo.
    ASSERT_EQ(::symlink(path("search").c_str(), path("search/b/loop").c_str()), 0);
    ASSERT_EQ(::mkfifo(path("search/a/never.jpg").c_str(), 0600), 0);

    const std::vector<FoundPhoto> found = findMissingPhotos(document, path("project"), path("search"));
    EXPECT_EQ(found, (std::vector<FoundPhoto>{{0, path("search/b/deep/beach.jpg")},
                                              {1, path("search/b/new name.jpg")},
                                              {2, path("search/plain.jpg")}}));

    // Limits: too shallow a search does not reach the deep photo.
    MissingPhotoLimits shallow;
    shallow.maxDepth = 1;
    const std::vector<FoundPhoto> near =
        findMissingPhotos(document, path("project"), path("search"), shallow);
    EXPECT_TRUE(std::none_of(near.begin(), near.end(), [](const FoundPhoto& hit) { return hit.slide == 0; }));
}

}  // namespace
}  // namespace kestrelle
