// The storyboard window: clicks by hit area, the context menu, keys, the in-place editor, scrolling,
// drag and drop on the target side, and the pixels that matter.

#include "project/ui/storyboard_control.h"
#include "base/byte_order.h"
#include "base/data_folder.h"
#include "base/message_box.h"
#include "media/audio_peaks.h"
#include "project/photo_drag_payload.h"
#include "project/ui/photo_viewer_dialog.h"
#include "render/ui/transition_icons.h"
#include "tests/support/temp_home.h"
#include "tests/support/ui/wait_for_events.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace kestrelle {
namespace {

using storyboard::DurationField;

class RecordingPresenter final : public MessagePresenter {
public:
    int show(const std::string& text, unsigned) override {
        texts.push_back(text);
        return MessageAnswer::kOk;
    }
    std::vector<std::string> texts;
};

class StoryboardControlTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        setMessagePresenter(&messages);
        board = std::make_unique<StoryboardControl>();
        board->project().setDefaultsProvider([] { return SlideDefaults{3.0, 1.0, 4}; });
        board->setChooserOpener([this](QWidget*, const SlideShowProject&, int slide) {
            chooserSlides.push_back(slide);
            return chooserAnswer;
        });
        board->setViewerOpener([this](QWidget*, const std::string& path, int) { viewed.push_back(path); });
        board->setMenuRunner([this](QMenu& menu, const QPoint&) {
            ++menusShown;
            lastMenu = menuState(menu);
            lastMenuTexts.clear();
            for (QAction* action : menu.actions()) lastMenuTexts.push_back(action->text());
        });
        // Waveform peaks come from the test: none unless a test supplies them, so no worker runs.
        board->setPeakLookup([this](const std::string& path) -> const AudioPeaks* {
            ++peakLookups;
            const auto found = suppliedPeaks.find(path);
            return found == suppliedPeaks.end() ? nullptr : &found->second;
        });
        // Four cells fit; a fifth placeholder makes the row one cell wider than the view.
        board->resize(4 * kCellWidth + 40, 170);
        board->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        board.reset();
        setMessagePresenter(nullptr);
        TempHomeTest::TearDown();
    }

    std::string photo(const std::string& name) {
        QImage image(32, 24, QImage::Format_RGB32);
        image.fill(QColor(30, 140, 60));
        const std::string file = path(name);
        EXPECT_TRUE(image.save(QString::fromStdString(file)));
        return file;
    }
    void addPhotos(int count) {
        for (int i = 0; i < count; ++i) {
            board->project().insertPhoto(photo("p" + std::to_string(i) + ".png"),
                                         board->project().photoSlideCount(), 0, 3.0, 1.0);
        }
        board->scrollTo(0);
        QApplication::processEvents();
    }
    std::vector<std::string> photoPaths() const {
        std::vector<std::string> paths;
        for (const Slide& cell : board->project().cells()) {
            if (cell.hasPhoto) paths.push_back(cell.photoPath.substr(cell.photoPath.rfind('/') + 1));
        }
        return paths;
    }
    QWidget* view() const { return board->viewport(); }
    // A point inside cell i, relative to its left edge.
    QPoint at(int cell, int dx, int dy) const {
        return QPoint(board->project().slide(cell)->cellRect.left + dx, dy);
    }
    static std::vector<bool> menuState(QMenu& menu) {
        std::vector<bool> enabled;
        for (QAction* action : menu.actions()) enabled.push_back(action->isEnabled());
        return enabled;
    }
    void click(QPoint point) { QTest::mouseClick(view(), Qt::LeftButton, {}, point); }

    RecordingPresenter messages;
    std::unique_ptr<StoryboardControl> board;
    std::vector<int> chooserSlides;
    std::optional<int> chooserAnswer;
    std::vector<std::string> viewed;
    int menusShown = 0;
    std::vector<bool> lastMenu;
    std::vector<QString> lastMenuTexts;
    std::map<std::string, AudioPeaks> suppliedPeaks;
    int peakLookups = 0;
};

TEST_F(StoryboardControlTest, FirstLayoutMakesARowOneCellWiderThanTheView) {
    EXPECT_EQ(board->project().cellCount(), board->visibleWidth() / kCellWidth + 1);
    EXPECT_GT(board->project().contentWidth(), board->visibleWidth());
    EXPECT_EQ(board->project().photoSlideCount(), 0);
}

TEST_F(StoryboardControlTest, ClicksActByHitArea) {
    addPhotos(2);
    std::vector<int> notes;
    QObject::connect(board.get(), &StoryboardControl::clickNotified,
                     [&](int code) { notes.push_back(code); });

    click(at(1, 80, 75));  // slide duration
    EXPECT_EQ(board->project().selectedSlide(), 1);
    EXPECT_EQ(board->editingSlide(), 1);
    EXPECT_TRUE(board->editor()->isVisible());
    EXPECT_EQ(board->editor()->text(), QStringLiteral("3.0"));

    click(at(0, 130, 60));  // transition duration, inside the chooser's box: the editor wins
    EXPECT_EQ(board->editingSlide(), 0);
    EXPECT_EQ(board->editor()->text(), QStringLiteral("1.0"));
    EXPECT_TRUE(chooserSlides.empty());

    chooserAnswer = 9;
    click(at(1, 125, 30));  // the transition box
    EXPECT_EQ(chooserSlides, std::vector<int>{1});
    EXPECT_EQ(board->project().slide(1)->transitionEffect, 9);
    EXPECT_FALSE(board->editing());

    chooserAnswer.reset();  // closed without a choice
    click(at(0, 125, 30));
    EXPECT_EQ(board->project().slide(0)->transitionEffect, 0);

    click(at(0, 40, 30));  // the picture selects only
    EXPECT_EQ(board->project().selectedSlide(), 0);
    EXPECT_FALSE(board->editing());
    EXPECT_TRUE(viewed.empty());

    notes.clear();
    click(at(3, 40, 30));  // a placeholder
    EXPECT_EQ(board->project().selectedSlide(), -1);
    EXPECT_EQ(notes, (std::vector<int>{2, 1}));
    notes.clear();
    click(at(0, 40, 30));
    EXPECT_EQ(notes, std::vector<int>{2});
}

TEST_F(StoryboardControlTest, DoubleClickOnAPictureOpensTheViewer) {
    addPhotos(1);
    QTest::mouseDClick(view(), Qt::LeftButton, {}, at(0, 50, 30));
    ASSERT_EQ(viewed.size(), 1u);
    EXPECT_EQ(viewed[0], board->project().slide(0)->photoPath);
    QTest::mouseDClick(view(), Qt::LeftButton, {}, at(0, 80, 75));  // the duration, not the picture
    QTest::mouseDClick(view(), Qt::LeftButton, {}, at(1, 50, 30));  // a placeholder
    EXPECT_EQ(viewed.size(), 1u);
}

TEST_F(StoryboardControlTest, ContextMenuEnablesByPositionAndIsMissingOnPlaceholders) {
    addPhotos(3);
    const auto rightClick = [&](QPoint point) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, point, view()->mapToGlobal(point));
        QApplication::sendEvent(view(), &event);
    };
    // The slide's three items, then (a separator and) the two fit commands, off without clips.
    rightClick(at(0, 40, 30));
    EXPECT_EQ(lastMenu, (std::vector<bool>{false, true, true, true, false, false}));
    rightClick(at(1, 40, 30));
    EXPECT_EQ(lastMenu, (std::vector<bool>{true, true, true, true, false, false}));
    rightClick(at(2, 40, 30));
    EXPECT_EQ(lastMenu, (std::vector<bool>{true, false, true, true, false, false}));
    EXPECT_EQ(menusShown, 3);
    EXPECT_EQ(board->project().selectedSlide(), 2);

    rightClick(at(3, 40, 30));
    EXPECT_EQ(menusShown, 3);
    EXPECT_EQ(board->project().selectedSlide(), 2);

    // The menu's items do what they say.
    board->selectSlide(1);
    std::unique_ptr<QMenu> menu = board->makeContextMenu();
    menu->actions()[0]->trigger();
    EXPECT_EQ(photoPaths(), (std::vector<std::string>{"p1.png", "p0.png", "p2.png"}));
    EXPECT_EQ(board->project().selectedSlide(), 0);
    menu = board->makeContextMenu();
    menu->actions()[2]->trigger();
    EXPECT_EQ(photoPaths(), (std::vector<std::string>{"p0.png", "p2.png"}));
}

TEST_F(StoryboardControlTest, KeysEditTheRow) {
    addPhotos(3);
    board->project().setSelectedSlide(-1);
    board->setFocus();
    QTest::keyClick(board.get(), Qt::Key_Right);  // nothing selected: the first
    EXPECT_EQ(board->project().selectedSlide(), 0);
    QTest::keyClick(board.get(), Qt::Key_Left);  // nothing before the first
    EXPECT_EQ(board->project().selectedSlide(), 0);
    QTest::keyClick(board.get(), Qt::Key_Period);  // ">"
    EXPECT_EQ(photoPaths(), (std::vector<std::string>{"p1.png", "p0.png", "p2.png"}));
    EXPECT_EQ(board->project().selectedSlide(), 1);
    QTest::keyClick(board.get(), Qt::Key_Right);
    QTest::keyClick(board.get(), Qt::Key_Right);  // no further than the last photo
    EXPECT_EQ(board->project().selectedSlide(), 2);
    QTest::keyClick(board.get(), Qt::Key_Period);  // on the last photo: nothing
    EXPECT_EQ(photoPaths(), (std::vector<std::string>{"p1.png", "p0.png", "p2.png"}));
    QTest::keyClick(board.get(), Qt::Key_Comma);  // "<"
    EXPECT_EQ(photoPaths(), (std::vector<std::string>{"p1.png", "p2.png", "p0.png"}));
    EXPECT_EQ(board->project().selectedSlide(), 1);
    QTest::keyClick(board.get(), Qt::Key_Delete);
    EXPECT_EQ(photoPaths(), (std::vector<std::string>{"p1.png", "p0.png"}));
    EXPECT_EQ(board->project().selectedSlide(), 1);  // the slide that moved into the gap
    QTest::keyClick(board.get(), Qt::Key_Delete);
    QTest::keyClick(board.get(), Qt::Key_Delete);
    EXPECT_EQ(board->project().photoSlideCount(), 0);
    EXPECT_EQ(board->project().selectedSlide(), -1);
    QTest::keyClick(board.get(), Qt::Key_Delete);  // nothing left to delete
    EXPECT_GE(board->project().placeholderCount(), 1);
}

// Without a mouse: F2 edits the selected slide's duration, Shift+F2 its transition's, Space opens the
// chooser and Shift+Space the photo viewer; with no slide selected none of them does anything.
TEST_F(StoryboardControlTest, KeysReachTheEditorTheChooserAndTheViewer) {
    addPhotos(2);
    board->project().setSelectedSlide(-1);
    board->setFocus();
    for (const auto key : {Qt::Key_F2, Qt::Key_Space}) {
        QTest::keyClick(board.get(), key);
        QTest::keyClick(board.get(), key, Qt::ShiftModifier);
    }
    EXPECT_FALSE(board->editing());
    EXPECT_TRUE(chooserSlides.empty());
    EXPECT_TRUE(viewed.empty());

    QTest::keyClick(board.get(), Qt::Key_Right);
    QTest::keyClick(board.get(), Qt::Key_Right);
    QTest::keyClick(board.get(), Qt::Key_F2);
    ASSERT_TRUE(board->editing());
    EXPECT_EQ(board->editingSlide(), 1);
    EXPECT_EQ(board->editor()->text(), QStringLiteral("3.0"));
    EXPECT_EQ(board->editor()->accessibleName(), QStringLiteral("Slide 2 duration in seconds"));
    QTest::keyClicks(board->editor(), QStringLiteral("4.5"));
    QTest::keyClick(board->editor(), Qt::Key_Return);
    EXPECT_DOUBLE_EQ(board->project().slide(1)->slideDuration, 4.5);
    EXPECT_TRUE(board->hasFocus());  // back on the row, so the next key works there

    QTest::keyClick(board.get(), Qt::Key_F2, Qt::ShiftModifier);
    ASSERT_TRUE(board->editing());
    EXPECT_EQ(board->editor()->text(), QStringLiteral("1.0"));
    EXPECT_EQ(board->editor()->accessibleName(), QStringLiteral("Slide 2 transition duration in seconds"));
    QTest::keyClicks(board->editor(), QStringLiteral("2"));
    QTest::keyClick(board->editor(), Qt::Key_Escape);
    EXPECT_DOUBLE_EQ(board->project().slide(1)->transitionDuration, 1.0);

    chooserAnswer = 7;
    QTest::keyClick(board.get(), Qt::Key_Space);
    EXPECT_EQ(chooserSlides, std::vector<int>{1});
    EXPECT_EQ(board->project().slide(1)->transitionEffect, 7);

    QTest::keyClick(board.get(), Qt::Key_Space, Qt::ShiftModifier);
    ASSERT_EQ(viewed.size(), 1u);
    EXPECT_EQ(viewed[0], board->project().slide(1)->photoPath);

    // Shift+F10, as the menu key: the selected slide's menu.
    QTest::keyClick(board.get(), Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(menusShown, 1);
    EXPECT_EQ(lastMenu, (std::vector<bool>{true, false, true, true, false, false}));

    // A selected slide scrolled out of sight comes back into view before its editor opens there.
    board->project().setSelectedSlide(0);
    board->scrollTo(board->scrollLimitNow());
    ASSERT_GT(board->scrollPosition(), 0);
    QTest::keyClick(board.get(), Qt::Key_F2);
    ASSERT_TRUE(board->editing());
    EXPECT_EQ(board->editingSlide(), 0);
    EXPECT_TRUE(board->viewport()->rect().contains(board->editor()->geometry()));
    QTest::keyClick(board->editor(), Qt::Key_Escape);
}

class StoryboardEditorTest : public StoryboardControlTest {
protected:
    void SetUp() override {
        StoryboardControlTest::SetUp();
        addPhotos(2);
        // A value the cell shows rounded: storing the unchanged text would change it.
        board->project().setSlideDuration(0, 3.04);
    }
    void type(const QString& text) {
        board->beginDurationEdit(0, DurationField::Slide);
        board->editor()->setText(text);
    }
    double stored() const { return board->project().slide(0)->slideDuration; }
};

TEST_F(StoryboardEditorTest, EnterStoresEscapeDiscards) {
    type(QStringLiteral("2.5"));
    QTest::keyClick(board->editor(), Qt::Key_Escape);
    EXPECT_DOUBLE_EQ(stored(), 3.04);
    EXPECT_FALSE(board->editing());
    EXPECT_FALSE(board->editor()->isVisible());

    type(QStringLiteral("2.5"));
    QTest::keyClick(board->editor(), Qt::Key_Return);
    EXPECT_DOUBLE_EQ(stored(), 2.5);
    EXPECT_FALSE(board->editor()->isVisible());
    EXPECT_TRUE(board->hasFocus());
}

TEST_F(StoryboardEditorTest, AnUnchangedTextStoresNothing) {
    board->beginDurationEdit(0, DurationField::Slide);
    EXPECT_EQ(board->editor()->text(), QStringLiteral("3.0"));
    QTest::keyClick(board->editor(), Qt::Key_Enter);
    EXPECT_DOUBLE_EQ(stored(), 3.04);
}

TEST_F(StoryboardEditorTest, FocusLossAndClicksElsewhereStore) {
    QLineEdit other;
    other.show();
    type(QStringLiteral("4.5"));
    other.setFocus();
    QApplication::processEvents();
    EXPECT_DOUBLE_EQ(stored(), 4.5);
    EXPECT_FALSE(board->editing());

    type(QStringLiteral("6"));
    click(at(1, 40, 30));
    EXPECT_DOUBLE_EQ(stored(), 6.0);
    EXPECT_EQ(board->project().selectedSlide(), 1);
}

TEST_F(StoryboardEditorTest, ScrollingClosesWithoutStoring) {
    type(QStringLiteral("9"));
    board->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_FALSE(board->editing());
    EXPECT_DOUBLE_EQ(stored(), 3.04);

    board->scrollTo(0);
    type(QStringLiteral("9"));
    QWheelEvent wheel(QPointF(10, 10), board->mapToGlobal(QPoint(10, 10)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view(), &wheel);
    EXPECT_FALSE(board->editing());
    EXPECT_DOUBLE_EQ(stored(), 3.04);
}

TEST_F(StoryboardEditorTest, TextsThatAreNoPositiveNumberStoreTheDefault) {
    const struct {
        const char* text;
        double expected;
    } cases[] = {{"abc", 3.0},      {"-2", 3.0},     {"0", 3.0},
                 {"1e999", 3.0},    {"inf", 3.0},    {"nan", 3.0},
                 {"  7.25s", 7.25}, {"1e3", 1000.0}, {"99999999", kMaxDurationSeconds}};
    for (const auto& c : cases) {
        board->project().setSlideDuration(0, 1.11);
        type(QString::fromLatin1(c.text));
        QTest::keyClick(board->editor(), Qt::Key_Return);
        EXPECT_DOUBLE_EQ(stored(), c.expected) << c.text;
    }
    // The transition field goes to its own default.
    board->beginDurationEdit(1, DurationField::Transition);
    board->editor()->setText(QStringLiteral("x"));
    QTest::keyClick(board->editor(), Qt::Key_Return);
    EXPECT_DOUBLE_EQ(board->project().slide(1)->transitionDuration, 1.0);
}

TEST_F(StoryboardEditorTest, TheEditorHasNoContextMenu) {
    type(QStringLiteral("5"));
    EXPECT_EQ(board->editor()->contextMenuPolicy(), Qt::PreventContextMenu);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2),
                            board->editor()->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(board->editor(), &event);
    EXPECT_TRUE(board->editing());
    EXPECT_EQ(menusShown, 0);
}

TEST_F(StoryboardControlTest, ScrollingStepsAndCentring) {
    addPhotos(9);  // 9 photos and placeholders: well wider than the view
    QScrollBar* bar = board->horizontalScrollBar();
    const int limit = board->project().contentWidth() - board->visibleWidth();
    EXPECT_EQ(board->scrollLimitNow(), limit);
    board->scrollTo(100);
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(board->scrollPosition(), 0);
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(board->scrollPosition(), 0);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(board->scrollPosition(), 150);
    board->scrollTo(limit - 20);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(board->scrollPosition(), limit);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(board->scrollPosition(), limit);

    // Wheel: towards the user scrolls right by 40.
    board->scrollTo(0);
    QWheelEvent down(QPointF(10, 10), board->mapToGlobal(QPoint(10, 10)), QPoint(), QPoint(0, -120),
                     Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view(), &down);
    EXPECT_EQ(board->scrollPosition(), 40);
    QWheelEvent up(QPointF(10, 10), board->mapToGlobal(QPoint(10, 10)), QPoint(), QPoint(0, 240),
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view(), &up);
    QApplication::sendEvent(view(), &up);
    EXPECT_EQ(board->scrollPosition(), 0);

    // Selecting centres the slide; the ends stay within the content.
    board->selectSlide(5);
    EXPECT_EQ(board->scrollPosition(), 5 * kCellWidth + 77 - board->visibleWidth() / 2);
    EXPECT_EQ(board->project().slide(5)->cellRect.left, 5 * kCellWidth - board->scrollPosition());
    board->selectSlide(8);
    EXPECT_EQ(board->scrollPosition(), limit);
    board->selectSlide(0);
    EXPECT_EQ(board->scrollPosition(), 0);
}

TEST_F(StoryboardControlTest, WideViewsHaveNothingToScroll) {
    board->resize(12 * kCellWidth, 170);
    QApplication::processEvents();
    // The row grew with the view, still one cell wider.
    EXPECT_GT(board->project().contentWidth(), board->visibleWidth());
    board->project().resetProject();
    board->resize(3 * kCellWidth, 170);
    board->resize(14 * kCellWidth, 170);
    QApplication::processEvents();
    EXPECT_GE(board->scrollLimitNow(), 0);
    board->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_LE(board->scrollPosition(), board->scrollLimitNow());
}

// ---- Drag and drop

class StoryboardDropTest : public StoryboardControlTest {
protected:
    std::unique_ptr<QMimeData> payload(DragLine line, const std::vector<std::string>& paths) {
        auto mime = std::make_unique<QMimeData>();
        putDragPayload(*mime, {line, paths});
        return mime;
    }
    // Enter, move and (optionally) drop at a point; returns whether the last event was accepted.
    bool drag(const QMimeData& mime, QPoint point, bool drop) {
        QDragEnterEvent enter(point, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(view(), &enter);
        if (!enter.isAccepted()) return false;
        QDragMoveEvent move(point, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(view(), &move);
        bar = board->dropIndicatorCell();
        if (!drop) return move.isAccepted();
        QDropEvent dropped(QPointF(point), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(view(), &dropped);
        dropAction = dropped.dropAction();
        return dropped.isAccepted();
    }
    int bar = -2;
    Qt::DropAction dropAction = Qt::IgnoreAction;
};

TEST_F(StoryboardDropTest, TheBarMarksPhotoSlidesOnly) {
    addPhotos(2);
    const auto mime = payload(DragLine::Photos, {photo("new.png")});
    EXPECT_TRUE(drag(*mime, at(1, 60, 40), false));
    EXPECT_EQ(bar, 1);
    EXPECT_TRUE(drag(*mime, at(2, 60, 40), false));  // a placeholder: droppable, no bar
    EXPECT_EQ(bar, -1);
    EXPECT_FALSE(drag(*mime, at(0, 60, 110), false));  // below the photo line
    EXPECT_EQ(bar, -1);
    QMimeData foreign;
    foreign.setText(QStringLiteral("hello"));
    foreign.setData(QStringLiteral("application/x-other"), "1");
    EXPECT_FALSE(drag(foreign, at(1, 60, 40), false));
    QDragLeaveEvent leave;
    QApplication::sendEvent(view(), &leave);
    EXPECT_EQ(board->dropIndicatorCell(), -1);
}

TEST_F(StoryboardDropTest, DroppedPhotosGoInOrderFromTheCellUnderThePoint) {
    addPhotos(3);
    const auto mime = payload(DragLine::Photos, {photo("a.png"), photo("b.png"), photo("c.png")});
    EXPECT_TRUE(drag(*mime, at(1, 60, 40), true));
    EXPECT_EQ(dropAction, Qt::CopyAction);
    EXPECT_EQ(photoPaths(),
              (std::vector<std::string>{"p0.png", "a.png", "b.png", "c.png", "p1.png", "p2.png"}));
    EXPECT_EQ(board->project().slide(1)->transitionEffect, 4);  // the defaults
    EXPECT_DOUBLE_EQ(board->project().slide(1)->transitionDuration, 1.0);
    EXPECT_EQ(board->dropIndicatorCell(), -1);

    // Onto a placeholder: appended after the photos.
    const auto more = payload(DragLine::Photos, {photo("d.png")});
    board->scrollTo(board->scrollLimitNow());
    const int last = board->project().cellCount() - 1;
    EXPECT_TRUE(drag(*more, at(last, 60, 40), true));
    EXPECT_EQ(photoPaths().back(), "d.png");
    EXPECT_GE(board->project().placeholderCount(), 1);
}

TEST_F(StoryboardDropTest, APointOnNoCellInsertsNothing) {
    addPhotos(2);
    // y = 95 still counts as the photo line but lies below every cell.
    const auto mime = payload(DragLine::Photos, {photo("a.png"), photo("b.png")});
    drag(*mime, at(0, 60, 95), true);
    EXPECT_EQ(photoPaths(), (std::vector<std::string>{"p0.png", "p1.png"}));
    EXPECT_EQ(board->dropPhotos({photo("c.png")}, -1), 0);
    EXPECT_EQ(board->project().photoSlideCount(), 2);
}

TEST_F(StoryboardDropTest, RefusedFilesLeaveNoGap) {
    addPhotos(2);
    const auto mime = payload(DragLine::Photos, {path("notes.txt"), photo("a.png")});
    EXPECT_TRUE(drag(*mime, at(1, 60, 40), true));
    EXPECT_EQ(photoPaths(), (std::vector<std::string>{"p0.png", "a.png", "p1.png"}));
}

TEST_F(StoryboardDropTest, FileManagerPhotosDropInTheirOrder) {
    addPhotos(1);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(photo("z.png"))),
                  QUrl::fromLocalFile(QString::fromStdString(path("readme.txt"))),
                  QUrl::fromLocalFile(QString::fromStdString(photo("y.png")))});
    EXPECT_TRUE(drag(mime, at(0, 60, 40), true));
    EXPECT_EQ(dropAction, Qt::CopyAction);  // never a move: the file manager keeps its files
    EXPECT_EQ(photoPaths(), (std::vector<std::string>{"z.png", "y.png", "p0.png"}));
}

// A folder whose name looks like a photo ("Trip.jpg") is no photo: it is left out, and a drag of
// folders alone is not taken at all (it would make a blank slide that renders as black).
TEST_F(StoryboardDropTest, FoldersNamedLikePhotosAreLeftOut) {
    addPhotos(1);
    const QString folder = QString::fromStdString(path("Trip.jpg"));
    ASSERT_TRUE(QDir().mkpath(folder));
    QMimeData onlyFolder;
    onlyFolder.setUrls({QUrl::fromLocalFile(folder)});
    EXPECT_FALSE(drag(onlyFolder, at(0, 60, 40), true));
    QMimeData mixed;
    mixed.setUrls({QUrl::fromLocalFile(folder), QUrl::fromLocalFile(QString::fromStdString(photo("x.png")))});
    EXPECT_TRUE(drag(mixed, at(0, 60, 40), true));
    EXPECT_EQ(photoPaths(), (std::vector<std::string>{"x.png", "p0.png"}));
}

// Photos that cannot be shown never become blank slides, whichever way they come: the browser's payload
// (a text file named like a photo, a folder, a relative path) or a file manager's list. Each drop that
// left files out says so once, naming at most ten of them.
TEST_F(StoryboardDropTest, UnreadablePhotosAreLeftOutAndNamedInOneMessage) {
    addPhotos(1);
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i) {
        files.push_back(path("broken" + std::to_string(i) + ".jpg"));
        ASSERT_TRUE(testing::writeFile(files.back(), "not a photo"));
    }
    const std::string folder = path("Trip.jpg");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    files.insert(files.begin() + 1, folder);
    files.push_back(photo("good.png"));
    files.push_back("relative/good.png");
    const auto mime = payload(DragLine::Photos, files);
    EXPECT_TRUE(drag(*mime, at(0, 60, 40), true));
    EXPECT_EQ(photoPaths(), (std::vector<std::string>{"good.png", "p0.png"}));
    ASSERT_EQ(messages.texts.size(), 1u);
    const std::string& text = messages.texts[0];
    EXPECT_NE(text.find("\nbroken0.jpg\nTrip.jpg\nbroken1.jpg\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nbroken8.jpg\nand 4 more"), std::string::npos) << text;
    EXPECT_EQ(text.find("broken9.jpg"), std::string::npos) << text;
    EXPECT_EQ(text.find("good.png"), std::string::npos) << text;

    QMimeData fromFileManager;
    fromFileManager.setUrls({QUrl::fromLocalFile(QString::fromStdString(files[0])),
                             QUrl::fromLocalFile(QString::fromStdString(photo("x.png")))});
    EXPECT_TRUE(drag(fromFileManager, at(0, 60, 40), true));
    EXPECT_EQ(photoPaths(), (std::vector<std::string>{"x.png", "good.png", "p0.png"}));
    ASSERT_EQ(messages.texts.size(), 2u);
    EXPECT_NE(messages.texts[1].find("\nbroken0.jpg"), std::string::npos);
    EXPECT_EQ(messages.texts[1].find("x.png"), std::string::npos);
}

// A drag reads its payload once: the moves that follow, however many, reuse that reading, and the next
// drag (after a leave or a drop) reads its own.
TEST_F(StoryboardDropTest, ADragReadsItsPayloadOncePerDrag) {
    addPhotos(2);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(photo("a.png"))),
                  QUrl::fromLocalFile(QString::fromStdString(photo("b.png")))});
    QDragEnterEvent enter(at(0, 60, 40), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(view(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    for (int i = 0; i < 200; ++i) {
        // Over both cells, the soundtrack line (refused there) and back.
        const QPoint point = i % 3 == 2 ? QPoint(60, 115) : at(i % 2, 60, 40);
        QDragMoveEvent move(point, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(view(), &move);
        EXPECT_EQ(move.isAccepted(), i % 3 != 2);
    }
    EXPECT_EQ(board->payloadChecks(), 1);
    QDragLeaveEvent leave;
    QApplication::sendEvent(view(), &leave);

    EXPECT_TRUE(drag(mime, at(1, 60, 40), true));
    EXPECT_EQ(board->payloadChecks(), 2);
    EXPECT_EQ(photoPaths(), (std::vector<std::string>{"p0.png", "a.png", "b.png", "p1.png"}));
}

// A 16-bit mono PCM WAV of `seconds` at 1000 Hz, a square wave at full scale.
std::string waveFile(const std::string& file, double seconds, int bits = 16, bool riff = true) {
    const int rate = 1000;
    const int count = static_cast<int>(rate * seconds);
    const int bytes = bits / 8;
    std::string data;
    for (int i = 0; i < count; ++i) {
        const bool high = (i / 50) % 2 == 0;
        if (bits == 8)
            data.push_back(static_cast<char>(high ? 250 : 6));
        else
            appendLe16(data, static_cast<std::uint16_t>(high ? 30000 : -30000));
    }
    std::string out = riff ? "RIFF" : "JUNK";
    appendLe32(out, static_cast<std::uint32_t>(36 + data.size()));
    out += "WAVEfmt ";
    appendLe32(out, 16);
    appendLe16(out, 1);
    appendLe16(out, 1);
    appendLe32(out, rate);
    appendLe32(out, static_cast<std::uint32_t>(rate * bytes));
    appendLe16(out, static_cast<std::uint16_t>(bytes));
    appendLe16(out, static_cast<std::uint16_t>(bits));
    out += "data";
    appendLe32(out, static_cast<std::uint32_t>(data.size()));
    EXPECT_TRUE(testing::writeFile(file, out + data));
    return file;
}

TEST_F(StoryboardDropTest, WaveFilesGoOntoTheSoundtrackLineOnly) {
    const auto clip = payload(DragLine::Soundtrack, {waveFile(path("a.wav"), 2.0)});
    EXPECT_FALSE(drag(*clip, QPoint(50, 40), false));  // the photo line
    EXPECT_TRUE(drag(*clip, QPoint(50, 115), true));
    EXPECT_EQ(board->project().clips().size(), 1u);
    EXPECT_TRUE(messages.texts.empty());

    const auto bad =
        payload(DragLine::Soundtrack, {waveFile(path("b.wav"), 2.0, 16, false), path("missing.wav")});
    EXPECT_TRUE(drag(*bad, QPoint(50, 115), true));
    EXPECT_EQ(board->project().clips().size(), 1u);
    // Both refusals in one message for the drop.
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_NE(messages.texts[0].find("b.wav"), std::string::npos);
    EXPECT_NE(messages.texts[0].find("missing.wav"), std::string::npos);
}

// However many WAV files a drop refuses, it says so once: a single file with the reason, several by
// name (ten at most). Good files in the same drop are still taken.
TEST_F(StoryboardDropTest, RefusedWaveFilesAreReportedOncePerDrop) {
    const auto single = payload(DragLine::Soundtrack, {waveFile(path("b.wav"), 2.0, 16, false)});
    EXPECT_TRUE(drag(*single, QPoint(50, 115), true));
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_NE(messages.texts[0].find("Unexpected file format"), std::string::npos);
    const auto missing = payload(DragLine::Soundtrack, {path("missing.wav")});
    EXPECT_TRUE(drag(*missing, QPoint(50, 115), true));
    ASSERT_EQ(messages.texts.size(), 2u);
    EXPECT_NE(messages.texts[1].find("cannot be opened"), std::string::npos);

    std::vector<std::string> files{waveFile(path("good.wav"), 2.0)};
    for (int i = 0; i < 12; ++i) {
        files.push_back(waveFile(path("bad" + std::to_string(i) + ".wav"), 1.0, 16, false));
    }
    const auto several = payload(DragLine::Soundtrack, files);
    EXPECT_TRUE(drag(*several, QPoint(50, 115), true));
    EXPECT_EQ(board->project().clips().size(), 1u);
    ASSERT_EQ(messages.texts.size(), 3u);
    EXPECT_NE(messages.texts[2].find("\nbad0.wav\n"), std::string::npos) << messages.texts[2];
    EXPECT_NE(messages.texts[2].find("\nbad9.wav\nand 2 more"), std::string::npos) << messages.texts[2];
}

// Painting reads no audio file: scrolling along forty clips opens nothing, and each paint asks for the
// peaks of the clips in view only.
TEST_F(StoryboardDropTest, ScrollingAlongManyClipsKeepsFewFilesOpen) {
    addPhotos(20);
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i) {
        files.push_back(waveFile(path("clip" + std::to_string(i) + ".wav"), 2.0));
    }
    EXPECT_EQ(board->dropClips(files), 40);
    QApplication::processEvents();
    // Only the clips' own files count: the thumbnail worker may hold a photo open at any moment.
    const auto openFiles = [] {
        int open = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            open += std::filesystem::read_symlink(entry.path(), error).extension() == ".wav" ? 1 : 0;
        }
        return open;
    };
    const auto before = openFiles();
    int most = 0;
    for (int position = 0; position <= board->scrollLimitNow(); position += 100) {
        board->scrollTo(position);
        QApplication::processEvents();
        peakLookups = 0;
        view()->grab();
        most = std::max(most, peakLookups);
    }
    EXPECT_GT(most, 1);   // the clips on screen were drawn
    EXPECT_LE(most, 12);  // about a view's width of 2-second clips, not forty
    EXPECT_EQ(before, 0);
    EXPECT_EQ(openFiles(), 0);
    EXPECT_TRUE(messages.texts.empty());
}

// ---- Pixels

class StoryboardPixelTest : public StoryboardControlTest {
protected:
    QImage grabView() {
        QApplication::processEvents();
        return view()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    // Pixels in a rectangle that are not white.
    static int inked(const QImage& image, QRect area) {
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (image.pixel(x, y) != qRgb(255, 255, 255)) ++count;
        return count;
    }
    static int withColour(const QImage& image, QRect area, QRgb colour) {
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (image.pixel(x, y) == colour) ++count;
        return count;
    }
    QRect iconArea(int cell) const {
        const int l = board->project().slide(cell)->cellRect.left;
        return QRect(l + 121, 26, 31, 23);
    }
};

TEST_F(StoryboardPixelTest, PensTextsAndPlaceholderHints) {
    addPhotos(2);
    board->selectSlide(1);
    const QImage image = grabView();
    const int l0 = board->project().slide(0)->cellRect.left;
    const int l1 = board->project().slide(1)->cellRect.left;
    EXPECT_EQ(image.pixel(l1 + 4, 40), StoryboardControl::kSelectionPen);
    EXPECT_EQ(image.pixel(l1 + 80, 91), StoryboardControl::kSelectionPen);
    EXPECT_EQ(image.pixel(l0 + 4, 40), StoryboardControl::kNormalPen);
    EXPECT_EQ(image.pixel(l0 + 59, 80), StoryboardControl::kNormalPen);
    // The number, both durations, and the placeholder's grey hints.
    EXPECT_GT(inked(image, QRect(l0 + 5, 67, 48, 22)), 10);
    EXPECT_GT(inked(image, QRect(l0 + 60, 72, 47, 12)), 10);
    EXPECT_GT(inked(image, QRect(l0 + 121, 53, 29, 16)), 10);
    const int l2 = board->project().slide(2)->cellRect.left;
    EXPECT_EQ(inked(image, QRect(l2 + 120, 26, 30, 40)), 0);  // no transition box on a placeholder
    EXPECT_GT(inked(image, QRect(l2 + 5, 18, 109, 14)), 10);
    // The photo's own colour in the thumbnail.
    EXPECT_GT(withColour(image, QRect(l0 + 5, 5, 109, 60), qRgb(30, 140, 60)), 100);
    // "Soundtrack" while there are no clips.
    EXPECT_GT(inked(image, QRect(5, 104, 120, 25)), 20);
}

// Keyboard users see where the focus is: a ring in the highlight colour along the row's edge while the
// storyboard has the focus, none without it, and the cells' own pens unchanged.
TEST_F(StoryboardPixelTest, TheFocusShowsAsARingAroundTheRow) {
    addPhotos(1);
    board->selectSlide(0);
    const QRgb highlight = board->palette().color(QPalette::Highlight).rgb();
    board->clearFocus();
    QImage image = grabView();
    EXPECT_EQ(image.pixel(0, 50), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(image.width() - 1, 50), qRgb(255, 255, 255));

    board->setFocus();
    ASSERT_TRUE(board->hasFocus());
    image = grabView();
    EXPECT_EQ(image.pixel(0, 50), highlight);
    EXPECT_EQ(image.pixel(image.width() - 1, 50), highlight);
    EXPECT_EQ(image.pixel(image.width() / 2, 0), highlight);
    const int l0 = board->project().slide(0)->cellRect.left;
    EXPECT_EQ(image.pixel(l0 + 4, 40), StoryboardControl::kSelectionPen);
}

// The focused cell (the selected slide) carries a clear ring: 2 pixels of the highlight colour around its
// frame while the storyboard has the focus, on no other cell, and none at all without the focus.
TEST_F(StoryboardPixelTest, TheSelectedSlideShowsAFocusRingTwoPixelsWide) {
    addPhotos(2);
    board->selectSlide(1);
    board->setFocus();
    ASSERT_TRUE(board->hasFocus());
    const QRgb highlight = board->palette().color(QPalette::Highlight).rgb();
    QImage image = grabView();
    const int l = board->project().slide(1)->cellRect.left;
    for (const QPoint& p : {QPoint(l + 2, 50), QPoint(l + 3, 50), QPoint(l + 116, 50), QPoint(l + 117, 50),
                            QPoint(l + 60, 2), QPoint(l + 60, 3), QPoint(l + 60, 92), QPoint(l + 60, 93)}) {
        EXPECT_EQ(image.pixel(p), highlight) << p.x() - l << "," << p.y();
    }
    // Inside the ring the cell is as it was: its frame, thumbnail and transition box.
    EXPECT_EQ(image.pixel(l + 4, 50), StoryboardControl::kSelectionPen);
    EXPECT_EQ(image.pixel(l + 1, 50), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(l + 118, 50), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(3, 50), qRgb(255, 255, 255));  // the other slide has no ring

    board->clearFocus();
    image = grabView();
    EXPECT_EQ(image.pixel(l + 2, 50), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(l + 117, 50), qRgb(255, 255, 255));
}

// Shift+F10 opens the menu on its first item that can be chosen (the first slide cannot shift left);
// a right click opens it with no item active.
TEST_F(StoryboardControlTest, TheKeyboardMenuStartsOnItsFirstEnabledItem) {
    addPhotos(2);
    QString active = QStringLiteral("(not shown)");
    board->setMenuRunner([&active](QMenu& menu, const QPoint&) {
        active = menu.activeAction() ? menu.activeAction()->text() : QString();
    });
    board->selectSlide(0);
    board->setFocus();
    QTest::keyClick(board.get(), Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(active, QStringLiteral("Shift Slide Right '>'"));
    board->selectSlide(1);
    QTest::keyClick(board.get(), Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(active, QStringLiteral("Shift Slide Left '<'"));

    QContextMenuEvent click(QContextMenuEvent::Mouse, at(0, 60, 40), view()->mapToGlobal(at(0, 60, 40)));
    QApplication::sendEvent(view(), &click);
    EXPECT_EQ(active, QString());
}

TEST_F(StoryboardPixelTest, EachEffectDrawsItsOwnIcon) {
    // (Numbers outside 0..12 never reach a slide; the icon code draws nothing for them, tested with the
    // icons.)
    addPhotos(1);
    std::vector<QImage> icons;
    for (int effect = 0; effect <= 12; ++effect) {
        ASSERT_TRUE(board->project().setTransitionEffect(0, effect));
        icons.push_back(grabView().copy(iconArea(0)));
    }
    for (std::size_t i = 0; i < icons.size(); ++i) {
        EXPECT_GT(inked(icons[i], icons[i].rect()), 200) << i;
        for (std::size_t j = 0; j < i; ++j) EXPECT_NE(icons[i], icons[j]) << i << " and " << j;
    }
    // What is drawn is the shared icon.
    QImage expected(31, 23, QImage::Format_RGB32);
    expected.fill(Qt::white);
    {
        QPainter painter(&expected);
        painter.drawImage(0, 0, transitionIconImage(6, 1.0));
    }
    EXPECT_EQ(icons[6], expected);
}

// Waveforms come from each file's decoded peaks, so 8-bit and 16-bit files draw alike, and (unlike the
// sample line drawn before) so does a clip under a second.
TEST_F(StoryboardPixelTest, WaveformsFor8And16BitClipsAndNoneUnderASecond) {
    board->resize(4 * kCellWidth + 40, 170);
    const QRgb wavePen = StoryboardControl::kWaveformPen;
    for (const std::string& file :
         {waveFile(path("eight.wav"), 3.0, 8), waveFile(path("sixteen.wav"), 3.0, 16),
          waveFile(path("short.wav"), 0.9, 16)}) {
        suppliedPeaks[file] = computeAudioPeaks(file, 100.0);
        board->project().addClip(file);
    }
    const QImage image = grabView();
    std::vector<QRect> rects;
    for (const SoundtrackClip& clip : board->project().clips()) {
        rects.emplace_back(clip.cellRect.left, 101, clip.cellRect.right - clip.cellRect.left, 33);
    }
    ASSERT_EQ(rects.size(), 3u);
    EXPECT_GT(withColour(image, rects[0], wavePen), 20);
    EXPECT_GT(withColour(image, rects[1], wavePen), 20);
    EXPECT_GT(withColour(image, rects[2], wavePen), 20);
}

// With the program's own peak cache: the clip shows its box and name at once, its waveform once the
// worker has read the file, then its decoded length; a new file under the same name is read anew, and
// a file that stopped being audio keeps its box and name only.
TEST_F(StoryboardPixelTest, WaveformFollowsTheFileOfEachClipNotAnEarlierOneOfTheSamePath) {
    StoryboardControl own;
    own.resize(4 * kCellWidth + 40, 170);
    own.show();
    const QRgb wavePen = StoryboardControl::kWaveformPen;
    const auto grabOwn = [&own] {
        QApplication::processEvents();
        return own.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    const auto clipArea = [&own] {
        const CellRect& r = own.project().clip(0)->cellRect;
        return QRect(r.left, 101, r.right - r.left, 33);
    };
    // Wave-pen pixels away from the middle row: a waveform with some height.
    const auto waveHeight = [&](const QImage& image) {
        return withColour(image, clipArea().adjusted(0, 0, 0, -18), wavePen) +
               withColour(image, clipArea().adjusted(0, 18, 0, 0), wavePen);
    };
    const auto peaksIn = [&] { return waveHeight(grabOwn()) > 20; };

    own.project().addClip(waveFile(path("song.wav"), 3.0, 16));
    EXPECT_GT(inked(grabOwn(), clipArea()), 0);  // at once: the box and the name
    ASSERT_TRUE(testing::processEventsUntil(peaksIn));
    EXPECT_NEAR(own.project().clip(0)->durationSeconds, 3.0, 0.01);

    // "New Slide" empties the line; the same name now holds silence, which draws no height.
    own.project().resetProject();
    const std::string quiet = path("song.wav");
    {
        std::string bytes = testing::readFile(waveFile(quiet, 2.0, 16));
        std::fill(bytes.begin() + 44, bytes.end(), '\0');
        ASSERT_TRUE(testing::writeFile(quiet, bytes));
    }
    QSignalSpy arrived(&own, &StoryboardControl::waveformsArrived);
    ASSERT_EQ(own.project().addClip(quiet), AudioOpenResult::Ok);
    grabOwn();
    ASSERT_TRUE(testing::processEventsUntil([&] { return arrived.count() > 0; }));
    EXPECT_EQ(waveHeight(grabOwn()), 0);
    EXPECT_NEAR(own.project().clip(0)->durationSeconds, 2.0, 0.01);

    // A clip whose file stops being a WAV file before it is read keeps its outline and name only.
    own.project().resetProject();
    own.project().addClip(waveFile(path("gone.wav"), 3.0, 16));
    ASSERT_TRUE(testing::writeFile(path("gone.wav"), "no longer a wave"));
    const QImage image = grabOwn();
    EXPECT_EQ(withColour(image, clipArea(), wavePen), 0);
    EXPECT_GT(inked(image, clipArea()), 0);
    EXPECT_DOUBLE_EQ(own.project().clip(0)->durationSeconds, 3.0);  // the measured length stays
}

TEST_F(StoryboardControlTest, NewSlidesTakeTheDefaultsTheOwnerHandsOver) {
    double slideSeconds = 6.5;
    StoryboardControl owned(nullptr, [&slideSeconds] { return SlideDefaults{slideSeconds, 0.5, 9}; });
    EXPECT_EQ(owned.project().currentDefaults().slideDuration, 6.5);
    slideSeconds = 8.0;  // asked again for every new slide, not copied once
    const SlideDefaults now = owned.project().currentDefaults();
    EXPECT_EQ(now.slideDuration, 8.0);
    EXPECT_EQ(now.transitionDuration, 0.5);
    EXPECT_EQ(now.transitionEffect, 9);

    // Without a provider the project's own defaults hold, whatever settings the program has.
    StoryboardControl plain;
    const SlideDefaults fallback = plain.project().currentDefaults();
    EXPECT_EQ(fallback.slideDuration, SlideDefaults{}.slideDuration);
    EXPECT_EQ(fallback.transitionDuration, SlideDefaults{}.transitionDuration);
    EXPECT_EQ(fallback.transitionEffect, SlideDefaults{}.transitionEffect);
}

TEST_F(StoryboardControlTest, AccessibleDescriptionFollowsTheSelection) {
    addPhotos(2);
    board->project().setTransitionEffect(1, 7);
    board->selectSlide(1);
    EXPECT_EQ(board->accessibleDescription(),
              QStringLiteral("Slide 2 of 2, 3.0 s, transition: wipe from left"));
    EXPECT_EQ(board->accessibleName(), QStringLiteral("Storyboard"));
}

TEST_F(StoryboardControlTest, TheViewerFitsThePhotoOnWhiteInsideItsInsets) {
    QImage wide(400, 100, QImage::Format_RGB32);
    wide.fill(QColor(200, 30, 30));
    const std::string file = path("wide.png");
    ASSERT_TRUE(wide.save(QString::fromStdString(file)));
    PhotoViewerDialog viewer(nullptr, file);
    EXPECT_EQ(viewer.windowTitle(), QStringLiteral("Preview"));
    const QRect area = viewer.photoArea();
    EXPECT_EQ(area, viewer.rect().adjusted(10, 10, -10, -45));
    viewer.show();
    ASSERT_TRUE(testing::processEventsUntil([&] { return !viewer.picture().isNull(); }));
    const QImage& shown = viewer.picture();
    ASSERT_EQ(shown.size(), area.size() * viewer.devicePixelRatioF());
    EXPECT_EQ(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(200, 30, 30));
    EXPECT_EQ(shown.pixelColor(shown.width() / 2, 2), QColor(Qt::white));  // above the wide photo

    // A file that is no photo shows white, and closing never waits on a stuck load.
    PhotoViewerDialog missing(nullptr, path("gone.jpg"));
    missing.show();
    ASSERT_TRUE(testing::processEventsUntil([&] { return !missing.picture().isNull(); }));
    EXPECT_EQ(missing.picture().pixelColor(5, 5), QColor(Qt::white));
}

// ---- The soundtrack line

// Peaks of a clip that swings to full scale for `seconds`, at 100 buckets a second.
AudioPeaks fullScalePeaks(double seconds) {
    AudioPeaks peaks;
    peaks.bucketsPerSecond = 100.0;
    const auto buckets = static_cast<std::size_t>(seconds * 100.0);
    peaks.low.assign(buckets, -127);
    peaks.high.assign(buckets, 127);
    peaks.decodedFrames = static_cast<std::uint64_t>(seconds * 44100.0);
    peaks.complete = true;
    return peaks;
}

// The control is never shorter than both lines: shown at its own size, or squeezed, the soundtrack
// line's frame lies inside the view.
TEST_F(StoryboardPixelTest, BothLinesShowAtTheControlsOwnHeight) {
    StoryboardControl own;
    own.resize(600, own.sizeHint().height());
    own.show();
    QApplication::processEvents();
    EXPECT_GE(own.viewport()->height(), storyboard::kViewHeight);
    EXPECT_EQ(own.height(), own.heightForBothLines());
    own.resize(600, 90);  // no shorter than its minimum
    QApplication::processEvents();
    EXPECT_GE(own.viewport()->height(), storyboard::kViewHeight);
    const QImage image = own.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(image.pixel(50, storyboard::kSoundtrackTop), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(50, storyboard::kSoundtrackBottom - 1), qRgb(0, 0, 0));
    EXPECT_GT(inked(image, QRect(5, 104, 120, 25)), 20);  // "Soundtrack"
}

// Audio dragged down from the browser enters over the photo line: the entry is taken (a refused entry
// would get no further moves), the photo line refuses it, and the soundtrack line below takes it.
TEST_F(StoryboardDropTest, AudioEnteringOverThePhotoLineIsTakenOnTheSoundtrackLine) {
    addPhotos(1);
    const auto clip = payload(DragLine::Soundtrack, {waveFile(path("a.wav"), 2.0)});
    QDragEnterEvent enter(QPoint(60, 5), Qt::CopyAction, clip.get(), Qt::LeftButton, {});
    QApplication::sendEvent(view(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(board->dropIndicatorCell(), -1);
    QDragMoveEvent over(QPoint(60, 40), Qt::CopyAction, clip.get(), Qt::LeftButton, {});
    QApplication::sendEvent(view(), &over);
    EXPECT_FALSE(over.isAccepted());
    QDragMoveEvent down(QPoint(60, 117), Qt::CopyAction, clip.get(), Qt::LeftButton, {});
    QApplication::sendEvent(view(), &down);
    EXPECT_TRUE(down.isAccepted());
    QDropEvent dropped(QPointF(60, 117), Qt::CopyAction, clip.get(), Qt::LeftButton, {});
    QApplication::sendEvent(view(), &dropped);
    EXPECT_EQ(board->project().clips().size(), 1u);

    // Photos entering over the soundtrack line are taken there and refused until they reach a slide.
    const auto photos = payload(DragLine::Photos, {photo("b.png")});
    QDragEnterEvent below(QPoint(60, 120), Qt::CopyAction, photos.get(), Qt::LeftButton, {});
    QApplication::sendEvent(view(), &below);
    EXPECT_TRUE(below.isAccepted());
    QDragMoveEvent up(at(0, 60, 40), Qt::CopyAction, photos.get(), Qt::LeftButton, {});
    QApplication::sendEvent(view(), &up);
    EXPECT_TRUE(up.isAccepted());
    EXPECT_EQ(board->dropIndicatorCell(), 0);
    QDragLeaveEvent leave;
    QApplication::sendEvent(view(), &leave);
}

// Audio is taken anywhere on the soundtrack line, its middle included, on a control of its own height.
TEST_F(StoryboardDropTest, ADropOnTheMiddleOfTheLineAddsAClip) {
    board->resize(4 * kCellWidth + 40, board->heightForBothLines());
    QApplication::processEvents();
    const auto clip = payload(DragLine::Soundtrack, {waveFile(path("a.wav"), 2.0)});
    const int middle = (storyboard::kSoundtrackTop + storyboard::kSoundtrackBottom) / 2;
    EXPECT_TRUE(drag(*clip, QPoint(300, middle), true));
    EXPECT_TRUE(drag(*clip, QPoint(20, storyboard::kSoundtrackBottom - 2), true));
    EXPECT_EQ(board->project().clips().size(), 2u);
    EXPECT_EQ(dropAction, Qt::CopyAction);
    EXPECT_TRUE(messages.texts.empty());

    // An MP3 from a file manager goes there too (made with ffmpeg where it is installed).
    const std::string mp3 = path("tune.mp3");
    testing::commandOutput(
        "ffmpeg -nostdin -loglevel error -f lavfi -i sine=frequency=440:duration=1.5 -y '" + mp3 + "' 2>&1");
    if (std::filesystem::exists(mp3)) {
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(QString::fromStdString(mp3))});
        EXPECT_FALSE(drag(files, QPoint(300, 40), false));  // not on the photo line
        EXPECT_TRUE(drag(files, QPoint(300, middle), true));
        ASSERT_EQ(board->project().clips().size(), 3u);
        EXPECT_NEAR(board->project().clip(2)->durationSeconds, 1.5, 0.1);
    }
}

// A click selects a clip (the slide's selection goes); then the slide keys act on it: Left and Right
// select its neighbours, '<' and '>' move it, Delete deletes it, Up goes back to the slides and Down
// onto the soundtrack.
TEST_F(StoryboardControlTest, ClipsAreSelectedByClickAndEditedWithTheSlideKeys) {
    addPhotos(2);
    for (const char* name : {"a", "b", "c"}) board->project().addTimedClip(path(name) + ".mp3", 3.0);
    QApplication::processEvents();
    const auto names = [this] {
        std::string out;
        for (const SoundtrackClip& clip : board->project().clips())
            out += clip.wavePath.substr(clip.wavePath.size() - 5, 1);
        return out;
    };
    const auto clipMiddle = [this](int i) {
        const CellRect& r = board->project().clip(i)->cellRect;
        return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    };
    click(clipMiddle(1));
    EXPECT_EQ(board->project().selectedClip(), 1);
    EXPECT_EQ(board->project().selectedSlide(), -1);
    EXPECT_EQ(board->accessibleDescription(), QStringLiteral("Clip 2 of 3, b.mp3, 0:03"));
    ASSERT_TRUE(board->hasFocus());

    QTest::keyClick(board.get(), Qt::Key_Period);
    EXPECT_EQ(names(), "acb");
    EXPECT_EQ(board->project().selectedClip(), 2);
    QTest::keyClick(board.get(), Qt::Key_Greater);  // the last stays last
    EXPECT_EQ(names(), "acb");
    QTest::keyClick(board.get(), Qt::Key_Left);
    EXPECT_EQ(board->project().selectedClip(), 1);
    QTest::keyClick(board.get(), Qt::Key_Comma);
    EXPECT_EQ(names(), "cab");
    EXPECT_EQ(board->project().selectedClip(), 0);
    QTest::keyClick(board.get(), Qt::Key_Delete);
    EXPECT_EQ(names(), "ab");
    EXPECT_EQ(board->project().selectedClip(), 0);
    EXPECT_EQ(board->project().photoSlideCount(), 2);  // the slides are untouched

    QTest::keyClick(board.get(), Qt::Key_Up);
    EXPECT_EQ(board->project().selectedSlide(), 0);
    EXPECT_EQ(board->project().selectedClip(), -1);
    QTest::keyClick(board.get(), Qt::Key_Delete);  // the slide's key again
    EXPECT_EQ(board->project().photoSlideCount(), 1);
    EXPECT_EQ(board->project().clips().size(), 2u);
    QTest::keyClick(board.get(), Qt::Key_Down);
    EXPECT_EQ(board->project().selectedClip(), 0);

    // A click on a photo selects the slide again.
    click(at(0, 40, 30));
    EXPECT_EQ(board->project().selectedSlide(), 0);
    EXPECT_EQ(board->project().selectedClip(), -1);
}

// A right click on a clip shows the clip's menu, and its items do what they say.
TEST_F(StoryboardControlTest, TheClipMenuMovesAndDeletesClips) {
    addPhotos(1);
    for (const char* name : {"a", "b"}) board->project().addTimedClip(path(name) + ".mp3", 3.0);
    QApplication::processEvents();
    const CellRect r = board->project().clip(1)->cellRect;
    const QPoint point((r.left + r.right) / 2, 110);
    QContextMenuEvent event(QContextMenuEvent::Mouse, point, view()->mapToGlobal(point));
    QApplication::sendEvent(view(), &event);
    EXPECT_EQ(board->project().selectedClip(), 1);
    ASSERT_EQ(lastMenuTexts.size(), 6u);
    EXPECT_EQ(lastMenuTexts[0], QStringLiteral("Shift Clip Left '<'"));
    EXPECT_EQ(lastMenuTexts[2], QStringLiteral("Delete Clip"));
    EXPECT_EQ(lastMenuTexts[4], QStringLiteral("Fit to Music"));
    EXPECT_EQ(lastMenu, (std::vector<bool>{true, false, true, true, true, true}));

    // Shift+F10 on the selected clip: its menu, starting on its first item that can be chosen.
    QString active;
    board->setMenuRunner([&active](QMenu& shown, const QPoint&) {
        active = shown.activeAction() ? shown.activeAction()->text() : QString();
    });
    board->setFocus();
    QTest::keyClick(board.get(), Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(active, QStringLiteral("Shift Clip Left '<'"));

    std::unique_ptr<QMenu> menu = board->makeContextMenu();
    menu->actions()[0]->trigger();
    EXPECT_EQ(board->project().clip(0)->wavePath, path("b.mp3"));
    EXPECT_EQ(board->project().selectedClip(), 0);
    menu = board->makeContextMenu();
    menu->actions()[2]->trigger();
    ASSERT_EQ(board->project().clips().size(), 1u);
    EXPECT_EQ(board->project().clip(0)->wavePath, path("a.mp3"));
}

// Waveforms come from the peaks: a clip whose peaks are in shows them over its whole height, one whose
// peaks are pending shows its box and name; when they arrive it takes the decoded length and shows them.
TEST_F(StoryboardPixelTest, WaveformsAreDrawnFromTheSuppliedPeaks) {
    const QRgb wavePen = StoryboardControl::kWaveformPen;
    const std::string first = path("first.mp3");
    const std::string second = path("second.mp3");
    suppliedPeaks[first] = fullScalePeaks(4.0);
    board->project().addTimedClip(first, 4.0);
    board->project().addTimedClip(second, 4.0);
    const auto area = [this](int i) {
        const CellRect& r = board->project().clip(i)->cellRect;
        return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
    };
    QImage image = grabView();
    const QRect a = area(0);
    // Full scale: from the clip's top edge to its bottom edge, inside its frame.
    const int x = a.left() + a.width() - 5;
    EXPECT_EQ(image.pixel(x, a.top() + 1), wavePen);
    EXPECT_EQ(image.pixel(x, a.bottom() - 1), wavePen);
    EXPECT_EQ(withColour(image, area(1), wavePen), 0);
    EXPECT_GT(inked(image, QRect(area(1).left() + 4, area(1).top() + 2, 60, 15)), 20);  // its name

    suppliedPeaks[second] = fullScalePeaks(3.5);
    board->clipPeaksReady(second);
    EXPECT_DOUBLE_EQ(board->project().clip(1)->durationSeconds, 3.5);
    EXPECT_EQ(board->project().clip(1)->cellWidth, clipWidthForSeconds(3.5, 0, 0.0));
    image = grabView();
    EXPECT_GT(withColour(image, area(1), wavePen), 100);

    // Peaks of a file that failed midway draw what was read, and the measured length stays.
    AudioPeaks partial = fullScalePeaks(1.0);
    partial.complete = false;
    suppliedPeaks[first] = partial;
    board->clipPeaksReady(first);
    EXPECT_DOUBLE_EQ(board->project().clip(0)->durationSeconds, 4.0);
}

// ---- Fit to music

class StoryboardFitTest : public StoryboardControlTest {
protected:
    void SetUp() override {
        StoryboardControlTest::SetUp();
        addPhotos(3);  // 3 s stills and 1 s transitions
        board->setFrameRateProvider([] { return 25.0; });
    }
};

// Fit to Music scales the stills to the music and relays the soundtrack's scale; music too short for
// half-second stills says so; without clips the commands are off.
TEST_F(StoryboardFitTest, FitToMusicScalesTheStillsAndSaysWhenTheMusicIsTooShort) {
    EXPECT_FALSE(board->canFitToMusic());
    board->runFitToMusic(false);
    EXPECT_DOUBLE_EQ(board->project().slide(0)->slideDuration, 3.0);
    EXPECT_TRUE(messages.texts.empty());

    board->project().addTimedClip(path("long.mp3"), 30.0);
    ASSERT_TRUE(board->canFitToMusic());
    const int widthBefore = board->project().clip(0)->cellWidth;
    board->runFitToMusic(false);
    EXPECT_GT(board->project().slide(0)->slideDuration, 3.0);
    EXPECT_NEAR(board->project().totalDuration(), 30.0, 1.0);
    EXPECT_NE(board->project().clip(0)->cellWidth, widthBefore);  // the line's scale follows the show
    EXPECT_TRUE(messages.texts.empty());

    board->project().resetProject();
    addPhotos(3);
    board->project().addTimedClip(path("short.mp3"), 2.0);
    board->runFitToMusic(false);
    // The shortest still, in whole frames.
    EXPECT_NEAR(board->project().slide(0)->slideDuration, kMinFittedStillSeconds, 1.0 / 25);
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_NE(messages.texts[0].find("music is too short"), std::string::npos);
    EXPECT_NE(messages.texts[0].find("0.5 seconds"), std::string::npos);

    // Four days of music for three photos: as long as they can be, and said so.
    for (int i = 0; i < 4; ++i) board->project().addTimedClip(path("day.mp3"), kMaxDurationSeconds);
    board->runFitToMusic(false);
    ASSERT_EQ(messages.texts.size(), 2u);
    EXPECT_NE(messages.texts[1].find("music is too long"), std::string::npos);
}

// On the beats: each file's beats are found once, on a worker, while the control stays usable; the
// fit follows when they are in; a second fit uses the beats kept.
TEST_F(StoryboardFitTest, FitToMusicOnTheBeatsFindsEachFilesBeatsOnce) {
    std::atomic<int> detections = 0;
    board->setBeatDetector([&detections](const std::string&, std::stop_token) {
        ++detections;
        BeatTrack track;
        for (int i = 0; i < 120; ++i) track.beatSeconds.push_back(0.5 * i);
        track.beatsPerMinute = 120.0;
        track.complete = true;
        return track;
    });
    board->project().addTimedClip(path("a.mp3"), 20.0);
    board->project().addTimedClip(path("a.mp3"), 20.0);
    QSignalSpy availability(board.get(), &StoryboardControl::fitToMusicAvailabilityChanged);
    board->runFitToMusic(true);
    EXPECT_TRUE(board->findingBeats());
    EXPECT_FALSE(board->canFitToMusic());  // one search at a time
    ASSERT_TRUE(testing::processEventsUntil([&] { return !board->findingBeats(); }));
    EXPECT_EQ(detections.load(), 1);  // one file, however many clips
    EXPECT_GE(availability.count(), 2);
    EXPECT_TRUE(board->canFitToMusic());
    // Every slide change (a transition's start) lies on a half-second beat, within a frame.
    double start = 0.0;
    for (int i = 0; i < board->project().photoSlideCount(); ++i) {
        const Slide* slide = board->project().slide(i);
        const double change = start + slide->slideDuration;
        EXPECT_LE(std::abs(std::remainder(change, 0.5)), 1.0 / 25 + 1e-6) << i << ": " << change;
        start = change + slide->transitionDuration;
    }
    board->runFitToMusic(true);
    EXPECT_FALSE(board->findingBeats());  // the beats were kept
    EXPECT_EQ(detections.load(), 1);
}

// Closing while beats are being found stops the search and fits nothing.
TEST_F(StoryboardFitTest, ClosingWhileFindingBeatsStopsTheSearch) {
    std::atomic<bool> started = false;
    board->setBeatDetector([&started](const std::string&, std::stop_token stop) {
        started = true;
        while (!stop.stop_requested()) std::this_thread::yield();
        return BeatTrack{};
    });
    board->project().addTimedClip(path("a.mp3"), 20.0);
    board->runFitToMusic(true);
    ASSERT_TRUE(testing::processEventsUntil([&] { return started.load(); }));
    board->stopFindingBeats();
    EXPECT_FALSE(board->findingBeats());
    EXPECT_DOUBLE_EQ(board->project().slide(0)->slideDuration, 3.0);
    board->runFitToMusic(true);
    board.reset();  // while searching again: the control goes without waiting on a message
}

// Music longer than the photo line can be scrolled to its end, and a clip moved there comes into view.
TEST_F(StoryboardControlTest, ALongSongCanBeScrolledToItsEnd) {
    addPhotos(2);  // 8 s over 308 pixels
    board->project().addTimedClip(path("intro.mp3"), 4.0);
    board->project().addTimedClip(path("long.mp3"), 120.0);
    QApplication::processEvents();
    const int end = board->project().clip(0)->cellWidth + board->project().clip(1)->cellWidth;
    EXPECT_EQ(board->scrollLimitNow(), end - board->visibleWidth());
    board->selectClip(0);
    board->setFocus();
    QTest::keyClick(board.get(), Qt::Key_Period);  // the short clip goes after the long one: into view
    ASSERT_EQ(board->project().selectedClip(), 1);
    const CellRect& moved = board->project().clip(1)->cellRect;
    EXPECT_GE(moved.left, 0);
    EXPECT_LE(moved.right, board->visibleWidth());
    // Without clips the range is the photo line's again.
    board->project().resetProject();
    QApplication::processEvents();
    EXPECT_EQ(board->scrollLimitNow(),
              storyboard::scrollLimit(board->project().contentWidth(), board->visibleWidth()));
}

// A thousand clips: each lies after the one before, the line scrolls to the last, and a paint there
// asks only for the clips in view.
TEST_F(StoryboardControlTest, AThousandClipsLieEndToEndAndPaintWhatIsInView) {
    addPhotos(2);
    for (int i = 0; i < 1000; ++i)
        board->project().addTimedClip(path("clip" + std::to_string(i) + ".mp3"), 2.0);
    QApplication::processEvents();
    const int width = board->project().clip(0)->cellWidth;
    board->scrollTo(board->scrollLimitNow());
    QApplication::processEvents();
    peakLookups = 0;
    view()->grab();
    EXPECT_LE(peakLookups, board->visibleWidth() / width + 2);
    const CellRect& last = board->project().clip(999)->cellRect;
    EXPECT_EQ(last.left + board->scrollPosition(), 999 * width);
    EXPECT_EQ(last.right, board->visibleWidth());
}

}  // namespace
}  // namespace kestrelle
