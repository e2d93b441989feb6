#include "project/project_history.h"
#include "project/fit_to_music.h"
#include "project/slideshow_project.h"

#include <gtest/gtest.h>

#include <QUndoStack>

#include <random>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

struct ReplaceCounter : ProjectObserver {
    int replaced = 0;
    void contentReplaced() override { ++replaced; }
};

std::string photoName(int n) {
    return "/nonexistent-kestrelle/history/photo" + std::to_string(n) + ".jpg";
}

// The row's shape as the storyboard relies on it: photos first, numbered cells, a placeholder after.
void expectWellFormed(const SlideShowProject& p) {
    ASSERT_GE(p.placeholderCount(), 1);
    for (int i = 0; i < p.cellCount(); ++i) {
        ASSERT_EQ(p.slide(i)->index, i);
        ASSERT_EQ(p.slide(i)->hasPhoto, i < p.photoSlideCount());
    }
    for (const int s : p.selectedSlides()) {
        ASSERT_TRUE(s >= 0 && s < p.photoSlideCount());
    }
}

std::vector<int> randomSubset(std::mt19937& random, int count) {
    std::vector<int> picked;
    for (int i = 0; i < count; ++i) {
        if (random() % 3 == 0) {
            picked.push_back(i);
        }
    }
    return picked;
}

// Every kind of edit the model offers, drawn at random with a fixed seed, each recorded; then all of them
// undone back to the empty storyboard, the model compared with the copy recorded at each step, and redone
// to the end the same way.
TEST(ProjectHistory, ThousandRandomEditsUndoToEmptyAndRedoToTheEnd) {
    SlideShowProject project;
    project.setMakesThumbnails(false);  // photos by name only: the edits are what is tested
    project.setVisibleWidth(700);
    project.fillPlaceholders(700);
    SlideDefaults defaults;
    project.setDefaultsProvider([&defaults] { return defaults; });
    ProjectHistory history(project);
    history.stack().setUndoLimit(0);  // every step kept, to undo all the way back

    std::mt19937 random(20261208);
    std::vector<ProjectContent> copies{project.content()};
    int photoNumber = 0;
    int unchanged = 0;
    ProjectContent opened;  // a slideshow as a project file would give it
    for (int k = 0; k < 40; ++k) {
        opened.slides.push_back({photoName(10000 + k), 2.0 + k, 1.0, k % 13, -1, k % 7 == 0});
    }
    opened.clips.push_back({"/nonexistent-kestrelle/song.mp3", 95.5, 0, 0});

    for (int step = 0; step < 1000; ++step) {
        const int photos = project.photoSlideCount();
        const int clips = static_cast<int>(project.clips().size());
        const int kind = static_cast<int>(random() % 19);
        const auto anySlide = [&] { return photos > 0 ? static_cast<int>(random() % photos) : 0; };
        const auto anyClip = [&] { return clips > 0 ? static_cast<int>(random() % clips) : 0; };
        const double seconds = static_cast<double>(random() % 2000) / 100.0 - 2.0;  // some not positive
        const bool changed = history.record(QStringLiteral("Edit"), [&] {
            switch (kind) {
                case 0:
                case 1:
                    project.insertPhoto(photoName(photoNumber++), static_cast<int>(random() % (photos + 3)),
                                        static_cast<int>(random() % 14), 3.0, 2.0);
                    break;
                case 2: {
                    std::vector<std::string> paths;
                    for (int n = static_cast<int>(random() % 4) + 1; n > 0; --n) {
                        paths.push_back(photoName(photoNumber++));
                    }
                    project.insertPhotos(paths, static_cast<int>(random() % (photos + 3)), 5, 4.0, 1.0);
                    break;
                }
                case 3:
                    project.deleteSlide(anySlide());
                    break;
                case 4:
                    project.deleteSlides(randomSubset(random, photos));
                    break;
                case 5:
                    project.moveSlides(randomSubset(random, photos),
                                       static_cast<int>(random() % (photos + 2)));
                    break;
                case 6:
                    project.setSelectedSlide(anySlide());
                    random() % 2 ? project.shiftSlideLeft() : project.shiftSlideRight();
                    break;
                case 7:
                    project.setSlideSelection(randomSubset(random, photos), anySlide());
                    random() % 2 ? project.shiftSelectionLeft() : project.shiftSelectionRight();
                    break;
                case 8:
                    project.setSlideDuration(anySlide(), seconds);
                    break;
                case 9:
                    project.setTransitionDuration(anySlide(), seconds);
                    break;
                case 10:
                    project.setTransitionEffect(anySlide(), static_cast<int>(random() % 15) - 1);
                    break;
                case 11:
                    defaults = {1.0 + static_cast<double>(random() % 5), 0.5,
                                static_cast<int>(random() % 13)};
                    project.applyDefaultsToAll();
                    break;
                case 12:
                    if (random() % 2) {
                        project.addMeasuredClip("/nonexistent-kestrelle/a.wav", 44100u * 4 * (random() % 30),
                                                44100u * 4);
                    } else {
                        project.addTimedClip("/nonexistent-kestrelle/b.mp3", seconds * 10.0);
                    }
                    break;
                case 13:
                    project.deleteClip(anyClip());
                    break;
                case 14:
                    project.setSelectedClip(anyClip());
                    random() % 2 ? project.shiftClipLeft() : project.shiftClipRight();
                    break;
                case 15:
                    project.setClipDuration(anyClip(), seconds * 7.0);
                    break;
                case 16:
                    fitToMusic(project, 30.0 + static_cast<double>(random() % 600), 25.0);
                    break;
                case 17:
                    if (random() % 8 == 0) {
                        project.setContent(opened);
                    } else if (random() % 2 == 0) {
                        project.resetProject();
                    }
                    break;
                default:
                    project.setSlideDurationText(anySlide(), std::to_string(seconds));
                    break;
            }
        });
        ASSERT_NO_FATAL_FAILURE(expectWellFormed(project)) << "step " << step;
        if (changed) {
            copies.push_back(project.content());
        } else {
            ++unchanged;
            ASSERT_EQ(project.content(), copies.back()) << "step " << step << " changed nothing recorded";
        }
    }
    const int steps = static_cast<int>(copies.size()) - 1;
    ASSERT_EQ(history.stack().count(), steps);
    EXPECT_GT(steps, 700) << "most random edits change something";

    for (int i = steps; i > 0; --i) {
        ASSERT_TRUE(history.stack().canUndo());
        history.stack().undo();
        ASSERT_EQ(project.content(), copies[static_cast<std::size_t>(i - 1)]) << "undo to step " << i - 1;
        ASSERT_NO_FATAL_FAILURE(expectWellFormed(project));
    }
    EXPECT_FALSE(history.stack().canUndo());
    EXPECT_TRUE(project.content().slides.empty());
    EXPECT_TRUE(project.content().clips.empty());
    EXPECT_EQ(project.photoSlideCount(), 0);

    for (int i = 1; i <= steps; ++i) {
        ASSERT_TRUE(history.stack().canRedo());
        history.stack().redo();
        ASSERT_EQ(project.content(), copies[static_cast<std::size_t>(i)]) << "redo to step " << i;
    }
    EXPECT_FALSE(history.stack().canRedo());
}

TEST(ProjectHistory, RecordsOnlyChangesAndDoesNotReapplyOnPush) {
    SlideShowProject project;
    project.setMakesThumbnails(false);
    project.fillPlaceholders(300);
    ReplaceCounter observer;
    project.setObserver(&observer);
    ProjectHistory history(project);

    EXPECT_FALSE(history.record(QStringLiteral("Nothing"), [] {}));
    EXPECT_FALSE(history.record(QStringLiteral("Delete Slide"), [&] { project.deleteSlide(0); }));
    EXPECT_EQ(history.stack().count(), 0);

    EXPECT_TRUE(history.record(QStringLiteral("Add Photos"), [&] {
        project.insertPhotos({photoName(1), photoName(2)}, 0, 0, 3.0, 3.0);
    }));
    EXPECT_EQ(observer.replaced, 0) << "pushing the step must not set the content again";
    EXPECT_EQ(history.stack().undoText(), QStringLiteral("Add Photos"));
    EXPECT_EQ(project.selectedSlide(), 1) << "the edit's own selection stays";

    history.stack().undo();
    EXPECT_EQ(project.photoSlideCount(), 0);
    EXPECT_EQ(history.stack().redoText(), QStringLiteral("Add Photos"));
    history.stack().redo();
    EXPECT_EQ(project.photoSlideCount(), 2);
    EXPECT_EQ(observer.replaced, 2);

    // Undo and redo select what was selected before and after the step.
    project.setSlideSelection({0, 1}, 1);
    EXPECT_TRUE(history.record(QStringLiteral("Move Slides"), [&] { project.moveSlides({1}, 0); }));
    EXPECT_EQ(project.selectedSlides(), (std::vector<int>{0}));
    history.stack().undo();
    EXPECT_EQ(project.selectedSlides(), (std::vector<int>{0, 1}));
    EXPECT_EQ(project.selectedSlide(), 1);
    history.stack().redo();
    EXPECT_EQ(project.selectedSlides(), (std::vector<int>{0}));
    project.setObserver(nullptr);
}

TEST(ProjectHistory, UndoKeepsThumbnailsAndTheLimitForgetsTheOldest) {
    SlideShowProject project;
    project.setMakesThumbnails(false);
    project.fillPlaceholders(300);
    ProjectHistory history(project);
    history.record(QStringLiteral("Add Photos"), [&] { project.insertPhoto(photoName(1), 0, 0, 3.0, 3.0); });
    const int thumbnailIndex = project.slide(0)->thumbnailIndex;
    const std::size_t thumbnails = project.thumbnails().size();
    for (int i = 0; i < 520; ++i) {
        history.record(QStringLiteral("Change Duration"), [&] { project.setSlideDuration(0, 10.0 + i); });
    }
    EXPECT_EQ(history.stack().count(), 500) << "the oldest steps are forgotten";
    while (history.stack().canUndo()) {
        history.stack().undo();
    }
    EXPECT_EQ(project.slide(0)->thumbnailIndex, thumbnailIndex);
    EXPECT_EQ(project.thumbnails().size(), thumbnails) << "undo makes no thumbnail";
}

TEST(ProjectHistory, ThumbnailsProvidedLaterSurviveUndo) {
    SlideShowProject project;
    project.fillPlaceholders(300);
    ProjectContent opened;
    opened.slides.push_back({photoName(1), 3.0, 3.0, 2, -1, false});
    opened.slides.push_back({photoName(2), 3.0, 3.0, 2, -1, true});
    project.setContent(opened);
    EXPECT_TRUE(project.slideNeedsThumbnail(0));
    EXPECT_FALSE(project.slideNeedsThumbnail(1)) << "a missing photo gets no thumbnail";
    ProjectHistory history(project);
    history.record(QStringLiteral("Delete Slide"), [&] { project.deleteSlide(0); });
    EXPECT_EQ(project.provideThumbnail(photoName(1), QImage(4, 4, QImage::Format_RGB32)), 0);
    history.stack().undo();
    ASSERT_GE(project.slide(0)->thumbnailIndex, 0) << "the thumbnail made meanwhile is used";
    EXPECT_FALSE(project.slideNeedsThumbnail(0));
    EXPECT_EQ(project.slide(0)->photoPath, photoName(1));
    EXPECT_TRUE(project.slide(1)->photoMissing);
}

}  // namespace
}  // namespace kestrelle
