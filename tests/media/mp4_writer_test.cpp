// The MP4 writer: files read back by ffprobe, ffmpeg and GStreamer (frame count, durations, audio start,
// colour tags, key frames, box order, picture fidelity), refused sizes, cancels and write failures.

#include "media/mp4_writer.h"

#include "media/h264_settings.h"
#include "tests/support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

using testing::TempHomeTest;

std::string run(const std::string& command) {
    return testing::commandOutput(command + " 2>&1");
}

bool haveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// A bottom-up BGRA frame: smooth gradients and a square whose place moves with k.
std::vector<std::uint8_t> testFrame(int width, int height, int k) {
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = frame.data() + (static_cast<std::size_t>(y) * width + x) * 4;
            const bool square = std::abs(x - (k * 3) % width) < 8 && std::abs(y - height / 2) < 8;
            p[0] = static_cast<std::uint8_t>(square ? 240 : 40 + 150 * x / width);
            p[1] = static_cast<std::uint8_t>(square ? 230 : 60 + 120 * y / height);
            p[2] = static_cast<std::uint8_t>(square ? 20 : 200 - 100 * x / width);
            p[3] = 0;
        }
    }
    return frame;
}

ContainerWriterOptions options(const std::string& path, int width, int height, double fps) {
    ContainerWriterOptions o;
    o.path = path;
    o.frameLimit = 100000;
    o.width = width;
    o.height = height;
    o.framesPerSecond = fps;
    o.compressorHandler = kH264Handler;
    o.videoBitRateKbps = 2000;
    return o;
}

// The samples of one frame: a 440 Hz tone.
std::vector<std::int16_t> toneFor(int frame, double fps) {
    const auto start = std::llround(frame * 44100.0 / fps);
    const auto end = std::llround((frame + 1) * 44100.0 / fps);
    std::vector<std::int16_t> samples;
    for (auto i = start; i < end; ++i) {
        const auto v =
            static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * static_cast<double>(i) / 44100));
        samples.push_back(v);
        samples.push_back(v);
    }
    return samples;
}

std::string probe(const std::string& file, const std::string& stream, const std::string& entries) {
    return testing::commandOutput("ffprobe -v error -select_streams " + stream + " -show_entries " + entries +
                                  " -of default=nw=1:nk=1 '" + file + "'");
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

// The types of the file's top-level boxes, in order.
std::vector<std::string> topLevelBoxes(const std::string& bytes) {
    std::vector<std::string> boxes;
    std::size_t at = 0;
    while (at + 8 <= bytes.size()) {
        std::uint64_t size = (std::uint64_t{static_cast<unsigned char>(bytes[at])} << 24) |
                             (std::uint64_t{static_cast<unsigned char>(bytes[at + 1])} << 16) |
                             (std::uint64_t{static_cast<unsigned char>(bytes[at + 2])} << 8) |
                             std::uint64_t{static_cast<unsigned char>(bytes[at + 3])};
        boxes.push_back(bytes.substr(at + 4, 4));
        if (size == 1 && at + 16 <= bytes.size()) {
            size = 0;
            for (int i = 0; i < 8; ++i) size = (size << 8) | static_cast<unsigned char>(bytes[at + 8 + i]);
        }
        if (size < 8) break;
        at += size;
    }
    return boxes;
}

class Mp4WriterTest : public TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        if (!haveTool("ffprobe") || !haveTool("ffmpeg")) GTEST_SKIP() << "ffprobe/ffmpeg missing";
    }
};

TEST_F(Mp4WriterTest, SlideshowFilePlaysEverywhereWithItsFramesAudioKeyFramesAndColours) {
    const int w = 160, h = 90, frames = 130;
    const double fps = 25;
    const std::string file = path("show.mp4");
    Mp4Writer writer;
    ASSERT_EQ(writer.open(options(file, w, h, fps)), WriterError::Ok);
    EXPECT_EQ(writer.fileName(), file);
    EXPECT_EQ(writer.audioDelayFrames(), 0);
    // Frames 0..9 move, 10..69 one still, 70..129 move again.
    const auto still = testFrame(w, h, 500);
    std::vector<std::uint8_t> first;
    for (int i = 0; i < frames; ++i) {
        if (i == 10) writer.announceStill(60);
        const auto moving = testFrame(w, h, i);
        if (i == 0) first = moving;
        const auto tone = toneFor(i, fps);
        const bool inStill = i >= 10 && i < 70;
        ASSERT_TRUE(writer.writeFrame(inStill ? still.data() : moving.data(), tone.data(),
                                      static_cast<int>(tone.size())));
    }
    EXPECT_EQ(writer.framesWritten(), frames);
    ASSERT_TRUE(writer.close());

    EXPECT_EQ(run("ffprobe -v error '" + file + "'"), "");
    EXPECT_EQ(run("ffmpeg -v error -i '" + file + "' -f null -"), "");
    const auto boxes = topLevelBoxes(testing::readFile(file));
    ASSERT_GE(boxes.size(), 3u);
    EXPECT_EQ(boxes[0], "ftyp");
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    EXPECT_TRUE(moov < mdat && mdat != boxes.end()) << "moov must come before mdat";

    EXPECT_EQ(probe(file, "v", "stream=codec_name,profile,pix_fmt"), "h264\nHigh\nyuv420p\n");
    EXPECT_EQ(probe(file, "v", "stream=color_range,color_space,color_transfer,color_primaries"),
              "tv\nsmpte170m\nsmpte170m\nsmpte170m\n");
    EXPECT_EQ(probe(file, "v", "stream=r_frame_rate"), "25/1\n");
    EXPECT_EQ(testing::commandOutput("ffprobe -v error -count_frames -select_streams v -show_entries "
                                     "stream=nb_read_frames -of csv=p=0 '" +
                                     file + "'"),
              std::to_string(frames) + "\n");
    EXPECT_EQ(probe(file, "a", "stream=codec_name,profile,sample_rate,channels"), "aac\nLC\n44100\n2\n");
    EXPECT_DOUBLE_EQ(std::atof(probe(file, "a", "stream=start_time").c_str()), 0.0);
    EXPECT_DOUBLE_EQ(std::atof(probe(file, "v", "stream=start_time").c_str()), 0.0);
    const double video = std::atof(probe(file, "v", "stream=duration").c_str());
    const double audio = std::atof(probe(file, "a", "stream=duration").c_str());
    EXPECT_NEAR(video, frames / fps, 1e-6);
    EXPECT_NEAR(audio, video, 1 / fps);

    // Key frames: the first, the still's first frame, and never more than 2 s (50 frames) apart.
    const auto keys =
        lines(testing::commandOutput("ffprobe -v error -select_streams v -show_entries "
                                     "frame=key_frame -of default=nw=1:nk=1 '" +
                                     file + "'"));
    ASSERT_EQ(keys.size(), static_cast<std::size_t>(frames));
    EXPECT_EQ(keys[0], "1");
    EXPECT_EQ(keys[10], "1");
    int sinceKey = 0;
    for (const auto& k : keys) {
        sinceKey = k == "1" ? 0 : sinceKey + 1;
        EXPECT_LT(sinceKey, 50);
    }

    // The first frame decodes close to what was handed over.
    const std::string decoded = path("first.rgb");
    run("ffmpeg -v error -i '" + file + "' -frames:v 1 -f rawvideo -pix_fmt bgra -y '" + decoded + "'");
    const std::string pixels = testing::readFile(decoded);
    ASSERT_EQ(pixels.size(), first.size());
    double squaredError = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                const double a =
                    static_cast<unsigned char>(pixels[(static_cast<std::size_t>(y) * w + x) * 4 + c]);
                const double b = first[(static_cast<std::size_t>(h - 1 - y) * w + x) * 4 + c];
                squaredError += (a - b) * (a - b);
            }
        }
    }
    const double psnr = 10 * std::log10(255.0 * 255.0 / (squaredError / (w * h * 3)));
    EXPECT_GE(psnr, 35.0);

    if (haveTool("gst-launch-1.0") &&
        run("gst-inspect-1.0 avdec_h264 >/dev/null && gst-inspect-1.0 qtdemux >/dev/null && "
            "gst-inspect-1.0 h264parse >/dev/null && echo ok") == "ok\n") {
        EXPECT_EQ(std::system(("gst-launch-1.0 -q filesrc location='" + file +
                               "' ! qtdemux ! h264parse ! avdec_h264 ! fakesink >/dev/null 2>&1")
                                  .c_str()),
                  0);
    } else {
        std::fprintf(stderr, "GStreamer's qtdemux/h264parse/avdec_h264 missing: playback check skipped\n");
    }
}

// Writes 10 moving frames, a 70-frame still (longer than the 2 s key-frame distance at 25 fps) and 10
// moving frames again, with the H.264 settings `settings`.
void writeStillShow(const std::string& file, const H264Settings& settings) {
    const int w = 160, h = 96;
    ContainerWriterOptions o = options(file, w, h, 25);
    o.codecState = serializeH264Settings(settings);
    Mp4Writer writer;
    ASSERT_EQ(writer.open(o), WriterError::Ok);
    const auto still = testFrame(w, h, 77);
    for (int i = 0; i < 90; ++i) {
        if (i == 10) writer.announceStill(70);
        const auto moving = testFrame(w, h, i);
        ASSERT_TRUE(writer.writeFrame(i >= 10 && i < 80 ? still.data() : moving.data(), nullptr, 0));
    }
    ASSERT_TRUE(writer.close());
}

// The decoded video frames' checksums, one a frame (the constant frame rate of the file's timing).
std::vector<std::string> frameChecksums(const std::string& file) {
    std::vector<std::string> sums;
    for (const auto& line : lines(testing::commandOutput(
             "ffmpeg -v error -i '" + file + "' -map 0:v -fps_mode cfr -f framemd5 - 2>/dev/null"))) {
        if (line[0] != '#') sums.push_back(line.substr(line.rfind(',') + 1));
    }
    return sums;
}

TEST_F(Mp4WriterTest, RepeatsAreExactCopiesWithKeyFramesAndLongSamplesKeepTheTiming) {
    const std::string skipped = path("skipped.mp4"), encoded = path("encoded.mp4"), long_ = path("long.mp4");
    writeStillShow(skipped, H264Settings{});
    H264Settings longSamples;
    longSamples.stillsAsLongSamples = true;
    writeStillShow(long_, longSamples);
    setenv("KESTRELLE_ENCODE_EVERY_FRAME", "1", 1);
    writeStillShow(encoded, H264Settings{});
    unsetenv("KESTRELLE_ENCODE_EVERY_FRAME");

    for (const std::string& file : {skipped, encoded, long_}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(run("ffmpeg -v error -i '" + file + "' -f null -"), "");
        EXPECT_NEAR(std::atof(probe(file, "v", "stream=duration").c_str()), 90 / 25.0, 1e-6);
        EXPECT_EQ(frameChecksums(file).size(), 90u);
    }
    // The encoder has the still's first two frames (the second sharpens the picture). The key frame
    // the 2 s distance puts at frame 60 is those two frames again, written as they were: the same
    // pictures, no encoding. Every other repeat is the picture before. (The encoder's threads may code
    // a frame differently from one run to the next, so each file is checked on its own.)
    const auto expectRepeats = [](const std::vector<std::string>& sums) {
        ASSERT_EQ(sums.size(), 90u);
        for (int i = 12; i < 80; ++i) {
            if (i == 60 || i == 61) continue;
            EXPECT_EQ(sums[static_cast<std::size_t>(i)], sums[i < 60 ? 11 : 61]) << "frame " << i;
        }
        EXPECT_NE(sums[60], sums[59]);
        EXPECT_EQ(sums[60], sums[10]);
        EXPECT_EQ(sums[61], sums[11]);
    };
    expectRepeats(frameChecksums(skipped));
    const auto keys = lines(probe(skipped, "v", "frame=key_frame"));
    ASSERT_EQ(keys.size(), 90u);
    for (int i = 0; i < 90; ++i)
        EXPECT_EQ(keys[static_cast<std::size_t>(i)] == "1", i == 0 || i == 10 || i == 60) << i;
    EXPECT_EQ(probe(skipped, "v", "stream=r_frame_rate"), "25/1\n");

    // Long samples: the still is a few samples of longer duration, showing the same pictures.
    const auto packets = testing::commandOutput(
        "ffprobe -v error -count_packets -select_streams v -show_entries "
        "stream=nb_read_packets -of csv=p=0 '" +
        long_ + "'");
    EXPECT_LT(std::atoi(packets.c_str()), 30);
    expectRepeats(frameChecksums(long_));

    // Encoding every repeat gives nearly the same pictures.
    const std::string psnr = testing::commandOutput(
        "ffmpeg -v info -i '" + skipped + "' -i '" + encoded +
        "' -lavfi psnr -f null - 2>&1 | sed -n 's/.*average:\\([0-9.inf]*\\).*/\\1/p'");
    EXPECT_GE(std::atof(psnr.c_str()), 38.0) << psnr;
}

TEST_F(Mp4WriterTest, RatesSizesAndColourTagsFollowTheShow) {
    struct Case {
        int width, height;
        double fps;
        const char* rate;
        const char* colour;
    };
    for (const Case& c : {Case{16, 16, 29.97, "30000/1001", "smpte170m"},
                          Case{1280, 720, 60, "60/1", "bt709"}, Case{320, 180, 15, "15/1", "smpte170m"}}) {
        SCOPED_TRACE(c.width);
        const std::string file = path("rate.mp4");
        Mp4Writer writer;
        ASSERT_EQ(writer.open(options(file, c.width, c.height, c.fps)), WriterError::Ok);
        const auto frame = testFrame(c.width, c.height, 3);
        for (int i = 0; i < 8; ++i) ASSERT_TRUE(writer.writeFrame(frame.data(), nullptr, 0));
        ASSERT_TRUE(writer.close());
        EXPECT_EQ(run("ffmpeg -v error -i '" + file + "' -f null -"), "");
        EXPECT_EQ(probe(file, "v", "stream=r_frame_rate"), std::string(c.rate) + "\n");
        EXPECT_EQ(probe(file, "v", "stream=color_primaries"), std::string(c.colour) + "\n");
        // Silence fills the audio to the video's length.
        const double video = std::atof(probe(file, "v", "stream=duration").c_str());
        const double audio = std::atof(probe(file, "a", "stream=duration").c_str());
        EXPECT_NEAR(audio, video, 1 / c.fps);
    }
}

TEST_F(Mp4WriterTest, RefusesOddSizesMissingEncodersAndFilesItCannotReplace) {
    Mp4Writer writer;
    EXPECT_EQ(writer.open(options(path("odd.mp4"), 161, 90, 25)), WriterError::VideoSetupFailed);
    EXPECT_EQ(writer.open(options(path("odd.mp4"), 160, 91, 25)), WriterError::VideoSetupFailed);
    EXPECT_FALSE(exists(path("odd.mp4")));
    auto unknown = options(path("x.mp4"), 160, 90, 25);
    unknown.compressorHandler = makeFourCC('X', 'V', 'I', 'D');
    EXPECT_EQ(writer.open(unknown), WriterError::CompressorMissing);
    // H.265 only where libavcodec was built with libx265.
    auto hevc = options(path("hevc.mp4"), 160, 90, 25);
    hevc.compressorHandler = kHevcHandler;
    const bool haveX265 = run("ffmpeg -hide_banner -encoders").find("libx265") != std::string::npos;
    EXPECT_EQ(writer.open(hevc), haveX265 ? WriterError::Ok : WriterError::CompressorMissing);
    EXPECT_TRUE(writer.close());
    EXPECT_EQ(writer.open(options(path("no/such/folder/x.mp4"), 160, 90, 25)), WriterError::FileNotCreated);
    // A pipe of that name is neither waited on nor replaced.
    ASSERT_EQ(::mkfifo(path("pipe.mp4").c_str(), 0600), 0);
    EXPECT_EQ(writer.open(options(path("pipe.mp4"), 160, 90, 25)), WriterError::FileNotCreated);
    EXPECT_FALSE(writer.writeFrame(testFrame(160, 90, 0).data(), nullptr, 0));
    EXPECT_TRUE(writer.close());
}

TEST_F(Mp4WriterTest, CancelAndFrameLimitLeavePlayableFiles) {
    const std::string file = path("cancel.mp4");
    auto o = options(file, 160, 90, 25);
    o.frameLimit = 5;
    Mp4Writer writer;
    ASSERT_EQ(writer.open(o), WriterError::Ok);
    const auto frame = testFrame(160, 90, 1);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(writer.writeFrame(frame.data(), nullptr, 0));
    EXPECT_FALSE(writer.writeFrame(frame.data(), nullptr, 0));  // over the limit: refused, file finished
    EXPECT_TRUE(writer.close());
    EXPECT_EQ(run("ffmpeg -v error -i '" + file + "' -f null -"), "");

    // A cancel after a few frames of a longer job, a numbered name, an existing file replaced.
    o.frameLimit = 1000;
    o.numberedName = true;
    ASSERT_TRUE(testing::writeFile(path("cancel_01.mp4"), "old"));
    ASSERT_EQ(writer.open(o), WriterError::Ok);
    EXPECT_EQ(writer.fileName(), path("cancel_01.mp4"));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(writer.writeFrame(frame.data(), nullptr, 0));
    EXPECT_TRUE(writer.close());
    EXPECT_TRUE(writer.close());
    EXPECT_EQ(testing::commandOutput("ffprobe -v error -count_frames -select_streams v -show_entries "
                                     "stream=nb_read_frames -of csv=p=0 '" +
                                     writer.fileName() + "'"),
              "3\n");
}

TEST_F(Mp4WriterTest, WriteFailureGivesFalseAndRemovesTheUnfinishedFile) {
    const std::string folder = path("gone");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string file = folder + "/show.mp4";
    Mp4Writer writer;
    ASSERT_EQ(writer.open(options(file, 160, 90, 25)), WriterError::Ok);
    const auto frame = testFrame(160, 90, 2);
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(writer.writeFrame(frame.data(), nullptr, 0));
    // The folder goes mid-job: the file cannot be finished (its index is moved by reading it back).
    ASSERT_EQ(::unlink(file.c_str()), 0);
    ASSERT_EQ(::rmdir(folder.c_str()), 0);
    EXPECT_FALSE(writer.close());
    EXPECT_FALSE(exists(file));
    EXPECT_EQ(writer.framesWritten(), 10);
}

TEST_F(Mp4WriterTest, FileSizeLimitRefusesTheFrameThatMeetsItAndRemovesTheFile) {
    // A full disk as the process sees it: writes beyond 64 KiB fail (EFBIG instead of SIGXFSZ).
    const std::string file = path("limited.mp4");
    auto o = options(file, 160, 90, 25);
    o.fileBufferBytes = 0;
    o.videoBitRateKbps = 8000;
    Mp4Writer writer;
    ASSERT_EQ(writer.open(o), WriterError::Ok);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 64 << 10;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    int refusedAt = -1;
    for (int i = 0; i < 400 && refusedAt < 0; ++i) {
        const auto frame = testFrame(160, 90, i * 7);
        if (!writer.writeFrame(frame.data(), nullptr, 0)) refusedAt = i;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_GT(refusedAt, 0);
    EXPECT_FALSE(exists(file));
    EXPECT_FALSE(writer.writeFrame(testFrame(160, 90, 0).data(), nullptr, 0));
    EXPECT_TRUE(writer.close());
}

TEST_F(Mp4WriterTest, FullDiskDeviceIsRefusedUpFront) {
    if (!exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    // A link to /dev/full is no plain file: refused up front rather than written into.
    const std::string link = path("full.mp4");
    ASSERT_EQ(::symlink("/dev/full", link.c_str()), 0);
    Mp4Writer writer;
    EXPECT_EQ(writer.open(options(link, 160, 90, 25)), WriterError::FileNotCreated);
    EXPECT_TRUE(exists("/dev/full"));
}

}  // namespace
}  // namespace kestrelle
