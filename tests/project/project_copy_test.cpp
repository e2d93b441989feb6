#include "project/project_copy.h"

#include "tests/support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace kestrelle {
namespace {

using testing::readFile;
using testing::writeFile;

class ProjectCopyTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        for (const char* made : {"one", "two", "out"}) ::mkdir(path(made).c_str(), 0755);
        ASSERT_TRUE(writeFile(path("one/a.jpg"), "photo one a"));
        ASSERT_TRUE(writeFile(path("two/a.jpg"), "photo two a"));
        ASSERT_TRUE(writeFile(path("one/song.wav"), std::string(3 * 1024 * 1024, 's')));
        document.content.slides = {SlideContent{path("one/a.jpg")}, SlideContent{path("two/a.jpg")},
                                   SlideContent{path("one/a.jpg")}, SlideContent{path("gone.jpg")}};
        document.content.clips = {ClipContent{path("one/song.wav"), 10.0, 0, 0}};
        document.profileName = "Default";
    }
    ProjectDocument document;
};

TEST_F(ProjectCopyTest, CopiesEveryPhotoAndClipOnceWithRelativePaths) {
    // A file of the same name already in the target folder stays as it is.
    ::mkdir(path("out/photos").c_str(), 0755);
    ASSERT_TRUE(writeFile(path("out/photos/a.jpg"), "the user's own"));
    std::uint64_t lastDone = 0, lastTotal = 0;
    const ProjectCopyResult result =
        saveProjectCopy(document, path("out/show.kestrelle"), [&](std::uint64_t done, std::uint64_t total) {
            lastDone = done;
            lastTotal = total;
            return true;
        });
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(readFile(path("out/photos/a.jpg")), "the user's own");
    EXPECT_EQ(readFile(path("out/photos/a (2).jpg")), "photo one a");
    EXPECT_EQ(readFile(path("out/photos/a (3).jpg")), "photo two a");
    EXPECT_EQ(readFile(path("out/music/song.wav")).size(), 3u * 1024 * 1024);
    EXPECT_EQ(lastDone, lastTotal);
    EXPECT_EQ(result.missing, std::vector<std::string>{path("gone.jpg")});

    const std::string text = readFile(path("out/show.kestrelle"));
    EXPECT_NE(text.find("photo=\"photos/a (2).jpg\""), std::string::npos) << text;
    EXPECT_NE(text.find("path=\"music/song.wav\""), std::string::npos) << text;
    const ProjectReadResult read = readProjectFile(path("out/show.kestrelle"));
    ASSERT_EQ(read.error, ProjectFileError::Ok) << read.message;
    ASSERT_EQ(read.document.content.slides.size(), 4u);
    EXPECT_EQ(read.document.content.slides[2].photoPath, path("out/photos/a (2).jpg"));
    EXPECT_TRUE(read.document.content.slides[3].photoMissing);
    EXPECT_EQ(read.document.profileName, "Default");
}

TEST_F(ProjectCopyTest, CancellingRemovesWhatWasMade) {
    const ProjectCopyResult result = saveProjectCopy(document, path("out/new/show.kestrelle"),
                                                     [](std::uint64_t, std::uint64_t) { return false; });
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.cancelled);
    struct stat info {};
    EXPECT_NE(::stat(path("out/new").c_str(), &info), 0);

    // A target that cannot be made is reported.
    ASSERT_TRUE(writeFile(path("file"), "x"));
    const ProjectCopyResult blocked = saveProjectCopy(document, path("file/show.kestrelle"));
    EXPECT_FALSE(blocked.ok);
    EXPECT_FALSE(blocked.message.empty());
}

}  // namespace
}  // namespace kestrelle
