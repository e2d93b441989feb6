#pragma once
// What the generation job's tests share: a message presenter that records, ffprobe and ffmpeg as
// readers of the files written, and a fixture that renders 64 x 48 videos in a private home.

#include "base/data_folder.h"
#include "base/message_box.h"
#include "media/video_compressor.h"
#include "output/generation_job.h"
#include "project/slideshow_project.h"
#include "tests/support/temp_home.h"

#include <QImage>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace kestrelle::testing {

// Records the program's messages instead of showing them; answers OK.
class RecordingPresenter final : public MessagePresenter {
public:
    int show(const std::string& text, unsigned) override {
        texts.push_back(text);
        return MessageAnswer::kOk;
    }
    std::vector<std::string> texts;
};

// Runs a tool and returns its standard output; its standard error goes to `errors` when given.
inline std::string runTool(const QString& program, const QStringList& arguments,
                           std::string* errors = nullptr) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    if (errors) *errors = process.readAllStandardError().toStdString();
    return process.readAllStandardOutput().toStdString();
}

// Frame `index` of the video decoded to 8-bit RGB, top row first; null when there is no such frame.
inline QImage decodeFrame(const std::string& file, int index, int width, int height) {
    const std::string bytes = runTool(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), QString::fromStdString(file),
         QStringLiteral("-vf"), QStringLiteral("select=eq(n\\,%1)").arg(index), QStringLiteral("-frames:v"),
         QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
         QStringLiteral("rgb24"), QStringLiteral("-")});
    if (bytes.size() != static_cast<std::size_t>(width * height * 3)) return {};
    QImage frame(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) std::memcpy(frame.scanLine(y), bytes.data() + y * width * 3, width * 3);
    return frame;
}

// A private home with the recording presenter installed, and a 64 x 48 Xvid setup writing out.avi.
class JobTest : public TempHomeTest {
protected:
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 48;

    void SetUp() override {
        TempHomeTest::SetUp();
        setMessagePresenter(&presenter);
    }
    void TearDown() override {
        setMessagePresenter(nullptr);
        TempHomeTest::TearDown();
    }

    // Puts `photo` into a new cell after the photos already there.
    void addPhoto(SlideShowProject& project, const std::string& photo, double still, double transition,
                  int effect) {
        project.appendPlaceholder();
        ASSERT_GE(project.insertPhoto(photo, project.photoSlideCount(), effect, still, transition), 0);
    }

    GenerationSetup setup(double fps) const {
        GenerationSetup result;
        result.width = kWidth;
        result.height = kHeight;
        result.framesPerSecond = fps;
        result.compressorType = kCompressorType;
        result.compressorHandler = makeFourCC('X', 'V', 'I', 'D');
        result.outputPath = path("out.avi");
        return result;
    }

    RecordingPresenter presenter;
};

}  // namespace kestrelle::testing
