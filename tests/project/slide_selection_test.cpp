#include "project/slideshow_project.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrelle {
namespace {

std::string photo(int n) {
    return "/nonexistent-kestrelle/selection/photo" + std::to_string(n) + ".jpg";
}

// A row of `count` photos named by their first position, so an order reads as a list of numbers.
void fill(SlideShowProject& p, int count) {
    p.setMakesThumbnails(false);
    p.fillPlaceholders(300);
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        paths.push_back(photo(i));
    }
    p.insertPhotos(paths, 0, 0, 3.0, 3.0);
}

std::vector<int> order(const SlideShowProject& p) {
    std::vector<int> numbers;
    for (int i = 0; i < p.photoSlideCount(); ++i) {
        const std::string& path = p.slide(i)->photoPath;
        numbers.push_back(std::stoi(path.substr(path.rfind("photo") + 5)));
    }
    return numbers;
}

TEST(SlideSelection, CtrlTogglesShiftExtendsFromTheAnchor) {
    SlideShowProject p;
    fill(p, 8);
    p.setSelectedSlide(2);
    EXPECT_TRUE(p.toggleSlideSelection(5));
    EXPECT_EQ(p.selectedSlides(), (std::vector<int>{2, 5}));
    EXPECT_EQ(p.selectedSlide(), 5);
    EXPECT_TRUE(p.extendSlideSelection(7));  // from the anchor, 5
    EXPECT_EQ(p.selectedSlides(), (std::vector<int>{5, 6, 7}));
    EXPECT_TRUE(p.extendSlideSelection(3));
    EXPECT_EQ(p.selectedSlides(), (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(p.selectedSlide(), 3);
    EXPECT_TRUE(p.toggleSlideSelection(3));  // the current one leaves: the next selected becomes current
    EXPECT_EQ(p.selectedSlides(), (std::vector<int>{4, 5}));
    EXPECT_EQ(p.selectedSlide(), 4);
    EXPECT_FALSE(p.toggleSlideSelection(8)) << "a placeholder is never selected";
    EXPECT_FALSE(p.extendSlideSelection(-1));
    EXPECT_TRUE(p.setSelectedClip(-1));
    EXPECT_EQ(p.selectedSlides().size(), 2u) << "no clip chosen: the slides stay";
    p.addTimedClip("/nonexistent-kestrelle/a.mp3", 10.0);
    p.setSelectedClip(0);
    EXPECT_TRUE(p.selectedSlides().empty());
    EXPECT_EQ(p.selectedSlide(), -1);
}

TEST(SlideSelection, DeleteSeveralInOnePass) {
    SlideShowProject p;
    fill(p, 8);
    EXPECT_EQ(p.deleteSlides({6, 1, 3, 3, 42, -1}), 3);
    EXPECT_EQ(order(p), (std::vector<int>{0, 2, 4, 5, 7}));
    EXPECT_EQ(p.selectedSlide(), 1) << "the slide that moved into the first gap";
    EXPECT_EQ(p.selectedSlides(), (std::vector<int>{1}));
    EXPECT_EQ(p.deleteSlides({3, 4}), 2);
    EXPECT_EQ(p.selectedSlide(), 2) << "at the end: the last photo";
    EXPECT_EQ(p.deleteSlides({0, 1, 2}), 3);
    EXPECT_EQ(p.selectedSlide(), -1);
    EXPECT_GE(p.placeholderCount(), 1);
    EXPECT_EQ(p.deleteSlides({0}), 0);
}

TEST(SlideSelection, MoveKeepsOrderAndSelection) {
    SlideShowProject p;
    fill(p, 6);
    EXPECT_TRUE(p.moveSlides({4, 1}, 0));
    EXPECT_EQ(order(p), (std::vector<int>{1, 4, 0, 2, 3, 5}));
    EXPECT_EQ(p.selectedSlides(), (std::vector<int>{0, 1}));
    EXPECT_TRUE(p.moveSlides({0, 1}, 6));  // to the end
    EXPECT_EQ(order(p), (std::vector<int>{0, 2, 3, 5, 1, 4}));
    EXPECT_FALSE(p.moveSlides({4, 5}, 4)) << "already there";
    EXPECT_FALSE(p.moveSlides({4, 5}, 99));
    EXPECT_FALSE(p.moveSlides({6, 7}, 0)) << "placeholders do not move";
    EXPECT_TRUE(p.moveSlides({2}, 1));
    EXPECT_EQ(order(p), (std::vector<int>{0, 3, 2, 5, 1, 4}));
}

TEST(SlideSelection, ShiftKeysMoveTheSelectedBlock) {
    SlideShowProject p;
    fill(p, 6);
    p.setSlideSelection({2, 3}, 3);
    p.shiftSelectionLeft();
    EXPECT_EQ(order(p), (std::vector<int>{0, 2, 3, 1, 4, 5}));
    EXPECT_EQ(p.selectedSlides(), (std::vector<int>{1, 2}));
    EXPECT_EQ(p.selectedSlide(), 2) << "the current slide moves with the block";
    p.shiftSelectionRight();
    p.shiftSelectionRight();
    EXPECT_EQ(order(p), (std::vector<int>{0, 1, 4, 2, 3, 5}));
    p.shiftSelectionRight();
    p.shiftSelectionRight();
    EXPECT_EQ(order(p), (std::vector<int>{0, 1, 4, 5, 2, 3})) << "stops at the end";
    p.setSlideSelection({0, 3}, 0);
    p.shiftSelectionRight();  // apart: gathered first
    EXPECT_EQ(order(p), (std::vector<int>{0, 5, 1, 4, 2, 3}));
}

TEST(SlideSelection, ContentRoundTripAndHostileValues) {
    SlideShowProject p;
    p.setVisibleWidth(500);
    ProjectContent c;
    c.slides.push_back({"/a/x.jpg", 2.5, 1.5, 7, -1, false});
    c.slides.push_back({"/a/y.jpg", 4.0, 0.5, 12, 99, true});
    c.clips.push_back({"/a/s.wav", 12.0, 44100u * 4 * 12, 44100u * 4});
    p.setContent(c);
    c.slides[1].thumbnailIndex = -1;  // names no thumbnail
    EXPECT_EQ(p.content(), c);
    EXPECT_GE(p.cellCount(), 500 / kCellWidth + 1);
    EXPECT_GT(p.clips()[0].cellWidth, 0);
    EXPECT_TRUE(p.slide(1)->photoMissing);

    ProjectContent bad;
    bad.slides.push_back({"/a/z.jpg", -5.0, 1e300, 40, -7, false});
    p.setContent(bad);
    EXPECT_EQ(p.slide(0)->slideDuration, 0.0);
    EXPECT_EQ(p.slide(0)->transitionDuration, kMaxDurationSeconds);
    EXPECT_EQ(p.slide(0)->transitionEffect, 0);
    EXPECT_EQ(p.selectedSlide(), -1);
}

}  // namespace
}  // namespace kestrelle
