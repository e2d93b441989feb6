#pragma once
// The storyboard: the photo line (one 154-pixel cell per slide or placeholder) and below it the
// soundtrack line with the audio clips drawn as waveforms. It owns the SlideShowProject and shows every
// change the project reports. Photos and audio files arrive by drag and drop: the photo browser's private
// payload (project/photo_drag_payload.h), or local files from a file manager (text/uri-list). The control
// is never shorter than heightForBothLines(), so both lines always show.
//
// Waveforms come from each file's peaks (media/audio_peaks.h), computed on a worker and kept per file:
// painting never reads an audio file. Until a file's peaks are in, its clip shows as a box with its name;
// when they arrive the clip takes its exact (decoded) length and is drawn again.
//
// For the main window:
//     auto* storyboard = new StoryboardControl(this, defaults);  // owns its project, fills the placeholders
//     storyboard->setGeometry(...);
//     storyboard->project().photoSlideCount();          // Start and Preview read the project
//     storyboard->applyDefaultsToAll();                 // "Apply to the current slideshow" (one undo step)
//     storyboard->newSlideshow();                       // "New" (the history cleared)
//     storyboard->project().setCrossfadeProvider(...);  // clips drawn where the mix places them
//     storyboard->setFrameRateProvider(...);            // the frame rate "Fit to Music" fits for
//     storyboard->runFitToMusic(onBeats);               // the menu's "Fit to Music" commands
// Every change the control makes to the slideshow is one step of its undo history (history(): the
// window's Edit menu uses history().stack(), and its clean state for the unsaved-changes mark). Whoever
// changes the project from outside records it the same way:
//     storyboard->history().record(QStringLiteral("Apply Defaults"), [&] { ... });
//     storyboard->loadContent(content);                 // a slideshow opened: no undo step, history cleared
// Several slides may be selected (project().selectedSlides(); selectionChanged() tells of a change);
// Delete, the menu, the chooser and the duration editor act on all of them. Slides arriving without a
// thumbnail (loadContent, setContent) get one from a worker, the visible ones first.
// The control fills its row with placeholders itself whenever it is laid out or resized (one cell wider
// than the view), so callers never call fillPlaceholders. New slides take the defaults the owner hands
// over (the constructor's provider, or project().setDefaultsProvider() later); without one the project's
// own SlideDefaults hold. The control reads no settings itself. The main
// window's own drag code, if any, can use cellAtPoint(), showDropIndicator() and dropPhotos()/dropClips().

#include "media/audio_peaks.h"
#include "project/fit_to_music.h"
#include "project/project_history.h"
#include "project/slideshow_project.h"
#include "project/storyboard_layout.h"
#include "project/ui/clip_beat_cache.h"
#include "project/ui/slide_thumbnail_maker.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QLineEdit>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class QMenu;
class QTimer;

namespace kestrelle {

// The in-place duration editor: stores on Enter and on losing the focus, discards on Escape, and has no
// context menu of its own (its popup would take the focus and store a half-typed value).
class DurationEditor final : public QLineEdit {
    Q_OBJECT
public:
    explicit DurationEditor(QWidget* parent);

Q_SIGNALS:
    void storeRequested();
    void discardRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

class StoryboardControl final : public QAbstractScrollArea, private ProjectObserver {
    Q_OBJECT
public:
    // Colours of the storyboard.
    static constexpr QRgb kSelectionPen = qRgb(50, 50, 200);
    static constexpr QRgb kNormalPen = qRgb(200, 200, 200);
    static constexpr QRgb kWaveformPen = qRgb(0, 90, 180);
    static constexpr QRgb kDropIndicator = qRgb(0, 0, 210);

    // Opens the chooser for a slide: the chosen effect, or none.
    using ChooserOpener =
        std::function<std::optional<int>(QWidget* parent, const SlideShowProject& project, int slide)>;
    // Shows a photo slide's photo enlarged, with the editor of its motion and fit.
    using ViewerOpener = std::function<void(QWidget* parent, const std::string& photoPath, int slide)>;
    // Shows the context menu at a global position and returns after it closed.
    using MenuRunner = std::function<void(QMenu& menu, const QPoint& globalPosition)>;
    // A file's waveform peaks when computed, else null (the file is then queued, and clipPeaksReady
    // follows once they are in).
    using PeakLookup = std::function<const AudioPeaks*(const std::string& path)>;

    // `defaults` supplies the durations and effect of new slides (see SlideShowProject::setDefaultsProvider).
    explicit StoryboardControl(QWidget* parent = nullptr, std::function<SlideDefaults()> defaults = {});
    ~StoryboardControl() override;

    SlideShowProject& project() { return project_; }
    const SlideShowProject& project() const { return project_; }
    // The undo history of every change made here.
    ProjectHistory& history() { return history_; }

    // Replaces the whole slideshow (an opened project file) without an undo step: the history is
    // cleared and clean. Thumbnails the content lacks are made on a worker.
    void loadContent(const ProjectContent& content);
    // An empty slideshow ("New"), the history cleared and clean.
    void newSlideshow();
    // Every slide takes the current defaults, as one undo step.
    void applyDefaultsToAll();
    // Deletes the selected slides (or the selected clip), as one undo step.
    void deleteSelection();
    // Moves the selected slides (or clip) one place, as one undo step.
    void shiftSelection(bool left);
    // Selects these photo slides; `current` is the one the keys act on.
    void selectSlides(const std::vector<int>& slides, int current);

    // Slides still waiting for their thumbnail from the worker.
    bool thumbnailsPending() const;
    // Thumbnails the worker has made so far.
    int thumbnailsMade() const { return thumbnailMaker_ ? thumbnailMaker_->made() : 0; }
    // A slide drag is under way (pressed on a slide and moved past the drag distance).
    bool draggingSlides() const { return slideDrag_; }
    // The tooltip of the cell or clip at a point (client coordinates); empty where there is none.
    QString toolTipAt(const QPoint& point);

    // The horizontal scroll position and its limit.
    int scrollPosition() const;
    int scrollLimitNow() const;
    // Visible client size (the viewport).
    int visibleWidth() const;
    // The control's height that shows both lines whole: kViewHeight of client area plus the frame and
    // the scroll bar. Also the control's minimum height.
    int heightForBothLines() const;

    // The first cell whose painted rectangle holds the point (client coordinates), else -1.
    int cellAtPoint(int x, int y) const { return project_.cellAtPoint(x, y); }
    // Marks the photo slide under the point with the drop bar (nothing over a placeholder or outside).
    void showDropIndicator(int x, int y);
    // Takes the drop bar away.
    void clearDropIndicator();
    int dropIndicatorCell() const { return dropIndicatorCell_; }

    // Selects photo slide i and scrolls it into view; ignored for anything but a photo slide.
    void selectSlide(int i);
    // Selects clip i and scrolls it into view; ignored for anything but a clip.
    void selectClip(int i);
    // Centres cell i in the view (as far as the content allows).
    void scrollIntoView(int i);
    // Scrolls to a position (kept within 0..limit); an open editor closes without storing.
    void scrollTo(int position);

    // The in-place editor (also F2 for the selected slide's duration, Shift+F2 for its transition's).
    void beginDurationEdit(int slide, storyboard::DurationField field);
    void endDurationEdit(bool store);
    bool editing() const { return editingSlide_ >= 0; }
    int editingSlide() const { return editingSlide_; }
    DurationEditor* editor() const { return editor_; }

    // The context menu for the selected slide, or for the selected clip when a clip is selected, its
    // items enabled by the rules of the menu; then "Fit to Music" and "Fit to Music on the Beats".
    std::unique_ptr<QMenu> makeContextMenu();

    // ---- Fit to music
    // The frame rate the stills are fitted for (the current profile's); 29.97 without a provider.
    void setFrameRateProvider(std::function<double()> provider) { frameRateProvider_ = std::move(provider); }
    double frameRate() const;
    // The video's picture size (the current profile's), which some effects' step counts depend on;
    // unknown (0 x 0) without a provider.
    void setVideoSizeProvider(std::function<VideoSize()> provider) {
        videoSizeProvider_ = std::move(provider);
    }
    // Whether the commands can run now: there are clips and photo slides, and no beats are being found.
    bool canFitToMusic() const;
    // Scales the stills so the show lasts as long as the music (fitToMusic). With `onBeats`, every slide
    // change goes on a beat: the beats of each file are found first, once per file, on a worker, while
    // the window stays usable (a busy cursor shows meanwhile); the fit follows when they are in, with the
    // project as it is then. Music too short for 0.5-second stills is said in a message.
    void runFitToMusic(bool onBeats);
    bool findingBeats() const { return beats_.running(); }
    // Stops finding beats (the window is closing); no fit follows.
    void stopFindingBeats();
    // Replace the beat detector (tests).
    void setBeatDetector(ClipBeatCache::Detector detector);

    // ---- Waveforms
    // Replace where the peaks come from (tests); by default a cache made at the first clip.
    void setPeakLookup(PeakLookup lookup);
    // A file's peaks are in: its clips take the decoded length (when the whole file was read), and the
    // line is drawn again.
    void clipPeaksReady(const std::string& path);

    // Puts dropped files onto a line: photos from `firstCell` on (nothing when it is -1), audio files onto
    // the soundtrack. Photos that cannot be shown are left out and named in one message for the whole
    // drop; a file that is no usable audio file gets an error box. Returns the number of files taken.
    int dropPhotos(const std::vector<std::string>& paths, int firstCell);
    int dropClips(const std::vector<std::string>& paths);

    // How many times a drag's payload has been read and its files looked at: once per drag, however
    // often the pointer moves (tests).
    int payloadChecks() const { return payloadChecks_; }
    // Replace the chooser, the photo viewer and the menu (tests).
    void setChooserOpener(ChooserOpener opener) { chooserOpener_ = std::move(opener); }
    void setViewerOpener(ViewerOpener opener) { viewerOpener_ = std::move(opener); }
    void setMenuRunner(MenuRunner runner) { menuRunner_ = std::move(runner); }

    const QFont& titleFont() const { return titleFont_; }
    const QFont& textFont() const { return textFont_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // At the start of every left click (code 2), and after a click that hit no photo slide (code 1).
    void clickNotified(int code);
    // Whether "Fit to Music" can run may have changed (the project changed, beats are being found or
    // are in).
    void fitToMusicAvailabilityChanged();
    // A file's waveform peaks are in and its clips were drawn again.
    void waveformsArrived();
    // The selected slides or clip changed.
    void selectionChanged();
    // Thumbnails made by the worker were put on their slides.
    void thumbnailsArrived();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // ProjectObserver
    void projectChanged() override;
    void contentWidthChanged(int contentWidth) override;
    void scrollCellIntoView(int cell) override;
    void takeFocus() override;
    void scrollClipIntoView(int clip) override;
    void contentReplaced() override;

    // The slides an action on `slide` reaches: the selection when the slide is in it, else the slide.
    std::vector<int> targetsOf(int slide) const;
    // Asks the worker for the thumbnails still missing, those in view first (coalesced).
    void scheduleThumbnails();
    void requestThumbnails();
    // Slide drags within the storyboard.
    void updateSlideDrop(const QPoint& point);
    void endSlideDrag(bool drop);

    void updateScrollRange();
    // The width the view scrolls over: the photo line, or the soundtrack line where its clips reach
    // further.
    int scrollExtent() const;
    void layoutRects();
    void onScrollAction(int action);
    void leftClick(const QPoint& point, Qt::KeyboardModifiers modifiers = {});
    void rightClick(const QPoint& point, const QPoint& globalPoint, bool fromKeyboard = false);
    // The menu key and Shift+F10.
    void showSelectedSlideMenu();
    // The keys on a selected clip; false for a key they leave alone.
    bool clipKey(QKeyEvent* event);
    // Down from the slides onto the clip below the selected slide, Up back onto the slide above the clip.
    void moveSelectionDown();
    void moveSelectionUp();
    void openChooser(int slide);
    // Space on the selected slide: the chooser, or with Shift the photo viewer.
    void activateSelectedSlide(bool viewPhoto);
    void updateAccessibleDescription();
    bool acceptsDrag(const QMimeData* mime, const QPoint& point);
    // The files of the drag in progress, read from `mime` on its first event and kept until the drag
    // leaves or drops, so moving the pointer reads no file names and stats no files.
    const storyboard::DropFiles& dragFiles(const QMimeData& mime);
    void forgetDragFiles();

    void paintCell(QPainter& painter, const Slide& cell);
    void paintSoundtrack(QPainter& painter, const QRect& area);
    // A clip: its box, its waveform and its name, written between `nameFrom` and `nameTo`.
    void paintClip(QPainter& painter, const SoundtrackClip& clip, const QRect& area, int nameFrom, int nameTo,
                   bool selected);
    // The crossfade sign where a clip starts over the end of the one before.
    void paintCrossfades(QPainter& painter);
    const AudioPeaks* peaksFor(const std::string& path);
    // Asks for the peaks of every clip's file (so each gets its exact length) once the project has
    // changed, after the change's notifications are over.
    void scheduleClipMeasuring();
    void measureClips();
    VideoSize videoSize() const;
    void fitWithBeats();
    void finishFit(const FitResult& result);
    void setBusyCursor(bool on);
    void paintDropBar(QPainter& painter);
    void paintFocusRing(QPainter& painter);

    SlideShowProject project_;
    ProjectHistory history_{project_};  // after the project it records
    QFont titleFont_;
    QFont textFont_;
    DurationEditor* editor_ = nullptr;
    int editingSlide_ = -1;
    storyboard::DurationField editingField_ = storyboard::DurationField::Slide;
    int dropIndicatorCell_ = -1;
    std::optional<storyboard::DropFiles> dragFiles_;
    const QMimeData* dragMime_ = nullptr;  // whose files dragFiles_ holds; compared, never dereferenced
    int payloadChecks_ = 0;
    int lastScroll_ = 0;
    bool settingRange_ = false;
    ChooserOpener chooserOpener_;
    ViewerOpener viewerOpener_;
    MenuRunner menuRunner_;
    std::function<double()> frameRateProvider_;
    std::function<VideoSize()> videoSizeProvider_;
    bool measuringScheduled_ = false;
    bool busyCursor_ = false;
    // A press on a slide that may become a drag, and the drag itself.
    int pressSlide_ = -1;
    QPoint pressPoint_;
    bool collapseOnRelease_ = false;  // a plain click inside a multi-selection selects that slide alone
    bool slideDrag_ = false;
    std::vector<int> draggedSlides_;
    int slideDropTarget_ = -1;  // the slide the dragged ones go before; photoSlideCount() is the end
    QTimer* dragScrollTimer_ = nullptr;
    int dragScrollStep_ = 0;  // pixels per tick while the pointer is near an end of the view
    QPoint lastDragPoint_;
    bool thumbnailsScheduled_ = false;
    std::unordered_map<std::string, storyboard::PhotoFileFacts> photoFacts_;  // tooltips' file facts
    ClipBeatCache beats_;
    PeakLookup peakLookup_;
    // Made at the first clip; declared last so that its worker stops before anything it reports to goes.
    std::unique_ptr<AudioPeakCache> peakCache_;
    std::unique_ptr<SlideThumbnailMaker> thumbnailMaker_;
};

}  // namespace kestrelle
