#pragma once
// What the main window remembers between runs apart from settings.ini (whose layout is fixed): its
// size and place, whether it was maximised, its splitters, and the ten most recent project files. Kept
// in "window.ini" in the data folder, written with QSettings in its INI format.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kestrelle {

constexpr int kRecentProjectCount = 10;

// Puts `path` first in `recent` (removing it further down) and keeps at most kRecentProjectCount.
QStringList withRecentProject(QStringList recent, const QString& path);

class WindowState {
public:
    // The state kept at `file`; the default is "window.ini" in the data folder ("" when there is none,
    // and then nothing is remembered).
    explicit WindowState(QString file = defaultFile());

    static QString defaultFile();

    const QString& file() const { return file_; }

    // What QWidget::saveGeometry gives, and whether the window was maximised.
    QByteArray geometry;
    bool maximised = false;
    // QSplitter::saveState of each splitter, by name.
    QByteArray browserSplitter;
    QStringList recentProjects;

    // Reads what is kept; anything missing or damaged stays at its default.
    void load();
    // Writes everything; false when the file could not be written.
    bool save() const;

private:
    QString file_;
};

}  // namespace kestrelle
