// The storyboard, the transition chooser, the photo viewer and the program's small pictures.

#include "project/transition_sample.h"
#include "project/ui/motion_editor_widget.h"
#include "project/ui/photo_viewer_dialog.h"
#include "project/ui/storyboard_control.h"
#include "render/ui/drag_pictures.h"
#include "render/ui/transition_chooser.h"
#include "render/ui/transition_icons.h"
#include "tests/gallery/gallery.h"

#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace {

using namespace kestrelle;

void putLe(QByteArray& bytes, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

namespace kestrelle::gallery {

// A 16-bit mono tone of `seconds` that swells and fades `swells` times, for the soundtrack line.
std::string sampleWavePath(const std::string& name, double seconds, double swells) {
    const std::string path = gallery::samplePhotoFolder() + "/../" + name;
    const int rate = 8000;
    const int count = static_cast<int>(rate * seconds);
    QByteArray data;
    for (int i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double envelope = 0.1 + 0.8 * (1 - std::cos(t / seconds * 3.14159265 * 2 * swells)) / 2;
        putLe(data,
              static_cast<std::uint16_t>(
                  static_cast<std::int16_t>(32767 * envelope * std::sin(t * 2 * 3.14159265 * 3))),
              2);
    }
    QByteArray file("RIFF");
    putLe(file, static_cast<std::uint32_t>(36 + data.size()), 4);
    file.append("WAVEfmt ");
    putLe(file, 16, 4);
    putLe(file, 1, 2);
    putLe(file, 1, 2);
    putLe(file, rate, 4);
    putLe(file, rate * 2, 4);
    putLe(file, 2, 2);
    putLe(file, 16, 2);
    file.append("data");
    putLe(file, static_cast<std::uint32_t>(data.size()), 4);
    file.append(data);
    QFile out(QString::fromStdString(path));
    if (out.open(QIODevice::WriteOnly)) out.write(file);
    return path;
}

}  // namespace kestrelle::gallery

namespace {

using kestrelle::gallery::sampleWavePath;

KESTRELLE_GALLERY_ENTRY(
    {"storyboard", [] {
         auto storyboard = std::make_unique<StoryboardControl>();
         // Its own height: both lines show.
         storyboard->resize(840, storyboard->heightForBothLines());
         storyboard->project().setDefaultsProvider([] { return SlideDefaults{3.0, 1.5, 0}; });
         // Two songs on the line, the second starting 2 s early in a crossfade.
         storyboard->project().setCrossfadeProvider([] { return 2.0; });
         const std::vector<std::string> photos = gallery::samplePhotoPaths();
         for (std::size_t i = 0; i < 5 && i < photos.size(); ++i) {
             storyboard->project().insertPhoto(photos[i], static_cast<int>(i), static_cast<int>(i * 3 % 13),
                                               3.0 + i, 1.5);
         }
         // Two slides that move, marked in their pictures.
         SlideLook gentle;
         gentle.motion.kind = MotionKind::GentleRandom;
         storyboard->project().setSlideLook(0, gentle);
         SlideLook zoom;
         zoom.motion.kind = MotionKind::ZoomIn;
         zoom.fit.fit = PhotoFit::Fill;
         storyboard->project().setSlideLook(2, zoom);
         storyboard->project().addClip(sampleWavePath("Morning Theme.wav", 11.0, 2.0));
         storyboard->project().addClip(sampleWavePath("A song with a rather long name.wav", 16.0, 3.0));
         storyboard->project().relayoutClips();
         StoryboardControl* raw = storyboard.get();
         QTimer::singleShot(50, raw, [raw] {
             raw->scrollTo(0);
             raw->selectSlide(1);
             raw->beginDurationEdit(3, storyboard::DurationField::Slide);
             raw->editor()->setText(QStringLiteral("4.5"));
         });
         return std::unique_ptr<QWidget>(std::move(storyboard));
     }});

// The soundtrack line with the focus on a selected clip, scrolled along a little, as a keyboard user
// sees it after pressing Down.
KESTRELLE_GALLERY_ENTRY({"storyboard_clip_selected",
                         [] {
                             auto storyboard = std::make_unique<StoryboardControl>();
                             storyboard->resize(840, storyboard->heightForBothLines());
                             storyboard->project().setCrossfadeProvider([] { return 2.0; });
                             const std::vector<std::string> photos = gallery::samplePhotoPaths();
                             for (std::size_t i = 0; i < 6 && i < photos.size(); ++i) {
                                 storyboard->project().insertPhoto(photos[i], static_cast<int>(i), 1, 3.0,
                                                                   1.0);
                             }
                             storyboard->project().addClip(sampleWavePath("Morning Theme.wav", 11.0, 2.0));
                             storyboard->project().addClip(sampleWavePath("Evening.wav", 6.0, 1.0));
                             storyboard->project().addClip(sampleWavePath("Night.wav", 9.0, 4.0));
                             StoryboardControl* raw = storyboard.get();
                             QTimer::singleShot(50, raw, [raw] {
                                 raw->setFocus();
                                 raw->selectClip(1);
                             });
                             return std::unique_ptr<QWidget>(std::move(storyboard));
                         },
                         800});

// Plays the first steps of each run at their pace, then holds the picture until the chooser closes.
class HoldingSleeper final : public StoppableSleeper {
public:
    void sleepMs(int milliseconds) override {
        std::unique_lock lock(mutex_);
        ++steps_;
        const auto wait = steps_ >= 4 ? std::chrono::hours(1) : std::chrono::milliseconds(milliseconds);
        wake_.wait_for(lock, wait, [this] { return interrupted_; });
    }
    void interrupt() override {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        wake_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    int steps_ = 0;
    bool interrupted_ = false;
};

// The chooser half-way through a sample of the spiral, from one photo into the next.
class SampleChooserHolder final : public QWidget {
public:
    SampleChooserHolder() {
        for (const std::string& photo : gallery::samplePhotoPaths()) {
            project_.insertPhoto(photo, project_.photoSlideCount(), 0, 3.0, 1.0);
        }
    }
    SlideShowProject project_;
    HoldingSleeper sleeper_;
};

KESTRELLE_GALLERY_ENTRY({"transition_chooser",
                         [] {
                             static SampleChooserHolder* holder = nullptr;
                             delete holder;
                             holder = new SampleChooserHolder;
                             auto chooser = std::make_unique<TransitionChooser>(
                                 nullptr, sampleSourceFor(&holder->project_, 1), &holder->sleeper_);
                             chooser->pointAt(6);
                             chooser->button(6)->setFocus();
                             return std::unique_ptr<QWidget>(std::move(chooser));
                         },
                         900});

KESTRELLE_GALLERY_ENTRY({"photo_viewer",
                         [] {
                             const std::vector<std::string> photos = gallery::samplePhotoPaths();
                             auto viewer = std::make_unique<PhotoViewerDialog>(
                                 nullptr, photos.size() > 2 ? photos[2] : std::string());
                             return std::unique_ptr<QWidget>(std::move(viewer));
                         },
                         600});

// The viewer opened for a slide: its motion editor with a custom pan and zoom over a 1600 x 1200 photo
// filling a 16:9 frame (enlarged), the keyboard on the start rectangle.
std::unique_ptr<PhotoViewerDialog> makeMotionViewer() {
    const std::vector<std::string> photos = gallery::samplePhotoPaths();
    SlideMotionEditing editing;
    editing.look.motion = PhotoMotion{MotionKind::Custom, QRectF(80.0, 200.0, 1120.0, 630.0),
                                      QRectF(760.0, 420.0, 720.0, 405.0)};
    editing.look.fit = FitOptions{PhotoFit::Fill, true};
    editing.output = QSize(1920, 1080);
    editing.slideIndex = 2;
    editing.totalSeconds = 5.0;
    return std::make_unique<PhotoViewerDialog>(nullptr, photos.empty() ? std::string() : photos[0],
                                               std::move(editing));
}

// Runs `then` on the viewer once its photo is in.
void whenLoaded(PhotoViewerDialog* viewer, std::function<void(PhotoViewerDialog*)> then) {
    if (viewer->loaded()) {
        then(viewer);
        return;
    }
    QTimer::singleShot(20, viewer, [viewer, then] { whenLoaded(viewer, then); });
}

KESTRELLE_GALLERY_ENTRY({"photo_viewer_motion", [] { return std::unique_ptr<QWidget>(makeMotionViewer()); },
                         900,
                         [](QWidget& window) {
                             auto* viewer = static_cast<PhotoViewerDialog*>(&window);
                             whenLoaded(viewer, [](PhotoViewerDialog* shown) {
                                 shown->activateWindow();
                                 shown->motionEditor()->canvas()->setFocus(Qt::TabFocusReason);
                             });
                         },
                         true});

// The same viewer playing the motion, a little past its middle.
KESTRELLE_GALLERY_ENTRY({"photo_viewer_motion_playing",
                         [] { return std::unique_ptr<QWidget>(makeMotionViewer()); }, 900,
                         [](QWidget& window) {
                             auto* viewer = static_cast<PhotoViewerDialog*>(&window);
                             whenLoaded(viewer, [](PhotoViewerDialog* shown) {
                                 MotionEditorWidget* editor = shown->motionEditor();
                                 editor->togglePlay();
                                 editor->playTimer()->stop();
                                 for (int i = 0; i < 70; ++i) editor->advancePlay();
                                 editor->playButton()->setFocus();
                             });
                         },
                         true});

// Every transition icon with its name, the drag pictures and the audio picture.
class PictureSheet final : public QWidget {
public:
    PictureSheet() { setFixedSize(420, 330); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().window());
        for (int effect = 0; effect < kTransitionIconCount; ++effect) {
            const int y = 8 + effect * 24;
            p.drawPixmap(8, y, transitionIcon(effect).pixmap(kTransitionIconSize, devicePixelRatioF()));
            p.drawText(QRect(48, y, 200, 23), Qt::AlignVCenter,
                       QStringLiteral("%1  %2").arg(effect).arg(transitionEffectTitle(effect)));
        }
        p.drawPixmap(250, 10, dragPicture(1, devicePixelRatioF()));
        p.drawPixmap(280, 10, dragPicture(3, devicePixelRatioF()));
        p.drawPixmap(250, 40, audioPicture(devicePixelRatioF()));
        // Doubled, to judge the shapes.
        p.drawPixmap(QRect(250, 150, 62, 46), transitionIcon(6).pixmap(QSize(62, 46), devicePixelRatioF()));
        p.drawPixmap(QRect(320, 150, 62, 46), transitionIcon(0).pixmap(QSize(62, 46), devicePixelRatioF()));
    }
};

KESTRELLE_GALLERY_ENTRY({"transition_icons",
                         [] { return std::unique_ptr<QWidget>(std::make_unique<PictureSheet>()); }});

}  // namespace
