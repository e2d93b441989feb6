// The generation job with an MP4 codec: the setup takes the entry's container and the profile's bit
// rates, and a real job writes an H.264/AAC file at 60 frames a second.

#include "config/settings_store.h"
#include "media/h264_settings.h"
#include "output/generation_job.h"
#include "project/show_frames.h"
#include "project/timeline.h"
#include "tests/config/config_fixture.h"
#include "tests/output/job_test_support.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <cmath>

namespace kestrelle {
namespace {

using testing::decodeFrame;
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

// A photo with edges and colours that encoders cannot smooth away.
std::string savePhoto(const std::string& file, int variant) {
    QImage image(400, 300, QImage::Format_RGB32);
    QLinearGradient gradient(0, 0, 400, 300);
    gradient.setColorAt(0, variant ? QColor(20, 90, 200) : QColor(230, 200, 40));
    gradient.setColorAt(1, variant ? QColor(240, 240, 230) : QColor(120, 20, 60));
    QPainter painter(&image);
    painter.fillRect(image.rect(), gradient);
    painter.setBrush(variant ? Qt::darkGreen : Qt::white);
    painter.drawEllipse(QPoint(variant ? 120 : 260, 150), 70, 50);
    painter.end();
    image.save(QString::fromStdString(file));
    return file;
}

double psnr(const QImage& a, const QImage& b) {
    double squared = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width() * 3; ++x) {
            const double d = a.constScanLine(y)[x] - b.constScanLine(y)[x];
            squared += d * d;
        }
    }
    const double mse = squared / (a.width() * a.height() * 3.0);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

std::string probeEntries(const std::string& file, const char* stream, const char* entries) {
    return runTool(QStringLiteral("ffprobe"),
                   {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                    QStringLiteral("-select_streams"), QString::fromLatin1(stream),
                    QStringLiteral("-show_entries"), QString::fromLatin1(entries), QStringLiteral("-of"),
                    QStringLiteral("csv=p=0"), QString::fromStdString(file)});
}

TEST_F(Mp4GenerationJobTest, TheMp4HoldsTheScheduleAndShowsWhatTheAviShows) {
    if (!hasEncoderNamed("libx264")) GTEST_SKIP() << "libx264 is not available";
    SlideShowProject project;
    addPhoto(project, savePhoto(path("a.png"), 0), 1.0, 0.5, 1);
    addPhoto(project, savePhoto(path("b.png"), 1), 1.0, 0.5, 2);
    const double fps = 25;
    GenerationSetup avi = setup(fps);
    avi.width = 320;
    avi.height = 240;
    avi.outputPath = path("show.avi");
    GenerationJob aviJob(project, avi);
    aviJob.run();
    ASSERT_TRUE(aviJob.completed());

    GenerationSetup mp4 = avi;
    mp4.container = ContainerFormat::Mp4;
    mp4.compressorHandler = kH264Handler;
    mp4.videoBitRateKbps = 2000;
    mp4.outputPath = path("show.mp4");
    GenerationJob mp4Job(project, mp4);
    mp4Job.run();
    ASSERT_TRUE(mp4Job.completed());

    const auto frames = jobVideoFrames(project, fps, VideoSize{320, 240});
    EXPECT_EQ(std::stoll(probeEntries(mp4.outputPath, "v", "stream=nb_read_frames")), frames);
    EXPECT_EQ(std::stoll(probeEntries(avi.outputPath, "v", "stream=nb_read_frames")), frames);
    const double video = std::stod(probeEntries(mp4.outputPath, "v", "stream=duration"));
    const double audio = std::stod(probeEntries(mp4.outputPath, "a", "stream=duration"));
    EXPECT_NEAR(video, static_cast<double>(frames) / fps, 1e-6);
    EXPECT_NEAR(audio, video, 1 / fps);
    for (const std::int64_t index : {std::int64_t{0}, frames - 1}) {
        SCOPED_TRACE(index);
        const QImage fromMp4 = decodeFrame(mp4.outputPath, static_cast<int>(index), 320, 240);
        const QImage fromAvi = decodeFrame(avi.outputPath, static_cast<int>(index), 320, 240);
        ASSERT_FALSE(fromMp4.isNull());
        ASSERT_FALSE(fromAvi.isNull());
        EXPECT_GE(psnr(fromMp4, fromAvi), 35.0);
    }
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
