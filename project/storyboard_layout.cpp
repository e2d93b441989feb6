#include "project/storyboard_layout.h"

#include "base/file_uri.h"
#include "media/audio_decoder.h"
#include "media/audio_peaks.h"
#include "media/soundtrack_mix.h"
#include "media/wave_file.h"
#include "project/photo_drag_payload.h"
#include "render/photo_loader.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

namespace kestrelle::storyboard {

CellRect offsetRect(const CellRect& r, int dx, int dy) {
    return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

CellRect cellRectAt(int index, int scroll) {
    // 64-bit on the way: a row of millions of cells must not wrap around.
    const std::int64_t left = static_cast<std::int64_t>(index) * kCellWidth - scroll;
    const auto clampInt = [](std::int64_t v) {
        return static_cast<int>(std::clamp<std::int64_t>(v, INT32_MIN / 2, INT32_MAX / 2));
    };
    return {clampInt(left), 0, clampInt(left + kCellWidth), kPhotoLineHeight};
}

CellHit hitTest(const Slide& cell, int x, int y) {
    if (!cell.cellRect.contains(x, y)) {
        return CellHit::None;
    }
    if (!cell.hasPhoto) {
        return CellHit::Placeholder;
    }
    const int dx = cell.cellRect.left;
    const int dy = cell.cellRect.top;
    // The editors come first: the transition duration lies inside the chooser's box.
    if (offsetRect(kSlideDurationEditor, dx, dy).contains(x, y)) {
        return CellHit::SlideDuration;
    }
    if (offsetRect(kTransitionDurationEditor, dx, dy).contains(x, y)) {
        return CellHit::TransitionDuration;
    }
    if (offsetRect(kTransitionChooserArea, dx, dy).contains(x, y)) {
        return CellHit::TransitionChooser;
    }
    if (offsetRect(kThumbnailArea, dx, dy).contains(x, y)) {
        return CellHit::Thumbnail;
    }
    return CellHit::SlideBody;
}

int scrollLimit(int contentWidth, int visibleWidth) {
    return std::max(0, contentWidth - std::max(0, visibleWidth));
}

int scrolledBy(int position, int step, int limit) {
    const std::int64_t moved = static_cast<std::int64_t>(position) + step;
    return static_cast<int>(std::clamp<std::int64_t>(moved, 0, std::max(0, limit)));
}

int scrollPositionCentring(int index, int contentWidth, int visibleWidth) {
    const std::int64_t half = std::max(0, visibleWidth) / 2;
    const std::int64_t centre = static_cast<std::int64_t>(index) * kCellWidth + kCellWidth / 2;
    std::int64_t position = centre - half;
    if (position < 0) {
        return 0;
    }
    if (contentWidth - centre < half) {
        position = static_cast<std::int64_t>(contentWidth) - visibleWidth;
    }
    return static_cast<int>(std::clamp<std::int64_t>(position, 0, scrollLimit(contentWidth, visibleWidth)));
}

SlideMenuState slideMenuState(const SlideShowProject& project) {
    const int selected = project.selectedSlide();
    const int photos = project.photoSlideCount();
    SlideMenuState state;
    state.shiftLeft = selected > 0 && photos >= 2;
    state.shiftRight = selected >= 0 && selected < project.firstPlaceholderIndex() - 1 && photos >= 2;
    state.remove = selected >= 0;
    return state;
}

SlideMenuState clipMenuState(const SlideShowProject& project) {
    const int selected = project.selectedClip();
    const int count = static_cast<int>(project.clips().size());
    SlideMenuState state;
    state.shiftLeft = selected > 0 && selected < count;
    state.shiftRight = selected >= 0 && selected + 1 < count;
    state.remove = selected >= 0 && selected < count;
    return state;
}

bool canFitToMusic(const SlideShowProject& project) {
    return !project.clips().empty() && project.photoSlideCount() > 0;
}

Line lineAtY(int y) {
    return y > kPhotoLineHeight ? Line::Soundtrack : Line::Photos;
}

std::string leftOutFilesText(const std::string& intro, const std::vector<std::string>& paths) {
    constexpr std::size_t kNamesShown = 10;
    std::string text = intro;
    for (std::size_t i = 0; i < paths.size() && i < kNamesShown; ++i) {
        // The name as the user sees it in the browser: the last part of the path, bytes decoded.
        const std::string& path = paths[i];
        const std::size_t slash = path.find_last_of('/');
        const std::string name =
            slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
        text += '\n';
        text += QFile::decodeName(QByteArray::fromStdString(name)).toStdString();
    }
    if (paths.size() > kNamesShown) {
        text += "\nand " + std::to_string(paths.size() - kNamesShown) + " more";
    }
    return text;
}

bool isWaveFileName(const std::string& name) {
    if (name.size() < 4) {
        return false;
    }
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".wav";
}

DropFiles dropFilesFrom(const QMimeData& mime) {
    DropFiles files;
    if (const std::optional<DragPayload> payload = takeDragPayload(mime)) {
        files.line = payload->line == DragLine::Soundtrack ? Line::Soundtrack : Line::Photos;
        files.paths = payload->paths;
        return files;
    }
    if (!mime.hasUrls()) {
        return files;
    }
    std::vector<std::string> photos;
    std::vector<std::string> waves;
    std::error_code error;
    for (const QUrl& url : mime.urls()) {
        // Files of this machine only ("file://otherhost/x.jpg" is not "//otherhost/x.jpg" here), as
        // the file system's own bytes, so names that are not valid UTF-8 keep working.
        const std::optional<std::string> local = localPathFromUrl(url);
        if (!local) {
            continue;
        }
        const std::string& path = *local;
        // A folder is never a photo or a clip, whatever its name ("Trip.jpg/").
        if (path.empty() || path.back() == '/' || std::filesystem::is_directory(path, error)) {
            continue;
        }
        if (isSupportedPhotoName(path)) {
            photos.push_back(path);
        } else if (hasAudioFileName(path)) {
            waves.push_back(path);
        }
    }
    if (!photos.empty()) {
        files.paths = std::move(photos);
    } else if (!waves.empty()) {
        files.line = Line::Soundtrack;
        files.paths = std::move(waves);
    }
    return files;
}

double clipPixelsPerSecondOf(const SoundtrackClip& clip) {
    if (!(clip.durationSeconds > 0.0) || !std::isfinite(clip.durationSeconds) || clip.cellWidth <= 0) {
        return 0.0;
    }
    return clip.cellWidth / clip.durationSeconds;
}

std::vector<CellRect> clipRectsAt(const SoundtrackClip* clips, std::size_t count, double crossfadeSeconds,
                                  int scroll) {
    std::vector<double> durations;
    durations.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        durations.push_back(clips[i].durationSeconds);
    }
    const std::vector<double> starts = clipStartSeconds(durations, crossfadeSeconds);
    // Within half the int range: a line of a thousand long clips must not wrap.
    const auto clampInt = [](double v) {
        if (!(v > INT32_MIN / 2)) {
            return INT32_MIN / 2;
        }
        return static_cast<int>(std::min(v, static_cast<double>(INT32_MAX / 2)));
    };
    std::vector<CellRect> rects;
    rects.reserve(count);
    double left = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double edge = std::trunc(left) - scroll;
        rects.push_back({clampInt(edge), kClipTop, clampInt(edge + clips[i].cellWidth), kClipBottom});
        if (i + 1 < count) {
            // The next clip starts where the mix starts it: the seconds it overlaps this one, at this
            // clip's own scale, before this clip's end.
            const double overlap =
                i + 1 < starts.size() ? std::max(0.0, starts[i] + durations[i] - starts[i + 1]) : 0.0;
            left += clips[i].cellWidth -
                    (std::isfinite(overlap) ? overlap : 0.0) * clipPixelsPerSecondOf(clips[i]);
        }
    }
    return rects;
}

std::vector<CellRect> clipRectsAt(const SlideShowProject& project, int scroll) {
    return clipRectsAt(project.clips().data(), project.clips().size(), project.crossfadeSeconds(), scroll);
}

std::vector<QLine> peakLines(const AudioPeaks& peaks, const CellRect& clip, double pixelsPerSecond,
                             int paintLeft, int paintRight) {
    std::vector<QLine> lines;
    const std::size_t buckets = std::min(peaks.low.size(), peaks.high.size());
    if (buckets == 0 || !(peaks.bucketsPerSecond > 0.0) || !std::isfinite(peaks.bucketsPerSecond) ||
        !(pixelsPerSecond > 0.0) || !std::isfinite(pixelsPerSecond) || clip.isEmpty()) {
        return lines;
    }
    // Only the buckets the file really holds: the decoded length, when known, ends the waveform.
    const double decodedBuckets = peaks.decodedFrames > 0 ? static_cast<double>(peaks.decodedFrames) /
                                                                kMixSampleRate * peaks.bucketsPerSecond
                                                          : static_cast<double>(buckets);
    const std::size_t usable =
        std::min(buckets, static_cast<std::size_t>(std::max(1.0, std::ceil(decodedBuckets))));
    const double bucketsPerPixel = peaks.bucketsPerSecond / pixelsPerSecond;
    const int middle = (clip.top + clip.bottom - 1) / 2;
    const int half = std::max(1, (clip.bottom - clip.top - 1) / 2);
    const int first = std::max(clip.left, paintLeft);
    const int last = std::min(clip.right - 1, paintRight);
    if (last >= first) {
        lines.reserve(static_cast<std::size_t>(last - first) + 1);
    }
    for (int x = first; x <= last; ++x) {
        const double column = static_cast<double>(x) - clip.left;
        const double from = std::floor(column * bucketsPerPixel);
        if (from >= static_cast<double>(usable)) {
            break;
        }
        const auto begin = static_cast<std::size_t>(std::max(0.0, from));
        const auto end = std::clamp(static_cast<std::size_t>(std::ceil((column + 1.0) * bucketsPerPixel)),
                                    begin + 1, usable);
        int low = peaks.low[begin];
        int high = peaks.high[begin];
        for (std::size_t b = begin + 1; b < end; ++b) {
            low = std::min<int>(low, peaks.low[b]);
            high = std::max<int>(high, peaks.high[b]);
        }
        low = std::clamp(low, -127, 127);
        high = std::clamp(std::max(high, low), -127, 127);
        lines.emplace_back(x, middle - high * half / 127, x, middle - low * half / 127);
    }
    return lines;
}

QString clipName(const SoundtrackClip& clip) {
    const std::string& path = clip.wavePath;
    const std::size_t slash = path.find_last_of('/');
    const std::string name =
        slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
    return QFile::decodeName(QByteArray::fromStdString(name));
}

QString fileSizeText(std::int64_t bytes) {
    if (bytes < 1024) {
        return QStringLiteral("%1 bytes").arg(std::max<std::int64_t>(bytes, 0));
    }
    const char* const units[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

QString slideToolTip(const Slide& slide, const PhotoFileFacts& facts) {
    const std::string& path = slide.photoPath;
    const std::size_t slash = path.find_last_of('/');
    const QString name = QFile::decodeName(QByteArray::fromStdString(
        slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1)));
    const QString folder = QFile::decodeName(QByteArray::fromStdString(
        slash == std::string::npos ? std::string() : path.substr(0, std::max<std::size_t>(slash, 1))));
    QStringList lines{name};
    if (slide.photoMissing) {
        lines.front() += QStringLiteral(" (missing)");
        lines.push_back(QFile::decodeName(QByteArray::fromStdString(path)));
        lines.push_back(QStringLiteral("The photo was not found."));
    } else {
        if (!folder.isEmpty()) {
            lines.push_back(folder);
        }
        QStringList size;
        if (facts.pixelWidth > 0 && facts.pixelHeight > 0) {
            size.push_back(QStringLiteral("%1 x %2 pixels").arg(facts.pixelWidth).arg(facts.pixelHeight));
        }
        if (facts.fileBytes >= 0) {
            size.push_back(fileSizeText(facts.fileBytes));
        }
        if (!size.isEmpty()) {
            lines.push_back(size.join(QStringLiteral(", ")));
        }
    }
    lines.push_back(QStringLiteral("Shown %1 s, transition %2 s")
                        .arg(QString::fromStdString(durationText(slide.slideDuration)),
                             QString::fromStdString(durationText(slide.transitionDuration))));
    return lines.join(QLatin1Char('\n'));
}

std::vector<QPoint> waveformPoints(const WaveFile& wave, int cellWidth, int left, int top, int right,
                                   int bottom, int clipLeft, int clipRight) {
    std::vector<QPoint> points;
    const std::size_t count = wave.sampleValueCount();
    const std::uint32_t seconds = wave.wholeSeconds();
    if (!wave.hasSamples() || count == 0 || seconds < 1 || right <= left) {
        return points;
    }
    const std::int64_t pixelsPerSecond = (static_cast<std::int64_t>(right) - left) / seconds;
    if (pixelsPerSecond < 1) {
        return points;
    }
    const std::int64_t step = std::max<std::int64_t>(1, wave.format().sampleRate / pixelsPerSecond);
    const int height = bottom - top;
    const int middle = (top + bottom) / 2;
    const int fullScale = wave.sampleFullScale();
    const double perValue = static_cast<double>(cellWidth) / static_cast<double>(count);

    // Only the indexes whose x falls in the painted band, widened by one step on either side.
    std::int64_t first = 0;
    std::int64_t last = static_cast<std::int64_t>(count) - 1;
    if (perValue > 0.0) {
        const double from = std::floor((static_cast<double>(clipLeft) - left - 1.0) / perValue);
        const double to = std::ceil((static_cast<double>(clipRight) - left + 1.0) / perValue);
        if (from > 0.0) {
            first = std::min<std::int64_t>(last + 1, static_cast<std::int64_t>(from));
        }
        if (to < static_cast<double>(last)) {
            last = std::max<std::int64_t>(0, static_cast<std::int64_t>(to));
        }
    }
    first = std::max<std::int64_t>(0, first / step * step - step);
    last = std::min<std::int64_t>(static_cast<std::int64_t>(count) - 1, last + step);

    if (first == 0) {
        points.emplace_back(left, middle);
    }
    if (last < first) {
        return points;
    }
    // The band's values in one batch: the file is read in a few blocks rather than value by value.
    const std::vector<int> values =
        wave.sampleValues(static_cast<std::size_t>(first), static_cast<std::size_t>(step),
                          static_cast<std::size_t>((last - first) / step + 1));
    std::int64_t idx = first;
    for (const int sample : values) {
        const std::int64_t value = static_cast<std::int64_t>(sample) * height / fullScale;
        const int x =
            left + static_cast<int>(static_cast<double>(idx) / static_cast<double>(count) * cellWidth);
        points.emplace_back(x, middle - static_cast<int>(value));
        idx += step;
    }
    return points;
}

std::string transitionEffectWords(int effect) {
    static const char* const names[] = {
        "random",
        "slide in from left",
        "vertical line blinds",
        "horizontal line blinds",
        "wipe from right",
        "random blocks",
        "spiral blocks",
        "wipe from left",
        "slide in from right",
        "slide in from top",
        "slide in from bottom",
        "diagonal from top left",
        "diagonal from bottom left",
    };
    if (effect < 0 || effect >= static_cast<int>(std::size(names))) {
        return "none";
    }
    return names[effect];
}

std::string durationText(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%0.1f", seconds);
    return text;
}

namespace {

// "3:25", "1:02:03": a clip's length as players show it.
std::string clockText(double seconds) {
    const auto whole =
        static_cast<std::int64_t>(std::isfinite(seconds) ? std::max(0.0, std::round(seconds)) : 0.0);
    char text[64];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(whole / 3600),
                      static_cast<long long>(whole / 60 % 60), static_cast<long long>(whole % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(whole / 60),
                      static_cast<long long>(whole % 60));
    }
    return text;
}

}  // namespace

std::string clipToolTip(const SoundtrackClip& clip) {
    return clipName(clip).toStdString() + "\n" + clockText(clip.durationSeconds);
}

std::string lookWords(const SlideLook& look) {
    static constexpr const char* kMotionWords[] = {"none",     "zoom in",       "zoom out",
                                                   "pan left", "pan right",     "pan up",
                                                   "pan down", "custom motion", "gentle random"};
    std::string words;
    const auto kind = static_cast<std::size_t>(look.motion.kind);
    if (look.motion.kind != MotionKind::None && kind < std::size(kMotionWords))
        words += std::string(", motion: ") + kMotionWords[kind];
    if (look.fit.fit == PhotoFit::Fill) words += ", fills the frame";
    if (look.fit.fit == PhotoFit::BlurredBackground) words += ", on a blurred background";
    if (look.fit.enlargeSmall) words += ", enlarged when small";
    return words;
}

std::string selectionDescription(const SlideShowProject& project) {
    if (const SoundtrackClip* clip = project.clip(project.selectedClip())) {
        return "Clip " + std::to_string(project.selectedClip() + 1) + " of " +
               std::to_string(project.clips().size()) + ", " + clipName(*clip).toStdString() + ", " +
               clockText(clip->durationSeconds);
    }
    const Slide* cell = project.slide(project.selectedSlide());
    if (!cell || !cell->hasPhoto) {
        return "No slide selected";
    }
    std::string text = "Slide " + std::to_string(cell->index + 1) + " of " +
                       std::to_string(project.photoSlideCount()) + ", " + durationText(cell->slideDuration) +
                       " s, transition: " + transitionEffectWords(cell->transitionEffect);
    text += lookWords(cell->look);
    if (cell->photoMissing) {
        text += ", photo missing";
    }
    if (project.selectedSlides().size() > 1) {
        text += ", " + std::to_string(project.selectedSlides().size()) + " slides selected";
    }
    return text;
}

}  // namespace kestrelle::storyboard
