// The MPEG-4 header reader and the not-coded P-VOP: read against real encoder output and checked by
// FFmpeg's decoder, which must turn each generated VOP into an exact copy of the picture before it.

#include "media/mpeg4_vop.h"

#include "media/video_compressor.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

using Packet = std::vector<std::uint8_t>;
const std::uint32_t kXvid = makeFourCC('X', 'V', 'I', 'D');
const std::uint32_t kDx50 = makeFourCC('D', 'X', '5', '0');

// A bottom-up 32-bit frame: a gradient with a square whose place depends on k.
std::vector<std::uint8_t> picture(int width, int height, int k) {
    std::vector<std::uint8_t> f(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &f[(static_cast<std::size_t>(y) * width + x) * 4];
            const bool square = std::abs(x - (k * 7) % width) < 6 && std::abs(y - height / 2) < 6;
            p[0] = static_cast<std::uint8_t>(square ? 250 : x * 255 / width + k * 40);
            p[1] = static_cast<std::uint8_t>(square ? 20 : y * 255 / height);
            p[2] = static_cast<std::uint8_t>((x + y + k) & 0xFF);
            p[3] = 0;
        }
    }
    return f;
}

// Encodes `frames` pictures (k = 0 .. frames - 1, each repeated `repeat` times) at 29.97 fps.
std::vector<Packet> encode(std::uint32_t handler, int width, int height, int frames, int repeat = 1) {
    auto compressor = openCompressor(kCompressorType, handler);
    if (!compressor) return {};
    CompressionParams params;
    params.width = width;
    params.height = height;
    params.rateNumerator = 29970;
    params.rateDenominator = 1000;
    std::string error;
    if (!compressor->begin(params, error)) return {};
    std::vector<Packet> packets;
    for (int k = 0; k < frames; ++k) {
        const auto pixels = picture(width, height, k);
        for (int r = 0; r < repeat; ++r) {
            CompressedFrame out;
            if (!compressor->compress(pixels.data(), out, error)) return {};
            packets.push_back(out.bytes);
        }
    }
    return packets;
}

// FFmpeg's decoder messages at warning level or worse, counted while a Decoder lives.
int g_decoderWarnings = 0;
void countWarnings(void*, int level, const char*, va_list) {
    if (level <= AV_LOG_WARNING) ++g_decoderWarnings;
}

// The pictures FFmpeg's MPEG-4 decoder makes of a packet sequence, each as its Y, U and V planes.
struct Decoded {
    std::vector<Packet> pictures;
    int warnings = 0;
    bool failed = false;
};

Decoded decode(const std::vector<Packet>& packets) {
    Decoded result;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> context(
        avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(),
                                                       [](AVFrame* f) { av_frame_free(&f); });
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(),
                                                          [](AVPacket* p) { av_packet_free(&p); });
    context->thread_count = 1;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        result.failed = true;
        return result;
    }
    g_decoderWarnings = 0;
    av_log_set_callback(countWarnings);
    auto receive = [&] {
        while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
            Packet planes;
            for (int plane = 0; plane < 3; ++plane) {
                const int w = plane == 0 ? frame->width : (frame->width + 1) / 2;
                const int h = plane == 0 ? frame->height : (frame->height + 1) / 2;
                for (int y = 0; y < h; ++y) {
                    const std::uint8_t* row =
                        frame->data[plane] + static_cast<std::ptrdiff_t>(y) * frame->linesize[plane];
                    planes.insert(planes.end(), row, row + w);
                }
            }
            result.pictures.push_back(std::move(planes));
        }
    };
    for (const Packet& bytes : packets) {
        packet->data = const_cast<std::uint8_t*>(bytes.data());
        packet->size = static_cast<int>(bytes.size());
        if (avcodec_send_packet(context.get(), packet.get()) < 0) result.failed = true;
        receive();
    }
    avcodec_send_packet(context.get(), nullptr);
    receive();
    av_log_set_callback(av_log_default_callback);
    result.warnings = g_decoderWarnings;
    return result;
}

// The VOL of both compressors' real output, at sizes on and off the 16-pixel grid: what the stream
// says about itself, and whether the generator takes it.
TEST(Mpeg4Vol, ParsedFromEncoderOutput) {
    struct Case {
        std::uint32_t handler;
        int width, height;
    };
    for (const Case& c : {Case{kXvid, 176, 144}, Case{kXvid, 34, 18}, Case{kXvid, 2, 2},
                          Case{kDx50, 176, 144}, Case{kDx50, 330, 250}, Case{kDx50, 2, 2}}) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const auto packets = encode(c.handler, c.width, c.height, 1);
        ASSERT_EQ(packets.size(), 1u);
        const auto vol = mpeg4::parseVol(packets[0].data(), packets[0].size());
        ASSERT_TRUE(vol);
        EXPECT_EQ(vol->width, c.width);
        EXPECT_EQ(vol->height, c.height);
        EXPECT_EQ(vol->timeIncrementResolution, 2997);  // 29.97 = 2997 / 100
        EXPECT_EQ(vol->timeIncrementBits, 12);
        EXPECT_EQ(vol->macroblockCount(), ((c.width + 15) / 16) * ((c.height + 15) / 16));
        EXPECT_TRUE(vol->supported());
        const auto timing = mpeg4::parseVopTiming(*vol, packets[0].data(), packets[0].size());
        ASSERT_TRUE(timing);
        EXPECT_EQ(timing->type, mpeg4::VopType::I);
        EXPECT_EQ(timing->timeIncrement, 0);
        EXPECT_EQ(timing->vopCount, 1);
    }
}

// Truncated, empty and random input: never a crash, never a VOL that was not there whole.
TEST(Mpeg4Vol, HostileInput) {
    const auto packets = encode(kXvid, 64, 48, 1);
    ASSERT_EQ(packets.size(), 1u);
    const Packet& whole = packets[0];
    const auto vol = mpeg4::parseVol(whole.data(), whole.size());
    ASSERT_TRUE(vol);
    std::size_t volStart = 0;
    while (!(whole[volStart] == 0 && whole[volStart + 1] == 0 && whole[volStart + 2] == 1 &&
             whole[volStart + 3] >= 0x20 && whole[volStart + 3] <= 0x2F))
        ++volStart;
    for (std::size_t cut = 0; cut < volStart + 10; ++cut)
        EXPECT_FALSE(mpeg4::parseVol(whole.data(), cut)) << cut;
    EXPECT_FALSE(mpeg4::parseVol(nullptr, 100));
    EXPECT_FALSE(mpeg4::parseVopTiming(*vol, whole.data(), 3));

    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        Packet noise(static_cast<std::size_t>(random() % 64));
        for (auto& b : noise) b = static_cast<std::uint8_t>(random());
        if (noise.size() > 8 && i % 2 == 0) std::memcpy(noise.data(), whole.data() + volStart, 4);
        const auto any = mpeg4::parseVol(noise.data(), noise.size());
        if (any) (void)mpeg4::parseVopTiming(*any, noise.data(), noise.size());
        Packet copy = noise;
        (void)mpeg4::restampVop(*vol, copy, 1, 5, 1);
    }
}

// The generated P-VOP after real I- and P-VOPs decodes to exactly the picture before it, without a
// decoder warning, at sizes on and off the 16-pixel grid, for both compressors; its header reads back.
TEST(NotCodedPVop, DecodesToThePreviousPictureExactly) {
    struct Case {
        std::uint32_t handler;
        int width, height;
    };
    for (const Case& c : {Case{kXvid, 176, 144}, Case{kXvid, 34, 18}, Case{kXvid, 2, 2}, Case{kXvid, 100, 62},
                          Case{kDx50, 176, 144}, Case{kDx50, 330, 250}, Case{kDx50, 2, 2}}) {
        SCOPED_TRACE(std::to_string(c.handler) + ": " + std::to_string(c.width) + " x " +
                     std::to_string(c.height));
        auto packets = encode(c.handler, c.width, c.height, 3);
        ASSERT_EQ(packets.size(), 3u);
        const auto vol = mpeg4::parseVol(packets[0].data(), packets[0].size());
        ASSERT_TRUE(vol);
        const Packet vop = mpeg4::notCodedPVop(*vol, 0, 300);
        ASSERT_FALSE(vop.empty());
        const std::size_t headerBits = 32 + 2 + 1 + 1 + 12 + 1 + 1 + 1 + 3 + 5 + 3;
        EXPECT_EQ(vop.size(), (headerBits + static_cast<std::size_t>(vol->macroblockCount()) + 1 + 7) / 8);
        const auto timing = mpeg4::parseVopTiming(*vol, vop.data(), vop.size());
        ASSERT_TRUE(timing);
        EXPECT_EQ(timing->type, mpeg4::VopType::P);
        EXPECT_EQ(timing->moduloTimeBase, 0);
        EXPECT_EQ(timing->timeIncrement, 300);
        EXPECT_TRUE(timing->coded);

        packets.push_back(vop);
        packets.push_back(mpeg4::notCodedPVop(*vol, 0, 400));
        const Decoded decoded = decode(packets);
        EXPECT_FALSE(decoded.failed);
        EXPECT_EQ(decoded.warnings, 0);
        ASSERT_EQ(decoded.pictures.size(), 5u);
        if (c.width >= 16) {
            EXPECT_NE(decoded.pictures[1], decoded.pictures[2]) << "the encoded pictures differ";
        }
        EXPECT_EQ(decoded.pictures[3], decoded.pictures[2]);
        EXPECT_EQ(decoded.pictures[4], decoded.pictures[2]);
    }
}

// 29.97 fps: frame 30 is the first of the next second (3000 ticks of 2997). The time fields across
// the boundary, as written and as read back, and fields that do not fit are refused.
TEST(NotCodedPVop, TimeAcrossASecondBoundary) {
    const auto packets = encode(kXvid, 48, 32, 1);
    ASSERT_EQ(packets.size(), 1u);
    const auto vol = mpeg4::parseVol(packets[0].data(), packets[0].size());
    ASSERT_TRUE(vol);
    std::vector<Packet> stream = packets;
    std::int64_t second = 0;
    for (int frame = 1; frame <= 62; ++frame) {
        const std::int64_t ticks = frame * 100;
        const Packet vop = mpeg4::notCodedPVop(*vol, static_cast<int>(ticks / 2997 - second),
                                               static_cast<int>(ticks % 2997));
        ASSERT_FALSE(vop.empty()) << frame;
        const auto timing = mpeg4::parseVopTiming(*vol, vop.data(), vop.size());
        ASSERT_TRUE(timing);
        EXPECT_EQ(timing->moduloTimeBase, frame == 30 || frame == 60 ? 1 : 0) << frame;
        EXPECT_EQ(timing->timeIncrement, ticks % 2997) << frame;
        second = ticks / 2997;
        stream.push_back(vop);
    }
    EXPECT_EQ(mpeg4::parseVopTiming(*vol, stream[30].data(), stream[30].size())->timeIncrement, 3);
    // Two seconds in one step (a long still at a low rate).
    const Packet jump = mpeg4::notCodedPVop(*vol, 2, 10);
    EXPECT_EQ(mpeg4::parseVopTiming(*vol, jump.data(), jump.size())->moduloTimeBase, 2);
    stream.push_back(jump);

    const Decoded decoded = decode(stream);
    EXPECT_EQ(decoded.warnings, 0);
    ASSERT_EQ(decoded.pictures.size(), stream.size());
    for (std::size_t i = 1; i < decoded.pictures.size(); ++i)
        EXPECT_EQ(decoded.pictures[i], decoded.pictures[0]) << i;

    EXPECT_TRUE(mpeg4::notCodedPVop(*vol, 0, 2997).empty()) << "an increment is below the resolution";
    EXPECT_TRUE(mpeg4::notCodedPVop(*vol, -1, 0).empty());
    mpeg4::VolInfo interlaced = *vol;
    interlaced.interlaced = true;
    EXPECT_FALSE(interlaced.supported());
    EXPECT_TRUE(mpeg4::notCodedPVop(interlaced, 0, 0).empty());
}

// Restamping the encoder's packets: the time fields change (in place, or with the VOP data shifted
// when the seconds field changes length), the picture does not.
TEST(RestampVop, ChangesTheTimeOnly) {
    const auto packets = encode(kXvid, 96, 64, 3);
    ASSERT_EQ(packets.size(), 3u);
    const auto vol = mpeg4::parseVol(packets[0].data(), packets[0].size());
    ASSERT_TRUE(vol);
    const Decoded original = decode(packets);
    ASSERT_EQ(original.pictures.size(), 3u);

    for (int modulo : {0, 1, 3, 9}) {
        SCOPED_TRACE(modulo);
        std::vector<Packet> restamped = packets;
        ASSERT_TRUE(mpeg4::restampVop(*vol, restamped[1], 0, 1234, 0));
        ASSERT_TRUE(mpeg4::restampVop(*vol, restamped[2], modulo, 2996, 0));
        const auto timing = mpeg4::parseVopTiming(*vol, restamped[2].data(), restamped[2].size());
        ASSERT_TRUE(timing);
        EXPECT_EQ(timing->moduloTimeBase, modulo);
        EXPECT_EQ(timing->timeIncrement, 2996);
        EXPECT_EQ(mpeg4::parseVopTiming(*vol, restamped[1].data(), restamped[1].size())->timeIncrement, 1234);
        const Decoded decoded = decode(restamped);
        EXPECT_EQ(decoded.warnings, 0);
        EXPECT_EQ(decoded.pictures, original.pictures);
    }
    Packet twoVops = packets[1];
    twoVops.insert(twoVops.end(), packets[2].begin(), packets[2].end());
    const Packet before = twoVops;
    EXPECT_FALSE(mpeg4::restampVop(*vol, twoVops, 1, 0, 0)) << "a packet of two VOPs is not understood";
    EXPECT_EQ(twoVops, before);
}

// The DivX-compatible entry writes resync markers and GOV headers: a GOV's time code is rewritten in
// place, and a change of the seconds field's length is refused rather than shifting resync markers.
TEST(RestampVop, GovAndResyncMarkers) {
    const auto packets = encode(kDx50, 64, 48, 2);
    ASSERT_EQ(packets.size(), 2u);
    const auto vol = mpeg4::parseVol(packets[0].data(), packets[0].size());
    ASSERT_TRUE(vol);
    const auto timing = mpeg4::parseVopTiming(*vol, packets[0].data(), packets[0].size());
    ASSERT_TRUE(timing);
    ASSERT_TRUE(timing->govSeconds);
    EXPECT_EQ(*timing->govSeconds, 0);

    Packet key = packets[0];
    ASSERT_TRUE(mpeg4::restampVop(*vol, key, 0, 42, 3723));  // 1 h 2 min 3 s
    const auto restamped = mpeg4::parseVopTiming(*vol, key.data(), key.size());
    ASSERT_TRUE(restamped);
    EXPECT_EQ(*restamped->govSeconds, 3723);
    EXPECT_EQ(restamped->timeIncrement, 42);
    EXPECT_EQ(key.size(), packets[0].size());

    Packet p = packets[1];
    if (!vol->resyncMarkerDisable) {
        EXPECT_FALSE(mpeg4::restampVop(*vol, p, 1, 0, 0));
    }
    EXPECT_TRUE(mpeg4::restampVop(*vol, p, 0, 7, 0));
}

}  // namespace
}  // namespace kestrelle
