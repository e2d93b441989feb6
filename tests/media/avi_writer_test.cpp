// The AVI writer: names, limits, open failures, run-log lines and the files it leaves, read back by
// ffmpeg; several writers at once.

#include "media/avi_writer.h"

#include "media/mp3_encoder.h"
#include "media/video_compressor.h"
#include "tests/support/temp_home.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

using testing::TempHomeTest;

const std::uint32_t kXvid = makeFourCC('X', 'V', 'I', 'D');
const std::uint32_t kDx50 = makeFourCC('D', 'X', '5', '0');

// Output of a shell command with its error output.
std::string run(const std::string& command) {
    return testing::commandOutput(command + " 2>&1");
}

std::uint32_t le32(const std::string& b, std::size_t at) {
    return testing::readLe32(b, at);
}

// Offset of the body of the stream header ("strh") of the given type, npos when missing.
std::size_t strhBody(const std::string& bytes, const char* type) {
    for (std::size_t at = bytes.find("strh"); at != std::string::npos; at = bytes.find("strh", at + 4))
        if (bytes.compare(at + 8, 4, type) == 0) return at + 8;
    return std::string::npos;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// A bottom-up 32-bit frame whose picture is red above and blue below, with a bar that moves with k.
std::vector<std::uint8_t> testFrame(int width, int height, int k) {
    std::vector<std::uint8_t> f(static_cast<std::size_t>(width) * height * 4);
    for (int row = 0; row < height; ++row) {
        const int pictureY = height - 1 - row;  // memory row 0 is the bottom of the picture
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &f[(static_cast<std::size_t>(row) * width + x) * 4];
            const bool top = pictureY < height / 2;
            const bool bar = std::abs(x - (k * 4) % width) < 4;
            p[0] = bar ? 255 : top ? 0 : 255;
            p[1] = bar ? 255 : 0;
            p[2] = bar ? 255 : top ? 255 : 0;
            p[3] = 0;
        }
    }
    return f;
}

class AviWriterTest : public TempHomeTest {
protected:
    void TearDown() override {
        writer.close();
        Mp3EncoderLibrary::setLibraryNameForTesting("");
        TempHomeTest::TearDown();
    }

    // The avi_lib.cpp messages of the run log, in order.
    std::vector<std::string> logMessages() const {
        std::vector<std::string> messages;
        std::istringstream in(testing::readFile(dataFolder() + "/run.log"));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const std::size_t bar = line.find('|');
            if (bar == std::string::npos || line.find("avi_lib.cpp,") == std::string::npos) continue;
            messages.push_back(line.substr(bar + 1));
        }
        return messages;
    }

    // The options the generation job opens with: 32-bit frames, MP3 audio.
    static AviWriterOptions jobStyle(const std::string& file, int frameLimit, int width, int height,
                                     double fps, std::uint32_t handler = kXvid,
                                     FrameLayout layout = FrameLayout::Rgb32BottomUp) {
        AviWriterOptions options;
        options.path = file;
        options.frameLimit = frameLimit;
        options.width = width;
        options.height = height;
        options.framesPerSecond = fps;
        options.layout = layout;
        options.compressorType = kCompressorType;
        options.compressorHandler = handler;
        return options;
    }
    WriterError openJobStyle(const std::string& file, int frameLimit, int width, int height, double fps,
                             std::uint32_t handler = kXvid, FrameLayout layout = FrameLayout::Rgb32BottomUp) {
        return writer.open(jobStyle(file, frameLimit, width, height, fps, handler, layout));
    }

    std::string probe(const std::string& file, const std::string& entries) {
        return run("ffprobe -v error -count_packets -show_entries " + entries + " -of csv=p=0 '" + file +
                   "'");
    }

    AviWriter writer;
};

std::size_t indexOf(const std::vector<std::string>& list, const std::string& item, std::size_t from = 0) {
    for (std::size_t i = from; i < list.size(); ++i)
        if (list[i] == item) return i;
    return std::string::npos;
}

TEST(AviWriterNames, BaseAndNumberedNames) {
    EXPECT_EQ(baseName("C:\\out\\My.Show.avi"), "C:\\out\\My.Show");
    EXPECT_EQ(fileNameFor("/out/My.Show.avi", false), "/out/My.Show.avi");
    EXPECT_EQ(fileNameFor("/out/My.Show.avi", true), "/out/My.Show_01.avi");
    EXPECT_EQ(fileNameFor("/out/My.Show", false), "/out/My.avi") << "cut at the last dot";
    EXPECT_EQ(fileNameFor("/out/show", false), "/out/show.avi");
    EXPECT_EQ(fileNameFor("/my.films/show", false), "/my.films/show.avi")
        << "a dot in a folder name is not an extension";
}

// A short file like the generation job writes: every set-up line in order, and a file ffmpeg reads
// whole, with both streams as declared, audio as long as video and the first frame upright.
TEST_F(AviWriterTest, ShortFileReadsBackWhole) {
    const std::string file = path("My.Show.avi");
    const int width = 320, height = 240, frames = 45;
    ASSERT_EQ(openJobStyle(file, frames + 1, width, height, 29.97), WriterError::Ok);
    const std::vector<std::int16_t> samples(8, 0);  // four silent stereo sample frames per frame
    for (int k = 0; k < frames; ++k) {
        const auto frame = testFrame(width, height, k);
        ASSERT_TRUE(writer.writeFrame(frame.data(), samples.data(), 8)) << k;
    }
    EXPECT_TRUE(writer.close());
    EXPECT_TRUE(writer.close()) << "closing again is harmless";

    const std::vector<std::string> openLines = {"Init avi with extern codec.",
                                                "Initialize AVI system...",
                                                "Open AVI file...",
                                                "Set AVI dimension.",
                                                "Init avi video codec without settings.",
                                                "Out out init video codec...",
                                                "Set AVIStreamInfo...",
                                                "Create Stream.",
                                                "Make compressed stream.",
                                                "Set format.",
                                                "Setup audio encoder.",
                                                "Create new audio encoder.",
                                                "Set mp3 audio encoder parameters.",
                                                "Init audio encoder.",
                                                "Create avi audio stream.",
                                                "Set stream format.",
                                                "Init avi a/v done.",
                                                "AVI module closed.",
                                                "AVI module closed."};
    EXPECT_EQ(logMessages(), openLines);

    EXPECT_EQ(run("ffmpeg -nostdin -v error -i '" + file + "' -f null -"), "");
    EXPECT_EQ(probe(file,
                    "stream=codec_name,codec_tag_string,width,height,r_frame_rate,nb_read_packets "
                    "-select_streams v"),
              "mpeg4,XVID,320,240,2997/100," + std::to_string(frames) + "\n");
    EXPECT_EQ(probe(file, "stream=codec_name,codec_tag,sample_rate,channels,bit_rate -select_streams a"),
              "mp3,0x0055,44100,2,192000\n");

    // Durations: the audio input covers the video to the sample; the MP3 stream adds the encoder's
    // delay and its last partial frame, well under 0.1 s.
    double video = 0;
    ASSERT_EQ(std::sscanf(probe(file, "stream=duration -select_streams v").c_str(), "%lf", &video), 1);
    EXPECT_NEAR(video, frames / 29.97, 1e-3);
    long audioBytes = 0;
    ASSERT_EQ(std::sscanf(probe(file, "stream=nb_frames -select_streams a").c_str(), "%ld", &audioBytes), 1);
    const double audio = audioBytes / 24000.0;
    EXPECT_GE(audio, video);
    EXPECT_LE(audio - video, 0.1);

    // Header values: video rate 29970/1000, quality -1; audio length is the real byte count.
    const std::string bytes = testing::readFile(file);
    const std::size_t vids = strhBody(bytes, "vids");
    const std::size_t auds = strhBody(bytes, "auds");
    ASSERT_NE(vids, std::string::npos);
    ASSERT_NE(auds, std::string::npos);
    EXPECT_EQ(le32(bytes, vids + 4), kXvid);
    EXPECT_EQ(le32(bytes, vids + 20), 1000u);
    EXPECT_EQ(le32(bytes, vids + 24), 29970u);
    EXPECT_EQ(le32(bytes, vids + 32), static_cast<std::uint32_t>(frames));
    EXPECT_EQ(le32(bytes, vids + 36), static_cast<std::uint32_t>(width * height * 4));
    EXPECT_EQ(le32(bytes, vids + 40), 0xFFFFFFFFu);
    EXPECT_EQ(le32(bytes, auds + 20), 1u);
    EXPECT_EQ(le32(bytes, auds + 24), 24000u);
    EXPECT_EQ(le32(bytes, auds + 32), static_cast<std::uint32_t>(audioBytes)) << "the real length, not -1";
    EXPECT_EQ(le32(bytes, auds + 44), 1u);
    const std::size_t strf = bytes.find("strf", auds);
    ASSERT_NE(strf, std::string::npos);
    EXPECT_EQ(le32(bytes, strf + 4), 30u);
    EXPECT_EQ(le32(bytes, strf + 8) & 0xFFFF, 0x55u);
    EXPECT_EQ(le32(bytes, strf + 8 + 8), 24000u);

    // The first decoded frame is the input, upright: red above, blue below.
    const std::string first =
        run("ffmpeg -nostdin -v error -i '" + file + "' -frames:v 1 -f rawvideo -pix_fmt bgra -");
    ASSERT_EQ(first.size(), static_cast<std::size_t>(width * height * 4));
    auto pixel = [&](int x, int y) {
        return reinterpret_cast<const unsigned char*>(&first[(y * width + x) * 4]);
    };
    EXPECT_GT(pixel(width / 2, height / 4)[2], 200);
    EXPECT_LT(pixel(width / 2, height / 4)[0], 60);
    EXPECT_GT(pixel(width / 2, 3 * height / 4)[0], 200);
    EXPECT_LT(pixel(width / 2, 3 * height / 4)[2], 60);
}

// Samples a frame brings are written in full; silence only fills what is missing. 25 fps here.
TEST_F(AviWriterTest, AudioKeepsTheSamplesGivenAndPadsTheRest) {
    const std::string file = path("audio.avi");
    const int width = 160, height = 120;
    ASSERT_EQ(openJobStyle(file, 100, width, height, 25.0, kDx50), WriterError::Ok);
    const auto frame = testFrame(width, height, 0);
    const std::vector<std::int16_t> second(2 * 44100, 0);  // one second of stereo samples
    ASSERT_TRUE(writer.writeFrame(frame.data(), second.data(), static_cast<int>(second.size())));
    for (int k = 1; k < 10; ++k) ASSERT_TRUE(writer.writeFrame(frame.data(), nullptr, 0));
    writer.close();
    EXPECT_EQ(run("ffmpeg -nostdin -v error -i '" + file + "' -f null -"), "");
    const std::string bytes = testing::readFile(file);
    const std::size_t vids = strhBody(bytes, "vids");
    ASSERT_NE(vids, std::string::npos);
    EXPECT_EQ(le32(bytes, vids + 24), 25000u);
    EXPECT_EQ(le32(bytes, vids + 20), 1000u);
    double video = 0;
    ASSERT_EQ(std::sscanf(probe(file, "stream=duration -select_streams v").c_str(), "%lf", &video), 1);
    EXPECT_NEAR(video, 0.4, 1e-3);
    long audioBytes = 0;
    ASSERT_EQ(std::sscanf(probe(file, "stream=nb_frames -select_streams a").c_str(), "%ld", &audioBytes), 1);
    EXPECT_GE(audioBytes / 24000.0, 1.0) << "the whole second given stays in the stream";
    EXPECT_LE(audioBytes / 24000.0, 1.1);
}

TEST_F(AviWriterTest, FrameLimitAndStopFlag) {
    const std::string file = path("limit.avi");
    const auto frame = testFrame(64, 48, 0);
    ASSERT_EQ(openJobStyle(file, 3, 64, 48, 25.0), WriterError::Ok);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(writer.writeFrame(frame.data(), nullptr, 0));
    EXPECT_FALSE(writer.writeFrame(frame.data(), nullptr, 0));
    EXPECT_EQ(logMessages().back(), "AVI module closed.") << "the refused frame closed the writer";
    EXPECT_FALSE(writer.writeFrame(frame.data(), nullptr, 0)) << "closed: nothing more is taken";
    EXPECT_EQ(probe(file, "stream=nb_read_packets").substr(0, 2), "3\n");

    ASSERT_EQ(openJobStyle(path("stop.avi"), 100, 64, 48, 25.0), WriterError::Ok);
    writer.setStopFlag(false);
    EXPECT_TRUE(writer.writeFrame(frame.data(), nullptr, 0));
    writer.setStopFlag(true);
    EXPECT_FALSE(writer.writeFrame(frame.data(), nullptr, 0));
    writer.setStopFlag(false);
    EXPECT_FALSE(writer.writeFrame(frame.data(), nullptr, 0)) << "the refusal closed the file";
    EXPECT_EQ(run("ffmpeg -nostdin -v error -i '" + path("stop.avi") + "' -f null -"), "");
}

TEST_F(AviWriterTest, NumberedNameAndExistingFileDeleted) {
    const std::string numbered = path("My.Show_01.avi");
    ASSERT_TRUE(testing::writeFile(numbered, "old contents"));
    // Keep the old file open: its inode stays taken, so a new file must be a different one.
    const int oldFd = ::open(numbered.c_str(), O_RDONLY);
    ASSERT_GE(oldFd, 0);
    const std::uint32_t missing = makeFourCC('N', 'O', 'N', 'E');
    AviWriterOptions numberedOptions = jobStyle(path("My.Show.avi"), 10, 64, 48, 25.0, missing);
    numberedOptions.numberedName = true;
    EXPECT_EQ(writer.open(numberedOptions), WriterError::CompressorMissing);
    struct stat oldInfo {};
    ASSERT_EQ(::fstat(oldFd, &oldInfo), 0);
    EXPECT_EQ(oldInfo.st_nlink, 0u) << "the existing file was deleted even though the open failed";
    ::close(oldFd);
    EXPECT_NE(testing::readFile(numbered), "old contents");
    EXPECT_FALSE(exists(path("My.Show.avi")));
    EXPECT_EQ(writer.fileName(), numbered);

    const auto log = logMessages();
    const std::size_t icopen = indexOf(log, "ICOpen [63646976,454e4f4e] failed.");
    ASSERT_NE(icopen, std::string::npos);
    ASSERT_LT(icopen + 3, log.size());
    EXPECT_EQ(log[icopen + 1], "Out out init video codec...");
    EXPECT_EQ(log[icopen + 2], "Failed to init video codec. Please check AVI codec settings.");
    EXPECT_EQ(log[icopen + 3], "AVI module closed.");
    EXPECT_EQ(indexOf(log, "Setup audio encoder."), std::string::npos);
}

TEST_F(AviWriterTest, OpenFailures) {
    // A folder that does not exist.
    EXPECT_EQ(openJobStyle(path("no/such/folder/x.avi"), 10, 64, 48, 25.0), WriterError::FileNotCreated);
    auto log = logMessages();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "Failed to open AVI file, " + path("no/such/folder/x.avi") + " (2)");
    EXPECT_EQ(log.back(), "AVI module closed.");

    // Sizes no compressor takes.
    EXPECT_EQ(openJobStyle(path("odd.avi"), 10, 63, 47, 25.0), WriterError::VideoSetupFailed);
    EXPECT_EQ(openJobStyle(path("huge.avi"), 10, 1 << 20, 1 << 20, 25.0), WriterError::VideoSetupFailed);
    EXPECT_EQ(openJobStyle(path("rate.avi"), 10, 64, 48, 0.0), WriterError::VideoSetupFailed);
    EXPECT_EQ(openJobStyle(path("nan.avi"), 10, 64, 48, std::nan("")), WriterError::VideoSetupFailed);
    EXPECT_FALSE(writer.writeFrame(nullptr, nullptr, 0));

    // The MP3 library missing: nothing is opened.
    Mp3EncoderLibrary::setLibraryNameForTesting("libkestrelle-no-such-library.so");
    EXPECT_EQ(openJobStyle(path("nolib.avi"), 10, 64, 48, 25.0), WriterError::AudioLibraryMissing);
    EXPECT_EQ(logMessages().back(), "AVI system not initialized.");
    EXPECT_FALSE(exists(path("nolib.avi")));
}

// YUY2 frames through sequential compression, with its own set-up and per-frame lines.
TEST_F(AviWriterTest, Yuy2Path) {
    const std::string file = path("yuy2.avi");
    const int width = 64, height = 48;
    ASSERT_EQ(openJobStyle(file, 10, width, height, 15.0, kXvid, FrameLayout::Yuy2), WriterError::Ok);
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(width * height * 2));
    for (std::size_t i = 0; i < frame.size(); i += 2) {
        frame[i] = 180;      // luma
        frame[i + 1] = 128;  // neutral chroma
    }
    for (int k = 0; k < 5; ++k) ASSERT_TRUE(writer.writeFrame(frame.data(), nullptr, 0));
    writer.close();
    const auto log = logMessages();
    const std::size_t yuy2 = indexOf(log, "Setup YUY2 frame.");
    ASSERT_NE(yuy2, std::string::npos);
    EXPECT_EQ(log[yuy2 + 1], "ICSendMessage");
    EXPECT_EQ(log[yuy2 + 2], "ICSendMessage return 0x00000000.");
    const std::size_t start = indexOf(log, "Compress frame start.");
    ASSERT_NE(start, std::string::npos);
    EXPECT_EQ(log[start + 1], "Compress frame start successed.");
    EXPECT_LT(indexOf(log, "Set format."), start);
    EXPECT_LT(start, indexOf(log, "Setup audio encoder."));
    const std::size_t compress = indexOf(log, "Compress one frame...");
    ASSERT_NE(compress, std::string::npos);
    EXPECT_EQ(log[compress + 1], "Write one frame...");

    EXPECT_EQ(run("ffmpeg -nostdin -v error -i '" + file + "' -f null -"), "");
    const std::string bytes = testing::readFile(file);
    ASSERT_NE(strhBody(bytes, "vids"), std::string::npos);
    EXPECT_EQ(le32(bytes, strhBody(bytes, "vids") + 36), static_cast<std::uint32_t>(width * height * 2));
    const std::string first =
        run("ffmpeg -nostdin -v error -i '" + file + "' -frames:v 1 -f rawvideo -pix_fmt gray -");
    ASSERT_EQ(first.size(), static_cast<std::size_t>(width * height));
    EXPECT_NEAR(static_cast<unsigned char>(first[width * height / 2]), 180, 12);
}

// A write failure (file size limit) refuses the frame, closes the file as far as written, and no
// later frame reports success. Runs in a child process that carries the limit.
TEST_F(AviWriterTest, WriteFailureRefusesAndCloses) {
    const std::string file = path("full.avi");
    const int width = 640, height = 480;
    constexpr rlim_t kLimit = 10u << 20;
    // Constant quantizer 1 makes noise frames large, so the limit is reached within a few dozen frames.
    auto compressor = openCompressor(kCompressorType, kXvid);
    ASSERT_NE(compressor, nullptr);
    CompressorSettings settings;
    settings.rateControl = CompressorSettings::RateControl::ConstantQuantizer;
    settings.quantizer = 1;
    compressor->setSettings(settings);
    const std::vector<std::uint8_t> stateBlock = compressor->state();

    std::mt19937 random(7);
    std::vector<std::vector<std::uint8_t>> noise(
        3, std::vector<std::uint8_t>(static_cast<std::size_t>(width * height * 4)));
    for (auto& f : noise)
        for (auto& b : f) b = static_cast<std::uint8_t>(random());

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{kLimit, kLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        AviWriterOptions options = jobStyle(file, 1000, width, height, 25.0);
        options.codecState = stateBlock;
        if (writer.open(options) != WriterError::Ok) _exit(250);
        const std::vector<std::int16_t> samples(8, 0);
        for (int k = 0; k < 200; ++k) {
            if (!writer.writeFrame(noise[k % 3].data(), samples.data(), 8)) {
                // Once refused, no frame is stored again.
                const bool later = writer.writeFrame(noise[0].data(), samples.data(), 8);
                _exit(later ? 251 : (k < 200 ? 1 : 252));
            }
        }
        _exit(253);  // never refused
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died from a signal";
    ASSERT_EQ(WEXITSTATUS(status), 1);

    const auto log = logMessages();
    EXPECT_NE(indexOf(log, "ICSetState: setting size=24."), std::string::npos);
    const std::size_t failed = indexOf(log, "Failed to encode AVI video. Please check AVI codec settings.");
    ASSERT_NE(failed, std::string::npos) << "the refused frame logs the frame-write failure";
    EXPECT_NE(indexOf(log, "AVI module closed.", failed), std::string::npos);

    // What reached the disk stays readable: the frames written before the failure decode.
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_LE(static_cast<rlim_t>(info.st_size), kLimit);
    EXPECT_GT(info.st_size, 1 << 20);
    const std::string counted = probe(file, "stream=codec_type,nb_read_packets");
    int packets = 0;
    ASSERT_EQ(std::sscanf(counted.c_str(), "video,%d", &packets), 1) << counted;
    EXPECT_GT(packets, 5);
}

// Each writer holds its own file: two open at once, their frames interleaved, write the same bytes as
// each written alone, and a writer left open finishes its file when it goes.
TEST_F(AviWriterTest, WritersAtOnceKeepTheirFilesApart) {
    const std::vector<std::int16_t> samples(8, 0);
    auto writeAlone = [&](const std::string& file, const AviWriterOptions& options, int frames) {
        ASSERT_EQ(writer.open(options), WriterError::Ok);
        for (int k = 0; k < frames; ++k) {
            const auto frame = testFrame(options.width, options.height, k);
            ASSERT_TRUE(writer.writeFrame(frame.data(), samples.data(), 8));
        }
        ASSERT_TRUE(writer.close());
        ASSERT_EQ(writer.fileName(), file);
    };
    const AviWriterOptions small = jobStyle(path("small.avi"), 100, 64, 48, 25.0, kXvid);
    const AviWriterOptions large = jobStyle(path("large.avi"), 100, 160, 120, 29.97, kDx50);
    writeAlone(path("small.avi"), small, 20);
    writeAlone(path("large.avi"), large, 30);
    const std::string smallAlone = testing::readFile(path("small.avi"));
    const std::string largeAlone = testing::readFile(path("large.avi"));
    ASSERT_FALSE(smallAlone.empty());

    std::unique_ptr<ContainerWriter> first = createContainerWriter(ContainerFormat::Avi);
    std::unique_ptr<ContainerWriter> second = createContainerWriter(ContainerFormat::Avi);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(first->open(small), WriterError::Ok);
    ASSERT_EQ(second->open(large), WriterError::Ok);
    for (int k = 0; k < 30; ++k) {
        if (k < 20) {
            const auto frame = testFrame(64, 48, k);
            ASSERT_TRUE(first->writeFrame(frame.data(), samples.data(), 8)) << k;
        }
        const auto frame = testFrame(160, 120, k);
        ASSERT_TRUE(second->writeFrame(frame.data(), samples.data(), 8)) << k;
    }
    EXPECT_EQ(first->framesWritten(), 20);
    EXPECT_EQ(second->framesWritten(), 30);
    EXPECT_EQ(first->fileName(), path("small.avi"));
    EXPECT_EQ(second->fileName(), path("large.avi"));
    EXPECT_TRUE(first->close());
    second.reset();  // not closed: going finishes the file

    EXPECT_TRUE(testing::readFile(path("small.avi")) == smallAlone) << "the interleaved file differs";
    EXPECT_TRUE(testing::readFile(path("large.avi")) == largeAlone) << "the file finished on going differs";
    EXPECT_EQ(run("ffmpeg -nostdin -v error -i '" + path("large.avi") + "' -f null -"), "");
    EXPECT_EQ(logMessages().back(), "AVI module closed.");
}

// A file that cannot be created says so; the writer stays usable for the next open.
TEST_F(AviWriterTest, UncreatableFileIsItsOwnError) {
    ASSERT_EQ(::mkdir(path("taken.avi").c_str(), 0700), 0);
    EXPECT_EQ(openJobStyle(path("taken.avi"), 10, 64, 48, 25.0), WriterError::FileNotCreated)
        << "a folder holds the name";
    EXPECT_EQ(writer.framesWritten(), 0);
    EXPECT_EQ(openJobStyle(path("free.avi"), 10, 64, 48, 25.0), WriterError::Ok);
    const auto frame = testFrame(64, 48, 0);
    EXPECT_TRUE(writer.writeFrame(frame.data(), nullptr, 0));
    EXPECT_TRUE(writer.close());
    EXPECT_EQ(writer.framesWritten(), 1);
    EXPECT_EQ(probe(path("free.avi"), "stream=nb_read_packets").substr(0, 2), "1\n");
}

// A bit rate asked for: the encoder runs at it and the stream format and header say so (the frame
// length as block size); a rate MP3 does not have is refused before anything is encoded.
TEST_F(AviWriterTest, AnAudioBitRateAskedForReachesTheEncoderAndTheHeaders) {
    const std::string file = path("rate128.avi");
    AviWriterOptions options = jobStyle(file, 30, 64, 48, 25.0);
    options.audioBitRateKbps = 128;
    ASSERT_EQ(writer.open(options), WriterError::Ok);
    const auto frame = testFrame(64, 48, 0);
    for (int k = 0; k < 25; ++k) ASSERT_TRUE(writer.writeFrame(frame.data(), nullptr, 0));
    ASSERT_TRUE(writer.close());
    EXPECT_EQ(run("ffmpeg -nostdin -v error -i '" + file + "' -f null -"), "");
    EXPECT_EQ(probe(file, "stream=codec_name,bit_rate -select_streams a"), "mp3,128000\n");
    const std::string bytes = testing::readFile(file);
    const std::size_t auds = strhBody(bytes, "auds");
    ASSERT_NE(auds, std::string::npos);
    EXPECT_EQ(le32(bytes, auds + 24), 16000u);
    const std::size_t strf = bytes.find("strf", auds);
    ASSERT_NE(strf, std::string::npos);
    EXPECT_EQ(le32(bytes, strf + 8 + 8), 16000u);
    EXPECT_EQ(le32(bytes, strf + 8 + 24) & 0xFFFF, 417u) << "144 x 128000 / 44100";

    options.path = path("rate100.avi");
    options.audioBitRateKbps = 100;
    EXPECT_EQ(writer.open(options), WriterError::AudioSetupFailed);
    EXPECT_EQ(mp3WaveFormatForBitRate(100).averageBytesPerSecond, 0u);
    EXPECT_EQ(mp3WaveFormatForBitRate(192).averageBytesPerSecond, 24000u);
}

// The left channel of a file's audio, decoded by ffmpeg.
std::vector<float> decodedLeft(const std::string& file) {
    const std::string raw =
        testing::commandOutput("ffmpeg -nostdin -v error -i '" + file + "' -f f32le -ac 2 -ar 44100 -");
    std::vector<float> left(raw.size() / 8);
    for (std::size_t i = 0; i < left.size(); ++i) std::memcpy(&left[i], raw.data() + 8 * i, sizeof(float));
    return left;
}

std::size_t loudestAt(const std::vector<float>& samples) {
    std::size_t at = 0;
    for (std::size_t i = 1; i < samples.size(); ++i)
        if (std::fabs(samples[i]) > std::fabs(samples[at])) at = i;
    return at;
}

// The decoding delay the writer states is what a decoder shows: a click handed in at sample 44,100
// comes out that much later; with the delay compensated it comes out at 44,100 itself, and the stream
// then ends with the video (within one MP3 frame) instead of a delay later. With the encoder on a
// thread of its own the stream is the same.
TEST_F(AviWriterTest, TheStatedDecodingDelayIsTheDecodersAndCompensatingItPutsAClickOnItsFrame) {
    const int width = 64, height = 48, frames = 75;
    const double fps = 25.0;
    const auto frame = testFrame(width, height, 0);
    std::vector<std::int16_t> music(2 * 44100 * 4, 0);
    for (int k = 0; k < 8; ++k) music[2 * (44100 + k)] = music[2 * (44100 + k) + 1] = k % 2 ? -30000 : 30000;
    auto at = [fps](std::int64_t n, std::int64_t delay) {
        return std::max<std::int64_t>(0, std::llround(n * 44100.0 / fps) - delay);
    };
    std::int64_t delay = 0;
    std::vector<float> inStep;
    for (const int mode : {0, 1, 2}) {
        // 0: plain; 1: the delay made up for; 2: the same with the encoder on its own thread.
        const bool compensated = mode > 0;
        SCOPED_TRACE(mode);
        const std::string file = path("mode" + std::to_string(mode) + ".avi");
        AviWriterOptions options = jobStyle(file, frames, width, height, fps);
        options.audioDelayCompensated = compensated;
        options.audioOnItsOwnThread = mode == 2;
        ASSERT_EQ(writer.open(options), WriterError::Ok);
        delay = writer.audioDelayFrames();
        EXPECT_GE(delay, 576 + 529);
        const std::int64_t shift = compensated ? delay : 0;
        for (int n = 0; n < frames; ++n) {
            const std::int64_t from = at(n, shift), to = at(n + 1, shift);
            ASSERT_TRUE(writer.writeFrame(frame.data(), music.data() + 2 * (from + shift),
                                          static_cast<int>(2 * (to - from))));
        }
        ASSERT_TRUE(writer.close());
        EXPECT_EQ(writer.audioDelayFrames(), 0) << "closed";
        const std::vector<float> left = decodedLeft(file);
        if (mode == 1) inStep = left;
        if (mode == 2) {
            EXPECT_TRUE(left == inStep) << "the encoder's thread makes the very same stream";
        }
        const std::size_t click = loudestAt(left);
        std::printf("[ measured ] click handed at 44100 decoded at %zu (stated delay %lld)\n", click,
                    static_cast<long long>(delay));
        EXPECT_NEAR(static_cast<double>(click), 44100.0 + static_cast<double>(compensated ? 0 : delay), 16.0);
        const double video = frames / fps;
        const double audio = static_cast<double>(left.size()) / 44100.0;
        if (compensated) {
            EXPECT_GE(audio, video - 1e-9);
            EXPECT_LT(audio - video, 1152.0 / 44100.0) << "within one MP3 frame of the video";
        } else {
            EXPECT_GE(audio - video, delay / 44100.0);
        }
    }
}

}  // namespace
}  // namespace kestrelle
