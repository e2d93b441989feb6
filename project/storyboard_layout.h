#pragma once
// The storyboard's geometry and arithmetic, free of widgets: where each element of a cell lies, what a
// point inside a cell hits, the scrolling steps and limits, the context menu's enabling rules, which
// line a drag is over, where each clip lies and the lines of its waveform. The storyboard control
// paints and reacts with these; tests reach them without a window.

#include "project/slideshow_project.h"

#include <QLine>
#include <QPoint>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class QMimeData;

namespace kestrelle {

class WaveFile;
struct AudioPeaks;

namespace storyboard {

// Height of the photo line; a point lower than this lies on the soundtrack line.
constexpr int kPhotoLineHeight = 95;
// The soundtrack line's frame and the band the clips are drawn in.
constexpr int kSoundtrackTop = 100;
constexpr int kSoundtrackBottom = 135;
constexpr int kClipTop = 101;
constexpr int kClipBottom = 134;
// The client height that shows both lines whole: the soundtrack line's frame and as much white below it
// as lies between the two lines, so the focus ring along the edge never touches it.
constexpr int kViewHeight = kSoundtrackBottom + 5;
// The band of a clip its name is written in, from the clip's top-left corner.
constexpr int kClipNameLeft = 4;
constexpr int kClipNameTop = 2;
constexpr int kClipNameHeight = 15;
// Scrolling steps in pixels.
constexpr int kLineScrollStep = 150;
constexpr int kWheelScrollStep = 40;
// Width of the drop bar at a cell's left edge.
constexpr int kDropBarWidth = 3;
// The effect icon's size and where it goes inside a cell.
constexpr int kIconWidth = 31;
constexpr int kIconHeight = 23;
constexpr int kIconLeft = 121;
constexpr int kIconTop = 26;

// A cell's element rectangles, relative to the cell's top-left corner (right and bottom exclusive).
constexpr CellRect kThumbnailArea{5, 5, 114, 65};
constexpr CellRect kNumberText{5, 66, 54, 90};
constexpr CellRect kSlideDurationText{59, 71, 108, 85};
constexpr CellRect kTransitionBox{119, 24, 154, 71};
constexpr CellRect kTransitionDurationText{120, 52, 151, 70};
constexpr CellRect kPlaceholderDropHint{5, 18, 114, 78};
constexpr CellRect kPlaceholderViewHint{5, 38, 114, 98};
// Hit areas, relative to the cell.
constexpr CellRect kSlideDurationEditor{60, 66, 115, 91};
constexpr CellRect kTransitionDurationEditor{120, 51, 153, 70};
constexpr CellRect kTransitionChooserArea{114, 24, 149, 71};

// The rectangle `r` moved by (dx, dy).
CellRect offsetRect(const CellRect& r, int dx, int dy);

// Where cell i lies on the photo line with the view scrolled to `scroll`.
CellRect cellRectAt(int index, int scroll);

// What a point inside a cell reaches.
enum class CellHit {
    None,                // no cell, or a part of a photo slide without an action
    Placeholder,         // an empty cell
    SlideDuration,       // the slide duration's editor area
    TransitionDuration,  // the transition duration's editor area (wins over the chooser)
    TransitionChooser,   // the transition box
    Thumbnail,           // the photo (double click views it)
    SlideBody,           // elsewhere on a photo slide: selects it only
};

// The hit area of (x, y) in `cell`, whose painted rectangle is cell.cellRect.
CellHit hitTest(const Slide& cell, int x, int y);

// Which of the duration fields an editor edits.
enum class DurationField { Slide = 0, Transition = 1 };

// Scrolling. The limit is the furthest position: the content's width less the view's, never below 0.
int scrollLimit(int contentWidth, int visibleWidth);
// A line or page step left (negative) or right (positive): the position moved by `step`, kept within
// 0..limit.
int scrolledBy(int position, int step, int limit);
// The position that centres cell i in the view, within 0..contentWidth - visibleWidth.
int scrollPositionCentring(int index, int contentWidth, int visibleWidth);

// The context menu's items and whether each is enabled.
struct SlideMenuState {
    bool shiftLeft = false;
    bool shiftRight = false;
    bool remove = false;
};
SlideMenuState slideMenuState(const SlideShowProject& project);
// The same items for the selected clip.
SlideMenuState clipMenuState(const SlideShowProject& project);
// Whether "Fit to Music" can run: there are clips and photo slides.
bool canFitToMusic(const SlideShowProject& project);

// The two lines of the storyboard.
enum class Line { Photos, Soundtrack };
Line lineAtY(int y);

// What a drag carries, once sorted out: the line it belongs on and its local file paths. Empty paths
// mean the drag is not for the storyboard.
struct DropFiles {
    Line line = Line::Photos;
    std::vector<std::string> paths;
};
// The photo browser's private payload, or else local files named in text/uri-list: photos (by the
// photo-name test) for the photo line, else audio files (hasAudioFileName: .wav, .mp3, .flac, ...) for
// the soundtrack line, in the order given; other entries are left out.
DropFiles dropFilesFrom(const QMimeData& mime);
// One message for the files a drop or an add left out: `intro`, then the files' names, one a line, at
// most ten of them, then "and N more" for the rest.
std::string leftOutFilesText(const std::string& intro, const std::vector<std::string>& paths);
// Whether a file name ends in ".wav" (any case).
bool isWaveFileName(const std::string& name);

// Where each clip lies on the soundtrack line with the view scrolled to `scroll`, each its cellWidth
// wide, from kClipTop to kClipBottom. Without a crossfade the clips lie side by side from x = -scroll.
// With one, each clip starts where the mix starts it (clipStartSeconds with the project's crossfade):
// a crossfade shows as the next clip starting that much earlier, over the end of the one before (the
// overlap measured at that clip's own scale, so the line agrees with the widths drawn even before
// relayoutClips).
std::vector<CellRect> clipRectsAt(const SlideShowProject& project, int scroll);
std::vector<CellRect> clipRectsAt(const SoundtrackClip* clips, std::size_t count, double crossfadeSeconds,
                                  int scroll);
// The pixels per second a clip is drawn at: its width over its length (0 for a clip without either).
double clipPixelsPerSecondOf(const SoundtrackClip& clip);

// A clip's waveform from its peaks: one vertical line per pixel column of `clip` within
// [paintLeft, paintRight], from the highest to the lowest sample of the seconds that column covers at
// `pixelsPerSecond`, full scale reaching the clip's top and bottom edges. Columns past the decoded
// length get none. Empty without peaks or for a scale that is not positive. Costs what is on screen
// (and the buckets under it), whatever the clip's length.
std::vector<QLine> peakLines(const AudioPeaks& peaks, const CellRect& clip, double pixelsPerSecond,
                             int paintLeft, int paintRight);

// The clip's file name as the line shows it: the last part of the path, bytes decoded.
QString clipName(const SoundtrackClip& clip);
// A clip's tooltip: its name and its length as players show it ("song.mp3\n3:25").
std::string clipToolTip(const SoundtrackClip& clip);

// What is known of a slide's photo file for its tooltip; -1 where unknown.
struct PhotoFileFacts {
    std::int64_t fileBytes = -1;
    int pixelWidth = -1;  // from the file's header
    int pixelHeight = -1;
};
// A file size as file managers write it: "812 bytes", "1.4 KB", "3.2 MB", "1.1 GB" (units of 1,024).
QString fileSizeText(std::int64_t bytes);
// A slide's tooltip: its file name, its folder, its pixel size and file size where known, and its
// durations; a missing photo says so. For example
// "beach.jpg\n/home/ann/Pictures\n4000 x 3000 pixels, 3.2 MB\nShown 3.0 s, transition 2.0 s".
QString slideToolTip(const Slide& slide, const PhotoFileFacts& facts);

// The waveform of a WAV clip read from its samples (the storyboard now draws peaks instead), drawn in
// [left, right) x [top, bottom): the points of its polyline, the first at the middle line. Only points
// whose x lies within [clipLeft, clipRight] are made (plus one on either side), so a long clip costs only
// what is on screen. Empty when the clip has no samples, lasts under a whole second, or its cell is
// narrower than one pixel per second.
std::vector<QPoint> waveformPoints(const WaveFile& wave, int cellWidth, int left, int top, int right,
                                   int bottom, int clipLeft, int clipRight);

// How a slide's photo moves and fills the frame, in words for its description: "" for the still,
// letterboxed photo, else ", motion: zoom in, fills the frame" and the like.
std::string lookWords(const SlideLook& look);
// The description the storyboard gives assistive technology for its selected cell, for example
// "Slide 3 of 8, 3.0 s, transition: wipe from left", or for its selected clip, for example
// "Clip 2 of 3, song.mp3, 3:25"; "No slide selected" without a selection. A slide that moves or fills the
// frame says so (lookWords). With several slides selected it adds how many ("..., 3 slides selected").
std::string selectionDescription(const SlideShowProject& project);
// The effect's name in words ("random" for 0, "slide in from left" for 1, ...); "none" outside 0..12.
std::string transitionEffectWords(int effect);

// "%0.1f" of a duration, as the cells and the editor show it.
std::string durationText(double seconds);

}  // namespace storyboard
}  // namespace kestrelle
