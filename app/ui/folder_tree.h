#pragma once
// The folder tree of the main window: a virtual root holding the user's places, folders listed on
// each expansion and kept current while expanded (watched; F5 lists them all again), and every
// selection reported to the owner so that it opens the folder.

#include "app/folder_source.h"

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QTreeWidget>

#include <memory>
#include <string>
#include <vector>

namespace kestrelle {

class SettingsStore;

class FolderTree : public QTreeWidget {
    Q_OBJECT

public:
    // Over `source`; the selected folder is stored in `settings`, which must outlive the tree.
    FolderTree(std::unique_ptr<FolderSource> source, SettingsStore& settings, QWidget* parent = nullptr);

    // Fills the tree: the root with its places, expanded one level. Then the folder stored as the
    // default is selected again (and so reported) when the tree still reaches it; otherwise nothing is
    // selected. Connect openFolderRequested first.
    void build();

    // File system path of the last selected item ("" for the virtual root).
    const std::string& currentPath() const { return currentPath_; }
    // The item showing `path`, listing and expanding the folders on the way; nullptr when no place
    // leads to it or a folder on the way is not shown (hidden, gone).
    QTreeWidgetItem* revealFolder(const std::string& path);
    // Selects the item of `path` (see revealFolder); false when there is none.
    bool selectFolder(const std::string& path);

    static std::string pathOf(const QTreeWidgetItem* item);

    // Lists every expanded folder again (what F5 does): folders made since appear, gone ones leave.
    void refresh();
    // The expanded folders being watched for change.
    QStringList watchedFolders() const { return watcher_.directories(); }

public Q_SLOTS:
    // A watched folder changed: lists it again when it is still expanded.
    void onFolderChanged(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* event) override;

Q_SIGNALS:
    // The owner opens this folder in the photo browser; an empty path clears the browser. Sent for
    // every new selection, before the folder is stored as the default.
    void openFolderRequested(const QByteArray& path);

private:
    void onItemExpanded(QTreeWidgetItem* item);
    void onItemCollapsed(QTreeWidgetItem* item);
    // Lists an expanded folder's children again, keeping the items (and what is expanded below them)
    // of folders still there; a folder that cannot be opened loses its button and collapses.
    void relist(QTreeWidgetItem* item);
    void watch(const std::string& path);
    void unwatch(const std::string& path);
    // The expanded items below `item` showing `path` (every expanded item for an empty path), outer
    // ones first.
    void collectExpanded(QTreeWidgetItem* item, const std::string& path,
                         std::vector<QTreeWidgetItem*>& found) const;
    // Lists the expanded items of `path` again; stops watching it when none is left.
    void relistExpanded(const std::string& path);
    void onCurrentItemChanged(QTreeWidgetItem* current);
    // Brings a folder item's children in line with its folder; false when the folder cannot be opened.
    bool listChildren(QTreeWidgetItem* item);
    void listPlaces(QTreeWidgetItem* root);
    QTreeWidgetItem* childNamed(QTreeWidgetItem* item, const std::string& path);

    std::unique_ptr<FolderSource> source_;
    SettingsStore& settings_;
    QTreeWidgetItem* root_ = nullptr;
    std::string currentPath_;
    QIcon folderIcon_;
    QFileSystemWatcher watcher_;
    bool relisting_ = false;
};

}  // namespace kestrelle
