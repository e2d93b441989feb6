#pragma once
// The in-memory slideshow: a row of cells on the photo line (photo slides first, then empty
// placeholders) and a list of soundtrack clips. Its content (content() / setContent()) is what undo
// records and what a project file holds; it lives as long as the storyboard that shows it. Edited from
// the user-interface thread only.

#include "media/audio_decoder.h"
#include "project/project_content.h"

#include <QImage>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrelle {

// Width in pixels of every cell of the photo line, and the soundtrack line's unit of scale.
constexpr int kCellWidth = 154;
// Size of a slide's thumbnail.
constexpr int kThumbnailWidth = 109;
constexpr int kThumbnailHeight = 60;
// Durations are kept within 0..kMaxDurationSeconds (one day) so that sums and frame counts stay sane.
constexpr double kMaxDurationSeconds = 86400.0;
// Clip widths and the visible width are kept below this (Qt's largest widget size).
constexpr int kMaxPixelExtent = 16777215;

// A rectangle in client coordinates; right and bottom are exclusive.
struct CellRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool isEmpty() const { return right <= left || bottom <= top; }
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const CellRect&) const = default;
};

// One cell of the photo line: a photo slide or an empty placeholder.
struct Slide {
    int index = -1;                   // position in the row; -1 only while the cell is being built
    int cellWidth = kCellWidth;       // always 154
    bool hasPhoto = false;            // false for a placeholder
    int transitionEffect = 0;         // effect leading from this slide to the next; 0 in a placeholder
    CellRect cellRect;                // where the cell was last painted; empty until then
    double transitionDuration = 0.0;  // seconds
    double slideDuration = 0.0;       // seconds the photo is shown still
    std::string photoPath;            // empty in a placeholder
    int thumbnailIndex = 0;           // entry in the project's thumbnail list
    bool photoMissing = false;        // the photo was not found when the slideshow was opened
    SlideLook look{};                 // motion and fit; the still letterboxed photo by default
};

// One audio file on the soundtrack line, as measured when it was added. The project keeps no file open:
// whoever needs the samples (the storyboard's waveform, the mix) opens the file by its path. A WAV file
// is measured by its data chunk and byte rate; any other format by its length alone (byte fields 0).
struct SoundtrackClip {
    int cellWidth = 0;  // drawn width in pixels
    std::string wavePath;
    CellRect cellRect;            // where the clip was last painted
    std::uint64_t dataBytes = 0;  // size of the data chunk (the width's numerator)
    std::uint32_t averageBytesPerSecond = 0;
    // The clip's length: as measured when added (WAV: dataBytes / averageBytesPerSecond, 0 when the rate
    // is 0), then its decoded length once the storyboard's waveform peaks have read the whole file.
    double durationSeconds = 0.0;
};

// The three defaults given to new slides and to durations that are not positive.
struct SlideDefaults {
    double slideDuration = 3.0;
    double transitionDuration = 3.0;
    int transitionEffect = 0;
    // What new photo slides get: motion None or GentleRandom, and the fit.
    SlideLook look{};
};

// The output profile values the size estimate reads.
struct OutputRates {
    int videoBitRate = 448;  // VideoBR, kbit/s
    int audioBitRate = 64;   // AudioBR as stored: the index into the audio bit-rate list
    int frameRateIndex = 0;  // FrameRate
};

// The audio bit rates offered by the configuration dialog, by index.
constexpr int kAudioBitRates[] = {80, 96, 112, 128, 160, 192, 224, 256};
// The kbit/s a stored AudioBR stands for: the list entry for 0..7; any other value shows (and
// counts) as the list's entry 3, 128 kbit/s.
int audioBitRateKbps(int audioBitRateSetting);

// Pixels per second of the soundtrack line: one average slide per cell, or 6 seconds per cell when
// there are no photos (or their total duration is not positive).
double clipPixelsPerSecond(int photoCount, double totalSeconds);
// A clip's width: trunc(pixels per second x data bytes / bytes per second), within 0..kMaxPixelExtent;
// 0 when the byte rate is 0.
int clipWidthFor(std::uint64_t dataBytes, std::uint32_t averageBytesPerSecond, int photoCount,
                 double totalSeconds);
// The width of a clip measured by its length alone: trunc(pixels per second x seconds), within
// 0..kMaxPixelExtent.
int clipWidthForSeconds(double seconds, int photoCount, double totalSeconds);

// A typed duration: the leading decimal number of the text (after blanks and an optional sign),
// 0 when there is none. Independent of the locale.
double parseDurationText(std::string_view text);

// Whether a path may be opened as a photo: an absolute path naming a regular file once links are
// followed. Decided with stat alone, so a FIFO or a device is never opened (reading a FIFO would hang).
bool isReadablePhotoFile(const std::string& path);

// What the storyboard hears from the project. Every call comes on the user-interface thread.
class ProjectObserver {
public:
    virtual ~ProjectObserver() = default;
    // The project changed in a way that shows: repaint.
    virtual void projectChanged() {}
    // The photo line's content width changed: update the scroll range.
    virtual void contentWidthChanged(int /*contentWidth*/) {}
    // Scroll the cell at this index (possibly -1) into view.
    virtual void scrollCellIntoView(int /*cell*/) {}
    // A photo was inserted: take the keyboard focus.
    virtual void takeFocus() {}
    // Scroll the clip at this index into view (a clip was moved along the soundtrack line).
    virtual void scrollClipIntoView(int /*clip*/) {}
    // The whole content was replaced (setContent: an undo, a redo, a slideshow opened); slides may lack
    // their thumbnails now.
    virtual void contentReplaced() {}
};

class SlideShowProject {
public:
    SlideShowProject() = default;
    SlideShowProject(const SlideShowProject&) = delete;
    SlideShowProject& operator=(const SlideShowProject&) = delete;

    // The observer is not owned; pass nullptr to detach.
    void setObserver(ProjectObserver* observer) { observer_ = observer; }
    // Where the current defaults come from (the settings); without a provider SlideDefaults{} holds.
    void setDefaultsProvider(std::function<SlideDefaults()> provider) {
        defaultsProvider_ = std::move(provider);
    }
    // The defaults now in force, with durations made finite and kept within 0..kMaxDurationSeconds.
    SlideDefaults currentDefaults() const;
    // Where the crossfade between consecutive clips comes from (the settings' AudioFadeSeconds, as the
    // mix uses it); without a provider clips join without one.
    void setCrossfadeProvider(std::function<double()> provider) { crossfadeProvider_ = std::move(provider); }
    // The crossfade now in force, in seconds: finite and within 0..kMaxDurationSeconds.
    double crossfadeSeconds() const;

    // Client width of the storyboard, kept within 0..kMaxPixelExtent.
    void setVisibleWidth(int width);
    int visibleWidth() const { return visibleWidth_; }

    // ---- Queries
    int cellCount() const { return static_cast<int>(cells_.size()); }
    int contentWidth() const;  // cellCount x 154 (saturating)
    int photoSlideCount() const { return photoCount_; }
    int placeholderCount() const { return cellCount() - photoCount_; }
    // Index of the first placeholder, cellCount() when there is none.
    int firstPlaceholderIndex() const { return photoSlideCount(); }
    const Slide* slide(int i) const;
    const std::vector<Slide>& cells() const { return cells_; }
    double totalDuration() const;
    // (video + audio kbit/s) x whole seconds of totalDuration() x 128; 0 without a profile.
    std::int64_t estimatedOutputBytes(const std::optional<OutputRates>& profile) const;

    // Slides or a clip are selected, never both. Several photo slides may be selected; selectedSlide()
    // is the current one among them (where the keyboard is, the one menus and editors open on), -1 when
    // no slide is selected.
    int selectedSlide() const { return selectedSlide_; }
    int selectedClip() const { return selectedClip_; }
    // Selects one photo slide alone (or -1 for none); false, with nothing changed, for any other index.
    bool setSelectedSlide(int i);
    // The selected photo slides in ascending order (selectedSlide() among them); empty when none is.
    const std::vector<int>& selectedSlides() const { return selectedSlides_; }
    bool isSlideSelected(int i) const;
    // Ctrl+click: adds the photo slide to the selection, or takes it out (the current slide then moves to
    // the nearest selected one). False for anything but a photo slide.
    bool toggleSlideSelection(int i);
    // Shift+click and Shift+arrow: selects every photo slide from the anchor (the slide last selected
    // alone or toggled) to i, and i becomes current. False for anything but a photo slide.
    bool extendSlideSelection(int i);
    // Selects the given photo slides (others in the list are ignored); `current` becomes current when
    // it is among them, else the first.
    void setSlideSelection(const std::vector<int>& slides, int current);
    // Selects a clip (or -1 for none); false, with nothing changed, for any other index.
    bool setSelectedClip(int i);

    const std::vector<SoundtrackClip>& clips() const { return clips_; }
    const SoundtrackClip* clip(int i) const;
    // Pixels per second of the soundtrack line now (clipPixelsPerSecond of the photos).
    double clipPixelsPerSecondNow() const;
    // The last clip whose painted rectangle holds the point (clips that overlap in a crossfade are
    // drawn in order, so the last one is on top); -1 when none does.
    int clipAtPoint(int x, int y) const;

    // The thumbnails in the order they were made; entries are never removed.
    const std::vector<QImage>& thumbnails() const { return thumbnails_; }
    // Thumbnails made from now on have this many device pixels per 109 x 60 point (1 to 4; 2 on a
    // screen at 200 %), so they stay sharp where the storyboard is drawn at a higher density.
    void setThumbnailPixelRatio(double ratio);
    double thumbnailPixelRatio() const { return thumbnailPixelRatio_; }
    const QImage* thumbnail(int i) const;

    // Hit tests on the rectangles stored by painting: the first cell containing the point, and the
    // last photo slide containing it (where a drop indicator goes); -1 when none does.
    int cellAtPoint(int x, int y) const;
    int photoSlideAtPoint(int x, int y) const;

    // Painting records where each cell and clip went; false for an index outside the list.
    bool setCellRect(int i, const CellRect& rect);
    bool setClipRect(int i, const CellRect& rect);

    // Whether insertPhoto makes a storyboard thumbnail (on by default). A project that is never shown,
    // like the headless renderer's, turns it off: photos are then checked by name only, not decoded,
    // and their thumbnails stay null.
    void setMakesThumbnails(bool on) { makesThumbnails_ = on; }
    // Whether insertPhoto refuses a file it cannot show (off by default, where a photo name that cannot
    // be read still gets the white thumbnail). The storyboard turns it on: a photo must then pass
    // isReadablePhotoFile and decode into its thumbnail, so a broken file, a folder, a FIFO or a
    // relative path never becomes a blank slide.
    void setRefusesUnreadablePhotos(bool on) { refusesUnreadablePhotos_ = on; }

    // ---- Editing
    void appendPlaceholder();
    // Appends width / 154 + 1 placeholders (a negative width counts as 0).
    void fillPlaceholders(int width);
    // Puts a photo into the row at `position` (see the .cpp). Returns cellCount() - 1, or -1 when
    // nothing was inserted (negative position, or no thumbnail could be made for the file). An effect
    // outside 0..12 is not stored: the cell keeps its own number, or 0.
    int insertPhoto(const std::string& path, int position, int effect, double slideDuration,
                    double transitionDuration);
    // Puts several photos into the row as consecutive insertPhoto calls would (each taken photo goes
    // after the one before it), but in one pass over the row and with one round of notifications, so a
    // drop of many photos costs time in proportion to the row plus the drop. Paths that give no
    // thumbnail are left out and, when `refused` is given, added to it in order. Returns the number of
    // photos inserted.
    int insertPhotos(const std::vector<std::string>& paths, int position, int effect, double slideDuration,
                     double transitionDuration, std::vector<std::string>* refused = nullptr);
    // Deletes the photo slide at i; false when i is not a photo slide.
    bool deleteSlide(int i);
    void shiftSlideLeft();
    void shiftSlideRight();
    // Exchanges what two cells hold; index, width and rectangle stay with the position.
    bool swapSlideContents(int a, int b);
    // Stores a duration; a value that is not greater than 0 (or not finite) stores the default.
    bool setSlideDuration(int i, double seconds);
    bool setTransitionDuration(int i, double seconds);
    // The same for typed text: text that is no number counts as 0 and so stores the default.
    bool setSlideDurationText(int i, std::string_view text);
    bool setTransitionDurationText(int i, std::string_view text);
    // Stores an effect number 0..12; false, with nothing changed, for any other number or index.
    bool setTransitionEffect(int i, int effect);
    // Stores a photo slide's motion and fit (motion rectangles as given: they are clamped when drawn);
    // false, with nothing changed, for anything but a photo slide.
    bool setSlideLook(int i, const SlideLook& look);
    // The seed of every GentleRandom slide's motion (stored with the content).
    std::uint64_t motionSeed() const { return motionSeed_; }
    void setMotionSeed(std::uint64_t seed) { motionSeed_ = seed; }
    // Every cell takes the three defaults; a default effect outside 0..12 leaves each cell's own.
    void applyDefaultsToAll();
    // Deletes these photo slides (other indexes are ignored) in one pass; the slide after the last
    // deleted one (or the photo before, at the end) becomes the selection. Returns how many went.
    int deleteSlides(const std::vector<int>& slides);
    // Moves these photo slides, in their order, so that they stand together before the photo slide that
    // is now at `before` (photoSlideCount() or more: at the end). They stay selected. False when nothing
    // moved (no photo slide among them, or they stand there already).
    bool moveSlides(const std::vector<int>& slides, int before);
    // Moves the selected slides one place left or right (one block, gathered at the first of them when
    // they are apart); with one slide selected these are shiftSlideLeft/Right.
    void shiftSelectionLeft();
    void shiftSelectionRight();
    void resetProject();

    // Opens and measures an audio file (probeAudioFile) and appends it as a clip; the file is closed
    // again. Anything but Ok leaves the project unchanged.
    AudioOpenResult addClip(const std::string& path);
    // Appends an already measured clip (for callers that measured the file themselves).
    void addMeasuredClip(const std::string& path, std::uint64_t dataBytes,
                         std::uint32_t averageBytesPerSecond);
    // Appends a clip measured by its length alone (any format but WAV).
    void addTimedClip(const std::string& path, double seconds);
    void relayoutClips();
    // Deletes clip i; the selection moves as with slides (the clip moving into the gap, or the one
    // before when the last clip goes). False when there is no clip i.
    bool deleteClip(int i);
    // Moves the selected clip one place along the line, the selection with it; nothing at either end.
    void shiftClipLeft();
    void shiftClipRight();
    // Stores a clip's exact length (the decoded length, once the whole file was read) and its width
    // again by the usual rules (a WAV file's width stays its data size's). A length that is negative or
    // not finite is refused; an unchanged one changes nothing. True when the length changed.
    bool setClipDuration(int i, double seconds);
    // The same for every clip of that file; returns how many changed.
    int setClipDurationForPath(const std::string& path, double seconds);

    // ---- Whole content (undo, project files)
    // The slides and clips as plain values.
    ProjectContent content() const;
    // Replaces every slide and clip with `content` in one pass, with one round of notifications; the
    // selection is cleared and placeholders fill the visible width. Paths are taken as given (a project
    // file's reader has checked them); thumbnail indexes that name no thumbnail count as -1.
    void setContent(const ProjectContent& content);
    // A thumbnail made for a path after setContent (the storyboard makes them on a worker): every photo
    // slide of that path without a thumbnail takes it, and so does every later setContent naming the path
    // without one (an undo brings back the content as it was recorded). The thumbnail list grows by one
    // entry; returns how many slides took it.
    int provideThumbnail(const std::string& path, QImage thumbnail);
    // Photo slides without a thumbnail (index -1) whose photo is not missing.
    bool slideNeedsThumbnail(int i) const;

    // How many cells the editing operations have stepped over so far (renumbering, shifting, counting):
    // the measure tests use to see that building a row costs linear work.
    std::uint64_t cellSteps() const { return cellSteps_; }

private:
    // The thumbnail of a photo for insertion, or none when the file cannot give one.
    std::optional<QImage> makeThumbnail(const std::string& path) const;
    Slide makePhotoCell(const std::string& path, QImage thumbnail, int effect, double slideDuration,
                        double transitionDuration);
    static Slide makeEmptyCell();
    static double clampDuration(double seconds);
    void renumber();
    // Keeps the selection to photo slides after a change of the row: just the current slide.
    void collapseSelection();
    void selectOnly(int i);
    void notifyChanged();
    void notifyContentWidth();
    void notifyScroll(int cell);
    void notifyFocus();
    void notifyClipScroll(int clip);
    int clipWidth(const SoundtrackClip& clip, int photos, double total) const;

    std::vector<Slide> cells_;
    int photoCount_ = 0;  // photo slides in cells_, all before the first placeholder
    std::uint64_t cellSteps_ = 0;
    std::vector<SoundtrackClip> clips_;
    std::uint64_t motionSeed_ = 0;
    std::vector<QImage> thumbnails_;
    double thumbnailPixelRatio_ = 1.0;
    bool makesThumbnails_ = true;
    bool refusesUnreadablePhotos_ = false;
    int selectedSlide_ = -1;
    int selectedClip_ = -1;
    std::vector<int> selectedSlides_;  // ascending; holds selectedSlide_ when that is >= 0
    int selectionAnchor_ = -1;
    std::unordered_map<std::string, int> pathThumbnails_;  // provideThumbnail's entries by path
    int visibleWidth_ = 0;
    ProjectObserver* observer_ = nullptr;
    std::function<SlideDefaults()> defaultsProvider_;
    std::function<double()> crossfadeProvider_;
};

}  // namespace kestrelle
