// The fast BGRA to 4:2:0 conversion against swscale's general one: the encoders must see the same
// colours whichever path a frame takes.
#include "media/bgra_to_yuv420.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace kestrelle {
namespace {

struct Planes {
    int width, height;
    std::vector<std::uint8_t> y, u, v;
    Planes(int w, int h)
        : width(w),
          height(h),
          y(std::size_t(w) * h),
          u(std::size_t((w + 1) / 2) * ((h + 1) / 2)),
          v(u.size()) {}
    Yuv420Planes view() { return {y.data(), u.data(), v.data(), width, (width + 1) / 2, (width + 1) / 2}; }
};

std::vector<std::uint8_t> smoothPicture(int w, int h) {
    std::vector<std::uint8_t> bgra(std::size_t(w) * h * 4);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &bgra[(std::size_t(row) * w + x) * 4];
            p[0] = std::uint8_t(x * 255 / (w - 1));
            p[1] = std::uint8_t(row * 255 / (h - 1));
            p[2] = std::uint8_t(255 - (x + row) * 255 / (w + h - 2));
            p[3] = 0xFF;
        }
    return bgra;
}

Planes convertBySwscale(const std::vector<std::uint8_t>& bgra, int w, int h, YuvMatrix matrix) {
    Planes out(w, h);
    SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_BGRA, w, h, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                     nullptr, nullptr);
    const int* coefficients = sws_getCoefficients(matrix == YuvMatrix::Bt709 ? SWS_CS_ITU709 : SWS_CS_ITU601);
    sws_setColorspaceDetails(sws, coefficients, 0, coefficients, 0, 0, 1 << 16, 1 << 16);
    const std::uint8_t* src[4] = {bgra.data()};
    const int srcStride[4] = {w * 4};
    std::uint8_t* dst[4] = {out.y.data(), out.u.data(), out.v.data()};
    const int dstStride[4] = {w, (w + 1) / 2, (w + 1) / 2};
    sws_scale(sws, src, srcStride, 0, h, dst, dstStride);
    sws_freeContext(sws);
    return out;
}

int largestDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    int largest = 0;
    for (std::size_t i = 0; i < a.size(); ++i) largest = std::max(largest, std::abs(int(a[i]) - int(b[i])));
    return largest;
}

TEST(BgraToYuv420Test, MatchesSwscaleOnSolidColoursAndGradientsWithBothMatrices) {
    for (const YuvMatrix matrix : {YuvMatrix::Bt601, YuvMatrix::Bt709}) {
        SCOPED_TRACE(matrix == YuvMatrix::Bt709 ? "BT.709" : "BT.601");
        const int w = 64, h = 48;
        for (const std::uint32_t colour :
             {0xFF000000u, 0xFFFFFFFFu, 0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFF808080u}) {
            std::vector<std::uint8_t> bgra(std::size_t(w) * h * 4);
            for (std::size_t i = 0; i < bgra.size(); i += 4)
                for (int c = 0; c < 4; ++c) bgra[i + c] = std::uint8_t(colour >> (8 * c));
            Planes ours(w, h);
            convertBgraToYuv420(bgra.data(), w * 4, w, h, ours.view(), matrix);
            const Planes reference = convertBySwscale(bgra, w, h, matrix);
            EXPECT_LE(largestDifference(ours.y, reference.y), 1) << std::hex << colour;
            EXPECT_LE(largestDifference(ours.u, reference.u), 1) << std::hex << colour;
            EXPECT_LE(largestDifference(ours.v, reference.v), 1) << std::hex << colour;
        }
        const std::vector<std::uint8_t> gradient = smoothPicture(w, h);
        Planes ours(w, h);
        convertBgraToYuv420(gradient.data(), w * 4, w, h, ours.view(), matrix);
        const Planes reference = convertBySwscale(gradient, w, h, matrix);
        EXPECT_LE(largestDifference(ours.y, reference.y), 1);
        EXPECT_LE(largestDifference(ours.u, reference.u), 3);
        EXPECT_LE(largestDifference(ours.v, reference.v), 3);
    }
}

TEST(BgraToYuv420Test, BottomUpRowsAndOddSizes) {
    // A bottom-up picture read from its last row gives the same planes as the top-down one.
    const int w = 7, h = 5;
    const std::vector<std::uint8_t> topDown = smoothPicture(w, h);
    std::vector<std::uint8_t> bottomUp(topDown.size());
    for (int row = 0; row < h; ++row)
        std::copy_n(&topDown[std::size_t(row) * w * 4], w * 4, &bottomUp[std::size_t(h - 1 - row) * w * 4]);
    Planes a(w, h), b(w, h);
    convertBgraToYuv420(topDown.data(), w * 4, w, h, a.view());
    convertBgraToYuv420(bottomUp.data() + std::size_t(h - 1) * w * 4, -w * 4, w, h, b.view());
    EXPECT_EQ(a.y, b.y);
    EXPECT_EQ(a.u, b.u);
    EXPECT_EQ(a.v, b.v);
    // The odd last column and row take their chroma from the edge pixels alone: a white edge stays neutral.
    std::vector<std::uint8_t> white(std::size_t(w) * h * 4, 0xFF);
    Planes edge(w, h);
    convertBgraToYuv420(white.data(), w * 4, w, h, edge.view());
    EXPECT_EQ(edge.u.back(), 128);
    EXPECT_EQ(edge.v.back(), 128);
    EXPECT_EQ(edge.y.back(), 235);
}

}  // namespace
}  // namespace kestrelle
