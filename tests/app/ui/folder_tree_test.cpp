// The folder tree over a temporary root and a fake mount table: how often each folder is listed, the
// button rules, what a selection tells the owner and stores, and the stored folder found again.

#include "app/ui/folder_tree.h"
#include "app/ui/photo_browser.h"
#include "config/settings_store.h"
#include "tests/support/temp_home.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>

namespace kestrelle {
namespace {

// The local source, counting how often each folder is listed.
class CountingSource : public FolderSource {
public:
    explicit CountingSource(PlaceRoots roots) : local_(std::move(roots)) {}
    std::vector<Place> places() override { return local_.places(); }
    std::optional<std::vector<Subfolder>> subfolders(const std::string& path) override {
        ++listed[path];
        return local_.subfolders(path);
    }
    std::map<std::string, int> listed;

private:
    LocalFolderSource local_;
};

class FolderTreeTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        for (const char* folder : {"home", "home/Trip", "home/Trip/Day 1", "home/Trip/Day 2", "home/empty",
                                   "home/.cache", "home/.cache/inner", "media", "media/stick", "fs"}) {
            ASSERT_EQ(::mkdir(path(folder).c_str(), 0755), 0) << folder;
        }
        PlaceRoots roots;
        roots.home = path("home");
        roots.fileSystem = path("fs");
        roots.removableFolders = {path("media")};
        roots.mounts = {{path("media/stick"), "vfat"}};
        auto counting = std::make_unique<CountingSource>(roots);
        source = counting.get();
        tree = std::make_unique<FolderTree>(std::move(counting), settings);
    }

    QTreeWidgetItem* place(const std::string& folder) const {
        QTreeWidgetItem* root = tree->topLevelItem(0);
        for (int i = 0; i < root->childCount(); ++i) {
            if (FolderTree::pathOf(root->child(i)) == folder) return root->child(i);
        }
        return nullptr;
    }

    static QTreeWidgetItem* child(QTreeWidgetItem* item, const QString& text) {
        for (int i = 0; i < item->childCount(); ++i) {
            if (item->child(i)->text(0) == text) return item->child(i);
        }
        return nullptr;
    }

    SettingsStore settings;
    CountingSource* source = nullptr;
    std::unique_ptr<FolderTree> tree;
};

TEST_F(FolderTreeTest, StartsExpandedOneLevelWithNothingSelectedOrListed) {
    settings.settings().DefaultSelectedDirectory.clear();
    QSignalSpy opened(tree.get(), &FolderTree::openFolderRequested);
    tree->build();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    EXPECT_TRUE(root->isExpanded());
    EXPECT_EQ(root->childCount(), 3);  // home, the stick, the file system
    EXPECT_TRUE(tree->selectedItems().isEmpty());
    EXPECT_TRUE(source->listed.empty());

    // Taking the focus makes an item current but selects nothing, so nothing is opened or stored.
    tree->show();
    tree->setFocus();
    QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
    QCoreApplication::sendEvent(tree.get(), &focusIn);
    EXPECT_EQ(opened.count(), 0);
}

TEST_F(FolderTreeTest, FoldersAreListedAtEachExpansionWithTheirButtons) {
    tree->build();
    QTreeWidgetItem* home = place(path("home"));
    ASSERT_NE(home, nullptr);
    home->setExpanded(true);
    EXPECT_EQ(source->listed[path("home")], 1);
    ASSERT_EQ(home->childCount(), 2);  // the hidden folder is left out
    EXPECT_EQ(home->child(0)->text(0), QStringLiteral("empty"));
    EXPECT_EQ(home->child(1)->text(0), QStringLiteral("Trip"));
    EXPECT_EQ(home->child(0)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    EXPECT_EQ(home->child(1)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);

    // Collapsed and expanded again: listed again, so a folder made meanwhile appears in its place.
    ASSERT_EQ(::mkdir(path("home/new").c_str(), 0755), 0);
    home->setExpanded(false);
    home->setExpanded(true);
    EXPECT_EQ(source->listed[path("home")], 2);
    ASSERT_EQ(home->childCount(), 3);
    EXPECT_EQ(home->child(1)->text(0), QStringLiteral("new"));

    // An empty place collapses again with its button and is listed again at the next expansion.
    QTreeWidgetItem* stick = place(path("media/stick"));
    ASSERT_NE(stick, nullptr);
    stick->setExpanded(true);
    EXPECT_FALSE(stick->isExpanded());
    EXPECT_EQ(stick->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    stick->setExpanded(true);
    EXPECT_EQ(source->listed[path("media/stick")], 2);

    // A folder that cannot be opened (gone since its parent was listed) loses its button.
    QTreeWidgetItem* trip = child(home, QStringLiteral("Trip"));
    std::filesystem::remove_all(path("home/Trip"));
    trip->setExpanded(true);
    EXPECT_EQ(trip->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    EXPECT_FALSE(trip->isExpanded());
}

// While expanded a folder is watched: a change lists it again (new folders appear, gone ones leave)
// and keeps what is expanded and selected inside it; F5 lists every expanded folder again.
TEST_F(FolderTreeTest, ExpandedFoldersFollowTheirFolderAndF5ListsThemAgain) {
    settings.settings().DefaultSelectedDirectory.clear();
    tree->build();
    QTreeWidgetItem* home = place(path("home"));
    home->setExpanded(true);
    QTreeWidgetItem* trip = child(home, QStringLiteral("Trip"));
    trip->setExpanded(true);
    const QString tripFolder = QString::fromStdString(path("home/Trip"));
    EXPECT_TRUE(tree->watchedFolders().contains(tripFolder));
    ASSERT_TRUE(tree->selectFolder(path("home/Trip/Day 2")));
    QSignalSpy opened(tree.get(), &FolderTree::openFolderRequested);

    // The watcher's signal, given directly: the new folder shows, the others keep their items.
    ASSERT_EQ(::mkdir(path("home/Album").c_str(), 0755), 0);
    ASSERT_EQ(::rmdir(path("home/empty").c_str()), 0);
    tree->onFolderChanged(QString::fromStdString(path("home")));
    EXPECT_EQ(source->listed[path("home")], 2);
    ASSERT_EQ(home->childCount(), 2);
    EXPECT_EQ(home->child(0)->text(0), QStringLiteral("Album"));
    EXPECT_EQ(home->child(1), trip);
    EXPECT_TRUE(trip->isExpanded());
    EXPECT_EQ(FolderTree::pathOf(tree->selectedItems().value(0)), path("home/Trip/Day 2"));
    EXPECT_EQ(opened.count(), 0);

    // A change to a folder no longer expanded lists nothing and stops watching it.
    trip->setExpanded(false);
    EXPECT_FALSE(tree->watchedFolders().contains(tripFolder));
    tree->onFolderChanged(tripFolder);
    EXPECT_EQ(source->listed[path("home/Trip")], 1);

    // F5 lists the expanded folders again, and a folder gone meanwhile leaves the tree.
    ASSERT_EQ(::mkdir(path("home/Zoo").c_str(), 0755), 0);
    std::filesystem::remove_all(path("home/Album"));
    tree->setFocus();
    QTest::keyClick(tree.get(), Qt::Key_F5);
    EXPECT_EQ(source->listed[path("home")], 3);
    ASSERT_EQ(home->childCount(), 2);
    EXPECT_EQ(home->child(0), trip);
    EXPECT_EQ(home->child(1)->text(0), QStringLiteral("Zoo"));
}

TEST_F(FolderTreeTest, RemovableVolumesGetAButtonWithoutBeingOpened) {
    // The stick seen from its parent folder: a button although it is empty, and it is not listed.
    PlaceRoots roots;
    roots.fileSystem = path("media");
    roots.removableFolders = {path("media")};
    roots.mounts = {{path("media/stick"), "vfat"}};
    auto counting = std::make_unique<CountingSource>(roots);
    CountingSource* counted = counting.get();
    FolderTree mediaTree(std::move(counting), settings);
    mediaTree.build();
    QTreeWidgetItem* media = mediaTree.topLevelItem(0)->child(mediaTree.topLevelItem(0)->childCount() - 1);
    media->setExpanded(true);
    ASSERT_EQ(media->childCount(), 1);
    EXPECT_EQ(media->child(0)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_EQ(counted->listed.count(path("media/stick")), 0u);
}

TEST_F(FolderTreeTest, SelectionOpensTheFolderStoresItAndTheVirtualRootClearsTheBrowser) {
    ASSERT_TRUE(testing::writeFile(path("home/Trip/Day 1/a.jpg"), "x"));
    tree->build();
    PhotoBrowser browser;
    QObject::connect(tree.get(), &FolderTree::openFolderRequested, &browser, &PhotoBrowser::openFolderPath);
    QSignalSpy opened(tree.get(), &FolderTree::openFolderRequested);

    ASSERT_TRUE(tree->selectFolder(path("home/Trip/Day 1")));
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0).at(0).toByteArray().toStdString(), path("home/Trip/Day 1"));
    EXPECT_EQ(settings.settings().DefaultSelectedDirectory, path("home/Trip/Day 1"));
    EXPECT_EQ(browser.count(), 1);

    tree->setCurrentItem(tree->topLevelItem(0));
    ASSERT_EQ(opened.count(), 2);
    EXPECT_TRUE(opened.at(1).at(0).toByteArray().isEmpty());
    EXPECT_EQ(browser.count(), 0);
    EXPECT_EQ(tree->currentPath(), "");
}

TEST_F(FolderTreeTest, TheStoredFolderIsSelectedAgainAtTheNextStart) {
    settings.settings().DefaultSelectedDirectory = path("home/Trip/Day 2");
    QSignalSpy opened(tree.get(), &FolderTree::openFolderRequested);
    tree->build();
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0).at(0).toByteArray().toStdString(), path("home/Trip/Day 2"));
    ASSERT_EQ(tree->selectedItems().size(), 1);
    EXPECT_EQ(tree->selectedItems().front()->text(0), QStringLiteral("Day 2"));
    EXPECT_TRUE(place(path("home"))->isExpanded());

    // A stored folder the tree does not show (hidden, or gone) selects nothing.
    for (const std::string& stored :
         {path("home/.cache/inner"), path("home/gone"), std::string("relative/path")}) {
        settings.settings().DefaultSelectedDirectory = stored;
        QSignalSpy again(tree.get(), &FolderTree::openFolderRequested);
        tree->build();
        EXPECT_EQ(again.count(), 0) << stored;
        EXPECT_TRUE(tree->selectedItems().isEmpty()) << stored;
    }
}

}  // namespace
}  // namespace kestrelle
