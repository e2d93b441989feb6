#include "project/slideshow_project.h"

#include "config/settings_store.h"
#include "render/photo_loader.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

#include <sys/stat.h>

namespace kestrelle {

namespace {

// Slides only ever carry effect numbers: one outside 0..12 leaves the cell's own number (0 in a new cell
// or a placeholder never given one), so a bad default cannot reach the video.
int storableEffect(int requested, int current) {
    if (isEffectNumber(requested)) {
        return requested;
    }
    return isEffectNumber(current) ? current : 0;
}

}  // namespace

int audioBitRateKbps(int audioBitRateSetting) {
    constexpr int count = static_cast<int>(std::size(kAudioBitRates));
    if (audioBitRateSetting >= 0 && audioBitRateSetting < count) {
        return kAudioBitRates[audioBitRateSetting];
    }
    return kAudioBitRates[3];
}

double clipPixelsPerSecond(int photoCount, double totalSeconds) {
    if (photoCount > 0 && std::isfinite(totalSeconds) && totalSeconds > 0.0) {
        return static_cast<double>(photoCount) * kCellWidth / totalSeconds;
    }
    return kCellWidth / 6.0;
}

namespace {

int clampedWidth(double width) {
    if (!(width > 0.0)) {
        return 0;
    }
    if (width >= kMaxPixelExtent) {
        return kMaxPixelExtent;
    }
    return static_cast<int>(width);
}

}  // namespace

int clipWidthFor(std::uint64_t dataBytes, std::uint32_t averageBytesPerSecond, int photoCount,
                 double totalSeconds) {
    if (averageBytesPerSecond == 0) {
        return 0;
    }
    return clampedWidth(clipPixelsPerSecond(photoCount, totalSeconds) * static_cast<double>(dataBytes) /
                        static_cast<double>(averageBytesPerSecond));
}

int clipWidthForSeconds(double seconds, int photoCount, double totalSeconds) {
    return clampedWidth(clipPixelsPerSecond(photoCount, totalSeconds) * seconds);
}

double parseDurationText(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\r' ||
                                 text[pos] == '\n' || text[pos] == '\f' || text[pos] == '\v')) {
        ++pos;
    }
    // from_chars takes a minus sign but not a plus sign.
    if (pos < text.size() && text[pos] == '+') {
        ++pos;
        if (pos < text.size() && text[pos] == '-') {
            return 0.0;
        }
    }
    double value = 0.0;
    const char* first = text.data() + pos;
    const char* last = text.data() + text.size();
    const auto result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec != std::errc() || !std::isfinite(value)) {
        // No number, or one beyond double range: both count as "no number".
        return 0.0;
    }
    return value;
}

bool isReadablePhotoFile(const std::string& path) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) {
        return false;
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// ---- SlideShowProject: queries

SlideDefaults SlideShowProject::currentDefaults() const {
    SlideDefaults defaults = defaultsProvider_ ? defaultsProvider_() : SlideDefaults{};
    defaults.slideDuration = clampDuration(defaults.slideDuration);
    defaults.transitionDuration = clampDuration(defaults.transitionDuration);
    return defaults;
}

double SlideShowProject::crossfadeSeconds() const {
    const double seconds = crossfadeProvider_ ? crossfadeProvider_() : 0.0;
    return std::isfinite(seconds) ? clampDuration(seconds) : 0.0;
}

void SlideShowProject::setVisibleWidth(int width) {
    visibleWidth_ = std::clamp(width, 0, kMaxPixelExtent);
}

int SlideShowProject::contentWidth() const {
    const std::int64_t width = static_cast<std::int64_t>(cells_.size()) * kCellWidth;
    return width > INT_MAX ? INT_MAX : static_cast<int>(width);
}

const Slide* SlideShowProject::slide(int i) const {
    if (i < 0 || i >= cellCount()) {
        return nullptr;
    }
    return &cells_[static_cast<std::size_t>(i)];
}

double SlideShowProject::totalDuration() const {
    double total = 0.0;
    for (const Slide& s : cells_) {
        if (s.hasPhoto) {
            total += s.slideDuration + s.transitionDuration;
        }
    }
    return total;
}

std::int64_t SlideShowProject::estimatedOutputBytes(const std::optional<OutputRates>& profile) const {
    if (!profile) {
        return 0;
    }
    // A negative video rate from a hand-edited profile must not make the estimate negative, which
    // would pass any free-space check.
    const std::int64_t kbps =
        std::max<std::int64_t>(0, profile->videoBitRate) + audioBitRateKbps(profile->audioBitRate);
    const double total = totalDuration();
    if (!(total >= 1.0)) {
        return 0;
    }
    constexpr double int64Limit = 9223372036854775808.0;  // 2^63, exact as a double
    if (total >= int64Limit) {
        return INT64_MAX;
    }
    const auto seconds = static_cast<std::int64_t>(total);
    std::int64_t bytes = 0;
    if (__builtin_mul_overflow(kbps, seconds, &bytes) ||
        __builtin_mul_overflow(bytes, std::int64_t{128}, &bytes)) {
        return INT64_MAX;
    }
    return bytes;
}

bool SlideShowProject::setSelectedSlide(int i) {
    if (i != -1 && (i < 0 || i >= cellCount() || !cells_[static_cast<std::size_t>(i)].hasPhoto)) {
        return false;
    }
    selectOnly(i);
    return true;
}

bool SlideShowProject::isSlideSelected(int i) const {
    return std::binary_search(selectedSlides_.begin(), selectedSlides_.end(), i);
}

bool SlideShowProject::toggleSlideSelection(int i) {
    if (i < 0 || i >= photoCount_) {
        return false;
    }
    selectedClip_ = -1;
    const auto at = std::lower_bound(selectedSlides_.begin(), selectedSlides_.end(), i);
    if (at != selectedSlides_.end() && *at == i) {
        const auto next = selectedSlides_.erase(at);
        if (selectedSlides_.empty()) {
            selectedSlide_ = -1;
        } else if (selectedSlide_ == i) {
            // The current slide moves to the selected one that now stands nearest after it.
            selectedSlide_ = next != selectedSlides_.end() ? *next : selectedSlides_.back();
        }
    } else {
        selectedSlides_.insert(at, i);
        selectedSlide_ = i;
    }
    selectionAnchor_ = i;
    return true;
}

bool SlideShowProject::extendSlideSelection(int i) {
    if (i < 0 || i >= photoCount_) {
        return false;
    }
    const int anchor = (selectionAnchor_ >= 0 && selectionAnchor_ < photoCount_) ? selectionAnchor_ : i;
    selectedSlides_.clear();
    for (int k = std::min(anchor, i); k <= std::max(anchor, i); ++k) {
        selectedSlides_.push_back(k);
    }
    selectedSlide_ = i;
    selectedClip_ = -1;
    selectionAnchor_ = anchor;
    return true;
}

void SlideShowProject::setSlideSelection(const std::vector<int>& slides, int current) {
    // A copy first: `slides` may be the selection itself.
    const std::vector<int> wanted = slides;
    selectedSlides_.clear();
    for (const int i : wanted) {
        if (i >= 0 && i < photoCount_) {
            selectedSlides_.push_back(i);
        }
    }
    std::sort(selectedSlides_.begin(), selectedSlides_.end());
    selectedSlides_.erase(std::unique(selectedSlides_.begin(), selectedSlides_.end()), selectedSlides_.end());
    if (selectedSlides_.empty()) {
        selectedSlide_ = -1;
    } else {
        selectedSlide_ = isSlideSelected(current) ? current : selectedSlides_.front();
        selectedClip_ = -1;
    }
    selectionAnchor_ = selectedSlide_;
}

void SlideShowProject::selectOnly(int i) {
    selectedSlide_ = i;
    if (i >= 0) {
        selectedClip_ = -1;
    }
    collapseSelection();
}

void SlideShowProject::collapseSelection() {
    selectedSlides_.clear();
    if (selectedSlide_ >= 0 && selectedSlide_ < photoCount_) {
        selectedSlides_.push_back(selectedSlide_);
    } else {
        selectedSlide_ = -1;
    }
    selectionAnchor_ = selectedSlide_;
}

bool SlideShowProject::setSelectedClip(int i) {
    if (i != -1 && (i < 0 || i >= static_cast<int>(clips_.size()))) {
        return false;
    }
    selectedClip_ = i;
    if (i >= 0) {
        selectedSlide_ = -1;
        collapseSelection();
    }
    return true;
}

double SlideShowProject::clipPixelsPerSecondNow() const {
    return clipPixelsPerSecond(photoCount_, totalDuration());
}

int SlideShowProject::clipAtPoint(int x, int y) const {
    for (int i = static_cast<int>(clips_.size()) - 1; i >= 0; --i) {
        if (clips_[static_cast<std::size_t>(i)].cellRect.contains(x, y)) {
            return i;
        }
    }
    return -1;
}

const SoundtrackClip* SlideShowProject::clip(int i) const {
    if (i < 0 || i >= static_cast<int>(clips_.size())) {
        return nullptr;
    }
    return &clips_[static_cast<std::size_t>(i)];
}

void SlideShowProject::setThumbnailPixelRatio(double ratio) {
    thumbnailPixelRatio_ = std::isfinite(ratio) ? std::clamp(ratio, 1.0, 4.0) : 1.0;
}

const QImage* SlideShowProject::thumbnail(int i) const {
    if (i < 0 || i >= static_cast<int>(thumbnails_.size())) {
        return nullptr;
    }
    return &thumbnails_[static_cast<std::size_t>(i)];
}

int SlideShowProject::cellAtPoint(int x, int y) const {
    for (const Slide& s : cells_) {
        if (s.cellRect.contains(x, y)) {
            return s.index;
        }
    }
    return -1;
}

int SlideShowProject::photoSlideAtPoint(int x, int y) const {
    int found = -1;
    for (const Slide& s : cells_) {
        if (s.hasPhoto && s.cellRect.contains(x, y)) {
            found = s.index;
        }
    }
    return found;
}

bool SlideShowProject::setCellRect(int i, const CellRect& rect) {
    if (i < 0 || i >= cellCount()) {
        return false;
    }
    cells_[static_cast<std::size_t>(i)].cellRect = rect;
    return true;
}

bool SlideShowProject::setClipRect(int i, const CellRect& rect) {
    if (i < 0 || i >= static_cast<int>(clips_.size())) {
        return false;
    }
    clips_[static_cast<std::size_t>(i)].cellRect = rect;
    return true;
}

// ---- SlideShowProject: editing

Slide SlideShowProject::makeEmptyCell() {
    Slide cell;
    cell.index = -1;
    cell.cellWidth = kCellWidth;
    return cell;
}

double SlideShowProject::clampDuration(double seconds) {
    if (std::isnan(seconds)) {
        return 0.0;
    }
    return std::clamp(seconds, 0.0, kMaxDurationSeconds);
}

void SlideShowProject::appendPlaceholder() {
    Slide cell = makeEmptyCell();
    cell.index = cellCount();
    cells_.push_back(std::move(cell));
    notifyContentWidth();
}

void SlideShowProject::fillPlaceholders(int width) {
    const int count = std::clamp(width, 0, kMaxPixelExtent) / kCellWidth + 1;
    for (int i = 0; i < count; ++i) {
        appendPlaceholder();
    }
}

std::optional<QImage> SlideShowProject::makeThumbnail(const std::string& path) const {
    QImage picture;
    const int pixelWidth = static_cast<int>(std::lround(kThumbnailWidth * thumbnailPixelRatio_));
    const int pixelHeight = static_cast<int>(std::lround(kThumbnailHeight * thumbnailPixelRatio_));
    if (!makesThumbnails_) {
        if (!isSupportedPhotoName(path)) {
            return std::nullopt;
        }
        return picture;
    }
    // The file's type is checked before it is opened at all: the loader must never wait on a FIFO.
    if (refusesUnreadablePhotos_ && !isReadablePhotoFile(path)) {
        return std::nullopt;
    }
    bool decoded = false;
    if (!PhotoLoader::load(picture, pixelWidth, pixelHeight, path, kWhiteBackground, &decoded) ||
        (refusesUnreadablePhotos_ && !decoded)) {
        return std::nullopt;
    }
    if (!picture.isNull()) {
        picture.setDevicePixelRatio(thumbnailPixelRatio_);
    }
    return picture;
}

Slide SlideShowProject::makePhotoCell(const std::string& path, QImage thumbnail, int effect,
                                      double slideDuration, double transitionDuration) {
    Slide cell = makeEmptyCell();
    cell.hasPhoto = true;
    cell.transitionEffect = storableEffect(effect, cell.transitionEffect);
    cell.slideDuration = clampDuration(slideDuration);
    cell.transitionDuration = clampDuration(transitionDuration);
    cell.photoPath = path;
    cell.look = currentDefaults().look;
    thumbnails_.push_back(std::move(thumbnail));
    cell.thumbnailIndex = static_cast<int>(thumbnails_.size()) - 1;
    return cell;
}

int SlideShowProject::insertPhoto(const std::string& path, int position, int effect, double slideDuration,
                                  double transitionDuration) {
    if (position < 0) {
        return -1;
    }
    // The thumbnail is made before any cell changes, so a file that cannot give one leaves the
    // project exactly as it was (no cell, no thumbnail slot).
    std::optional<QImage> picture = makeThumbnail(path);
    if (!picture) {
        return -1;
    }

    const int photos = photoCount_;
    if (position >= photos) {
        // On or after the first placeholder: the photo goes into the first placeholder, right after
        // the existing photos. A row that was never filled gets its placeholder first.
        if (placeholderCount() == 0) {
            appendPlaceholder();
        }
        Slide& cell = cells_[static_cast<std::size_t>(photos)];
        Slide filled = makePhotoCell(path, std::move(*picture), effect, slideDuration, transitionDuration);
        // The placeholder keeps its effect when the requested one is not storable.
        filled.transitionEffect = storableEffect(effect, cell.transitionEffect);
        filled.index = cell.index;
        filled.cellRect = cell.cellRect;
        cell = std::move(filled);
        ++photoCount_;
        if (placeholderCount() == 0) {
            appendPlaceholder();
        }
        selectOnly(photos);  // the new slide is the selection
        notifyScroll(photos);
    } else {
        // On a photo: a new cell goes in before it. With fewer than two placeholders the row grows,
        // otherwise its last placeholder goes, so the row keeps its length.
        Slide cell = makePhotoCell(path, std::move(*picture), effect, slideDuration, transitionDuration);
        cellSteps_ += cells_.size() - static_cast<std::size_t>(position);
        cells_.insert(cells_.begin() + position, std::move(cell));
        ++photoCount_;
        if (placeholderCount() >= 2) {
            cells_.pop_back();
        }
        renumber();
        notifyContentWidth();
        selectOnly(position);  // the new slide is the selection
        notifyScroll(position);
        relayoutClips();
    }
    notifyChanged();
    notifyFocus();
    return cellCount() - 1;
}

int SlideShowProject::insertPhotos(const std::vector<std::string>& paths, int position, int effect,
                                   double slideDuration, double transitionDuration,
                                   std::vector<std::string>* refused) {
    if (position < 0) {
        return 0;
    }
    std::vector<Slide> added;
    for (const std::string& path : paths) {
        std::optional<QImage> picture = makeThumbnail(path);
        if (!picture) {
            if (refused) {
                refused->push_back(path);
            }
            continue;
        }
        added.push_back(makePhotoCell(path, std::move(*picture), effect, slideDuration, transitionDuration));
    }
    if (added.empty()) {
        return 0;
    }
    const int count = static_cast<int>(added.size());
    const int photos = photoCount_;
    const int cellsBefore = cellCount();
    if (position >= photos) {
        // Into the placeholders after the photos, as many as there are, then new cells; one placeholder
        // always follows. Filled placeholders keep their own effect when the requested one is not storable.
        for (int i = 0; i < count; ++i) {
            const std::size_t at = static_cast<std::size_t>(photos + i);
            if (at < cells_.size()) {
                added[static_cast<std::size_t>(i)].transitionEffect =
                    storableEffect(effect, cells_[at].transitionEffect);
                added[static_cast<std::size_t>(i)].index = cells_[at].index;
                added[static_cast<std::size_t>(i)].cellRect = cells_[at].cellRect;
                cells_[at] = std::move(added[static_cast<std::size_t>(i)]);
            } else {
                added[static_cast<std::size_t>(i)].index = static_cast<int>(at);
                cells_.push_back(std::move(added[static_cast<std::size_t>(i)]));
            }
            ++cellSteps_;
        }
        photoCount_ += count;
        if (placeholderCount() == 0) {
            Slide cell = makeEmptyCell();
            cell.index = cellCount();
            cells_.push_back(std::move(cell));
        }
        selectOnly(photos + count - 1);  // the new slide is the selection
        if (cellCount() != cellsBefore) {
            notifyContentWidth();
        }
        notifyScroll(selectedSlide_);
    } else {
        // Before a photo: each single insertion would take one spare placeholder from the end while at
        // least two are left, so the batch takes as many as that allows.
        const int spare = std::max(0, placeholderCount() - 1);
        cellSteps_ += cells_.size() - static_cast<std::size_t>(position) + added.size();
        cells_.insert(cells_.begin() + position, std::make_move_iterator(added.begin()),
                      std::make_move_iterator(added.end()));
        photoCount_ += count;
        cells_.resize(cells_.size() - static_cast<std::size_t>(std::min(count, spare)));
        renumber();
        notifyContentWidth();
        selectOnly(position + count - 1);  // the new slide is the selection
        notifyScroll(selectedSlide_);
        relayoutClips();
    }
    notifyChanged();
    notifyFocus();
    return count;
}

bool SlideShowProject::deleteSlide(int i) {
    if (i < 0 || i >= cellCount() || !cells_[static_cast<std::size_t>(i)].hasPhoto) {
        return false;
    }
    const int photos = photoCount_;
    if (i == selectedSlide_) {
        // The last photo passes the selection to the one before it; any other passes it to the
        // slide that moves into the gap.
        if (i + 1 == photos) {
            selectedSlide_ = i - 1;
        }
    } else if (selectedSlide_ > i) {
        // Another slide is selected further on: keep selecting that same slide.
        --selectedSlide_;
    }
    // The cell goes; its thumbnail stays in the list.
    cellSteps_ += cells_.size() - static_cast<std::size_t>(i);
    cells_.erase(cells_.begin() + i);
    --photoCount_;
    if (visibleWidth_ / kCellWidth >= cellCount()) {
        Slide cell = makeEmptyCell();
        cells_.push_back(std::move(cell));
    }
    renumber();
    collapseSelection();
    notifyContentWidth();
    notifyScroll(selectedSlide_);
    notifyChanged();
    return true;
}

void SlideShowProject::shiftSlideLeft() {
    const int photos = photoCount_;
    if (selectedSlide_ <= 0 || selectedSlide_ >= photos || photos < 2) {
        return;
    }
    swapSlideContents(selectedSlide_ - 1, selectedSlide_);
    --selectedSlide_;
    collapseSelection();
    notifyScroll(selectedSlide_);
    notifyChanged();
}

void SlideShowProject::shiftSlideRight() {
    const int photos = photoCount_;
    // Nothing is selected, or the last photo is: there is nowhere to go.
    if (selectedSlide_ < 0 || selectedSlide_ >= firstPlaceholderIndex() - 1 || photos < 2) {
        return;
    }
    swapSlideContents(selectedSlide_ + 1, selectedSlide_);
    ++selectedSlide_;
    collapseSelection();
    notifyScroll(selectedSlide_);
    notifyChanged();
}

bool SlideShowProject::swapSlideContents(int a, int b) {
    if (a < 0 || b < 0 || a >= cellCount() || b >= cellCount()) {
        return false;
    }
    Slide& x = cells_[static_cast<std::size_t>(a)];
    Slide& y = cells_[static_cast<std::size_t>(b)];
    std::swap(x.hasPhoto, y.hasPhoto);
    std::swap(x.transitionEffect, y.transitionEffect);
    std::swap(x.transitionDuration, y.transitionDuration);
    std::swap(x.slideDuration, y.slideDuration);
    std::swap(x.photoPath, y.photoPath);
    std::swap(x.thumbnailIndex, y.thumbnailIndex);
    std::swap(x.photoMissing, y.photoMissing);
    std::swap(x.look, y.look);
    return true;
}

bool SlideShowProject::setSlideLook(int i, const SlideLook& look) {
    if (i < 0 || i >= photoCount_) return false;
    Slide& cell = cells_[static_cast<std::size_t>(i)];
    if (cell.look == look) return true;
    cell.look = look;
    notifyChanged();
    return true;
}

bool SlideShowProject::setSlideDuration(int i, double seconds) {
    if (i < 0 || i >= cellCount()) {
        return false;
    }
    // NaN fails the comparison and +infinity is no duration either: both take the default.
    const double value =
        (seconds > 0.0 && std::isfinite(seconds)) ? clampDuration(seconds) : currentDefaults().slideDuration;
    cells_[static_cast<std::size_t>(i)].slideDuration = value;
    notifyChanged();
    return true;
}

bool SlideShowProject::setTransitionDuration(int i, double seconds) {
    if (i < 0 || i >= cellCount()) {
        return false;
    }
    const double value = (seconds > 0.0 && std::isfinite(seconds)) ? clampDuration(seconds)
                                                                   : currentDefaults().transitionDuration;
    cells_[static_cast<std::size_t>(i)].transitionDuration = value;
    notifyChanged();
    return true;
}

bool SlideShowProject::setSlideDurationText(int i, std::string_view text) {
    return setSlideDuration(i, parseDurationText(text));
}

bool SlideShowProject::setTransitionDurationText(int i, std::string_view text) {
    return setTransitionDuration(i, parseDurationText(text));
}

bool SlideShowProject::setTransitionEffect(int i, int effect) {
    if (i < 0 || i >= cellCount()) {
        return false;
    }
    if (!isEffectNumber(effect)) {
        return false;
    }
    cells_[static_cast<std::size_t>(i)].transitionEffect = effect;
    notifyChanged();
    return true;
}

void SlideShowProject::applyDefaultsToAll() {
    const SlideDefaults defaults = currentDefaults();
    for (Slide& cell : cells_) {
        cell.slideDuration = defaults.slideDuration;
        cell.transitionDuration = defaults.transitionDuration;
        cell.transitionEffect = storableEffect(defaults.transitionEffect, cell.transitionEffect);
    }
    notifyChanged();
}

void SlideShowProject::resetProject() {
    cells_.clear();
    photoCount_ = 0;
    clips_.clear();
    selectedSlide_ = -1;
    selectedClip_ = -1;
    collapseSelection();
    notifyContentWidth();
    fillPlaceholders(visibleWidth_);
    notifyChanged();
}

AudioOpenResult SlideShowProject::addClip(const std::string& path) {
    AudioFileFacts facts;
    const AudioOpenResult result = probeAudioFile(path, &facts);
    if (result != AudioOpenResult::Ok) {
        return result;
    }
    if (facts.isWave && facts.wavePcm) {
        // Drawn by its data chunk, as a PCM WAV always was; played for as long as its samples last.
        addMeasuredClip(path, facts.dataBytes, facts.averageBytesPerSecond);
        clips_.back().durationSeconds = clampDuration(facts.durationSeconds);
    } else {
        // Any other format, WAVs in float or compressed samples too (whose data-chunk measure is no
        // length at all): drawn and played by its length.
        addTimedClip(path, facts.durationSeconds);
    }
    return AudioOpenResult::Ok;
}

void SlideShowProject::addTimedClip(const std::string& path, double seconds) {
    SoundtrackClip clip;
    clip.wavePath = path;
    clip.durationSeconds = std::isfinite(seconds) ? clampDuration(seconds) : 0.0;
    clip.cellWidth = clipWidthForSeconds(clip.durationSeconds, photoSlideCount(), totalDuration());
    clips_.push_back(std::move(clip));
    notifyChanged();
}

void SlideShowProject::addMeasuredClip(const std::string& path, std::uint64_t dataBytes,
                                       std::uint32_t averageBytesPerSecond) {
    SoundtrackClip clip;
    clip.wavePath = path;
    clip.dataBytes = dataBytes;
    clip.averageBytesPerSecond = averageBytesPerSecond;
    clip.durationSeconds =
        averageBytesPerSecond == 0 ? 0.0 : static_cast<double>(dataBytes) / averageBytesPerSecond;
    clip.cellWidth = clipWidthFor(dataBytes, averageBytesPerSecond, photoSlideCount(), totalDuration());
    clips_.push_back(std::move(clip));
    notifyChanged();
}

int SlideShowProject::clipWidth(const SoundtrackClip& clip, int photos, double total) const {
    // A WAV file keeps the width of its data chunk; any other file is as wide as its length.
    return clip.averageBytesPerSecond > 0
               ? clipWidthFor(clip.dataBytes, clip.averageBytesPerSecond, photos, total)
               : clipWidthForSeconds(clip.durationSeconds, photos, total);
}

void SlideShowProject::relayoutClips() {
    const int photos = photoCount_;
    const double total = totalDuration();
    for (SoundtrackClip& clip : clips_) {
        clip.cellWidth = clipWidth(clip, photos, total);
    }
    notifyChanged();
}

bool SlideShowProject::deleteClip(int i) {
    const int count = static_cast<int>(clips_.size());
    if (i < 0 || i >= count) {
        return false;
    }
    if (i == selectedClip_) {
        // As with slides: the last clip passes the selection back, any other to the clip moving up.
        if (i + 1 == count) {
            selectedClip_ = i - 1;
        }
    } else if (selectedClip_ > i) {
        --selectedClip_;
    }
    clips_.erase(clips_.begin() + i);
    notifyClipScroll(selectedClip_);
    notifyChanged();
    return true;
}

void SlideShowProject::shiftClipLeft() {
    if (selectedClip_ <= 0 || selectedClip_ >= static_cast<int>(clips_.size())) {
        return;
    }
    std::swap(clips_[static_cast<std::size_t>(selectedClip_ - 1)],
              clips_[static_cast<std::size_t>(selectedClip_)]);
    --selectedClip_;
    notifyClipScroll(selectedClip_);
    notifyChanged();
}

void SlideShowProject::shiftClipRight() {
    if (selectedClip_ < 0 || selectedClip_ + 1 >= static_cast<int>(clips_.size())) {
        return;
    }
    std::swap(clips_[static_cast<std::size_t>(selectedClip_ + 1)],
              clips_[static_cast<std::size_t>(selectedClip_)]);
    ++selectedClip_;
    notifyClipScroll(selectedClip_);
    notifyChanged();
}

bool SlideShowProject::setClipDuration(int i, double seconds) {
    if (i < 0 || i >= static_cast<int>(clips_.size()) || !std::isfinite(seconds) || seconds < 0.0) {
        return false;
    }
    SoundtrackClip& clip = clips_[static_cast<std::size_t>(i)];
    const double value = clampDuration(seconds);
    if (value == clip.durationSeconds) {
        return false;
    }
    clip.durationSeconds = value;
    clip.cellWidth = clipWidth(clip, photoCount_, totalDuration());
    notifyChanged();
    return true;
}

int SlideShowProject::setClipDurationForPath(const std::string& path, double seconds) {
    int changed = 0;
    for (int i = 0; i < static_cast<int>(clips_.size()); ++i) {
        if (clips_[static_cast<std::size_t>(i)].wavePath == path && setClipDuration(i, seconds)) {
            ++changed;
        }
    }
    return changed;
}

int SlideShowProject::deleteSlides(const std::vector<int>& slides) {
    std::vector<char> doomed(static_cast<std::size_t>(photoCount_), 0);
    int count = 0;
    int first = -1;
    for (const int i : slides) {
        if (i >= 0 && i < photoCount_ && !doomed[static_cast<std::size_t>(i)]) {
            doomed[static_cast<std::size_t>(i)] = 1;
            ++count;
            first = first < 0 ? i : std::min(first, i);
        }
    }
    if (count == 0) {
        return 0;
    }
    if (count == 1) {
        // One slide goes exactly as the Delete key always took it, selection rules included.
        deleteSlide(first);
        return 1;
    }
    // The thumbnails stay in the list; the cells go in one pass.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < cells_.size(); ++i) {
        if (i < doomed.size() && doomed[i]) {
            continue;
        }
        if (kept != i) {
            cells_[kept] = std::move(cells_[i]);
        }
        ++kept;
    }
    cells_.resize(kept);
    cellSteps_ += cells_.size();
    photoCount_ -= count;
    while (visibleWidth_ / kCellWidth >= cellCount() || placeholderCount() == 0) {
        cells_.push_back(makeEmptyCell());
    }
    renumber();
    // The slide that moved into the place of the first deleted one, or the last photo.
    selectedSlide_ = photoCount_ == 0 ? -1 : std::min(first, photoCount_ - 1);
    if (selectedSlide_ >= 0) {
        selectedClip_ = -1;
    }
    collapseSelection();
    notifyContentWidth();
    notifyScroll(selectedSlide_);
    relayoutClips();
    notifyChanged();
    return count;
}

bool SlideShowProject::moveSlides(const std::vector<int>& slides, int before) {
    std::vector<char> moving(static_cast<std::size_t>(photoCount_), 0);
    for (const int i : slides) {
        if (i >= 0 && i < photoCount_) {
            moving[static_cast<std::size_t>(i)] = 1;
        }
    }
    const int target = std::clamp(before, 0, photoCount_);
    std::vector<Slide> moved;
    std::vector<Slide> head;  // the unmoved slides before the target, then the moved, then the rest
    std::vector<Slide> tail;
    for (int i = 0; i < photoCount_; ++i) {
        Slide& cell = cells_[static_cast<std::size_t>(i)];
        if (moving[static_cast<std::size_t>(i)]) {
            moved.push_back(std::move(cell));
        } else if (i < target) {
            head.push_back(std::move(cell));
        } else {
            tail.push_back(std::move(cell));
        }
    }
    const int first = static_cast<int>(head.size());
    const int count = static_cast<int>(moved.size());
    bool changed = false;
    int k = 0;
    for (auto* part : {&head, &moved, &tail}) {
        for (Slide& cell : *part) {
            // A slide that keeps its position keeps it; any other one changes the order.
            changed = changed || cell.index != k;
            const CellRect rect = cells_[static_cast<std::size_t>(k)].cellRect;
            cells_[static_cast<std::size_t>(k)] = std::move(cell);
            cells_[static_cast<std::size_t>(k)].cellRect = rect;
            ++k;
        }
    }
    cellSteps_ += static_cast<std::uint64_t>(photoCount_);
    renumber();
    if (count == 0) {
        return false;
    }
    std::vector<int> selection;
    for (int i = first; i < first + count; ++i) {
        selection.push_back(i);
    }
    setSlideSelection(selection, first);
    if (changed) {
        notifyScroll(first);
        notifyChanged();
    }
    return changed;
}

void SlideShowProject::shiftSelectionLeft() {
    if (selectedSlides_.size() <= 1) {
        shiftSlideLeft();
        return;
    }
    const int first = selectedSlides_.front();
    const int current = selectedSlide_;
    const int offset = current - first;
    const std::vector<int> selection = selectedSlides_;
    if (moveSlides(selection, std::max(0, first - 1))) {
        const std::vector<int> moved = selectedSlides_;
        setSlideSelection(moved, moved.front() + offset);
    } else {
        setSlideSelection(selection, current);
    }
}

void SlideShowProject::shiftSelectionRight() {
    if (selectedSlides_.size() <= 1) {
        shiftSlideRight();
        return;
    }
    const int first = selectedSlides_.front();
    const int last = selectedSlides_.back();
    const int current = selectedSlide_;
    const int offset = current - first;
    const std::vector<int> selection = selectedSlides_;
    // The block goes before the slide that stands two after its last one (or to the end), so it passes
    // one slide; slides apart are first gathered where the first of them stands.
    const bool together = last - first + 1 == static_cast<int>(selection.size());
    const int before = together ? last + 2 : first;
    if (moveSlides(selection, before)) {
        const std::vector<int> moved = selectedSlides_;
        setSlideSelection(moved, moved.front() + offset);
    } else {
        setSlideSelection(selection, current);
    }
}

// ---- SlideShowProject: whole content

ProjectContent SlideShowProject::content() const {
    ProjectContent result;
    result.slides.reserve(static_cast<std::size_t>(photoCount_));
    for (int i = 0; i < photoCount_; ++i) {
        const Slide& cell = cells_[static_cast<std::size_t>(i)];
        SlideContent slide;
        slide.photoPath = cell.photoPath;
        slide.slideDuration = cell.slideDuration;
        slide.transitionDuration = cell.transitionDuration;
        slide.transitionEffect = cell.transitionEffect;
        slide.thumbnailIndex = cell.thumbnailIndex;
        slide.photoMissing = cell.photoMissing;
        slide.look = cell.look;
        result.slides.push_back(std::move(slide));
    }
    result.clips.reserve(clips_.size());
    for (const SoundtrackClip& clip : clips_) {
        ClipContent c;
        c.path = clip.wavePath;
        c.durationSeconds = clip.durationSeconds;
        c.dataBytes = clip.dataBytes;
        c.averageBytesPerSecond = clip.averageBytesPerSecond;
        result.clips.push_back(std::move(c));
    }
    result.motionSeed = motionSeed_;
    return result;
}

void SlideShowProject::setContent(const ProjectContent& content) {
    const int cellsBefore = cellCount();
    std::vector<Slide> cells;
    const std::size_t photos = content.slides.size();
    motionSeed_ = content.motionSeed;
    // The painted rectangles stay with the positions they were painted at.
    const auto rectAt = [this](std::size_t i) { return i < cells_.size() ? cells_[i].cellRect : CellRect{}; };
    const std::size_t placeholders =
        std::max<std::size_t>(1, static_cast<std::size_t>(visibleWidth_ / kCellWidth + 1) > photos
                                     ? static_cast<std::size_t>(visibleWidth_ / kCellWidth + 1) - photos
                                     : 1);
    cells.reserve(photos + placeholders);
    for (const SlideContent& slide : content.slides) {
        Slide cell = makeEmptyCell();
        cell.index = static_cast<int>(cells.size());
        cell.hasPhoto = true;
        cell.photoPath = slide.photoPath;
        cell.slideDuration = clampDuration(slide.slideDuration);
        cell.transitionDuration = clampDuration(slide.transitionDuration);
        cell.transitionEffect = isEffectNumber(slide.transitionEffect) ? slide.transitionEffect : 0;
        cell.photoMissing = slide.photoMissing;
        cell.look = slide.look;
        int thumbnail = slide.thumbnailIndex;
        if (thumbnail < 0 || thumbnail >= static_cast<int>(thumbnails_.size())) {
            // None given: one made for the path since (provideThumbnail) stands in.
            const auto known = pathThumbnails_.find(slide.photoPath);
            thumbnail = known != pathThumbnails_.end() ? known->second : -1;
        }
        cell.thumbnailIndex = thumbnail;
        cell.cellRect = rectAt(cells.size());
        cells.push_back(std::move(cell));
    }
    for (std::size_t i = 0; i < placeholders; ++i) {
        Slide cell = makeEmptyCell();
        cell.index = static_cast<int>(cells.size());
        cell.cellRect = rectAt(cells.size());
        cells.push_back(std::move(cell));
    }
    cells_ = std::move(cells);
    photoCount_ = static_cast<int>(photos);
    cellSteps_ += cells_.size();

    clips_.clear();
    clips_.reserve(content.clips.size());
    for (const ClipContent& c : content.clips) {
        SoundtrackClip clip;
        clip.wavePath = c.path;
        clip.durationSeconds = std::isfinite(c.durationSeconds) ? clampDuration(c.durationSeconds) : 0.0;
        clip.dataBytes = c.dataBytes;
        clip.averageBytesPerSecond = c.averageBytesPerSecond;
        clips_.push_back(std::move(clip));
    }
    const double total = totalDuration();
    for (SoundtrackClip& clip : clips_) {
        clip.cellWidth = clipWidth(clip, photoCount_, total);
    }

    selectedSlide_ = -1;
    selectedClip_ = -1;
    collapseSelection();
    if (cellCount() != cellsBefore) {
        notifyContentWidth();
    }
    if (observer_) {
        observer_->contentReplaced();
    }
    notifyChanged();
}

int SlideShowProject::provideThumbnail(const std::string& path, QImage thumbnail) {
    thumbnails_.push_back(std::move(thumbnail));
    const int index = static_cast<int>(thumbnails_.size()) - 1;
    pathThumbnails_[path] = index;
    int taken = 0;
    for (int i = 0; i < photoCount_; ++i) {
        Slide& cell = cells_[static_cast<std::size_t>(i)];
        if (cell.thumbnailIndex < 0 && cell.photoPath == path) {
            cell.thumbnailIndex = index;
            ++taken;
        }
    }
    if (taken > 0) {
        notifyChanged();
    }
    return taken;
}

bool SlideShowProject::slideNeedsThumbnail(int i) const {
    const Slide* cell = slide(i);
    return cell && cell->hasPhoto && !cell->photoMissing && cell->thumbnailIndex < 0;
}

// ---- SlideShowProject: helpers

void SlideShowProject::renumber() {
    for (std::size_t i = 0; i < cells_.size(); ++i) {
        cells_[i].index = static_cast<int>(i);
    }
    cellSteps_ += cells_.size();
}

void SlideShowProject::notifyChanged() {
    if (observer_) {
        observer_->projectChanged();
    }
}

void SlideShowProject::notifyContentWidth() {
    if (observer_) {
        observer_->contentWidthChanged(contentWidth());
    }
}

void SlideShowProject::notifyScroll(int cell) {
    if (observer_) {
        observer_->scrollCellIntoView(cell);
    }
}

void SlideShowProject::notifyClipScroll(int clip) {
    if (observer_ && clip >= 0) {
        observer_->scrollClipIntoView(clip);
    }
}

void SlideShowProject::notifyFocus() {
    if (observer_) {
        observer_->takeFocus();
    }
}

}  // namespace kestrelle
