#pragma once
// The window gallery: every window of the program, made with sample content and drawn to a PNG, so
// that a person can look at all of them at once (scripts/gallery.sh). Each subsystem adds its windows
// from a file of its own in this folder with KESTRELLE_GALLERY_ENTRY.

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestrelle::gallery {

struct Entry {
    std::string name;                                // the PNG's file name, without ".png"
    std::function<std::unique_ptr<QWidget>()> make;  // the window, ready to show
    int settleMs = 300;                              // events are processed this long before drawing
    // Called once the window shows, before it settles (open a menu, select, maximise).
    std::function<void(QWidget&)> prepare = {};
    // Draws the window's title above it, as a title bar shows it (a gallery run has no window manager),
    // and any open popup menu of the window where it lies.
    bool withTitleAndPopups = false;
};

// Registers a window; returns true so that it can initialise a static.
bool add(Entry entry);
const std::vector<Entry>& entries();

// A folder holding a few generated photos (made once per run), for windows that show photos.
const std::string& samplePhotoFolder();
// The generated photos in that folder, in name order.
std::vector<std::string> samplePhotoPaths();
// A WAV tone of `seconds` beside that folder that swells `swells` times, for the soundtrack line.
std::string sampleWavePath(const std::string& name, double seconds, double swells);

}  // namespace kestrelle::gallery

#define KESTRELLE_GALLERY_CONCAT_INNER(a, b) a##b
#define KESTRELLE_GALLERY_CONCAT(a, b) KESTRELLE_GALLERY_CONCAT_INNER(a, b)
// KESTRELLE_GALLERY_ENTRY({"name", [] { return std::make_unique<Window>(...); }});
#define KESTRELLE_GALLERY_ENTRY(...)                                     \
    static const bool KESTRELLE_GALLERY_CONCAT(galleryEntry, __LINE__) = \
        ::kestrelle::gallery::add(__VA_ARGS__)
