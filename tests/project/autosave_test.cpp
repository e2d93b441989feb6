#include "project/autosave.h"

#include "tests/support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace kestrelle {
namespace {

using testing::readFile;
using testing::writeFile;

class AutosaveTest : public testing::TempHomeTest {};

TEST_F(AutosaveTest, AnAutosaveLeftByAnUncleanEndIsRestorableAndGoesOnACleanExit) {
    std::optional<AutosaveFile> autosave = AutosaveFile::inDataFolder();
    ASSERT_TRUE(autosave);
    EXPECT_FALSE(autosave->hasRestorableAutosave());
    ASSERT_TRUE(autosave->markRunning());

    ProjectDocument document;
    document.content.slides = {SlideContent{path("a.jpg"), 2.5, 1.0, 3, -1, false}};
    document.outputName = "show.avi";
    // The user's own file is named, never written.
    ASSERT_TRUE(writeFile(path("show.kestrelle"), "the user's file"));
    ASSERT_TRUE(autosave->write(document, path("show.kestrelle")));
    EXPECT_EQ(readFile(path("show.kestrelle")), "the user's file");
    EXPECT_EQ(autosave->autosavePath().rfind(dataFolder(), 0), 0u);
    // This run's own autosave is not a leftover.
    EXPECT_FALSE(autosave->hasRestorableAutosave());

    // A run killed: its marker names another process.
    ASSERT_TRUE(writeFile(dataFolder() + "/running", "999999999\n"));
    AutosaveFile nextStart(dataFolder());
    ASSERT_TRUE(nextStart.hasRestorableAutosave());
    const ProjectReadResult restored = nextStart.read();
    ASSERT_EQ(restored.error, ProjectFileError::Ok) << restored.message;
    EXPECT_EQ(restored.document.content.slides[0].slideDuration, 2.5);
    EXPECT_EQ(restored.document.outputName, "show.avi");
    EXPECT_EQ(nextStart.sourcePath(), path("show.kestrelle"));

    nextStart.discard();
    EXPECT_FALSE(nextStart.hasRestorableAutosave());
    ASSERT_TRUE(nextStart.write(document, ""));
    EXPECT_EQ(nextStart.sourcePath(), "");
    nextStart.markCleanExit();
    EXPECT_FALSE(AutosaveFile(dataFolder()).hasRestorableAutosave());
    struct stat info {};
    EXPECT_NE(::stat((dataFolder() + "/running").c_str(), &info), 0);
}

TEST_F(AutosaveTest, ALinkInTheDataFolderDoesNotLeadTheAutosaveElsewhere) {
    std::optional<AutosaveFile> autosave = AutosaveFile::inDataFolder();
    ASSERT_TRUE(autosave);
    ASSERT_TRUE(writeFile(path("show.kestrelle"), "the user's file"));
    ASSERT_EQ(::symlink(path("show.kestrelle").c_str(), autosave->autosavePath().c_str()), 0);
    ASSERT_TRUE(autosave->write(ProjectDocument{}, path("show.kestrelle")));
    EXPECT_EQ(readFile(path("show.kestrelle")), "the user's file");
    EXPECT_EQ(autosave->read().error, ProjectFileError::Ok);
}

}  // namespace
}  // namespace kestrelle
