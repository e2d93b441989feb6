// Paths through the generation job and the AVI writer that a plain render does not take: the budget
// met during still frames, several slides end to end, cancelling at different moments, every frame-write
// failure (in child processes with a file size limit), 24-bit frames with padded rows, and the job's
// run-log lines.

#include "media/avi_writer.h"
#include "output/generation_job.h"

#include "base/data_folder.h"
#include "media/video_compressor.h"
#include "project/slideshow_project.h"
#include "tests/output/job_test_support.h"
#include "tests/support/temp_home.h"

#include <QImage>
#include <QPainter>
#include <QProcess>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

constexpr const char* kEncodeFailed = "Failed to encode AVI video. Please check AVI codec settings.";
constexpr std::uint32_t kXvid = makeFourCC('X', 'V', 'I', 'D');

using testing::decodeFrame;
using testing::runTool;

// What ffprobe makes of the video stream: the frames the headers declare and the frames it reads.
struct VideoProbe {
    int declared = -1;
    int read = -1;
    std::string errors;
    std::string text;  // ffprobe's answer as it stands
};

VideoProbe probeVideo(const std::string& file) {
    VideoProbe result;
    const std::string text =
        runTool(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                 QStringLiteral("v:0"), QStringLiteral("-count_frames"), QStringLiteral("-show_entries"),
                 QStringLiteral("stream=nb_frames,nb_read_frames"), QStringLiteral("-of"),
                 QStringLiteral("csv=p=0"), QString::fromStdString(file)},
                &result.errors);
    std::sscanf(text.c_str(), "%d,%d", &result.declared, &result.read);
    result.text = text;
    return result;
}

bool near(QRgb pixel, QRgb want, int tolerance = 40) {
    return std::abs(qRed(pixel) - qRed(want)) <= tolerance &&
           std::abs(qGreen(pixel) - qGreen(want)) <= tolerance &&
           std::abs(qBlue(pixel) - qBlue(want)) <= tolerance;
}

std::uint32_t le32(const std::string& b, std::size_t at) {
    return testing::readLe32(b, at);
}

// Offsets just past each video chunk's data, in file order (one RIFF part).
std::vector<std::size_t> videoChunkEnds(const std::string& file) {
    std::vector<std::size_t> ends;
    const std::size_t movi = file.find("movi");
    if (movi == std::string::npos) return ends;
    for (std::size_t at = movi + 4; at + 8 <= file.size();) {
        const std::size_t size = le32(file, at + 4);
        if (file.compare(at, 4, "00dc") == 0) ends.push_back(at + 8 + size);
        if (file.compare(at, 2, "ix") == 0 || file.compare(at, 4, "idx1") == 0) break;
        at += 8 + size + (size & 1);
    }
    return ends;
}

// The setup with the writer's chunks written straight through, so a write failure meets the frame that
// crosses the limit.
GenerationSetup writeThrough(GenerationSetup setup) {
    setup.writerFileBufferBytes = 0;
    return setup;
}

class OutputPathsTest : public testing::JobTest {
protected:
    // An 80 x 60 photo (it fills a 64 x 48 frame exactly): `top` above, white below, so a frame
    // shows which photo it is and which way up.
    std::string photo(const std::string& name, QRgb top) {
        QImage image(80, 60, QImage::Format_RGB32);
        image.fill(qRgb(255, 255, 255));
        QPainter(&image).fillRect(0, 0, 80, 30, QColor(top));
        const std::string file = path(name);
        EXPECT_TRUE(image.save(QString::fromStdString(file)));
        return file;
    }
};

// Slides whose rounded frame counts overrun the budget: it is met inside an effect, which only ends
// that effect, and the next slide's first still frame ends the job, completed, without a closing frame.
TEST_F(OutputPathsTest, BudgetMetDuringStillFramesEndsCompletedWithoutClosingFrame) {
    SlideShowProject project;
    // At 25 fps each slide counts 2 still and 2 effect frames for 3.5 frames of budget.
    for (int i = 0; i < 8; ++i)
        addPhoto(project, photo("p" + std::to_string(i) + ".png", qRgb(200, 30, 30)), 0.07, 0.07, 1);
    GenerationJob job(project, setup(25.0));
    job.run();
    EXPECT_TRUE(job.completed());
    EXPECT_TRUE(presenter.texts.empty());
    const int budget = job.progressUpper();
    ASSERT_GT(budget, 20);
    EXPECT_EQ(job.progressPosition(), budget + 1) << "the first still frame after the budget ends the job";
    const VideoProbe probe = probeVideo(path("out.avi"));
    EXPECT_EQ(probe.errors, "");
    EXPECT_EQ(probe.read, budget - 1);
    EXPECT_EQ(probe.declared, budget - 1);
    const QImage last = decodeFrame(path("out.avi"), budget - 2, kWidth, kHeight);
    ASSERT_FALSE(last.isNull());
    EXPECT_GT(qGray(last.pixel(kWidth / 2, kHeight - 4)), 150) << "no black closing frame";
}

// Three slides end to end: every still frame shows its own photo the right way up, and the video ends
// on a black frame.
TEST_F(OutputPathsTest, SeveralSlidesShowTheirOwnPhotosUprightAndEndBlack) {
    const QRgb tops[] = {qRgb(220, 20, 20), qRgb(20, 200, 20), qRgb(20, 20, 220)};
    SlideShowProject project;
    for (int i = 0; i < 3; ++i)
        addPhoto(project, photo("s" + std::to_string(i) + ".png", tops[i]), 1.0, 0.2, 1 + 4 * i);
    GenerationJob job(project, setup(25.0));
    job.run();
    ASSERT_TRUE(job.completed());
    const int frames = probeVideo(path("out.avi")).read;
    ASSERT_EQ(frames,
              job.progressUpper());  // 3 x (25 still + 5 effect) frames, the last one the closing frame
    for (int slide = 0; slide < 3; ++slide) {
        for (int still : {0, 12, 24}) {
            const QImage frame = decodeFrame(path("out.avi"), slide * 30 + still, kWidth, kHeight);
            ASSERT_FALSE(frame.isNull());
            EXPECT_TRUE(near(frame.pixel(kWidth / 2, 6), tops[slide]))
                << "slide " << slide << " frame " << still;
            EXPECT_TRUE(near(frame.pixel(kWidth / 2, kHeight - 6), qRgb(255, 255, 255)))
                << "slide " << slide << " frame " << still << " is upside down";
        }
    }
    const QImage closing = decodeFrame(path("out.avi"), frames - 1, kWidth, kHeight);
    ASSERT_FALSE(closing.isNull());
    EXPECT_TRUE(near(closing.pixel(kWidth / 2, kHeight / 2), qRgb(0, 0, 0), 20));
    EXPECT_TRUE(near(closing.pixel(2, 2), qRgb(0, 0, 0), 20));
}

// Cancel asked at different frames: within still frames (that frame is still written), inside an
// effect (its frame is refused), on the last effect frame of a slide (the next slide never starts), and
// on the next slide's first still frame. Never completed, no message, and the file holds and declares
// exactly the frames written.
TEST_F(OutputPathsTest, CancelAtStillsInsideAnEffectAndAtASlideBoundary) {
    struct Case {
        int cancelAt;
        int framesKept;
    };
    // Two slides of 25 still and 10 effect frames each.
    for (const Case c : {Case{10, 10}, Case{30, 29}, Case{35, 34}, Case{36, 36}}) {
        SCOPED_TRACE("cancel at frame " + std::to_string(c.cancelAt));
        SlideShowProject project;
        addPhoto(project, photo("a.png", qRgb(200, 0, 0)), 1.0, 0.4, 2);
        addPhoto(project, photo("b.png", qRgb(0, 0, 200)), 1.0, 0.4, 2);
        GenerationJob* running = nullptr;
        GenerationJob::Callbacks callbacks;
        callbacks.progressPosition = [&](int position) {
            if (position == c.cancelAt) running->requestCancel();
        };
        GenerationJob job(project, setup(25.0), callbacks);
        running = &job;
        job.run();
        EXPECT_FALSE(job.completed());
        EXPECT_TRUE(presenter.texts.empty());
        const VideoProbe probe = probeVideo(path("out.avi"));
        EXPECT_EQ(probe.errors, "");
        EXPECT_EQ(probe.read, c.framesKept);
        EXPECT_EQ(probe.declared, c.framesKept);
    }
}

TEST_F(OutputPathsTest, CancelBeforeTheFirstFrameLeavesAReadableFile) {
    SlideShowProject project;
    addPhoto(project, photo("a.png", qRgb(0, 120, 0)), 2.0, 1.0, 1);
    GenerationJob job(project, setup(25.0));
    job.requestCancel();
    job.run();
    EXPECT_FALSE(job.completed());
    EXPECT_TRUE(presenter.texts.empty());
    const VideoProbe probe = probeVideo(path("out.avi"));
    EXPECT_EQ(probe.errors, "");
    // No frame: nothing to count, and nothing to complain about.
    EXPECT_TRUE(probe.text == "0,0\n" || probe.text == "N/A,N/A\n") << probe.text;
    const std::string streams =
        runTool(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                 QStringLiteral("stream=codec_type"), QStringLiteral("-of"), QStringLiteral("csv=p=0"),
                 QString::fromStdString(path("out.avi"))});
    EXPECT_EQ(streams, "video\naudio\n");
}

// Every way a frame write fails says "Failed to encode AVI video. Please check AVI codec settings.",
// ends the job not completed, and leaves a file ffprobe reads without an error up to where it stopped:
// a still frame, an effect frame, the closing frame, and the indexes written at close. Each runs in a
// child process whose file size limit falls inside the chunk of the frame to refuse, found in a
// reference file of the same job.
TEST_F(OutputPathsTest, EveryFrameWriteFailureSaysSoAndLeavesAReadableFile) {
    SlideShowProject project;
    addPhoto(project, photo("a.png", qRgb(200, 100, 0)), 1.0, 0.6, 3);
    // 25 still frames, an effect of 15 frames of which the one meeting the budget (40) is dropped, and
    // the closing frame: 40 frames.
    GenerationJob reference(project, writeThrough(setup(25.0)));
    reference.run();
    ASSERT_TRUE(reference.completed());
    const std::string whole = testing::readFile(path("out.avi"));
    const std::vector<std::size_t> ends = videoChunkEnds(whole);
    ASSERT_EQ(ends.size(), 40u);

    struct Case {
        const char* where;
        std::size_t limit;
        int framesKept;
    };
    const Case cases[] = {
        {"still frame", ends[11] - 1, 11},
        {"effect frame", ends[31] - 1, 31},
        {"closing frame", ends[39] - 1, 39},
        {"indexes at close", whole.size() - 1, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        ::unlink(path("out.avi").c_str());
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{c.limit, c.limit};
            setrlimit(RLIMIT_FSIZE, &limit);
            presenter.texts.clear();
            GenerationJob job(project, writeThrough(setup(25.0)));
            job.run();
            if (job.completed()) _exit(2);
            _exit(presenter.texts == std::vector<std::string>{kEncodeFailed} ? 0 : 3);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "the child died from a signal";
        EXPECT_EQ(WEXITSTATUS(status), 0) << "2: reported completed, 3: not exactly the encode message";
        const VideoProbe probe = probeVideo(path("out.avi"));
        EXPECT_EQ(probe.errors, "");
        EXPECT_EQ(probe.read, c.framesKept);
        EXPECT_EQ(probe.declared, c.framesKept);
    }
}

// 24-bit frames arrive with tightly packed rows; a width of 30 makes 90-byte rows that the compressor
// reads padded to 92. Every row lands where it belongs, bottom-up.
TEST_F(OutputPathsTest, TwentyFourBitFramesWithPaddedRows) {
    const int width = 30, height = 20;
    AviWriterOptions options;
    options.path = path("rgb24.avi");
    options.frameLimit = 10;
    options.width = width;
    options.height = height;
    options.framesPerSecond = 25.0;
    options.layout = FrameLayout::Rgb24BottomUp;
    options.compressorType = kCompressorType;
    options.compressorHandler = kXvid;
    options.audio = false;
    AviWriter writer;
    ASSERT_EQ(writer.open(options), WriterError::Ok);
    // Row r (bottom-up) is red when r < 10, else blue; column c carries green 8 x c.
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width * 3 * height));
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            std::uint8_t* p = &pixels[static_cast<std::size_t>((r * width + c) * 3)];
            p[0] = r < 10 ? 0 : 230;  // blue
            p[1] = static_cast<std::uint8_t>(8 * c);
            p[2] = r < 10 ? 230 : 0;  // red
        }
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(writer.writeFrame(pixels.data(), nullptr, 0));
    ASSERT_TRUE(writer.close());
    const QImage frame = decodeFrame(path("rgb24.avi"), 2, width, height);
    ASSERT_FALSE(frame.isNull());
    for (int y : {2, 7, 12, 17}) {
        for (int x : {2, 15, 27}) {
            const QRgb want =
                y < 10 ? qRgb(0, 8 * x, 230) : qRgb(230, 8 * x, 0);  // top rows are the last rows given
            EXPECT_TRUE(near(frame.pixel(x, y), want, 48)) << x << "," << y;
        }
    }
}

// Odd frame sizes: the DivX-compatible entry renders them through every effect; Xvid refuses them as a
// codec that cannot open ("Init Avi codec failed!").
TEST_F(OutputPathsTest, OddFrameSizesRenderWithDivxAndAreRefusedByXvid) {
    SlideShowProject project;
    for (int effect = 1; effect <= 12; ++effect)
        addPhoto(project, photo("e" + std::to_string(effect) + ".png", qRgb(20 * effect, 90, 200)), 0.2, 0.2,
                 effect);
    GenerationSetup odd = setup(25.0);
    odd.width = 65;
    odd.height = 49;
    odd.compressorHandler = makeFourCC('D', 'X', '5', '0');
    GenerationJob divx(project, odd);
    divx.run();
    EXPECT_TRUE(divx.completed());
    EXPECT_TRUE(presenter.texts.empty());
    const std::string size = runTool(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
         QStringLiteral("v:0"), QStringLiteral("-show_entries"), QStringLiteral("stream=width,height"),
         QStringLiteral("-of"), QStringLiteral("csv=p=0"), QString::fromStdString(path("out.avi"))});
    EXPECT_EQ(size, "65,49\n");
    const VideoProbe probe = probeVideo(path("out.avi"));
    EXPECT_EQ(probe.errors, "");
    EXPECT_EQ(probe.read, divx.progressUpper());

    odd.compressorHandler = kXvid;
    GenerationJob xvid(project, odd);
    xvid.run();
    EXPECT_FALSE(xvid.completed());
    EXPECT_EQ(presenter.texts, std::vector<std::string>{"Init Avi codec failed!"});
}

// The job's own run-log lines, in order, under its source name.
TEST_F(OutputPathsTest, TheJobLogsItsFourLines) {
    SlideShowProject project;
    addPhoto(project, photo("a.png", qRgb(10, 10, 10)), 1.0, 0.4, 3);
    addPhoto(project, photo("b.png", qRgb(10, 10, 10)), 1.0, 0.4, 5);
    GenerationJob job(project, setup(25.0));
    job.run();
    ASSERT_TRUE(job.completed());
    std::vector<std::string> lines;
    const std::string log = testing::readFile(dataFolder() + "/run.log");
    for (std::size_t at = 0; (at = log.find("DlgGenerate.cpp,", at)) != std::string::npos; ++at) {
        const std::size_t bar = log.find('|', at);
        const std::size_t end = log.find("\r\n", at);
        ASSERT_NE(bar, std::string::npos);
        lines.push_back(log.substr(bar + 1, end - bar - 1));
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Total duration 2.80,Frame rate 25.00", "Total Frames 70", "Generate slide count 2",
                         "Generate slide index 0,Transition 3", "Generate slide index 1,Transition 5"}));
}

}  // namespace
}  // namespace kestrelle
