// Repeated still frames stored without the encoder, through the AVI writer: the files it makes with
// the shortcut and without it (KESTRELLE_ENCODE_EVERY_FRAME) must hold the same frames, key frames and
// audio, and decode without a warning to nearly the same pictures.

#include "media/avi_writer.h"

#include "media/video_compressor.h"
#include "tests/support/temp_home.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace kestrelle {
namespace {

using testing::TempHomeTest;

const std::uint32_t kXvid = makeFourCC('X', 'V', 'I', 'D');
const std::uint32_t kDx50 = makeFourCC('D', 'X', '5', '0');

std::string run(const std::string& command) {
    return testing::commandOutput(command + " 2>&1");
}

// A bottom-up 32-bit picture: stripes and a block whose place depends on `id`.
std::vector<std::uint8_t> picture(int width, int height, int id) {
    std::vector<std::uint8_t> f(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &f[(static_cast<std::size_t>(y) * width + x) * 4];
            const bool block =
                std::abs(x - (id * 13) % width) < width / 6 && std::abs(y - height / 3) < height / 5;
            p[0] = static_cast<std::uint8_t>(block ? 30 : (x * 3 + id * 40) & 0xFF);
            p[1] = static_cast<std::uint8_t>(block ? 220 : (y * 2) & 0xFF);
            p[2] = static_cast<std::uint8_t>(((x / 8 + y / 8) % 2) ? 200 : 60);
            p[3] = 0;
        }
    }
    return f;
}

// A run of `count` frames of picture `id`.
using Schedule = std::vector<std::pair<int, int>>;

int frameCount(const Schedule& schedule) {
    int n = 0;
    for (const auto& [id, count] : schedule) n += count;
    return n;
}

class StillFrameShortcutTest : public TempHomeTest {
protected:
    void TearDown() override {
        writer.close();
        unsetenv("KESTRELLE_ENCODE_EVERY_FRAME");
        TempHomeTest::TearDown();
    }

    // Writes the schedule as the generation job would; with `everyFrame` the shortcut is off. Returns
    // the file name ("" on failure).
    std::string write(const std::string& name, const Schedule& schedule, int width, int height,
                      bool everyFrame, std::uint32_t handler = kXvid,
                      const std::vector<std::uint8_t>& state = {}, int frameLimit = 0) {
        if (everyFrame)
            setenv("KESTRELLE_ENCODE_EVERY_FRAME", "1", 1);
        else
            unsetenv("KESTRELLE_ENCODE_EVERY_FRAME");
        const std::string file = path(name);
        const int total = frameCount(schedule);
        if (writer.open(options(file, frameLimit > 0 ? frameLimit : total + 1, width, height, handler,
                                state)) != WriterError::Ok)
            return "";
        const std::vector<std::int16_t> samples(8, 0);
        for (const auto& [id, count] : schedule) {
            const auto frame = picture(width, height, id);
            for (int i = 0; i < count; ++i)
                if (!writer.writeFrame(frame.data(), samples.data(), 8)) return file;
        }
        writer.close();
        return file;
    }

    // The generation job's options at 29.97 fps, 32-bit frames, MP3 audio.
    static AviWriterOptions options(const std::string& file, int frameLimit, int width, int height,
                                    std::uint32_t handler = kXvid,
                                    const std::vector<std::uint8_t>& state = {}) {
        AviWriterOptions result;
        result.path = file;
        result.frameLimit = frameLimit;
        result.width = width;
        result.height = height;
        result.framesPerSecond = 29.97;
        result.compressorType = kCompressorType;
        result.compressorHandler = handler;
        result.codecState = state;
        return result;
    }

    AviWriter writer;

    // "Frames stored without the encoder" of the run log's last such line, -1 when there is none.
    int framesWithoutEncoder() const {
        std::istringstream in(testing::readFile(dataFolder() + "/run.log"));
        std::string line;
        int found = -1;
        while (std::getline(in, line)) {
            const std::size_t at = line.find("Frames stored without the encoder: ");
            if (at != std::string::npos) found = std::atoi(line.c_str() + at + 35);
        }
        return found;
    }

    static std::string keyFrames(const std::string& file) {
        return run("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 '" + file +
                   "' | grep -n K | cut -d: -f1 | tr '\\n' ' '");
    }
    static int decodedFrames(const std::string& file) {
        return std::atoi(run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                             "stream=nb_read_frames -of csv=p=0 '" +
                             file + "'")
                             .c_str());
    }
    static std::string decodeWarnings(const std::string& file) {
        return run("ffmpeg -nostdin -v warning -i '" + file + "' -f null -");
    }
    static std::string audioDigest(const std::string& file) {
        return run("ffmpeg -nostdin -v error -i '" + file + "' -map 0:a -c copy -f md5 -");
    }
    // Mean PSNR of one file's decoded pictures against the other's.
    static double psnrBetween(const std::string& a, const std::string& b) {
        const std::string out =
            run("ffmpeg -nostdin -v info -i '" + a + "' -i '" + b +
                "' -lavfi '[0:v][1:v]psnr' -f null - 2>&1 | grep -o 'average:[0-9.a-z]*'");
        if (out.find("inf") != std::string::npos) return 1000;
        return std::atof(out.c_str() + 8);
    }

    // The same schedule with and without the shortcut: what must not change does not.
    void expectSameVideo(const Schedule& schedule, int width, int height, std::uint32_t handler,
                         const std::vector<std::uint8_t>& state = {}) {
        const std::string off = write("off.avi", schedule, width, height, true, handler, state);
        const std::string on = write("on.avi", schedule, width, height, false, handler, state);
        ASSERT_FALSE(off.empty());
        ASSERT_FALSE(on.empty());
        EXPECT_EQ(decodedFrames(on), frameCount(schedule));
        EXPECT_EQ(decodedFrames(off), frameCount(schedule));
        EXPECT_EQ(keyFrames(on), keyFrames(off));
        EXPECT_EQ(decodeWarnings(on), "");
        EXPECT_EQ(audioDigest(on), audioDigest(off));
        EXPECT_GT(psnrBetween(on, off), 38.0) << "no drift between the encoder and the decoder";
    }
};

// Stills with key frames inside them, a change between, seconds crossed while no frame reaches the
// encoder, and a still that is the last thing in the file: both compressors.
TEST_F(StillFrameShortcutTest, SameVideoAsEncodingEveryFrame) {
    const Schedule schedule{{0, 75}, {1, 1}, {2, 1}, {3, 1}, {4, 100}, {5, 1}, {6, 40}};
    for (std::uint32_t handler : {kXvid, kDx50}) {
        SCOPED_TRACE(handler);
        expectSameVideo(schedule, 160, 96, handler);
        const int skipped = framesWithoutEncoder();
        EXPECT_GT(skipped, 100) << "most repeated frames never reach the encoder";
        EXPECT_LT(skipped, frameCount(schedule));
    }
}

// Frame sizes off the 16-pixel grid and the smallest frame.
TEST_F(StillFrameShortcutTest, OddSizes) {
    const Schedule schedule{{0, 40}, {1, 3}, {2, 40}};
    for (const auto& [width, height] : {std::pair{2, 2}, std::pair{34, 18}, std::pair{100, 62}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        expectSameVideo(schedule, width, height, kXvid);
    }
}

// A key frame every frame leaves nothing to repeat; one every 3000 frames leaves nearly everything.
TEST_F(StillFrameShortcutTest, KeyFrameIntervals) {
    auto compressor = openCompressor(kCompressorType, kXvid);
    ASSERT_TRUE(compressor);
    const Schedule schedule{{0, 50}, {1, 2}, {2, 50}};
    for (int interval : {1, 3000}) {
        SCOPED_TRACE(interval);
        CompressorSettings settings = compressor->settings();
        settings.keyFrameInterval = interval;
        compressor->setSettings(settings);
        const std::string logBefore = testing::readFile(dataFolder() + "/run.log");
        expectSameVideo(schedule, 64, 48, kXvid, compressor->state());
        const bool skippedAny =
            testing::readFile(dataFolder() + "/run.log").find("stored without", logBefore.size()) !=
            std::string::npos;
        if (interval == 1)
            EXPECT_FALSE(skippedAny);
        else
            EXPECT_GT(framesWithoutEncoder(), 80);
    }
}

// Stills of one frame repeat nothing; a frame limit that ends the file inside a still leaves a whole,
// readable file.
TEST_F(StillFrameShortcutTest, ShortStillsAndAnEndInsideAStill) {
    const Schedule single{{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}};
    const std::string file = write("single.avi", single, 64, 48, false);
    EXPECT_EQ(decodedFrames(file), 5);
    EXPECT_EQ(decodeWarnings(file), "");

    const std::string cut = write("cut.avi", {{0, 60}, {1, 60}}, 64, 48, false, kXvid, {}, 90);
    EXPECT_EQ(decodedFrames(cut), 90);
    EXPECT_EQ(decodeWarnings(cut), "");
}

// A still announced by the caller is taken as repeats without comparing, but only from the buffer it
// started with: frames from another buffer are compared as usual and keep their own picture.
TEST_F(StillFrameShortcutTest, AnnouncedStill) {
    const int width = 96, height = 64;
    const std::vector<std::int16_t> samples(8, 0);
    const auto a = picture(width, height, 0);
    const auto b = picture(width, height, 1);
    for (bool everyFrame : {true, false}) {
        if (everyFrame)
            setenv("KESTRELLE_ENCODE_EVERY_FRAME", "1", 1);
        else
            unsetenv("KESTRELLE_ENCODE_EVERY_FRAME");
        ASSERT_EQ(writer.open(options(path(everyFrame ? "off.avi" : "on.avi"), 200, width, height)),
                  WriterError::Ok);
        writer.announceStill(60);
        for (int i = 0; i < 60; ++i) ASSERT_TRUE(writer.writeFrame(a.data(), samples.data(), 8));
        writer.announceStill(60);  // a caller that breaks its word: every other frame is another picture
        for (int i = 0; i < 60; ++i) {
            const auto& frame = i % 2 ? b : a;
            ASSERT_TRUE(writer.writeFrame(frame.data(), samples.data(), 8));
        }
        writer.close();
    }
    EXPECT_GT(framesWithoutEncoder(), 30);
    EXPECT_EQ(decodedFrames(path("on.avi")), 120);
    EXPECT_EQ(keyFrames(path("on.avi")), keyFrames(path("off.avi")));
    EXPECT_GT(psnrBetween(path("on.avi"), path("off.avi")), 38.0);
}

}  // namespace
}  // namespace kestrelle
