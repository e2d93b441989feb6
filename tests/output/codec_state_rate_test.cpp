// The compressor state a user captures without changing anything must encode exactly as no state does:
// both run through the writer with the same frames and must give the same file.

#include "media/avi_writer.h"

#include "media/video_compressor.h"
#include "tests/support/temp_home.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

class CodecStateRateTest : public testing::TempHomeTest {
protected:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;
    static constexpr int kFrames = 12;

    void TearDown() override {
        writer.close();
        TempHomeTest::TearDown();
    }

    // Noise frames, far more detail than the rate allows, so the encoder's rate shapes every frame.
    static std::vector<std::vector<std::uint8_t>> noiseFrames() {
        std::mt19937 random(7);
        std::vector<std::vector<std::uint8_t>> frames(kFrames);
        for (auto& frame : frames) {
            frame.resize(static_cast<std::size_t>(kWidth) * kHeight * 4);
            for (auto& byte : frame) byte = static_cast<std::uint8_t>(random());
        }
        return frames;
    }

    // The file the writer makes from the frames with this state block (none when empty).
    std::string encode(const std::string& name, std::uint32_t handler,
                       const std::vector<std::uint8_t>& state) {
        static const std::vector<std::vector<std::uint8_t>> frames = noiseFrames();
        const std::string file = path(name);
        AviWriterOptions options;
        options.path = file;
        options.frameLimit = kFrames + 1;
        options.width = kWidth;
        options.height = kHeight;
        options.framesPerSecond = 25.0;
        options.compressorType = kCompressorType;
        options.compressorHandler = handler;
        options.codecState = state;
        EXPECT_EQ(writer.open(options), WriterError::Ok);
        const std::vector<std::int16_t> silence(8, 0);
        for (const auto& frame : frames) EXPECT_TRUE(writer.writeFrame(frame.data(), silence.data(), 8));
        EXPECT_TRUE(writer.close());
        return testing::readFile(file);
    }

    AviWriter writer;
};

TEST_F(CodecStateRateTest, TheDefaultStateEncodesAtTheWritersOwnRate) {
    for (const CompressorInfo& info : enumerateCompressors()) {
        SCOPED_TRACE(info.description);
        auto compressor = openCompressor(info.type, info.handler);
        if (!compressor) continue;  // its encoder is not installed
        // What configuring and cancelling captures: the state of a freshly opened compressor.
        const std::vector<std::uint8_t> untouched = compressor->state();
        CompressorSettings higher = compressor->settings();
        higher.bitRateKbps = 100000;
        compressor->setSettings(higher);
        const std::vector<std::uint8_t> raised = compressor->state();

        const std::string withoutState = encode("none.avi", info.handler, {});
        const std::string withDefaultState = encode("default.avi", info.handler, untouched);
        const std::string withHigherRate = encode("higher.avi", info.handler, raised);
        ASSERT_GT(withoutState.size(), 100000u);
        EXPECT_TRUE(withDefaultState == withoutState)
            << withDefaultState.size() << " against " << withoutState.size();
        // The frames are heavy enough that another rate shows in the file.
        EXPECT_GT(withHigherRate.size(), withoutState.size() * 5 / 4);
    }
}

}  // namespace
}  // namespace kestrelle
