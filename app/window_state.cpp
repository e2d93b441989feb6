#include "app/window_state.h"

#include "base/data_folder.h"

#include <QSettings>

namespace kestrelle {

namespace {

const QString kGeometryKey = QStringLiteral("MainWindow/geometry");
const QString kMaximisedKey = QStringLiteral("MainWindow/maximised");
const QString kBrowserSplitterKey = QStringLiteral("MainWindow/browserSplitter");
const QString kRecentKey = QStringLiteral("RecentProjects/files");

}  // namespace

QStringList withRecentProject(QStringList recent, const QString& path) {
    if (path.isEmpty()) return recent;
    recent.removeAll(path);
    recent.prepend(path);
    while (recent.size() > kRecentProjectCount) recent.removeLast();
    return recent;
}

WindowState::WindowState(QString file) : file_(std::move(file)) {}

QString WindowState::defaultFile() {
    std::string folder;
    if (!resolveDataFolder("Kestrelle", folder)) return {};
    return QString::fromStdString(folder) + QStringLiteral("/window.ini");
}

void WindowState::load() {
    if (file_.isEmpty()) return;
    const QSettings settings(file_, QSettings::IniFormat);
    // Values of the wrong type (a hand-edited file) read as empty and are ignored.
    geometry = settings.value(kGeometryKey).toByteArray();
    // Only what save() writes counts as maximised ("perhaps" does not).
    maximised = settings.value(kMaximisedKey).toString() == QStringLiteral("true");
    browserSplitter = settings.value(kBrowserSplitterKey).toByteArray();
    QStringList recent;
    for (const QString& entry : settings.value(kRecentKey).toStringList()) {
        const QString path = entry.trimmed();
        if (!path.isEmpty() && recent.size() < kRecentProjectCount && !recent.contains(path))
            recent.append(path);
    }
    recentProjects = recent;
}

bool WindowState::save() const {
    if (file_.isEmpty()) return false;
    QSettings settings(file_, QSettings::IniFormat);
    settings.setValue(kGeometryKey, geometry);
    settings.setValue(kMaximisedKey, maximised);
    settings.setValue(kBrowserSplitterKey, browserSplitter);
    settings.setValue(kRecentKey, recentProjects);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

}  // namespace kestrelle
