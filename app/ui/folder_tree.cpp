#include "app/ui/folder_tree.h"

#include "config/settings_store.h"

#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>

#include <algorithm>

namespace kestrelle {
namespace {

constexpr int kPathRole = Qt::UserRole;

QIcon folderIcon(const QStyle& style) {
    // The open folder stands for the selected item.
    const QIcon closed = style.standardIcon(QStyle::SP_DirClosedIcon);
    const QIcon open = style.standardIcon(QStyle::SP_DirOpenIcon);
    QIcon icon;
    for (int side : {16, 24, 32}) {
        icon.addPixmap(closed.pixmap(QSize(side, side)), QIcon::Normal);
        icon.addPixmap(open.pixmap(QSize(side, side)), QIcon::Selected);
    }
    return icon;
}

QIcon placeIcon(const QStyle& style, const Place& place, const QIcon& folder) {
    switch (place.kind) {
        case PlaceKind::Home:
            return style.standardIcon(QStyle::SP_DirHomeIcon);
        case PlaceKind::Desktop:
            return style.standardIcon(QStyle::SP_DesktopIcon);
        case PlaceKind::Pictures:
            return folder;
        case PlaceKind::Volume:
            if (place.volume == VolumeKind::Network) return style.standardIcon(QStyle::SP_DriveNetIcon);
            return QIcon::fromTheme(QStringLiteral("drive-removable-media"),
                                    style.standardIcon(QStyle::SP_DriveHDIcon));
        case PlaceKind::FileSystem:
            return style.standardIcon(QStyle::SP_DriveHDIcon);
    }
    return folder;
}

void setPath(QTreeWidgetItem* item, const std::string& path) {
    item->setData(0, kPathRole, QByteArray::fromStdString(path));
}

// The components of `path` below `folder`, which contains it.
std::vector<std::string> componentsBelow(const std::string& path, const std::string& folder) {
    std::vector<std::string> components;
    std::size_t at = folder == "/" ? 1 : folder.size();
    while (at < path.size()) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        if (end > at) components.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return components;
}

}  // namespace

FolderTree::FolderTree(std::unique_ptr<FolderSource> source, SettingsStore& settings, QWidget* parent)
    : QTreeWidget(parent),
      source_(std::move(source)),
      settings_(settings),
      folderIcon_(folderIcon(*style())) {
    setObjectName(QStringLiteral("folderTree"));
    setAccessibleName(QStringLiteral("Folders"));
    setColumnCount(1);
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setAnimated(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Long names scroll sideways instead of being cut short.
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    connect(this, &QTreeWidget::itemExpanded, this, &FolderTree::onItemExpanded);
    connect(this, &QTreeWidget::itemCollapsed, this, &FolderTree::onItemCollapsed);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &FolderTree::onFolderChanged);
    connect(this, &QTreeWidget::itemSelectionChanged, this, [this] {
        // Rows coming and going around the selected item while a folder is listed again change no
        // selection the user made.
        if (relisting_) return;
        const QList<QTreeWidgetItem*> selected = selectedItems();
        if (!selected.isEmpty()) onCurrentItemChanged(selected.front());
    });
}

void FolderTree::build() {
    const QStringList watched = watcher_.directories();
    if (!watched.isEmpty()) watcher_.removePaths(watched);
    clear();
    root_ = new QTreeWidgetItem(this, {QStringLiteral("Computer")});
    root_->setIcon(0, style()->standardIcon(QStyle::SP_ComputerIcon));
    root_->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    setPath(root_, {});
    listPlaces(root_);
    root_->setExpanded(true);

    const std::string stored = settings_.settings().DefaultSelectedDirectory;
    if (!stored.empty()) selectFolder(stored);
}

std::string FolderTree::pathOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, kPathRole).toByteArray().toStdString() : std::string();
}

void FolderTree::listPlaces(QTreeWidgetItem* root) {
    for (const Place& place : source_->places()) {
        auto* item = new QTreeWidgetItem(root, {place.name});
        item->setIcon(0, placeIcon(*style(), place, folderIcon_));
        item->setToolTip(0, shownFileName(place.path));
        // Places are worth a button without looking: an empty one collapses at its first expansion.
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        setPath(item, place.path);
    }
}

bool FolderTree::listChildren(QTreeWidgetItem* item) {
    const std::string path = pathOf(item);
    const std::optional<std::vector<Subfolder>> folders = source_->subfolders(path);
    if (!folders) return false;
    // Items of folders that are gone leave; the others keep their place, their expansion and their
    // children, and items for new folders are put in the listed order around them.
    std::vector<std::string> listed;
    listed.reserve(folders->size());
    for (const Subfolder& folder : *folders) listed.push_back(joinPath(path, folder.name));
    for (int i = item->childCount() - 1; i >= 0; --i) {
        if (std::find(listed.begin(), listed.end(), pathOf(item->child(i))) == listed.end()) {
            delete item->takeChild(i);
        }
    }
    for (std::size_t k = 0; k < folders->size(); ++k) {
        const Subfolder& folder = (*folders)[k];
        const int row = static_cast<int>(k);
        QTreeWidgetItem* child = nullptr;
        for (int i = row; i < item->childCount(); ++i) {
            if (pathOf(item->child(i)) == listed[k]) {
                child = item->child(i);
                if (i != row) item->insertChild(row, item->takeChild(i));
                break;
            }
        }
        if (!child) {
            child = new QTreeWidgetItem({folder.shownName});
            child->setIcon(0, folderIcon_);
            setPath(child, listed[k]);
            item->insertChild(row, child);
        }
        // A folder listed below keeps its button; the others show what the listing says.
        if (child->childCount() == 0) {
            child->setChildIndicatorPolicy(folder.hasButton ? QTreeWidgetItem::ShowIndicator
                                                            : QTreeWidgetItem::DontShowIndicator);
        }
    }
    return true;
}

void FolderTree::onItemExpanded(QTreeWidgetItem* item) {
    if (item == root_) {
        if (item->childCount() == 0) listPlaces(root_);
        return;
    }
    // A folder is listed at each expansion, so that folders made or removed meanwhile show.
    if (item->childIndicatorPolicy() == QTreeWidgetItem::DontShowIndicator && item->childCount() == 0) {
        return;
    }
    relist(item);
}

void FolderTree::relist(QTreeWidgetItem* item) {
    const bool wasRelisting = relisting_;
    relisting_ = true;
    const bool listed = listChildren(item);
    if (!listed) qDeleteAll(item->takeChildren());
    relisting_ = wasRelisting;
    if (!listed) {
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
        item->setExpanded(false);  // collapsing stops watching it
    } else if (item->childCount() == 0) {
        // Shown collapsed with its button; the next expansion looks again.
        item->setExpanded(false);
    } else {
        watch(pathOf(item));
    }
}

void FolderTree::onItemCollapsed(QTreeWidgetItem* item) {
    if (item != root_) unwatch(pathOf(item));
}

void FolderTree::watch(const std::string& path) {
    const QString folder = QFile::decodeName(QByteArray::fromStdString(path));
    if (!watcher_.directories().contains(folder)) watcher_.addPath(folder);
}

void FolderTree::unwatch(const std::string& path) {
    const QString folder = QFile::decodeName(QByteArray::fromStdString(path));
    if (watcher_.directories().contains(folder)) watcher_.removePath(folder);
}

void FolderTree::collectExpanded(QTreeWidgetItem* item, const std::string& path,
                                 std::vector<QTreeWidgetItem*>& found) const {
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem* child = item->child(i);
        if (!child->isExpanded()) continue;
        if (path.empty() || pathOf(child) == path) found.push_back(child);
        collectExpanded(child, path, found);
    }
}

void FolderTree::relistExpanded(const std::string& path) {
    // Found afresh for each, since listing an outer folder may remove an inner one. A folder may show
    // more than once (a place inside another place).
    std::vector<QTreeWidgetItem*> found;
    if (root_) collectExpanded(root_, path, found);
    if (found.empty()) unwatch(path);
    for (std::size_t n = 0; n < found.size(); ++n) {
        std::vector<QTreeWidgetItem*> current;
        collectExpanded(root_, path, current);
        if (n < current.size()) relist(current[n]);
    }
}

void FolderTree::onFolderChanged(const QString& path) {
    relistExpanded(QFile::encodeName(path).toStdString());
}

void FolderTree::refresh() {
    if (!root_) return;
    std::vector<QTreeWidgetItem*> expanded;
    collectExpanded(root_, {}, expanded);
    std::vector<std::string> paths;
    for (QTreeWidgetItem* item : expanded) {
        const std::string path = pathOf(item);
        if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
    }
    // Outer folders first (the order they were found in).
    for (const std::string& path : paths) relistExpanded(path);
}

void FolderTree::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F5 && event->modifiers() == Qt::NoModifier) {
        refresh();
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void FolderTree::onCurrentItemChanged(QTreeWidgetItem* current) {
    currentPath_ = pathOf(current);
    Q_EMIT openFolderRequested(QByteArray::fromStdString(currentPath_));
    settings_.setDefaultSelectedDirectory(currentPath_);
}

QTreeWidgetItem* FolderTree::childNamed(QTreeWidgetItem* item, const std::string& path) {
    for (int i = 0; i < item->childCount(); ++i) {
        if (pathOf(item->child(i)) == path) return item->child(i);
    }
    return nullptr;
}

QTreeWidgetItem* FolderTree::revealFolder(const std::string& path) {
    if (!root_) return nullptr;
    // The place nearest to the folder leads to it.
    QTreeWidgetItem* item = nullptr;
    std::size_t nearest = 0;
    for (int i = 0; i < root_->childCount(); ++i) {
        const std::string placePath = pathOf(root_->child(i));
        if (pathIsWithin(path, placePath) && (!item || placePath.size() > nearest)) {
            item = root_->child(i);
            nearest = placePath.size();
        }
    }
    if (!item) return nullptr;
    for (const std::string& component : componentsBelow(path, pathOf(item))) {
        if (item->childCount() == 0) item->setExpanded(true);
        QTreeWidgetItem* child = childNamed(item, joinPath(pathOf(item), component));
        if (!child) return nullptr;
        item->setExpanded(true);
        item = child;
    }
    return item;
}

bool FolderTree::selectFolder(const std::string& path) {
    QTreeWidgetItem* item = revealFolder(path);
    if (!item) return false;
    setCurrentItem(item);
    scrollToItem(item);
    return true;
}

}  // namespace kestrelle
