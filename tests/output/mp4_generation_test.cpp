// The generation job with an MP4 codec: the setup takes the entry's container and the profile's bit
// rates, and a real job writes an H.264/AAC file at 60 frames a second.

#include "config/settings_store.h"
#include "media/h264_settings.h"
#include "output/generation_job.h"
#include "project/timeline.h"
#include "tests/config/config_fixture.h"
#include "tests/output/job_test_support.h"

#include <gtest/gtest.h>

namespace kestrelle {
namespace {

using testing::runTool;

class Mp4Provider : public testing::FakeProvider {
public:
    Mp4Provider() : FakeProvider({testing::FakeSpec{"Xvid MPEG-4 Codec", makeFourCC('X', 'V', 'I', 'D')}}) {}
    bool hasEncoder(const std::string& name) const override { return name == "libx264"; }
};

OutputProfile profileFor(const std::string& name, const std::string& codec) {
    OutputProfile p;
    p.name = name;
    p.CodecName = codec;
    p.ResWidth = 1920;
    p.ResHeight = 1080;
    p.VideoBR = 12000;
    p.AudioBR = 4;  // 160 kbit/s
    p.FrameRate = kFrameRateIndex60;
    return p;
}

TEST(Mp4GenerationSetup, TheCodecEntryChoosesTheContainerAndTheProfileTheRates) {
    Mp4Provider provider;
    SettingsStore store(&provider);
    store.listCodecs();
    CodecEntry* h264 = store.findCodec("H.264 (MP4)");
    ASSERT_NE(h264, nullptr);
    H264Settings quality;
    quality.rateControl = H264RateControl::ConstantQuality;
    h264->state = serializeH264Settings(quality);

    OutputProfile mp4 = profileFor("Clip(.mp4)", "H.264 (MP4)");
    std::optional<GenerationSetup> setup = generationSetupFor(store, &mp4, "/tmp/x.mp4");
    ASSERT_TRUE(setup);
    EXPECT_EQ(setup->container, ContainerFormat::Mp4);
    EXPECT_EQ(setup->videoBitRateKbps, 12000);
    EXPECT_EQ(setup->audioBitRateKbps, 160);
    EXPECT_DOUBLE_EQ(setup->framesPerSecond, 60.0);
    EXPECT_EQ(setup->compressorHandler, kH264Handler);
    EXPECT_EQ(setup->codecState, h264->state);

    // The AVI compressors keep their container; a nonsense bit rate is not handed on.
    OutputProfile avi = profileFor("Old(.avi)", "Xvid MPEG-4 Codec");
    avi.FrameRate = 0;
    avi.VideoBR = -5;
    setup = generationSetupFor(store, &avi, "/tmp/x.avi");
    ASSERT_TRUE(setup);
    EXPECT_EQ(setup->container, ContainerFormat::Avi);
    EXPECT_EQ(setup->videoBitRateKbps, 0);
    EXPECT_DOUBLE_EQ(setup->framesPerSecond, 29.97);
}

class Mp4GenerationJobTest : public testing::JobTest {};

TEST_F(Mp4GenerationJobTest, AJobWritesAnH264AacFileAtSixtyFramesASecond) {
    if (!hasEncoderNamed("libx264")) GTEST_SKIP() << "libx264 is not available";
    QImage image(80, 60, QImage::Format_RGB32);
    image.fill(qRgb(200, 40, 40));
    const std::string photo = path("a.png");
    ASSERT_TRUE(image.save(QString::fromStdString(photo)));
    SlideShowProject project;
    addPhoto(project, photo, 0.5, 0.25, 1);

    GenerationSetup mp4 = setup(60.0);
    mp4.container = ContainerFormat::Mp4;
    mp4.compressorHandler = kH264Handler;
    mp4.videoBitRateKbps = 500;
    mp4.audioBitRateKbps = 160;
    mp4.outputPath = path("out.mp4");
    GenerationJob job(project, mp4);
    job.run();
    ASSERT_TRUE(job.completed()) << (presenter.texts.empty() ? "" : presenter.texts.front());
    const std::string streams =
        runTool(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                 QStringLiteral("stream=codec_name,r_frame_rate"), QStringLiteral("-of"),
                 QStringLiteral("csv=p=0"), QString::fromStdString(mp4.outputPath)});
    EXPECT_NE(streams.find("h264,60/1"), std::string::npos) << streams;
    EXPECT_NE(streams.find("aac"), std::string::npos) << streams;
}

TEST_F(Mp4GenerationJobTest, AnMp4FileThatCannotBeStartedSaysSoInItsOwnWords) {
    QImage image(80, 60, QImage::Format_RGB32);
    image.fill(qRgb(1, 2, 3));
    const std::string photo = path("a.png");
    ASSERT_TRUE(image.save(QString::fromStdString(photo)));
    SlideShowProject project;
    addPhoto(project, photo, 0.5, 0.25, 1);
    GenerationSetup mp4 = setup(30.0);
    mp4.container = ContainerFormat::Mp4;
    mp4.compressorHandler = kH264Handler;
    mp4.outputPath = path("missing-folder/out.mp4");
    GenerationJob job(project, mp4);
    job.run();
    EXPECT_FALSE(job.completed());
    EXPECT_EQ(presenter.texts, std::vector<std::string>{
                                   "The MP4 file could not be started. Please check the H.264 settings."});
}

}  // namespace
}  // namespace kestrelle
