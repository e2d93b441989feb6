#include "project/transition_sample.h"
#include "project/slideshow_project.h"
#include "tests/support/temp_home.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <string>

namespace kestrelle {
namespace {

class TransitionSampleTest : public kestrelle::testing::TempHomeTest {};

TEST_F(TransitionSampleTest, TheSlidesPhotoIntoTheNextThenIntoBlack) {
    SlideShowProject project;
    project.setVisibleWidth(400);
    project.fillPlaceholders(400);
    for (const QColor colour : {QColor(Qt::red), QColor(Qt::blue)}) {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(colour);
        const std::string file = path(colour.name().toStdString().substr(1) + ".png");
        ASSERT_TRUE(image.save(QString::fromStdString(file)));
        project.insertPhoto(file, project.photoSlideCount(), 0, 3.0, 1.0);
    }
    const SampleSource first = sampleSourceFor(&project, 0);
    EXPECT_TRUE(first.fromProject);
    EXPECT_EQ(first.currentPhoto, project.slide(0)->photoPath);
    EXPECT_EQ(first.nextPhoto, project.slide(1)->photoPath);
    const SampleSource last = sampleSourceFor(&project, 1);
    EXPECT_EQ(last.currentPhoto, project.slide(1)->photoPath);
    EXPECT_TRUE(last.nextPhoto.empty());  // into black
    EXPECT_FALSE(sampleSourceFor(nullptr, 3).fromProject);
}

}  // namespace
}  // namespace kestrelle
