#include "config/file_replace.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

namespace kestrelle {

bool replaceFileContents(const std::string& path, const std::string& bytes, std::string& error) {
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString().toStdString();
        return false;
    }
    const auto size = static_cast<qint64>(bytes.size());
    if (size > 0 && file.write(bytes.data(), size) != size) {
        error = file.errorString().toStdString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString().toStdString();
        return false;
    }
    return true;
}

bool readSmallFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes) {
    bytes.clear();
    const QString name = QString::fromStdString(path);
    const QFileInfo info(name);
    if (!info.isFile() || static_cast<std::uint64_t>(info.size()) > maxBytes) return false;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) return false;
    // Read at most one byte more than allowed, so a file that grew meanwhile is still refused.
    const QByteArray data = file.read(static_cast<qint64>(maxBytes) + 1);
    if (static_cast<std::uint64_t>(data.size()) > maxBytes) return false;
    bytes.assign(data.constData(), static_cast<std::size_t>(data.size()));
    return true;
}

}  // namespace kestrelle
