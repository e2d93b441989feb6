#include "base/run_log.h"

#include "tests/support/temp_home.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kestrelle {
namespace {

class RunLogTest : public testing::TempHomeTest {
protected:
    std::string logPath() const { return dataFolder() + "/run.log"; }
    std::string logText() const { return testing::readFile(logPath()); }

    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        const std::string text = logText();
        std::size_t start = 0;
        for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            result.push_back(text.substr(start, end - start));
        }
        EXPECT_EQ(start, text.size()) << "text after the last CR LF";
        return result;
    }

    // The third field of a line.
    static std::string message(const std::string& line) {
        const std::size_t second = line.find('\t', line.find('\t') + 1);
        return second == std::string::npos ? std::string() : line.substr(second + 1);
    }
};

TEST_F(RunLogTest, LineHasTimeTickAndSourceFields) {
    ASSERT_EQ(RunLog::write(0, "/src/output/avi_lib.cpp", 42, "Open %s (%d)", "file", 7), 0);
    const auto all = lines();
    ASSERT_EQ(all.size(), 1u);
    static const std::regex form(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\t-?\d+\tavi_lib\.cpp,42\|Open file \(7\))");
    EXPECT_TRUE(std::regex_match(all[0], form)) << all[0];
}

TEST_F(RunLogTest, SourceNameIsLastComponentOfEitherSeparator) {
    RunLog::write(0, "C:\\work\\ConfigSet.cpp", 1, "a");
    RunLog::write(1, "plain.cpp", 2, "b");
    RunLog::write(0, "dir/sub\\mixed.cpp", 3, "c");
    RunLog::write(0, "a_very_long_source_file_name.cpp", 4, "d");
    const auto all = lines();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(message(all[0]), "ConfigSet.cpp,1|a");
    EXPECT_EQ(message(all[1]), "plain.cpp,2|b");
    EXPECT_EQ(message(all[2]), "mixed.cpp,3|c");
    EXPECT_EQ(message(all[3]), "a_very_long_source_file_name.cpp,4|d");
}

TEST_F(RunLogTest, PercentInSourceNameIsNotExpanded) {
    RunLog::write(0, "/x/we%sird%n.cpp", 5, "%s", "text with %d inside");
    const auto all = lines();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(message(all[0]), "we%sird%n.cpp,5|text with %d inside");
}

TEST_F(RunLogTest, LeadingWhiteSpaceGoesOnlyBeforeAnEmptyName) {
    RunLog::write(0, "src.cpp", 6, "  spaced");
    RunLog::write(0, "", 7, "x");
    const auto all = lines();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(message(all[0]), "src.cpp,6|  spaced");
    EXPECT_EQ(message(all[1]), ",7|x");
}

TEST_F(RunLogTest, NegativeLevelWritesNothing) {
    EXPECT_EQ(RunLog::write(-1, "a.cpp", 1, "never"), -1);
    EXPECT_EQ(logText(), "");
}

TEST_F(RunLogTest, LongPartsAreCutAtTheWorkingLimits) {
    const std::string longName(300, 'n');
    const std::string longText(5000, 'm');
    ASSERT_EQ(RunLog::write(0, longName.c_str(), 1, "%s", longText.c_str()), 0);
    // The caller's format is cut so that "<padded name>,<line>|<format>" stays within 1023 characters,
    // never inside a conversion.
    const std::string longFormat = std::string(1004, 'f') + "%d";
    ASSERT_EQ(RunLog::write(0, "f.cpp", 2, longFormat.c_str(), 5), 0);
    const auto all = lines();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(message(all[0]).size(), 2047u);
    EXPECT_EQ(message(all[0]).substr(0, 129), std::string(127, 'n') + ",1");
    // 18 prefix characters (15 for the padded name) plus 1004 leave no room for the whole "%d".
    EXPECT_EQ(message(all[1]), "f.cpp,2|" + std::string(1004, 'f'));
}

TEST_F(RunLogTest, WithoutDataHomeWritesIntoWorkingFolder) {
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", "relative-home", 1);  // neither gives an absolute data home
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(root().c_str()), 0);
    const int result = RunLog::write(0, "a.cpp", 9, "here");
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(result, 0);
    EXPECT_NE(testing::readFile(path("run.log")).find("a.cpp,9|here\r\n"), std::string::npos);
}

TEST_F(RunLogTest, UnwritableLocationReturnsMinusOne) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    ASSERT_EQ(RunLog::write(0, "a.cpp", 1, "first"), 0);
    ASSERT_EQ(chmod(logPath().c_str(), 0400), 0);
    EXPECT_EQ(RunLog::write(0, "a.cpp", 2, "second"), -1);
}

TEST_F(RunLogTest, UnopenableFileReturnsMinusOne) {
    // A folder where the file should be cannot be opened for appending, even by root.
    ASSERT_EQ(RunLog::write(0, "a.cpp", 1, "make the folder"), 0);
    ASSERT_EQ(unlink(logPath().c_str()), 0);
    ASSERT_EQ(mkdir(logPath().c_str(), 0755), 0);
    EXPECT_EQ(RunLog::write(0, "a.cpp", 2, "lost"), -1);
}

TEST_F(RunLogTest, PlantedLinkOrPipeUnderTheLogNameIsLeftAlone) {
    // A link named run.log in the folder is not followed: the file it points at keeps its bytes.
    ASSERT_EQ(RunLog::write(0, "a.cpp", 1, "make the folder"), 0);
    ASSERT_EQ(unlink(logPath().c_str()), 0);
    const std::string victim = path("victim.txt");
    ASSERT_TRUE(testing::writeFile(victim, "precious"));
    ASSERT_EQ(symlink(victim.c_str(), logPath().c_str()), 0);
    EXPECT_EQ(RunLog::write(0, "a.cpp", 2, "planted"), -1);
    EXPECT_EQ(testing::readFile(victim), "precious");

    // A pipe without a reader neither blocks the writer nor receives the line.
    ASSERT_EQ(unlink(logPath().c_str()), 0);
    ASSERT_EQ(mkfifo(logPath().c_str(), 0600), 0);
    EXPECT_EQ(RunLog::write(0, "a.cpp", 3, "into a pipe"), -1);
}

// Another user plants run.log as a link in a shared folder that the log falls back to (no data home):
// the line must not reach the file the link points at. Needs root, to run the planting child as
// another user.
TEST_F(RunLogTest, AnotherUsersLinkInTheFallbackFolderIsNotFollowed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to plant the link as another user";
    constexpr uid_t kOtherUser = 65534;
    // The test's own folder is private; the shared one lies in the system's temporary folder, which the
    // other user can reach.
    char pattern[] = "/tmp/kestrelle-shared-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string shared = pattern;
    ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);  // world-writable, not sticky: the kernel does not guard it
    const std::string victim = path("victim.txt");
    ASSERT_TRUE(testing::writeFile(victim, "precious"));
    const std::string link = shared + "/run.log";
    const pid_t child = ::fork();
    if (child == 0) {
        const gid_t group = kOtherUser;
        if (::setgroups(1, &group) != 0 || ::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0) ::_exit(1);
        ::_exit(::symlink(victim.c_str(), link.c_str()) == 0 ? 0 : 2);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other user could not plant the link";
    struct stat planted {};
    ASSERT_EQ(::lstat(link.c_str(), &planted), 0);
    ASSERT_EQ(planted.st_uid, kOtherUser);

    char* saved = ::getcwd(nullptr, 0);
    ASSERT_NE(saved, nullptr);
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", "", 1);
    ASSERT_EQ(::chdir(shared.c_str()), 0);
    const int result = RunLog::write(0, "a.cpp", 1, "planted by someone else");
    ASSERT_EQ(::chdir(saved), 0);
    std::free(saved);
    ::unlink(link.c_str());
    ::rmdir(shared.c_str());
    EXPECT_EQ(result, -1);
    EXPECT_EQ(testing::readFile(victim), "precious");
}

TEST_F(RunLogTest, ThreadsNeverInterleaveWithinALine) {
    constexpr int kLines = 1000;
    auto writer = [](char mark) {
        const std::string body(200, mark);
        for (int i = 0; i < kLines; ++i) RunLog::write(0, "thread.cpp", i, "%s", body.c_str());
    };
    std::thread first(writer, 'a');
    std::thread second(writer, 'b');
    first.join();
    second.join();
    const auto all = lines();
    ASSERT_EQ(all.size(), 2u * kLines);
    int countA = 0;
    for (const std::string& line : all) {
        const std::string text = message(line);
        const std::string body = text.substr(text.find('|') + 1);
        ASSERT_TRUE(body == std::string(200, 'a') || body == std::string(200, 'b')) << line;
        countA += body[0] == 'a';
    }
    EXPECT_EQ(countA, kLines);
}

}  // namespace
}  // namespace kestrelle
