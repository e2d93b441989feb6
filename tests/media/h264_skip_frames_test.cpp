// Skip frames between libx264's frames: decoded by libavcodec, each must be an exact copy of the
// picture before it, and the encoder's later frames, renumbered, must decode exactly as they would
// have without the skip frames in between.

#include "media/h264_skip_frames.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <memory>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;

struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using Bytes = std::vector<std::uint8_t>;

// A picture whose content moves with `k`, so every encoded frame differs from the one before.
FramePtr picture(int k) {
    FramePtr f(av_frame_alloc());
    f->format = AV_PIX_FMT_YUV420P;
    f->width = kWidth;
    f->height = kHeight;
    av_frame_get_buffer(f.get(), 0);
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? kWidth / 2 : kWidth;
        const int h = plane ? kHeight / 2 : kHeight;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                f->data[plane][y * f->linesize[plane] + x] =
                    static_cast<std::uint8_t>((x * (3 + plane) + y * 5 + k * 11 + ((x + k) / 7) * 40) & 0xFF);
            }
        }
    }
    return f;
}

// libx264 set up as the MP4 writer sets it up for skip frames; `coder` "cabac" or "cavlc", `weightp`
// its weighted prediction mode. Every packet carries its own SPS and PPS (no global header).
std::vector<Bytes> encode(int frames, const char* coder, int weightp) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) return {};
    CodecPtr c(avcodec_alloc_context3(codec));
    c->width = kWidth;
    c->height = kHeight;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, 25};
    c->max_b_frames = 0;
    c->refs = 1;
    c->gop_size = 250;
    av_opt_set(c->priv_data, "preset", "veryfast", 0);
    av_opt_set(c->priv_data, "coder", coder, 0);
    av_opt_set_int(c->priv_data, "weightp", weightp, 0);
    av_opt_set_int(c->priv_data, "crf", 20, 0);
    if (avcodec_open2(c.get(), codec, nullptr) < 0) return {};
    std::vector<Bytes> packets;
    PacketPtr packet(av_packet_alloc());
    auto drain = [&] {
        while (avcodec_receive_packet(c.get(), packet.get()) == 0) {
            packets.emplace_back(packet->data, packet->data + packet->size);
            av_packet_unref(packet.get());
        }
    };
    for (int i = 0; i < frames; ++i) {
        FramePtr f = picture(i);
        f->pts = i;
        avcodec_send_frame(c.get(), f.get());
        drain();
    }
    avcodec_send_frame(c.get(), nullptr);
    drain();
    return packets;
}

// Decodes the access units in order; each decoded picture as its three planes, back to back. A
// decoder error empties the result.
std::vector<Bytes> decode(const std::vector<Bytes>& units) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    CodecPtr c(avcodec_alloc_context3(codec));
    c->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM;
    if (avcodec_open2(c.get(), codec, nullptr) < 0) return {};
    std::vector<Bytes> pictures;
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    bool failed = false;
    auto drain = [&] {
        int rc = 0;
        while ((rc = avcodec_receive_frame(c.get(), frame.get())) == 0) {
            if (frame->decode_error_flags != 0) failed = true;
            Bytes planes;
            for (int plane = 0; plane < 3; ++plane) {
                const int w = plane ? kWidth / 2 : kWidth;
                const int h = plane ? kHeight / 2 : kHeight;
                for (int y = 0; y < h; ++y) {
                    const std::uint8_t* row = frame->data[plane] + y * frame->linesize[plane];
                    planes.insert(planes.end(), row, row + w);
                }
            }
            pictures.push_back(std::move(planes));
        }
        if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) failed = true;
    };
    for (const Bytes& unit : units) {
        av_new_packet(packet.get(), static_cast<int>(unit.size()));
        std::copy(unit.begin(), unit.end(), packet->data);
        if (avcodec_send_packet(c.get(), packet.get()) < 0) failed = true;
        av_packet_unref(packet.get());
        drain();
    }
    avcodec_send_packet(c.get(), nullptr);
    drain();
    if (failed) return {};
    return pictures;
}

struct Variant {
    const char* coder;
    int weightp;
};

TEST(H264SkipFramesTest, SkipFramesCopyThePictureAndRenumberedFramesDecodeAsBefore) {
    for (const Variant variant : {Variant{"cabac", 0}, Variant{"cabac", 2}, Variant{"cavlc", 1}}) {
        SCOPED_TRACE(std::string(variant.coder) + " weightp " + std::to_string(variant.weightp));
        const std::vector<Bytes> encoded = encode(5, variant.coder, variant.weightp);
        if (encoded.empty()) GTEST_SKIP() << "libx264 missing";
        ASSERT_EQ(encoded.size(), 5u);
        const std::optional<H264StreamFacts> facts =
            readH264StreamFacts(encoded[0].data(), encoded[0].size());
        ASSERT_TRUE(facts.has_value());
        EXPECT_TRUE(skipFramesFit(*facts));
        EXPECT_EQ(facts->cabac, std::string(variant.coder) == "cabac");
        EXPECT_EQ(facts->macroblocks, (kWidth / 16) * (kHeight / 16));
        const std::vector<Bytes> plain = decode(encoded);
        ASSERT_EQ(plain.size(), 5u);

        // Frame 0, three skip frames, frame 1, enough skip frames to wrap frame_num, frames 2 to 4.
        const int maxFrameNum = 1 << facts->log2MaxFrameNum;
        const int skipsAfter[] = {3, maxFrameNum + 2, 0, 0, 0};
        std::vector<Bytes> units;
        std::vector<int> expected;  // which plain picture each unit must decode to
        int offset = 0;
        int lastFrameNum = 0;
        for (int i = 0; i < 5; ++i) {
            Bytes unit = encoded[static_cast<std::size_t>(i)];
            H264FrameFacts frame;
            ASSERT_TRUE(renumberH264Frame(unit, *facts, i == 0 ? 0 : lastFrameNum + 1, frame));
            EXPECT_EQ(frame.idr, i == 0);
            EXPECT_TRUE(frame.reference);
            EXPECT_EQ(frame.frameNum, (i + offset) % maxFrameNum);
            lastFrameNum = frame.frameNum;
            units.push_back(unit);
            expected.push_back(i);
            for (int k = 0; k < skipsAfter[i]; ++k) {
                lastFrameNum = (lastFrameNum + 1) % maxFrameNum;
                offset += 1;
                units.push_back(makeH264SkipFrame(*facts, lastFrameNum));
                expected.push_back(i);
            }
        }
        const std::vector<Bytes> mixed = decode(units);
        ASSERT_EQ(mixed.size(), units.size());
        for (std::size_t n = 0; n < mixed.size(); ++n) {
            EXPECT_EQ(mixed[n], plain[static_cast<std::size_t>(expected[n])]) << "picture " << n;
        }
        // A key frame inside a still: the first two frames written again as they were, between skip
        // frames; the encoder's later frames, numbered on, still decode as without any of it.
        std::vector<Bytes> replay;
        std::vector<int> replayExpected;
        Bytes first = encoded[0];
        Bytes second = encoded[1];
        H264FrameFacts frame;
        ASSERT_TRUE(renumberH264Frame(first, *facts, 0, frame));
        ASSERT_TRUE(renumberH264Frame(second, *facts, 1, frame));
        for (int round = 0; round < 2; ++round) {
            replay.insert(replay.end(), {first, second, makeH264SkipFrame(*facts, 2)});
            replayExpected.insert(replayExpected.end(), {0, 1, 1});
        }
        for (int i = 2; i < 5; ++i) {
            Bytes unit = encoded[static_cast<std::size_t>(i)];
            ASSERT_TRUE(renumberH264Frame(unit, *facts, i + 1, frame));
            replay.push_back(unit);
            replayExpected.push_back(i);
        }
        const std::vector<Bytes> replayed = decode(replay);
        ASSERT_EQ(replayed.size(), replay.size());
        for (std::size_t n = 0; n < replayed.size(); ++n) {
            EXPECT_EQ(replayed[n], plain[static_cast<std::size_t>(replayExpected[n])])
                << "replayed picture " << n;
        }
        // A skip frame is a few bytes, however large the picture.
        EXPECT_LT(makeH264SkipFrame(*facts, 1).size(), 32u);
    }
}

TEST(H264SkipFramesTest, HostileParameterSetsAndSlicesAreRefused) {
    EXPECT_FALSE(readH264StreamFacts(nullptr, 0).has_value());
    const Bytes noise = {0, 0, 1, 0x67, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0, 0, 1, 0x68, 0xff};
    EXPECT_FALSE(readH264StreamFacts(noise.data(), noise.size()).has_value());
    const Bytes spsOnly = {0, 0, 1, 0x67, 0x42, 0, 10, 0xf8};
    EXPECT_FALSE(readH264StreamFacts(spsOnly.data(), spsOnly.size()).has_value());

    H264StreamFacts facts;
    facts.macroblocks = 4;
    Bytes noSlice = {0, 0, 0, 1, 0x06, 0x05, 0x01, 0x80};
    H264FrameFacts frame;
    EXPECT_FALSE(renumberH264Frame(noSlice, facts, 1, frame));
    Bytes cutSlice = {0, 0, 0, 1, 0x41};
    const Bytes before = cutSlice;
    EXPECT_FALSE(renumberH264Frame(cutSlice, facts, 1, frame));
    EXPECT_EQ(cutSlice, before);

    // Field pictures and two references cannot take skip frames.
    H264StreamFacts fields = facts;
    fields.picOrderCntType = 2;
    fields.maxNumRefFrames = 1;
    EXPECT_TRUE(skipFramesFit(fields));
    fields.frameMbsOnly = false;
    EXPECT_FALSE(skipFramesFit(fields));
    fields.frameMbsOnly = true;
    fields.maxNumRefFrames = 2;
    EXPECT_FALSE(skipFramesFit(fields));
}

}  // namespace
}  // namespace kestrelle
