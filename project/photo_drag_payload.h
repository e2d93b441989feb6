#pragma once
// What the photo browser hands to the storyboard when the user drags items: the kind of line the items
// belong on (photos or soundtrack clips) and their file paths in ascending row order. Paths are the
// file system's own bytes, so names that are not valid UTF-8 survive the trip.

#include <QByteArray>

#include <optional>
#include <string>
#include <vector>

class QMimeData;

namespace kestrelle {

// The private MIME types of a drag from the photo browser, one per line of the storyboard.
inline constexpr char kPhotoListMimeType[] = "application/x-kestrelle-photo-list";
inline constexpr char kAudioListMimeType[] = "application/x-kestrelle-audio-list";

enum class DragLine { Photos, Soundtrack };

struct DragPayload {
    DragLine line = DragLine::Photos;
    std::vector<std::string> paths;
};

// Serialises the paths for the line's MIME type (a count, then length-prefixed byte strings).
QByteArray encodeDragPaths(const std::vector<std::string>& paths);
// The paths back; none when the bytes are truncated, oversized or malformed.
std::optional<std::vector<std::string>> decodeDragPaths(const QByteArray& bytes);

// Puts the payload on `mime` under its line's MIME type.
void putDragPayload(QMimeData& mime, const DragPayload& payload);
// The payload of a drag from the photo browser, or none when `mime` carries neither private type or
// its data is malformed.
std::optional<DragPayload> takeDragPayload(const QMimeData& mime);

}  // namespace kestrelle
