#include "project/photo_drag_payload.h"

#include "base/byte_order.h"

#include <QMimeData>
#include <QString>

#include <cstdint>
#include <cstring>

namespace kestrelle {
namespace {

// A drag of more than this many items or bytes is not one the browser makes; refuse it.
constexpr std::uint32_t kMaxPaths = 1u << 20;
constexpr std::uint32_t kMaxPathBytes = 1u << 16;

bool readUint32(const QByteArray& bytes, qsizetype& at, std::uint32_t& value) {
    if (bytes.size() - at < 4) return false;
    value = readLe32(bytes.constData() + at);
    at += 4;
    return true;
}

}  // namespace

QByteArray encodeDragPaths(const std::vector<std::string>& paths) {
    QByteArray out;
    appendLe32(out, static_cast<std::uint32_t>(paths.size()));
    for (const std::string& path : paths) {
        appendLe32(out, static_cast<std::uint32_t>(path.size()));
        out.append(path.data(), static_cast<qsizetype>(path.size()));
    }
    return out;
}

std::optional<std::vector<std::string>> decodeDragPaths(const QByteArray& bytes) {
    qsizetype at = 0;
    std::uint32_t count = 0;
    if (!readUint32(bytes, at, count) || count > kMaxPaths) return std::nullopt;
    std::vector<std::string> paths;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t length = 0;
        if (!readUint32(bytes, at, length) || length > kMaxPathBytes || bytes.size() - at < length) {
            return std::nullopt;
        }
        paths.emplace_back(bytes.constData() + at, length);
        at += length;
    }
    if (at != bytes.size()) return std::nullopt;
    return paths;
}

void putDragPayload(QMimeData& mime, const DragPayload& payload) {
    const char* type = payload.line == DragLine::Photos ? kPhotoListMimeType : kAudioListMimeType;
    mime.setData(QString::fromLatin1(type), encodeDragPaths(payload.paths));
}

std::optional<DragPayload> takeDragPayload(const QMimeData& mime) {
    for (DragLine line : {DragLine::Photos, DragLine::Soundtrack}) {
        const QString type =
            QString::fromLatin1(line == DragLine::Photos ? kPhotoListMimeType : kAudioListMimeType);
        if (!mime.hasFormat(type)) continue;
        std::optional<std::vector<std::string>> paths = decodeDragPaths(mime.data(type));
        if (!paths) return std::nullopt;
        return DragPayload{line, std::move(*paths)};
    }
    return std::nullopt;
}

}  // namespace kestrelle
