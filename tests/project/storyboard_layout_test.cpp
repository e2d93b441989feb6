// The storyboard's geometry and arithmetic: hit areas, scrolling, menu rules, drag contents, waveforms.

#include "project/storyboard_layout.h"
#include "base/byte_order.h"
#include "media/audio_peaks.h"
#include "media/wave_file.h"
#include "project/photo_drag_payload.h"
#include "tests/support/temp_home.h"

#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

using storyboard::CellHit;

Slide photoCell(int index, int left) {
    Slide cell;
    cell.index = index;
    cell.hasPhoto = true;
    cell.photoPath = "/photos/a.jpg";
    cell.cellRect = {left, 0, left + kCellWidth, storyboard::kPhotoLineHeight};
    return cell;
}

TEST(StoryboardHitTest, PointsOfAPhotoCellAPlaceholderAndTheGaps) {
    // A photo cell scrolled so that its left edge lies at x = 100.
    const Slide photo = photoCell(0, 100);
    Slide placeholder = photo;
    placeholder.hasPhoto = false;
    struct Case {
        int x, y;
        CellHit photo, placeholder;
    };
    const Case cases[] = {
        {100 + 70, 70, CellHit::SlideDuration, CellHit::Placeholder},
        {100 + 60, 66, CellHit::SlideDuration, CellHit::Placeholder},        // the editor's corner
        {100 + 114, 68, CellHit::SlideDuration, CellHit::Placeholder},       // editor over chooser
        {100 + 130, 60, CellHit::TransitionDuration, CellHit::Placeholder},  // inside the chooser's box
        {100 + 120, 51, CellHit::TransitionDuration, CellHit::Placeholder},
        {100 + 125, 30, CellHit::TransitionChooser, CellHit::Placeholder},
        {100 + 148, 70, CellHit::TransitionChooser, CellHit::Placeholder},
        {100 + 149, 30, CellHit::SlideBody, CellHit::Placeholder},  // right of the chooser's area
        {100 + 50, 30, CellHit::Thumbnail, CellHit::Placeholder},
        {100 + 5, 5, CellHit::Thumbnail, CellHit::Placeholder},
        {100 + 2, 2, CellHit::SlideBody, CellHit::Placeholder},     // the margin
        {100 + 130, 80, CellHit::SlideBody, CellHit::Placeholder},  // below the transition box
        {100 + 30, 92, CellHit::SlideBody, CellHit::Placeholder},   // below the editor
        {99, 40, CellHit::None, CellHit::None},                     // left of the cell
        {100 + 154, 40, CellHit::None, CellHit::None},              // right edge is outside
        {150, 95, CellHit::None, CellHit::None},                    // below the photo line
    };
    for (const Case& c : cases) {
        EXPECT_EQ(storyboard::hitTest(photo, c.x, c.y), c.photo) << c.x - 100 << "," << c.y;
        EXPECT_EQ(storyboard::hitTest(placeholder, c.x, c.y), c.placeholder) << c.x - 100 << "," << c.y;
    }
}

TEST(StoryboardScrolling, StepsStopAtBothEndsAndNarrowContentDoesNotScroll) {
    // 10 cells (1540 px) in a 600-px view: limit 940.
    EXPECT_EQ(storyboard::scrollLimit(1540, 600), 940);
    EXPECT_EQ(storyboard::scrolledBy(100, -150, 940), 0);
    EXPECT_EQ(storyboard::scrolledBy(0, -150, 940), 0);
    EXPECT_EQ(storyboard::scrolledBy(800, 150, 940), 940);
    EXPECT_EQ(storyboard::scrolledBy(940, 150, 940), 940);
    EXPECT_EQ(storyboard::scrolledBy(300, 40, 940), 340);
    // Content narrower than the view.
    EXPECT_EQ(storyboard::scrollLimit(462, 600), 0);
    EXPECT_EQ(storyboard::scrolledBy(0, 150, storyboard::scrollLimit(462, 600)), 0);
    EXPECT_EQ(storyboard::scrollLimit(462, -5), 462);
}

TEST(StoryboardScrolling, CentringKeepsWithinTheContent) {
    // 10 cells in a 600-px view (half 300).
    EXPECT_EQ(storyboard::scrollPositionCentring(0, 1540, 600), 0);
    EXPECT_EQ(storyboard::scrollPositionCentring(1, 1540, 600), 0);  // centre 231 < half
    EXPECT_EQ(storyboard::scrollPositionCentring(4, 1540, 600), 4 * 154 + 77 - 300);
    EXPECT_EQ(storyboard::scrollPositionCentring(9, 1540, 600), 1540 - 600);
    EXPECT_EQ(storyboard::scrollPositionCentring(8, 1540, 600), 1540 - 600);  // 1540 - 1309 < 300
    // Narrow content never scrolls.
    EXPECT_EQ(storyboard::scrollPositionCentring(2, 462, 600), 0);
}

class StoryboardProjectTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        project.setVisibleWidth(600);
        project.fillPlaceholders(600);
    }
    // Photos need not exist: the thumbnail is then the background alone.
    void addPhotos(int count) {
        for (int i = 0; i < count; ++i) {
            project.insertPhoto(path("p" + std::to_string(i) + ".jpg"), project.photoSlideCount(), 0, 3.0,
                                1.0);
        }
    }
    SlideShowProject project;
};

TEST_F(StoryboardProjectTest, MenuItemsFollowTheSelectedSlide) {
    addPhotos(3);
    const auto state = [&](int selected) {
        project.setSelectedSlide(selected);
        const storyboard::SlideMenuState s = storyboard::slideMenuState(project);
        return std::tuple(s.shiftLeft, s.shiftRight, s.remove);
    };
    EXPECT_EQ(state(0), std::tuple(false, true, true));
    EXPECT_EQ(state(1), std::tuple(true, true, true));
    EXPECT_EQ(state(2), std::tuple(true, false, true));
    EXPECT_EQ(state(-1), std::tuple(false, false, false));
}

TEST_F(StoryboardProjectTest, AOnePhotoRowCanOnlyBeDeleted) {
    addPhotos(1);
    project.setSelectedSlide(0);
    const storyboard::SlideMenuState s = storyboard::slideMenuState(project);
    EXPECT_FALSE(s.shiftLeft);
    EXPECT_FALSE(s.shiftRight);
    EXPECT_TRUE(s.remove);
}

TEST_F(StoryboardProjectTest, DescriptionNamesTheSelectedSlide) {
    addPhotos(3);
    project.setTransitionEffect(1, 7);
    project.setSelectedSlide(1);
    EXPECT_EQ(storyboard::selectionDescription(project), "Slide 2 of 3, 3.0 s, transition: wipe from left");
    // The model keeps numbers within 0..12; the words do not rely on it.
    EXPECT_EQ(storyboard::transitionEffectWords(40), "none");
    EXPECT_EQ(storyboard::transitionEffectWords(-1), "none");
    // A slide that moves or fills the frame says so.
    project.setSlideLook(1, {{MotionKind::GentleRandom, {}, {}}, {PhotoFit::BlurredBackground, true}});
    EXPECT_EQ(
        storyboard::selectionDescription(project),
        "Slide 2 of 3, 3.0 s, transition: wipe from left, motion: gentle random, on a blurred background, "
        "enlarged when small");
    EXPECT_EQ(storyboard::lookWords({{MotionKind::None, {}, {}}, {PhotoFit::Fill, false}}),
              ", fills the frame");
    EXPECT_EQ(storyboard::lookWords({{static_cast<MotionKind>(99), {}, {}}, {}}), "");
    project.setSelectedSlide(-1);
    EXPECT_EQ(storyboard::selectionDescription(project), "No slide selected");
}

TEST(StoryboardDrop, PrivatePayloadKeepsItsLineAndOrder) {
    QMimeData photos;
    putDragPayload(photos, {DragLine::Photos, {"/a/2.jpg", "/a/1.jpg"}});
    const storyboard::DropFiles p = storyboard::dropFilesFrom(photos);
    EXPECT_EQ(p.line, storyboard::Line::Photos);
    EXPECT_EQ(p.paths, (std::vector<std::string>{"/a/2.jpg", "/a/1.jpg"}));

    QMimeData audio;
    putDragPayload(audio, {DragLine::Soundtrack, {"/a/x.wav"}});
    EXPECT_EQ(storyboard::dropFilesFrom(audio).line, storyboard::Line::Soundtrack);
}

TEST(StoryboardDrop, FileManagerListsGiveLocalPhotosOrElseWaveFiles) {
    QMimeData mixed;
    mixed.setUrls(
        {QUrl::fromLocalFile(QStringLiteral("/p/b.JPG")), QUrl(QStringLiteral("https://example.org/c.jpg")),
         QUrl::fromLocalFile(QStringLiteral("/p/notes.txt")), QUrl::fromLocalFile(QStringLiteral("/p/s.wav")),
         QUrl::fromLocalFile(QStringLiteral("/p/a.png"))});
    const storyboard::DropFiles photos = storyboard::dropFilesFrom(mixed);
    EXPECT_EQ(photos.line, storyboard::Line::Photos);
    EXPECT_EQ(photos.paths, (std::vector<std::string>{"/p/b.JPG", "/p/a.png"}));

    QMimeData waves;
    waves.setUrls(
        {QUrl::fromLocalFile(QStringLiteral("/p/s.WAV")), QUrl::fromLocalFile(QStringLiteral("/p/t.wave"))});
    const storyboard::DropFiles audio = storyboard::dropFilesFrom(waves);
    EXPECT_EQ(audio.line, storyboard::Line::Soundtrack);
    EXPECT_EQ(audio.paths, (std::vector<std::string>{"/p/s.WAV"}));

    // Any audio file the soundtrack takes, in the order given.
    QMimeData songs;
    songs.setUrls({QUrl::fromLocalFile(QStringLiteral("/p/a.mp3")),
                   QUrl::fromLocalFile(QStringLiteral("/p/b.FLAC")),
                   QUrl::fromLocalFile(QStringLiteral("/p/notes.txt")),
                   QUrl::fromLocalFile(QStringLiteral("/p/c.ogg"))});
    const storyboard::DropFiles music = storyboard::dropFilesFrom(songs);
    EXPECT_EQ(music.line, storyboard::Line::Soundtrack);
    EXPECT_EQ(music.paths, (std::vector<std::string>{"/p/a.mp3", "/p/b.FLAC", "/p/c.ogg"}));

    QMimeData text;
    text.setText(QStringLiteral("/p/b.jpg"));
    EXPECT_TRUE(storyboard::dropFilesFrom(text).paths.empty());
    QMimeData nothing;
    nothing.setUrls({QUrl::fromLocalFile(QStringLiteral("/p/readme.md"))});
    EXPECT_TRUE(storyboard::dropFilesFrom(nothing).paths.empty());
}

// A file on another machine is never taken for a local one, and a name that is not UTF-8 keeps its
// bytes.
TEST(StoryboardDrop, OnlyFilesOfThisMachineWithTheirOwnBytes) {
    QMimeData drop;
    drop.setData(QStringLiteral("text/uri-list"),
                 QByteArrayLiteral("file://otherhost/x.jpg\r\nfile://localhost/p/y.jpg\r\n"
                                   "file:///p/caf%E9.jpg\r\n"));
    const storyboard::DropFiles photos = storyboard::dropFilesFrom(drop);
    EXPECT_EQ(photos.paths, (std::vector<std::string>{"/p/y.jpg", "/p/caf\xE9.jpg"}));
}

// A PCM WAV with `bits` per sample, mono, `rate` Hz, whose samples are `values` (centred on 0).
std::string waveBytes(int bits, std::uint32_t rate, const std::vector<int>& values,
                      std::uint16_t formatTag = 1) {
    std::string data;
    for (int v : values) {
        if (bits == 8) {
            data.push_back(static_cast<char>(v + 128));
        } else {
            data.push_back(static_cast<char>(v & 0xFF));
            data.push_back(static_cast<char>((v >> 8) & 0xFF));
        }
    }
    const std::uint32_t bytesPerSecond = rate * static_cast<std::uint32_t>(bits / 8);
    std::string file = "RIFF";
    appendLe32(file, static_cast<std::uint32_t>(36 + data.size()));
    file += "WAVEfmt ";
    appendLe32(file, 16);
    appendLe16(file, static_cast<std::uint16_t>(formatTag));
    appendLe16(file, 1);
    appendLe32(file, rate);
    appendLe32(file, bytesPerSecond);
    appendLe16(file, static_cast<std::uint16_t>(bits / 8));
    appendLe16(file, static_cast<std::uint16_t>(bits));
    file += "data";
    appendLe32(file, static_cast<std::uint32_t>(data.size()));
    return file + data;
}

class StoryboardWaveformTest : public testing::TempHomeTest {
protected:
    WaveFile open(const std::string& bytes) {
        const std::string file = path("clip" + std::to_string(++count_) + ".wav");
        EXPECT_TRUE(testing::writeFile(file, bytes));
        WaveFile wave;
        EXPECT_EQ(wave.open(file), WaveOpenResult::Ok);
        return wave;
    }
    int count_ = 0;
};

TEST_F(StoryboardWaveformTest, EightAndSixteenBitSamplesScaleToTheLineHeight) {
    // 2 seconds at 100 Hz, in a 200-pixel cell from x = 10: 100 px per second, step 1.
    std::vector<int> eight(200, 0);
    eight[0] = 64;  // half of full scale: (64 x 34) / 128 = 17 above the middle
    eight[100] = -128;
    const WaveFile w8 = open(waveBytes(8, 100, eight));
    const std::vector<QPoint> p8 = storyboard::waveformPoints(w8, 200, 10, 100, 210, 134, -1000, 1000);
    ASSERT_EQ(p8.size(), 201u);  // the start, then one per value
    EXPECT_EQ(p8[0], QPoint(10, 117));
    EXPECT_EQ(p8[1], QPoint(10, 117 - 17));
    EXPECT_EQ(p8[101], QPoint(110, 117 + 34));

    std::vector<int> sixteen(200, 0);
    sixteen[50] = 32767;
    const WaveFile w16 = open(waveBytes(16, 100, sixteen));
    const std::vector<QPoint> p16 = storyboard::waveformPoints(w16, 200, 10, 100, 210, 134, -1000, 1000);
    ASSERT_EQ(p16.size(), 201u);
    EXPECT_EQ(p16[51], QPoint(60, 117 - 34));
}

TEST_F(StoryboardWaveformTest, ShortNarrowAndSampleLessClipsDrawNothing) {
    // Under one whole second.
    const WaveFile shortClip = open(waveBytes(16, 100, std::vector<int>(99, 1000)));
    EXPECT_TRUE(storyboard::waveformPoints(shortClip, 200, 0, 100, 200, 134, 0, 500).empty());
    // Narrower than one pixel per second: 3 seconds in 2 pixels.
    const WaveFile longClip = open(waveBytes(8, 100, std::vector<int>(300, 5)));
    EXPECT_TRUE(storyboard::waveformPoints(longClip, 2, 0, 100, 2, 134, 0, 500).empty());
    // 24-bit PCM has no waveform values; a non-PCM file has no samples at all.
    const WaveFile deep = open(waveBytes(24, 100, std::vector<int>(300, 5)));
    EXPECT_TRUE(storyboard::waveformPoints(deep, 300, 0, 100, 300, 134, 0, 500).empty());
    const WaveFile adpcm = open(waveBytes(16, 100, std::vector<int>(300, 5), 2));
    EXPECT_TRUE(storyboard::waveformPoints(adpcm, 300, 0, 100, 300, 134, 0, 500).empty());
}

TEST_F(StoryboardWaveformTest, OnlyThePaintedBandIsComputedAndMatchesTheWholeLine) {
    std::vector<int> values(4000);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<int>(i % 200) - 100;
    const WaveFile wave = open(waveBytes(8, 1000, values));
    // 4 seconds in 4000 pixels: one point per value.
    const std::vector<QPoint> all = storyboard::waveformPoints(wave, 4000, 0, 100, 4000, 134, -10, 5000);
    const std::vector<QPoint> band = storyboard::waveformPoints(wave, 4000, 0, 100, 4000, 134, 1000, 1100);
    ASSERT_FALSE(band.empty());
    EXPECT_LT(band.size(), 120u);
    EXPECT_LE(band.front().x(), 1000);
    EXPECT_GE(band.back().x(), 1100);
    for (const QPoint& point : band) {
        EXPECT_NE(std::find(all.begin(), all.end(), point), all.end()) << point.x();
    }
}

TEST_F(StoryboardWaveformTest, AClipWhoseFileWasCutShortDrawsSilenceBeyondTheCut) {
    // 3 seconds at 1000 Hz of full-scale 8-bit values in 3000 pixels, then the file cut after 1 second.
    const WaveFile wave = open(waveBytes(8, 1000, std::vector<int>(3000, 127)));
    ASSERT_EQ(truncate(wave.path().c_str(), 44 + 1000), 0);
    const std::vector<QPoint> points = storyboard::waveformPoints(wave, 3000, 0, 100, 3000, 134, 0, 3000);
    ASSERT_EQ(points.size(), 3001u);
    EXPECT_EQ(points[1000].y(), 117 - 33);  // the last value still in the file
    EXPECT_EQ(points[1001], QPoint(1000, 117));
    EXPECT_EQ(points[3000], QPoint(2999, 117));
}

// Clips lie where the mix starts them: end to end without a crossfade, the next one that much earlier
// with one (and never more than the mix allows: half the shorter clip), all moved by the scroll.
TEST(StoryboardClips, ClipsLieWhereTheMixStartsThem) {
    SlideShowProject p;
    p.addTimedClip("/m/a.mp3", 12.0);  // 308 pixels at 6 s per cell
    p.addTimedClip("/m/b.mp3", 6.0);   // 154
    p.addTimedClip("/m/c.mp3", 6.0);   // 154
    using storyboard::clipRectsAt;
    EXPECT_EQ(clipRectsAt(p, 0),
              (std::vector<CellRect>{{0, 101, 308, 134}, {308, 101, 462, 134}, {462, 101, 616, 134}}));
    double fade = 2.0;
    p.setCrossfadeProvider([&fade] { return fade; });
    // b starts at 10 s, c at 14 s (b's 6 s less 2): trunc(25.67 x 10) and trunc(25.67 x 14).
    EXPECT_EQ(clipRectsAt(p, 0),
              (std::vector<CellRect>{{0, 101, 308, 134}, {256, 101, 410, 134}, {359, 101, 513, 134}}));
    EXPECT_EQ(clipRectsAt(p, 100)[1], (CellRect{156, 101, 310, 134}));
    // A fade longer than half of b is cut to 3 s, as the mix cuts it: b at 9 s, c at 12 s.
    fade = 5.0;
    const std::vector<CellRect> cut = clipRectsAt(p, 0);
    EXPECT_EQ(cut[1].left, 231);
    EXPECT_EQ(cut[2].left, 308);
    EXPECT_TRUE(clipRectsAt(SlideShowProject(), 0).empty());

    // A photo appended changes the line's scale but (until relayoutClips) not the widths drawn: the
    // places follow the widths, so clips neither gap nor pile up.
    const std::vector<CellRect> before = clipRectsAt(p, 0);
    p.setVisibleWidth(400);
    p.fillPlaceholders(400);
    ASSERT_GE(p.insertPhoto("/nonexistent-kestrelle/p.jpg", 0, 0, 1.0, 0.5), 0);
    EXPECT_EQ(clipRectsAt(p, 0), before);
    p.relayoutClips();  // 154 pixels per 1.5 s now: b starts 3 s before a's end (12 s)
    const std::vector<CellRect> after = clipRectsAt(p, 0);
    EXPECT_EQ(after[0], (CellRect{0, 101, 1232, 134}));
    EXPECT_EQ(after[1].left, 1232 - 308);
}

AudioPeaks peaksOf(std::vector<std::int8_t> low, std::vector<std::int8_t> high, double bucketsPerSecond) {
    AudioPeaks peaks;
    peaks.bucketsPerSecond = bucketsPerSecond;
    peaks.low = std::move(low);
    peaks.high = std::move(high);
    peaks.decodedFrames =
        static_cast<std::uint64_t>(static_cast<double>(peaks.low.size()) / bucketsPerSecond * 44100.0);
    peaks.complete = true;
    return peaks;
}

// One line per pixel column from the column's highest to its lowest sample, full scale reaching the
// clip's edges; several buckets in one column give their extremes, one bucket over several columns is
// drawn in each.
TEST(StoryboardClips, PeakLinesSpanEachColumnsExtremes) {
    const CellRect clip{10, 102, 110, 133};  // middle 117, 15 pixels either way
    // Ten buckets per second at ten pixels per second: one bucket a column.
    const AudioPeaks loud = peaksOf({-127, -64, 0}, {127, 64, 0}, 10.0);
    std::vector<QLine> lines = storyboard::peakLines(loud, clip, 10.0, -1000, 1000);
    ASSERT_EQ(lines.size(), 3u);  // nothing past the decoded length
    EXPECT_EQ(lines[0], QLine(10, 102, 10, 132));
    EXPECT_EQ(lines[1], QLine(11, 117 - 7, 11, 117 + 7));
    EXPECT_EQ(lines[2], QLine(12, 117, 12, 117));

    // Four buckets per column: the extremes of the four.
    const AudioPeaks quiet = peaksOf({-10, -40, 0, -5, 3, 2, 1, 0}, {5, 20, 0, 60, 9, 4, 3, 2}, 40.0);
    lines = storyboard::peakLines(quiet, clip, 10.0, -1000, 1000);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], QLine(10, 117 - 60 * 15 / 127, 10, 117 + 40 * 15 / 127));
    EXPECT_EQ(lines[1], QLine(11, 117 - 9 * 15 / 127, 11, 117 - 0));

    // A bucket wider than a column is drawn in each of its columns; only the painted band is made.
    const AudioPeaks wide = peaksOf({-127, -20}, {127, 20}, 1.0);
    lines = storyboard::peakLines(wide, clip, 10.0, 15, 24);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines.front(), QLine(15, 102, 15, 132));
    EXPECT_EQ(lines[4].x1(), 19);
    EXPECT_EQ(lines[5], QLine(20, 117 - 2, 20, 117 + 2));  // the second second begins at x 20
    EXPECT_TRUE(storyboard::peakLines(wide, clip, 10.0, 200, 300).empty());

    EXPECT_TRUE(storyboard::peakLines(AudioPeaks{}, clip, 10.0, 0, 100).empty());
    EXPECT_TRUE(storyboard::peakLines(loud, clip, 0.0, 0, 100).empty());
    EXPECT_TRUE(storyboard::peakLines(loud, clip, std::nan(""), 0, 100).empty());
}

// A two-hour clip costs what is on screen: the columns painted, whatever the clip's length.
TEST(StoryboardClips, PeakLinesOfALongClipCostTheBandOnly) {
    const AudioPeaks twoHours =
        peaksOf(std::vector<std::int8_t>(7200 * 50, -30), std::vector<std::int8_t>(7200 * 50, 30), 50.0);
    const CellRect clip{-90000, 102, 94800, 133};  // 25.67 pixels a second, scrolled far along
    const std::vector<QLine> lines = storyboard::peakLines(twoHours, clip, 154.0 / 6.0, 0, 799);
    EXPECT_EQ(lines.size(), 800u);
}

TEST(StoryboardClips, MenuStatesNamesAndDescriptions) {
    SlideShowProject p;
    p.setVisibleWidth(400);
    p.fillPlaceholders(400);
    EXPECT_FALSE(storyboard::canFitToMusic(p));
    p.addTimedClip("/music/Song One.mp3", 205.0);
    p.addTimedClip("/music/b.flac", 3725.0);
    EXPECT_FALSE(storyboard::canFitToMusic(p));  // no photos yet
    ASSERT_GE(p.insertPhoto("/nonexistent-kestrelle/p.jpg", 0, 0, 3.0, 1.0), 0);
    EXPECT_TRUE(storyboard::canFitToMusic(p));

    EXPECT_FALSE(storyboard::clipMenuState(p).remove);
    ASSERT_TRUE(p.setSelectedClip(0));
    storyboard::SlideMenuState state = storyboard::clipMenuState(p);
    EXPECT_FALSE(state.shiftLeft);
    EXPECT_TRUE(state.shiftRight);
    EXPECT_TRUE(state.remove);
    EXPECT_EQ(storyboard::selectionDescription(p), "Clip 1 of 2, Song One.mp3, 3:25");
    ASSERT_TRUE(p.setSelectedClip(1));
    state = storyboard::clipMenuState(p);
    EXPECT_TRUE(state.shiftLeft);
    EXPECT_FALSE(state.shiftRight);
    EXPECT_EQ(storyboard::selectionDescription(p), "Clip 2 of 2, b.flac, 1:02:05");
    EXPECT_EQ(storyboard::clipName(*p.clip(0)), QStringLiteral("Song One.mp3"));
    EXPECT_EQ(storyboard::clipToolTip(*p.clip(0)), "Song One.mp3\n3:25");
}

TEST(StoryboardText, DurationsShowOneDecimal) {
    EXPECT_EQ(storyboard::durationText(3.0), "3.0");
    EXPECT_EQ(storyboard::durationText(2.25), "2.2");
    EXPECT_EQ(storyboard::durationText(86400.0), "86400.0");
}

}  // namespace
}  // namespace kestrelle
