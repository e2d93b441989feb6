#include "diag/export_target.h"

#include "base/data_folder.h"
#include "base/message_box.h"
#include "base/run_log.h"
#include "diag/log_export.h"
#include "tests/support/temp_home.h"

#include <unistd.h>

namespace kestrelle {
namespace {

TEST(ArchiveSuffix, AddedOnlyWhenTheNameHasNone) {
    EXPECT_EQ(archivePathWithSuffix("/home/ann/Kestrelle"), "/home/ann/Kestrelle.iba");
    EXPECT_EQ(archivePathWithSuffix("/home/ann/Kestrelle.iba"), "/home/ann/Kestrelle.iba");
    EXPECT_EQ(archivePathWithSuffix("/home/ann/log.txt"), "/home/ann/log.txt");
    EXPECT_EQ(archivePathWithSuffix("/home/ann/v1.2/log"), "/home/ann/v1.2/log.iba");  // a dot in a folder
    EXPECT_EQ(archivePathWithSuffix("/home/ann/.hidden"), "/home/ann/.hidden.iba");
    EXPECT_EQ(archivePathWithSuffix("/home/ann/name."), "/home/ann/name.iba");
    EXPECT_EQ(archivePathWithSuffix("relative"), "relative.iba");
    EXPECT_EQ(archivePathWithSuffix(""), "");
}

class ExportTargetTest : public testing::TempHomeTest {};

TEST_F(ExportTargetTest, SameFileSeesThroughSpellingsAndLinks) {
    ASSERT_TRUE(testing::writeFile(path("a.log"), "x"));
    ASSERT_EQ(::symlink(root().c_str(), path("link").c_str()), 0);
    EXPECT_TRUE(isSameFile(path("a.log"), root() + "/./a.log"));
    EXPECT_TRUE(isSameFile(path("a.log"), root() + "//a.log"));
    EXPECT_TRUE(isSameFile(path("a.log"), path("link/a.log")));
    EXPECT_TRUE(isSameFile(path("new.iba"), path("link/new.iba")));  // neither exists yet
    EXPECT_FALSE(isSameFile(path("a.log"), path("b.log")));
    EXPECT_FALSE(isSameFile(path("a.log"), path("a.log.iba")));
}

// Packing replaces the chosen file before reading the run log: choosing the run log itself is refused
// and the log stays as it was.
TEST_F(ExportTargetTest, ExportOntoTheRunLogItselfIsRefused) {
    struct Recorder final : MessagePresenter {
        int show(const std::string& text, unsigned) override {
            texts.push_back(text);
            return MessageAnswer::kOk;
        }
        std::vector<std::string> texts;
    } presenter;
    setMessagePresenter(&presenter);
    KESTRELLE_LOG(0, "a line to keep");
    const std::string log = runLogPath();
    const std::string before = testing::readFile(log);
    ASSERT_FALSE(before.empty());
    EXPECT_FALSE(exportRunLog(log));
    EXPECT_FALSE(exportRunLog(dataFolder() + "/./run.log"));
    setMessagePresenter(nullptr);
    EXPECT_EQ(presenter.texts, (std::vector<std::string>{kOntoRunLogText, kOntoRunLogText}));
    EXPECT_EQ(testing::readFile(log).substr(0, before.size()), before);
}

}  // namespace
}  // namespace kestrelle
