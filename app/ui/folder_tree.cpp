#include "app/ui/folder_tree.h"

#include "config/settings_store.h"

#include <QHeaderView>
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
    connect(this, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> selected = selectedItems();
        if (!selected.isEmpty()) onCurrentItemChanged(selected.front());
    });
}

void FolderTree::build() {
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
    for (const Subfolder& folder : *folders) {
        auto* child = new QTreeWidgetItem(item, {folder.shownName});
        child->setIcon(0, folderIcon_);
        child->setChildIndicatorPolicy(folder.hasButton ? QTreeWidgetItem::ShowIndicator
                                                        : QTreeWidgetItem::DontShowIndicator);
        setPath(child, joinPath(path, folder.name));
    }
    return true;
}

void FolderTree::onItemExpanded(QTreeWidgetItem* item) {
    if (item->childCount() > 0) return;  // listed before and not empty: never listed again
    if (item == root_) {
        listPlaces(root_);
        return;
    }
    if (item->childIndicatorPolicy() == QTreeWidgetItem::DontShowIndicator) return;
    if (!listChildren(item)) {
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
        item->setExpanded(false);
    } else if (item->childCount() == 0) {
        // Shown collapsed with its button; the next expansion looks again.
        item->setExpanded(false);
    }
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
