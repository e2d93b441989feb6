// What the main window remembers beside settings.ini: the recent projects' order and limit, and a
// window.ini that is missing, damaged or hand-edited.

#include "app/window_state.h"
#include "tests/support/temp_home.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kestrelle {
namespace {

class WindowStateTest : public testing::TempHomeTest {};

TEST_F(WindowStateTest, RecentProjectsComeFirstOnceAndAtMostTen) {
    QStringList recent;
    for (int i = 0; i < 12; ++i) recent = withRecentProject(recent, QStringLiteral("/p/%1.kestrelle").arg(i));
    ASSERT_EQ(recent.size(), kRecentProjectCount);
    EXPECT_EQ(recent.first(), QStringLiteral("/p/11.kestrelle"));
    EXPECT_EQ(recent.last(), QStringLiteral("/p/2.kestrelle"));
    recent = withRecentProject(recent, QStringLiteral("/p/5.kestrelle"));
    EXPECT_EQ(recent.size(), kRecentProjectCount);
    EXPECT_EQ(recent.first(), QStringLiteral("/p/5.kestrelle"));
    EXPECT_EQ(recent.count(QStringLiteral("/p/5.kestrelle")), 1);
    EXPECT_EQ(withRecentProject(recent, QString()), recent);
}

TEST_F(WindowStateTest, KeptInItsOwnFileInTheDataFolder) {
    const QString file = WindowState::defaultFile();
    EXPECT_EQ(file.toStdString(), dataFolder() + "/window.ini");
    WindowState state;
    state.geometry = QByteArray("\x01\x02geometry\x00bytes", 16);
    state.maximised = true;
    state.browserSplitter = QByteArray("splitter");
    state.recentProjects = {QStringLiteral("/a b/é.kestrelle"), QStringLiteral("/c.kestrelle")};
    ASSERT_TRUE(state.save());
    WindowState read;
    read.load();
    EXPECT_EQ(read.geometry, state.geometry);
    EXPECT_TRUE(read.maximised);
    EXPECT_EQ(read.browserSplitter, state.browserSplitter);
    EXPECT_EQ(read.recentProjects, state.recentProjects);
    EXPECT_FALSE(std::filesystem::exists(dataFolder() + "/settings.ini")) << "settings.ini is left alone";
}

TEST_F(WindowStateTest, AMissingOrDamagedFileGivesTheDefaults) {
    WindowState missing(QString::fromStdString(path("nowhere/window.ini")));
    missing.load();
    EXPECT_TRUE(missing.geometry.isEmpty());
    EXPECT_FALSE(missing.maximised);
    EXPECT_TRUE(missing.recentProjects.isEmpty());

    // Random bytes, and a hand-edited list with duplicates, empty entries and more than ten names.
    std::string noise(4096, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919 + 13) % 251);
    ASSERT_TRUE(testing::writeFile(path("noise.ini"), noise));
    WindowState damaged(QString::fromStdString(path("noise.ini")));
    damaged.load();
    EXPECT_LE(damaged.recentProjects.size(), kRecentProjectCount);

    std::string edited = "[RecentProjects]\nfiles=";
    for (int i = 0; i < 15; ++i) edited += "/x" + std::to_string(i % 12) + ".kestrelle, , ";
    edited += "\n[MainWindow]\nmaximised=perhaps\n";
    ASSERT_TRUE(testing::writeFile(path("edited.ini"), edited));
    WindowState hand(QString::fromStdString(path("edited.ini")));
    hand.load();
    EXPECT_EQ(hand.recentProjects.size(), kRecentProjectCount);
    EXPECT_EQ(hand.recentProjects.removeDuplicates(), 0);
    EXPECT_FALSE(hand.recentProjects.contains(QString()));
    EXPECT_FALSE(hand.maximised);

    WindowState nowhere{QString()};
    EXPECT_FALSE(nowhere.save());
}

}  // namespace
}  // namespace kestrelle
