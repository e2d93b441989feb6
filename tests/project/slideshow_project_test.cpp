#include "project/slideshow_project.h"
#include "base/byte_order.h"
#include "project/timeline.h"

#include "tests/support/temp_home.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace kestrelle {
namespace {

// Records what the storyboard would be told.
struct RecordingObserver : ProjectObserver {
    int changes = 0;
    int focusRequests = 0;
    std::vector<int> scrolls;
    std::vector<int> widths;
    std::vector<int> clipScrolls;
    void projectChanged() override { ++changes; }
    void scrollClipIntoView(int clip) override { clipScrolls.push_back(clip); }
    void contentWidthChanged(int width) override { widths.push_back(width); }
    void scrollCellIntoView(int cell) override { scrolls.push_back(cell); }
    void takeFocus() override { ++focusRequests; }
};

// The four invariants plus the width bookkeeping, checked after every operation.
void expectInvariants(const SlideShowProject& p) {
    const int photos = p.photoSlideCount();
    for (int i = 0; i < p.cellCount(); ++i) {
        const Slide* s = p.slide(i);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->index, i);
        EXPECT_EQ(s->cellWidth, kCellWidth);
        EXPECT_EQ(s->hasPhoto, i < photos) << "cell " << i;
        if (s->hasPhoto) {
            EXPECT_NE(p.thumbnail(s->thumbnailIndex), nullptr);
        }
    }
    EXPECT_GE(p.placeholderCount(), 1);
    EXPECT_EQ(p.contentWidth(), p.cellCount() * kCellWidth);
    EXPECT_TRUE(p.selectedSlide() == -1 || (p.selectedSlide() >= 0 && p.selectedSlide() < photos))
        << "selected " << p.selectedSlide();
}

// Missing photo files with photo names still give a thumbnail (the white background).
std::string photo(int n) {
    return "/nonexistent-kestrelle/photo" + std::to_string(n) + ".jpg";
}

// A laid-out project: placeholders for the visible width, then `photos` appended photos.
void fill(SlideShowProject& p, int visibleWidth, int photos, double slide = 3.0, double transition = 1.0) {
    p.setVisibleWidth(visibleWidth);
    p.fillPlaceholders(visibleWidth);
    for (int i = 0; i < photos; ++i) {
        ASSERT_GE(p.insertPhoto(photo(i), p.cellCount(), 0, slide, transition), 0);
    }
}

std::vector<std::string> paths(const SlideShowProject& p) {
    std::vector<std::string> out;
    for (const Slide& s : p.cells()) {
        out.push_back(s.photoPath);
    }
    return out;
}

TEST(SlideShowProjectTest, ThreePhotosDroppedOnThirdPlaceholderFillTheFirstCells) {
    SlideShowProject p;
    RecordingObserver seen;
    p.setObserver(&seen);
    p.setVisibleWidth(600);
    p.fillPlaceholders(600);
    ASSERT_EQ(p.cellCount(), 600 / 154 + 1);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(p.insertPhoto(photo(k), 2 + k, 4, 2.0, 1.5), p.cellCount() - 1);
        expectInvariants(p);
    }
    EXPECT_EQ(p.photoSlideCount(), 3);
    EXPECT_EQ(p.cellCount(), 4);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(p.slide(k)->photoPath, photo(k));
        EXPECT_EQ(p.slide(k)->transitionEffect, 4);
        EXPECT_EQ(p.slide(k)->thumbnailIndex, k);
    }
    EXPECT_EQ(p.selectedSlide(), 2);
    EXPECT_EQ(seen.scrolls, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(seen.focusRequests, 3);
    EXPECT_DOUBLE_EQ(p.totalDuration(), 3 * 3.5);

    // The fourth photo takes the last placeholder and a new one is appended.
    EXPECT_EQ(p.insertPhoto(photo(3), 99, 0, 2.0, 1.5), 4);
    expectInvariants(p);
    EXPECT_EQ(p.cellCount(), 5);
    EXPECT_EQ(seen.widths.back(), 5 * kCellWidth);
}

TEST(SlideShowProjectTest, DropOnPhotoGrowsRowOnlyWhenFewerThanTwoPlaceholders) {
    SlideShowProject grows;
    fill(grows, 0, 5);
    ASSERT_EQ(grows.placeholderCount(), 1);
    EXPECT_EQ(grows.insertPhoto("/x/new.png", 2, 0, 3.0, 1.0), 6);
    expectInvariants(grows);
    EXPECT_EQ(grows.cellCount(), 7);
    EXPECT_EQ(grows.placeholderCount(), 1);
    EXPECT_EQ(paths(grows),
              (std::vector<std::string>{photo(0), photo(1), "/x/new.png", photo(2), photo(3), photo(4), ""}));
    EXPECT_EQ(grows.selectedSlide(), 2);

    SlideShowProject keeps;
    fill(keeps, 7 * kCellWidth, 5);
    ASSERT_EQ(keeps.cellCount(), 8);
    ASSERT_EQ(keeps.placeholderCount(), 3);
    RecordingObserver seen;
    keeps.setObserver(&seen);
    EXPECT_EQ(keeps.insertPhoto("/x/new.png", 2, 0, 3.0, 1.0), 7);
    expectInvariants(keeps);
    EXPECT_EQ(keeps.cellCount(), 8);
    EXPECT_EQ(keeps.placeholderCount(), 2);
    EXPECT_EQ(keeps.slide(2)->photoPath, "/x/new.png");
    EXPECT_EQ(keeps.slide(3)->photoPath, photo(2));
    EXPECT_EQ(seen.scrolls, std::vector<int>{2});
    EXPECT_EQ(seen.focusRequests, 1);

    // A negative position (no cell under the drop point) inserts nothing.
    EXPECT_EQ(keeps.insertPhoto("/x/other.png", -1, 0, 3.0, 1.0), -1);
    EXPECT_EQ(keeps.photoSlideCount(), 6);
}

TEST(SlideShowProjectTest, FailedThumbnailLeavesProjectUntouched) {
    SlideShowProject p;
    fill(p, 300, 2);
    const auto before = paths(p);
    const int thumbs = static_cast<int>(p.thumbnails().size());
    // Not a photo name: no thumbnail can be made, at the end or in the middle.
    EXPECT_EQ(p.insertPhoto("/x/notes.txt", p.cellCount(), 0, 3.0, 1.0), -1);
    EXPECT_EQ(p.insertPhoto("/x/notes.txt", 0, 0, 3.0, 1.0), -1);
    EXPECT_EQ(p.insertPhoto("", 1, 0, 3.0, 1.0), -1);
    expectInvariants(p);
    EXPECT_EQ(paths(p), before);
    EXPECT_EQ(static_cast<int>(p.thumbnails().size()), thumbs);
}

TEST(SlideShowProjectTest, InsertIntoRowNeverLaidOutStillLeavesAPlaceholder) {
    SlideShowProject p;
    EXPECT_EQ(p.insertPhoto(photo(0), 0, 0, 3.0, 1.0), 1);
    expectInvariants(p);
    EXPECT_EQ(p.photoSlideCount(), 1);
    EXPECT_EQ(p.cellCount(), 2);
}

class ProjectFilesTest : public kestrelle::testing::TempHomeTest {};

TEST_F(ProjectFilesTest, ThumbnailIsPhotoFittedOnWhite) {
    QImage wide(400, 100, QImage::Format_RGB32);
    wide.fill(QColor(255, 0, 0));
    const std::string file = path("wide.png");
    ASSERT_TRUE(wide.save(QString::fromStdString(file)));
    SlideShowProject p;
    fill(p, 0, 0);
    ASSERT_EQ(p.insertPhoto(file, 0, 0, 3.0, 1.0), 1);
    const QImage* thumb = p.thumbnail(p.slide(0)->thumbnailIndex);
    ASSERT_NE(thumb, nullptr);
    EXPECT_EQ(thumb->size(), QSize(kThumbnailWidth, kThumbnailHeight));
    EXPECT_EQ(QColor(thumb->pixel(0, 0)), QColor(Qt::white));
    EXPECT_EQ(QColor(thumb->pixel(54, 30)), QColor(255, 0, 0));
}

// On a 200 % screen the thumbnail carries twice the pixels in the same 109 x 60 points; a ratio that is
// no number or out of range falls back within 1..4.
TEST_F(ProjectFilesTest, ThumbnailsFollowThePixelRatio) {
    QImage wide(800, 200, QImage::Format_RGB32);
    wide.fill(QColor(0, 0, 255));
    const std::string file = path("wide2x.png");
    ASSERT_TRUE(wide.save(QString::fromStdString(file)));
    SlideShowProject p;
    fill(p, 0, 0);
    p.setThumbnailPixelRatio(2.0);
    ASSERT_GE(p.insertPhoto(file, 0, 0, 3.0, 1.0), 0);
    const QImage* thumb = p.thumbnail(p.slide(0)->thumbnailIndex);
    ASSERT_NE(thumb, nullptr);
    EXPECT_EQ(thumb->size(), QSize(2 * kThumbnailWidth, 2 * kThumbnailHeight));
    EXPECT_EQ(thumb->deviceIndependentSize().toSize(), QSize(kThumbnailWidth, kThumbnailHeight));
    EXPECT_EQ(QColor(thumb->pixel(109, 60)), QColor(0, 0, 255));

    p.setThumbnailPixelRatio(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(p.thumbnailPixelRatio(), 1.0);
    p.setThumbnailPixelRatio(0.25);
    EXPECT_EQ(p.thumbnailPixelRatio(), 1.0);
    p.setThumbnailPixelRatio(1e9);
    EXPECT_EQ(p.thumbnailPixelRatio(), 4.0);
}

// A WAV file of `dataBytes` bytes of silence: 16-bit PCM stereo at 44,100 Hz, or 32-bit float.
std::string pcmWave(std::uint32_t dataBytes, bool floatSamples = false) {
    std::string w = "RIFF";
    appendLe32(w, 36 + dataBytes);
    w += "WAVEfmt ";
    appendLe32(w, 16);
    appendLe16(w, floatSamples ? 3 : 1);
    appendLe16(w, 2);
    appendLe32(w, 44100);
    appendLe32(w, floatSamples ? 352800 : 176400);
    appendLe16(w, floatSamples ? 8 : 4);
    appendLe16(w, floatSamples ? 32 : 16);
    w += "data";
    appendLe32(w, dataBytes);
    w.append(dataBytes, '\0');
    return w;
}

TEST_F(ProjectFilesTest, AddClipMeasuresWaveAndRefusesOtherFiles) {
    SlideShowProject p;
    fill(p, 0, 0);
    ASSERT_TRUE(kestrelle::testing::writeFile(path("a.wav"), pcmWave(441000)));
    ASSERT_TRUE(kestrelle::testing::writeFile(path("b.wav"), "not a wave file at all"));
    EXPECT_EQ(p.addClip(path("a.wav")), AudioOpenResult::Ok);
    ASSERT_EQ(p.clips().size(), 1u);
    EXPECT_EQ(p.clip(0)->cellWidth, 64);
    EXPECT_EQ(p.clip(0)->wavePath, path("a.wav"));
    // The clip holds the file's measurement: its data size, byte rate and so its duration.
    EXPECT_EQ(p.clip(0)->dataBytes, 441000u);
    EXPECT_EQ(p.clip(0)->averageBytesPerSecond, 176400u);
    EXPECT_DOUBLE_EQ(p.clip(0)->durationSeconds, 2.5);
    EXPECT_EQ(p.addClip(path("b.wav")), AudioOpenResult::NotAudio);
    EXPECT_NE(p.addClip(path("missing.wav")), AudioOpenResult::Ok);
    EXPECT_EQ(p.clips().size(), 1u);
    // A float WAV's data-chunk measure is its "fmt " chunk: it is drawn and played by its samples'
    // length instead (2.5 s, as wide as the PCM clip), not as a sliver of sound.
    ASSERT_TRUE(kestrelle::testing::writeFile(path("f.wav"), pcmWave(882000, true)));
    EXPECT_EQ(p.addClip(path("f.wav")), AudioOpenResult::Ok);
    ASSERT_EQ(p.clips().size(), 2u);
    EXPECT_DOUBLE_EQ(p.clip(1)->durationSeconds, 2.5);
    EXPECT_EQ(p.clip(1)->cellWidth, 64);
}

TEST_F(ProjectFilesTest, ClipsKeepNoFileOpen) {
    const auto openFiles = [] {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
            ++count;
        return count;
    };
    SlideShowProject p;
    fill(p, 0, 0);
    ASSERT_TRUE(kestrelle::testing::writeFile(path("a.wav"), pcmWave(4000)));
    const std::size_t before = openFiles();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(p.addClip(path("a.wav")), AudioOpenResult::Ok);
    EXPECT_EQ(openFiles(), before);
    EXPECT_EQ(p.clips().size(), 3u);
}

TEST(SlideShowProjectTest, DeletingMovesSelectionAndKeepsThumbnails) {
    SlideShowProject only;
    fill(only, 300, 1);
    ASSERT_EQ(only.selectedSlide(), 0);
    EXPECT_TRUE(only.deleteSlide(only.selectedSlide()));
    expectInvariants(only);
    EXPECT_EQ(only.selectedSlide(), -1);
    EXPECT_EQ(only.photoSlideCount(), 0);
    EXPECT_EQ(only.thumbnails().size(), 1u);
    // Nothing selected: nothing to delete.
    EXPECT_FALSE(only.deleteSlide(only.selectedSlide()));

    SlideShowProject p;
    fill(p, 0, 4);
    ASSERT_TRUE(p.setSelectedSlide(1));
    EXPECT_TRUE(p.deleteSlide(1));  // the slide moving into the gap is now selected
    expectInvariants(p);
    EXPECT_EQ(p.selectedSlide(), 1);
    EXPECT_EQ(p.slide(1)->photoPath, photo(2));
    ASSERT_TRUE(p.setSelectedSlide(2));
    EXPECT_TRUE(p.deleteSlide(2));  // the last photo passes the selection back
    expectInvariants(p);
    EXPECT_EQ(p.selectedSlide(), 1);
    // Deleting an earlier slide keeps the selection on the same photo.
    EXPECT_TRUE(p.deleteSlide(0));
    expectInvariants(p);
    EXPECT_EQ(p.selectedSlide(), 0);
    EXPECT_EQ(p.slide(0)->photoPath, photo(2));
    // A placeholder or a missing cell is no slide to delete.
    const int cells = p.cellCount();
    EXPECT_FALSE(p.deleteSlide(p.cellCount() - 1));
    EXPECT_FALSE(p.deleteSlide(cells + 5));
    EXPECT_EQ(p.cellCount(), cells);
}

TEST(SlideShowProjectTest, DeletingInWideViewAppendsAPlaceholder) {
    SlideShowProject p;
    fill(p, 0, 3);
    ASSERT_EQ(p.cellCount(), 4);
    // A view exactly as wide as the cells left gets a new placeholder; a narrower one does not.
    p.setVisibleWidth(3 * kCellWidth);
    EXPECT_TRUE(p.deleteSlide(0));
    expectInvariants(p);
    EXPECT_EQ(p.cellCount(), 4);
    EXPECT_EQ(p.placeholderCount(), 2);
    p.setVisibleWidth(3 * kCellWidth - 1);
    EXPECT_TRUE(p.deleteSlide(0));
    expectInvariants(p);
    EXPECT_EQ(p.cellCount(), 3);
}

TEST(SlideShowProjectTest, NonPositiveOrUnparsableDurationsStoreTheDefaults) {
    SlideShowProject p;
    p.setDefaultsProvider([] { return SlideDefaults{4.5, 1.5, 3}; });
    fill(p, 0, 1);
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {0.0, -2.0, -0.0, nan, inf, -inf}) {
        ASSERT_TRUE(p.setSlideDuration(0, 9.0));
        EXPECT_TRUE(p.setSlideDuration(0, bad));
        EXPECT_DOUBLE_EQ(p.slide(0)->slideDuration, 4.5) << bad;
        ASSERT_TRUE(p.setTransitionDuration(0, 9.0));
        EXPECT_TRUE(p.setTransitionDuration(0, bad));
        EXPECT_DOUBLE_EQ(p.slide(0)->transitionDuration, 1.5) << bad;
    }
    for (const char* text : {"abc", "", "  ", "0", "-1.5", "0.0", "nan", "inf", "1e999", "+-3"}) {
        ASSERT_TRUE(p.setSlideDuration(0, 9.0));
        EXPECT_TRUE(p.setSlideDurationText(0, text));
        EXPECT_DOUBLE_EQ(p.slide(0)->slideDuration, 4.5) << text;
        ASSERT_TRUE(p.setTransitionDuration(0, 9.0));
        EXPECT_TRUE(p.setTransitionDurationText(0, text));
        EXPECT_DOUBLE_EQ(p.slide(0)->transitionDuration, 1.5) << text;
    }
    EXPECT_TRUE(p.setSlideDurationText(0, " 2.5 s"));
    EXPECT_DOUBLE_EQ(p.slide(0)->slideDuration, 2.5);
    EXPECT_TRUE(p.setTransitionDurationText(0, "+0.7"));
    EXPECT_DOUBLE_EQ(p.slide(0)->transitionDuration, 0.7);
    EXPECT_TRUE(p.setSlideDurationText(0, "1,5"));  // the decimal point is always '.'
    EXPECT_DOUBLE_EQ(p.slide(0)->slideDuration, 1.0);
    // Huge values are kept within a day.
    EXPECT_TRUE(p.setSlideDuration(0, 1e300));
    EXPECT_DOUBLE_EQ(p.slide(0)->slideDuration, kMaxDurationSeconds);
    EXPECT_FALSE(p.setSlideDuration(-1, 3.0));
    EXPECT_FALSE(p.setTransitionDuration(p.cellCount(), 3.0));

    // Applying the defaults reaches every cell, placeholders included.
    p.applyDefaultsToAll();
    for (const Slide& s : p.cells()) {
        EXPECT_DOUBLE_EQ(s.slideDuration, 4.5);
        EXPECT_DOUBLE_EQ(s.transitionDuration, 1.5);
        EXPECT_EQ(s.transitionEffect, 3);
    }
}

TEST(SlideShowProjectTest, HostileDurationsKeepTotalsAndFrameCountsSane) {
    SlideShowProject p;
    p.setDefaultsProvider([] { return SlideDefaults{std::nan(""), -3.0, 0}; });
    fill(p, 0, 0);
    ASSERT_GE(p.insertPhoto(photo(0), 0, 0, std::numeric_limits<double>::infinity(), -1.0), 0);
    ASSERT_GE(p.insertPhoto(photo(1), 9, 0, std::nan(""), 1e308), 0);
    for (const Slide& s : p.cells()) {
        EXPECT_TRUE(std::isfinite(s.slideDuration));
        EXPECT_GE(s.slideDuration, 0.0);
        EXPECT_LE(s.transitionDuration, kMaxDurationSeconds);
    }
    // Invalid input with hostile defaults still stores a finite duration.
    EXPECT_TRUE(p.setSlideDuration(0, -1.0));
    EXPECT_DOUBLE_EQ(p.slide(0)->slideDuration, 0.0);
    EXPECT_TRUE(std::isfinite(p.totalDuration()));
    const double fps = frameRateForIndex(0);
    EXPECT_GE(frameBudget(p.totalDuration(), fps), 0);
    EXPECT_EQ(slideFrameCount(p.slide(0)->slideDuration, fps), 0);
    EXPECT_GT(p.estimatedOutputBytes(OutputRates{INT32_MAX, 7, 0}), 0);
}

// Slides only ever carry effect numbers 0..12: a number outside keeps what the cell had, or 0.
TEST(SlideShowProjectTest, EffectNumbersOutsideTheTwelveAreNeverStored) {
    SlideShowProject p;
    SlideDefaults defaults;
    defaults.transitionEffect = 5;
    p.setDefaultsProvider([&defaults] { return defaults; });
    fill(p, 400, 2);
    ASSERT_TRUE(p.setTransitionEffect(0, 12));
    ASSERT_TRUE(p.setTransitionEffect(1, 3));

    // New cells: at the end and in the middle.
    ASSERT_GE(p.insertPhoto(photo(10), p.cellCount(), 13, 2.0, 1.0), 0);
    ASSERT_GE(p.insertPhoto(photo(11), 0, -1, 2.0, 1.0), 0);
    ASSERT_GE(p.insertPhoto(photo(12), p.cellCount(), std::numeric_limits<int>::min(), 2.0, 1.0), 0);
    expectInvariants(p);
    EXPECT_EQ(p.slide(0)->photoPath, photo(11));
    EXPECT_EQ(p.slide(0)->transitionEffect, 0);
    EXPECT_EQ(p.slide(3)->transitionEffect, 0);
    EXPECT_EQ(p.slide(4)->transitionEffect, 0);

    // Choosing a number outside keeps the slide's own.
    EXPECT_FALSE(p.setTransitionEffect(1, 13));
    EXPECT_FALSE(p.setTransitionEffect(2, -7));
    EXPECT_EQ(p.slide(1)->transitionEffect, 12);
    EXPECT_EQ(p.slide(2)->transitionEffect, 3);

    // Applying defaults with a bad default keeps every cell's number, placeholders included.
    defaults.transitionEffect = 40;
    p.applyDefaultsToAll();
    EXPECT_EQ(p.slide(1)->transitionEffect, 12);
    EXPECT_EQ(p.slide(2)->transitionEffect, 3);
    EXPECT_EQ(p.slide(3)->transitionEffect, 0);
    for (const Slide& cell : p.cells()) {
        EXPECT_GE(cell.transitionEffect, 0);
        EXPECT_LE(cell.transitionEffect, 12);
        EXPECT_DOUBLE_EQ(cell.slideDuration, defaults.slideDuration);
    }
    // A good default still reaches every cell.
    defaults.transitionEffect = 9;
    p.applyDefaultsToAll();
    for (const Slide& cell : p.cells()) {
        EXPECT_EQ(cell.transitionEffect, 9);
    }
}

TEST(SlideShowProjectTest, ShiftingStopsAtTheEnds) {
    SlideShowProject p;
    fill(p, 0, 3);
    ASSERT_TRUE(p.setSelectedSlide(0));
    p.shiftSlideLeft();
    EXPECT_EQ(p.selectedSlide(), 0);
    EXPECT_EQ(p.slide(0)->photoPath, photo(0));

    p.shiftSlideRight();
    expectInvariants(p);
    EXPECT_EQ(p.selectedSlide(), 1);
    EXPECT_EQ(paths(p), (std::vector<std::string>{photo(1), photo(0), photo(2), ""}));
    p.shiftSlideRight();
    EXPECT_EQ(p.selectedSlide(), 2);
    p.shiftSlideRight();  // already the last photo: never swapped with the placeholder
    expectInvariants(p);
    EXPECT_EQ(p.selectedSlide(), 2);
    EXPECT_EQ(paths(p), (std::vector<std::string>{photo(1), photo(2), photo(0), ""}));
    p.shiftSlideLeft();
    EXPECT_EQ(p.selectedSlide(), 1);
    EXPECT_EQ(p.slide(1)->photoPath, photo(0));

    // Nothing selected: neither direction does anything.
    ASSERT_TRUE(p.setSelectedSlide(-1));
    const auto before = paths(p);
    p.shiftSlideRight();
    p.shiftSlideLeft();
    EXPECT_EQ(p.selectedSlide(), -1);
    EXPECT_EQ(paths(p), before);

    // A single photo never moves.
    SlideShowProject one;
    fill(one, 0, 1);
    one.shiftSlideRight();
    one.shiftSlideLeft();
    EXPECT_EQ(one.selectedSlide(), 0);
    expectInvariants(one);
}

TEST(SlideShowProjectTest, SwapKeepsPositionFieldsInPlace) {
    SlideShowProject p;
    fill(p, 0, 2);
    ASSERT_TRUE(p.setCellRect(0, CellRect{0, 0, 154, 95}));
    ASSERT_TRUE(p.setTransitionEffect(1, 7));
    EXPECT_TRUE(p.swapSlideContents(0, 1));
    EXPECT_EQ(p.slide(0)->cellRect, (CellRect{0, 0, 154, 95}));
    EXPECT_EQ(p.slide(0)->index, 0);
    EXPECT_EQ(p.slide(0)->transitionEffect, 7);
    EXPECT_EQ(p.slide(0)->thumbnailIndex, 1);
    EXPECT_FALSE(p.swapSlideContents(0, 5));
    // Hit tests: right and bottom edges are outside; placeholders are no drop target.
    ASSERT_TRUE(p.setCellRect(1, CellRect{154, 0, 308, 95}));
    ASSERT_TRUE(p.setCellRect(2, CellRect{308, 0, 462, 95}));
    EXPECT_EQ(p.cellAtPoint(153, 94), 0);
    EXPECT_EQ(p.cellAtPoint(154, 0), 1);
    EXPECT_EQ(p.cellAtPoint(100, 95), -1);
    EXPECT_EQ(p.cellAtPoint(400, 10), 2);
    EXPECT_EQ(p.photoSlideAtPoint(400, 10), -1);
    EXPECT_EQ(p.photoSlideAtPoint(200, 10), 1);
    EXPECT_FALSE(p.swapSlideContents(-1, 0));
    EXPECT_FALSE(p.setSelectedSlide(2));  // a placeholder cannot be selected
}

TEST(SlideShowProjectTest, ClipWidthFollowsTheAverageSlide) {
    // 441,000 data bytes at 176,400 bytes per second is 2.5 s: 6 s per cell without photos.
    EXPECT_EQ(clipWidthFor(441000, 176400, 0, 0.0), 64);
    // Two photos over 12 s are again 6 s per cell.
    EXPECT_EQ(clipWidthFor(441000, 176400, 2, 12.0), 64);
    EXPECT_EQ(clipWidthFor(441000, 176400, 1, 2.5), 154);
    // Photos whose durations sum to nothing fall back to 6 s per cell; no byte rate gives no width.
    EXPECT_EQ(clipWidthFor(441000, 176400, 3, 0.0), 64);
    EXPECT_EQ(clipWidthFor(441000, 176400, 3, std::nan("")), 64);
    EXPECT_EQ(clipWidthFor(441000, 0, 0, 0.0), 0);
    EXPECT_EQ(clipWidthFor(UINT64_MAX, 1, 1, 0.001), kMaxPixelExtent);

    SlideShowProject p;
    fill(p, 0, 0);
    p.addMeasuredClip("/x/a.wav", 441000, 176400);
    EXPECT_EQ(p.clip(0)->cellWidth, 64);
    // Appending a photo leaves the width; an insertion in the middle relays the clips out.
    ASSERT_GE(p.insertPhoto(photo(0), 0, 0, 1.0, 0.5), 0);
    EXPECT_EQ(p.clip(0)->cellWidth, 64);
    ASSERT_GE(p.insertPhoto(photo(1), 0, 0, 1.0, 0.5), 0);
    EXPECT_EQ(p.clip(0)->cellWidth, 256);  // trunc(2 x 154 / 3 s x 2.5 s)
    p.resetProject();
    EXPECT_TRUE(p.clips().empty());
    EXPECT_EQ(p.selectedClip(), -1);
    expectInvariants(p);
    EXPECT_EQ(p.thumbnails().size(), 2u);  // the thumbnail list never shrinks
}

// Clips are edited as slides are: one selection at a time (a clip or a slide), deleting passes the
// selection on, and moving takes the selection along; neither end moves further.
TEST(SlideShowProjectTest, ClipsAreSelectedDeletedAndMovedAsSlidesAre) {
    SlideShowProject p;
    RecordingObserver seen;
    p.setObserver(&seen);
    fill(p, 0, 2);
    for (const char* name : {"/m/a.mp3", "/m/b.flac", "/m/c.ogg", "/m/d.wav"}) p.addTimedClip(name, 10.0);
    const auto names = [&p] {
        std::string out;
        for (const SoundtrackClip& clip : p.clips()) out += clip.wavePath.substr(3, 1);
        return out;
    };

    ASSERT_EQ(p.selectedSlide(), 1);
    EXPECT_TRUE(p.setSelectedClip(1));
    EXPECT_EQ(p.selectedSlide(), -1);  // a clip selected: no slide is
    EXPECT_FALSE(p.setSelectedClip(4));
    EXPECT_EQ(p.selectedClip(), 1);

    p.shiftClipLeft();
    EXPECT_EQ(names(), "bacd");
    EXPECT_EQ(p.selectedClip(), 0);
    p.shiftClipLeft();  // the first clip stays first
    EXPECT_EQ(names(), "bacd");
    ASSERT_TRUE(p.setSelectedClip(2));
    p.shiftClipRight();
    EXPECT_EQ(names(), "badc");
    EXPECT_EQ(p.selectedClip(), 3);
    p.shiftClipRight();  // nor does the last go further
    EXPECT_EQ(names(), "badc");
    EXPECT_EQ(seen.clipScrolls, (std::vector<int>{0, 3}));

    // Deleting: the last clip passes the selection back, any other to the clip moving into the gap; a
    // clip deleted before the selected one keeps the selection on the same clip.
    EXPECT_TRUE(p.deleteClip(3));
    EXPECT_EQ(names(), "bad");
    EXPECT_EQ(p.selectedClip(), 2);
    EXPECT_TRUE(p.deleteClip(0));
    EXPECT_EQ(names(), "ad");
    EXPECT_EQ(p.selectedClip(), 1);
    ASSERT_TRUE(p.setSelectedClip(0));
    EXPECT_TRUE(p.deleteClip(0));
    EXPECT_EQ(names(), "d");
    EXPECT_EQ(p.selectedClip(), 0);
    EXPECT_FALSE(p.deleteClip(1));
    EXPECT_FALSE(p.deleteClip(-1));
    EXPECT_TRUE(p.deleteClip(0));
    EXPECT_EQ(p.selectedClip(), -1);
    EXPECT_TRUE(p.clips().empty());
    p.shiftClipLeft();  // nothing to move
    p.shiftClipRight();

    // Selecting or inserting a slide ends the clip's selection.
    p.addTimedClip("/m/e.mp3", 4.0);
    ASSERT_TRUE(p.setSelectedClip(0));
    EXPECT_TRUE(p.setSelectedSlide(0));
    EXPECT_EQ(p.selectedClip(), -1);
    ASSERT_TRUE(p.setSelectedClip(0));
    ASSERT_GE(p.insertPhoto(photo(7), 0, 0, 3.0, 1.0), 0);
    EXPECT_EQ(p.selectedClip(), -1);
    EXPECT_EQ(p.selectedSlide(), 0);
    ASSERT_TRUE(p.setSelectedClip(0));
    ASSERT_EQ(p.insertPhotos({photo(8)}, p.photoSlideCount(), 0, 3.0, 1.0), 1);
    EXPECT_EQ(p.selectedClip(), -1);
}

// Once a file has been decoded whole, its clips take the exact length; widths follow the usual rules
// (a WAV file's stays its data chunk's), and lengths that are no length are refused.
TEST(SlideShowProjectTest, ClipsTakeTheirDecodedLength) {
    SlideShowProject p;
    RecordingObserver seen;
    p.setObserver(&seen);
    fill(p, 0, 0);
    p.addMeasuredClip("/m/a.wav", 441000, 176400);  // 2.5 s, 64 pixels
    p.addTimedClip("/m/b.mp3", 6.0);                // 154 pixels
    p.addTimedClip("/m/b.mp3", 6.0);
    ASSERT_EQ(p.clip(1)->cellWidth, 154);
    const int changes = seen.changes;

    EXPECT_TRUE(p.setClipDuration(0, 2.4));
    EXPECT_DOUBLE_EQ(p.clip(0)->durationSeconds, 2.4);
    EXPECT_EQ(p.clip(0)->cellWidth, 64);
    EXPECT_EQ(p.setClipDurationForPath("/m/b.mp3", 3.0), 2);
    EXPECT_EQ(p.clip(1)->cellWidth, 77);  // trunc(154 / 6 x 3)
    EXPECT_EQ(p.clip(2)->cellWidth, 77);
    EXPECT_EQ(seen.changes, changes + 3);

    EXPECT_EQ(p.setClipDurationForPath("/m/b.mp3", 3.0), 0);  // unchanged: no repaint
    EXPECT_FALSE(p.setClipDuration(1, std::nan("")));
    EXPECT_FALSE(p.setClipDuration(1, -1.0));
    EXPECT_FALSE(p.setClipDuration(1, std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(p.setClipDuration(3, 1.0));
    EXPECT_EQ(seen.changes, changes + 3);
    EXPECT_TRUE(p.setClipDuration(1, 1e12));
    EXPECT_EQ(p.clip(1)->durationSeconds, kMaxDurationSeconds);
    EXPECT_EQ(p.setClipDurationForPath("/m/none.mp3", 1.0), 0);
}

// The crossfade comes from the owner (the settings), kept to a sane length; the topmost clip under a
// point is the later one where two overlap.
TEST(SlideShowProjectTest, CrossfadeFromTheProviderAndTheTopmostClipUnderAPoint) {
    SlideShowProject p;
    EXPECT_EQ(p.crossfadeSeconds(), 0.0);
    double fade = 2.0;
    p.setCrossfadeProvider([&fade] { return fade; });
    EXPECT_EQ(p.crossfadeSeconds(), 2.0);
    fade = std::nan("");
    EXPECT_EQ(p.crossfadeSeconds(), 0.0);
    fade = -3.0;
    EXPECT_EQ(p.crossfadeSeconds(), 0.0);

    p.addTimedClip("/m/a.mp3", 6.0);
    p.addTimedClip("/m/b.mp3", 6.0);
    ASSERT_TRUE(p.setClipRect(0, {0, 101, 154, 134}));
    ASSERT_TRUE(p.setClipRect(1, {100, 101, 254, 134}));
    EXPECT_EQ(p.clipAtPoint(50, 110), 0);
    EXPECT_EQ(p.clipAtPoint(120, 110), 1);
    EXPECT_EQ(p.clipAtPoint(120, 90), -1);
    EXPECT_EQ(p.clipAtPoint(300, 110), -1);
}

TEST(SlideShowProjectTest, EstimateCountsWholeSecondsAndReadsAudioRateAsListIndex) {
    SlideShowProject p;
    fill(p, 0, 0);
    EXPECT_EQ(p.estimatedOutputBytes(OutputRates{1500, 5, 0}), 0);
    ASSERT_GE(p.insertPhoto(photo(0), 0, 0, 6.0, 2.0), 0);
    ASSERT_GE(p.insertPhoto(photo(1), 1, 0, 2.4, 0.5), 0);
    ASSERT_DOUBLE_EQ(p.totalDuration(), 10.9);
    // 1500 + 192 kbit/s (entry 5 of the audio list) over 10 whole seconds.
    EXPECT_EQ(p.estimatedOutputBytes(OutputRates{1500, 5, 0}), 2165760);
    EXPECT_EQ(p.estimatedOutputBytes(std::nullopt), 0);
    // A stored value outside the list counts as 128 kbit/s, as the dialog shows it.
    EXPECT_EQ(p.estimatedOutputBytes(OutputRates{448, 64, 0}), (448 + 128) * 10 * 128);
    EXPECT_EQ(p.estimatedOutputBytes(OutputRates{448, -1, 0}), (448 + 128) * 10 * 128);
    EXPECT_EQ(p.estimatedOutputBytes(OutputRates{-5000, 0, 0}), 80 * 10 * 128);
}

}  // namespace
}  // namespace kestrelle

namespace kestrelle {
namespace {

// Building a long row costs work in proportion to its length: photos appended one by one, a batch
// appended, and a batch dropped before the first photo each step over a bounded number of cells per
// photo (a running count, not a recount of the row for every insertion).
TEST(SlideShowProjectTest, BuildingALongRowStepsOverEachCellABoundedNumberOfTimes) {
    constexpr int kPhotos = 20000;
    SlideShowProject one;
    one.setMakesThumbnails(false);  // checked by name only: no file is read
    fill(one, 4 * kCellWidth, 0);
    for (int i = 0; i < kPhotos; ++i) {
        ASSERT_GE(one.insertPhoto(photo(i), one.cellCount(), 0, 3.0, 1.0), 0);
    }
    EXPECT_EQ(one.photoSlideCount(), kPhotos);
    EXPECT_LE(one.cellSteps(), 8u * kPhotos);

    std::vector<std::string> batch;
    for (int i = 0; i < kPhotos; ++i) {
        batch.push_back(photo(i));
    }
    SlideShowProject appended;
    appended.setMakesThumbnails(false);
    fill(appended, 4 * kCellWidth, 0);
    EXPECT_EQ(appended.insertPhotos(batch, 2, 0, 3.0, 1.0), kPhotos);
    EXPECT_EQ(paths(appended), paths(one));
    EXPECT_EQ(appended.selectedSlide(), kPhotos - 1);
    expectInvariants(appended);
    EXPECT_LE(appended.cellSteps(), 8u * kPhotos);

    SlideShowProject front;
    front.setMakesThumbnails(false);
    fill(front, 4 * kCellWidth, 3);
    const std::uint64_t before = front.cellSteps();
    EXPECT_EQ(front.insertPhotos(batch, 0, 0, 3.0, 1.0), kPhotos);
    EXPECT_LE(front.cellSteps() - before, 8u * kPhotos);
    EXPECT_EQ(front.slide(kPhotos)->photoPath, photo(0));
    EXPECT_EQ(front.slide(0)->photoPath, photo(0));
    EXPECT_EQ(front.selectedSlide(), kPhotos - 1);
    expectInvariants(front);
}

// A batch behaves as the same insertions one by one: before a photo (taking spare placeholders while
// two are left), into the placeholders, and with refused names reported in order and leaving no gap.
TEST(SlideShowProjectTest, BatchInsertMatchesSingleInsertions) {
    const std::vector<std::string> batch{photo(10), "/x/notes.txt", photo(11), photo(12)};
    for (const int position : {0, 1, 3, 5, 99}) {
        SlideShowProject singles;
        fill(singles, 5 * kCellWidth, 3);
        int at = position;
        for (const std::string& path : batch) {
            if (singles.insertPhoto(path, at, 2, 2.0, 1.0) >= 0) {
                ++at;
            }
        }
        SlideShowProject batched;
        fill(batched, 5 * kCellWidth, 3);
        std::vector<std::string> refused;
        EXPECT_EQ(batched.insertPhotos(batch, position, 2, 2.0, 1.0, &refused), 3);
        EXPECT_EQ(refused, std::vector<std::string>{"/x/notes.txt"});
        EXPECT_EQ(paths(batched), paths(singles)) << "position " << position;
        EXPECT_EQ(batched.selectedSlide(), singles.selectedSlide()) << "position " << position;
        expectInvariants(batched);
    }
}

}  // namespace
}  // namespace kestrelle

namespace kestrelle {
namespace {

// With refusal on (as in the storyboard), only an absolute path to a regular file that decodes becomes a
// slide: a text file named like a photo, a folder, a FIFO (never opened, so nothing hangs) and a
// relative path to a good photo are all refused, leaving the project untouched.
TEST_F(ProjectFilesTest, UnreadablePhotosAreRefusedWhenTheProjectRefusesThem) {
    QImage green(40, 30, QImage::Format_RGB32);
    green.fill(QColor(0, 160, 0));
    const std::string good = path("good.png");
    ASSERT_TRUE(green.save(QString::fromStdString(good)));
    const std::string broken = path("broken.jpg");
    ASSERT_TRUE(testing::writeFile(broken, "this is a shopping list, not a photo\n"));
    const std::string folder = path("Trip.jpg");
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const std::string fifo = path("pipe.jpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string relative = std::filesystem::relative(good).string();
    ASSERT_FALSE(relative.empty());
    ASSERT_NE(relative.front(), '/');

    EXPECT_TRUE(isReadablePhotoFile(good));
    EXPECT_FALSE(isReadablePhotoFile(folder));
    EXPECT_FALSE(isReadablePhotoFile(fifo));
    EXPECT_FALSE(isReadablePhotoFile(relative));
    EXPECT_FALSE(isReadablePhotoFile(path("missing.jpg")));

    SlideShowProject p;
    p.setRefusesUnreadablePhotos(true);
    fill(p, 2 * kCellWidth, 0);
    std::vector<std::string> refused;
    EXPECT_EQ(p.insertPhotos({broken, good, folder, fifo, relative}, 0, 0, 3.0, 1.0, &refused), 1);
    EXPECT_EQ(refused, (std::vector<std::string>{broken, folder, fifo, relative}));
    for (const std::string& bad : refused) {
        EXPECT_EQ(p.insertPhoto(bad, 0, 0, 3.0, 1.0), -1) << bad;
    }
    EXPECT_EQ(p.photoSlideCount(), 1);
    EXPECT_EQ(p.slide(0)->photoPath, good);
    EXPECT_EQ(p.thumbnails().size(), 1u);
    expectInvariants(p);
}

}  // namespace
}  // namespace kestrelle
