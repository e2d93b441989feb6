// kestrelle-render that also keeps what it encodes: every frame handed to the AVI writer, converted to
// planar 4:2:0 (top-down) as the encoder receives it, is appended to a raw file. The quality check of
// bench/run_headline.sh compares the decoded video against it (ffmpeg's psnr filter).
//   render_reference <frames.yuv> <kestrelle-render arguments...>
#include "app/render_session.h"
#include "media/bgra_to_yuv420.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <memory>
#include <vector>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::cerr << "usage: render_reference <frames.yuv> <kestrelle-render arguments...>\n";
        return 2;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> raw(std::fopen(argv[1], "wb"), &std::fclose);
    if (!raw) {
        std::cerr << "cannot write " << argv[1] << '\n';
        return 2;
    }
    std::vector<std::uint8_t> planes;
    bool writeFailed = false;
    const kestrelle::FrameObserver keepFrame = [&](const std::uint8_t* pixels, int width, int height) {
        const std::size_t luma = static_cast<std::size_t>(width) * height;
        const int chromaWidth = (width + 1) / 2;
        const std::size_t chroma = static_cast<std::size_t>(chromaWidth) * ((height + 1) / 2);
        planes.resize(luma + 2 * chroma);
        const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(width) * 4;
        kestrelle::convertBgraToYuv420(pixels + (height - 1) * stride, -stride, width, height,
                                       {planes.data(), planes.data() + luma, planes.data() + luma + chroma,
                                        width, chromaWidth, chromaWidth});
        if (std::fwrite(planes.data(), 1, planes.size(), raw.get()) != planes.size()) writeFailed = true;
    };
    std::vector<std::string> arguments(argv + 2, argv + argc);
    const int status = kestrelle::runRenderCommand(arguments, std::cout, std::cerr, false, keepFrame);
    if (writeFailed) {
        std::cerr << "writing " << argv[1] << " failed\n";
        return 1;
    }
    return status;
}
