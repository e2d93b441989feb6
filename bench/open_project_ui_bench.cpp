// Opening a 1,000-slide project in the main window: from the window's creation to the first paint of
// the storyboard with the thumbnails in view made (they come from a worker, the visible ones first),
// against the same window opened empty (its creation and first paint); and writing that project.
//
//   open_project_ui_bench make FOLDER        writes FOLDER/show.kestrelle: 1,000 slides over 40 photos
//   open_project_ui_bench empty FOLDER       prints the milliseconds to the empty window's first paint
//   open_project_ui_bench open FOLDER        prints the milliseconds to the first painted thumbnails
//   open_project_ui_bench save FOLDER        prints the milliseconds one write of the project takes

#include "app/profile_setup.h"
#include "app/ui/main_window.h"
#include "config/settings_store.h"
#include "project/project_file.h"
#include "project/storyboard_layout.h"
#include "project/ui/storyboard_control.h"

#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kSlides = 1000;
constexpr int kPhotos = 40;

std::string projectPath(const std::string& folder) {
    return folder + "/show.kestrelle";
}

int make(const std::string& folder) {
    kestrelle::ProjectDocument document;
    for (int i = 0; i < kPhotos; ++i) {
        QImage photo(1600, 1200, QImage::Format_RGB32);
        photo.fill(QColor::fromHsv(i * 9 % 360, 120, 200));
        QPainter(&photo).fillRect(200 + i * 10, 300, 600, 400, Qt::darkGreen);
        photo.save(QString::fromStdString(folder + "/photo_" + std::to_string(i) + ".jpg"), "JPEG", 85);
    }
    for (int i = 0; i < kSlides; ++i) {
        kestrelle::SlideContent slide;
        slide.photoPath = folder + "/photo_" + std::to_string(i % kPhotos) + ".jpg";
        slide.transitionEffect = 1 + i % 12;
        document.content.slides.push_back(slide);
    }
    std::string message;
    if (!kestrelle::writeProjectFile(projectPath(folder), document, &message)) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 1;
    }
    return 0;
}

// Ends the event loop at the first paint of the storyboard's view once `ready` holds.
class PaintWatch final : public QObject {
public:
    explicit PaintWatch(std::function<bool()> ready) : ready_(std::move(ready)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !done_ && ready_()) {
            done_ = true;
            QTimer::singleShot(0, watched, [] { QCoreApplication::exit(0); });
        }
        return false;
    }

private:
    std::function<bool()> ready_;
    bool done_ = false;
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: open_project_ui_bench make|empty|open|save FOLDER\n");
        return 2;
    }
    const std::string mode = argv[1];
    const std::string folder = argv[2];
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    if (mode == "make") return make(folder);

    kestrelle::setUpUserProfileFolder();
    kestrelle::SettingsStore& store = kestrelle::SettingsStore::instance();
    if (mode == "save") {
        const kestrelle::ProjectReadResult read = kestrelle::readProjectFile(projectPath(folder));
        QElapsedTimer clock;
        clock.start();
        kestrelle::writeProjectFile(folder + "/saved.kestrelle", read.document);
        std::printf("%.2f\n", static_cast<double>(clock.nsecsElapsed()) / 1e6);
        return 0;
    }

    QElapsedTimer clock;
    clock.start();
    kestrelle::LumoDlg window(store);
    kestrelle::StoryboardControl* board = window.storyboard();
    const bool open = mode == "open";
    PaintWatch watch([&] {
        if (!open) return true;
        if (window.project().photoSlideCount() < kSlides) return false;
        // The cells in view: the first ones, made first.
        const int inView = board->viewport()->width() / kestrelle::kCellWidth + 1;
        return board->thumbnailsMade() >= inView;
    });
    board->viewport()->installEventFilter(&watch);
    window.show();
    if (open) window.openProjectFile(QString::fromStdString(projectPath(folder)));
    app.exec();
    std::printf("%.2f\n", static_cast<double>(clock.nsecsElapsed()) / 1e6);
    std::fprintf(stderr, "%d slides, %d thumbnails made, view %d pixels wide\n",
                 window.project().photoSlideCount(), board->thumbnailsMade(), board->viewport()->width());
    return 0;
}
