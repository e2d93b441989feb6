// kestrelle-render given a slideshow project: what it renders and what it refuses.

#include "app/render_command_line.h"
#include "base/data_folder.h"
#include "project/project_file.h"
#include "tests/support/temp_home.h"

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>

#include <filesystem>

namespace kestrelle {
namespace {

class RenderProjectTest : public testing::TempHomeTest {
protected:
    struct Run {
        int status = -1;
        std::string err;
    };
    Run render(const QStringList& arguments) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), QString::fromStdString(root()));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(dataHome()));
        environment.insert(QStringLiteral("XDG_DOCUMENTS_DIR"), QString::fromStdString(path("Documents")));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(QString::fromStdString(root()));
        process.start(QString::fromStdString(programFolder() + "/kestrelle-render"), arguments);
        process.waitForFinished(120000);
        Run run;
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.err = process.readAllStandardError().toStdString();
        return run;
    }
    static std::string probe(const std::string& file, const char* entries) {
        QProcess ffprobe;
        ffprobe.start(QStringLiteral("ffprobe"),
                      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                       QString::fromLatin1(entries), QStringLiteral("-of"), QStringLiteral("csv=p=0"),
                       QString::fromStdString(file)});
        ffprobe.waitForFinished(60000);
        return ffprobe.readAllStandardOutput().toStdString();
    }
    // One second of 16-bit stereo silence at 44,100 Hz.
    static std::string waveBytes() {
        const std::uint32_t data = 44100 * 4;
        std::string bytes = "RIFF" + testing::le32(36 + data) + "WAVEfmt " + testing::le32(16) +
                            testing::le16(1) + testing::le16(2) + testing::le32(44100) +
                            testing::le32(44100 * 4) + testing::le16(4) + testing::le16(16) + "data" +
                            testing::le32(data);
        return bytes + std::string(data, '\0');
    }
    QString file(const std::string& relative) const { return QString::fromStdString(path(relative)); }
};

TEST_F(RenderProjectTest, RendersWhatTheProjectHoldsWithMissingPhotosBlack) {
    std::filesystem::create_directories(path("show/photos"));
    std::filesystem::create_directories(path("videos"));
    for (int i = 0; i < 2; ++i) {
        QImage image(120, 90, QImage::Format_RGB32);
        image.fill(qRgb(200 * i, 100, 50));
        ASSERT_TRUE(image.save(QString::fromStdString(path("show/photos/p" + std::to_string(i) + ".jpg"))));
    }
    ASSERT_TRUE(testing::writeFile(path("show/song.wav"), waveBytes()));
    ProjectDocument document;
    document.content.slides = {SlideContent{path("show/photos/p0.jpg"), 0.4, 0.2, 3, -1, false},
                               SlideContent{path("show/photos/gone.jpg"), 0.3, 0.2, 5, -1, false},
                               SlideContent{path("show/photos/p1.jpg"), 0.5, 0.0, 0, -1, false}};
    document.content.clips = {ClipContent{path("show/song.wav"), 1.0, 44100 * 4, 44100 * 4}};
    document.profileName = "Normal Quality(.avi)";
    document.outputName = "From project.avi";
    document.targetFolder = path("videos");
    ASSERT_TRUE(writeProjectFile(path("show/show.kestrelle"), document));

    const Run run = render({file("show/show.kestrelle")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("1 of the project's 3 photos are missing; they render black"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("not installed"), std::string::npos) << run.err;
    const std::string output = path("videos/From project.avi");
    ASSERT_TRUE(std::filesystem::exists(output)) << run.err;
    EXPECT_EQ(probe(output, "stream=codec_type"), "video\naudio\n");

    // -o and -p override the project's; a second run of the same durations gives the same frame count.
    const Run again = render({file("show/show.kestrelle"), QStringLiteral("-o"), file("again.avi")});
    ASSERT_EQ(again.status, 0) << again.err;
    const std::string frames = probe(output, "stream=nb_frames");
    EXPECT_FALSE(frames.empty());
    EXPECT_EQ(probe(path("again.avi"), "stream=nb_frames"), frames);
}

// Frame `index` of a video as 8-bit RGB, top row first; null when there is no such frame.
QImage videoFrame(const std::string& file, int index, QSize size) {
    QProcess ffmpeg;
    ffmpeg.start(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), QString::fromStdString(file),
         QStringLiteral("-vf"), QStringLiteral("select=eq(n\\,%1)").arg(index), QStringLiteral("-frames:v"),
         QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
         QStringLiteral("rgb24"), QStringLiteral("-")});
    ffmpeg.waitForFinished(60000);
    const QByteArray bytes = ffmpeg.readAllStandardOutput();
    if (bytes.size() != size.width() * size.height() * 3) return {};
    return QImage(reinterpret_cast<const uchar*>(bytes.constData()), size.width(), size.height(),
                  size.width() * 3, QImage::Format_RGB888)
        .copy();
}

// --fill crops a wide photo to the frame instead of leaving bars; --motion auto moves every photo the
// same way for the same --seed, and a project's own motion gives way to --motion none.
TEST_F(RenderProjectTest, MotionOptionsApplyToEveryPhoto) {
    QImage wide(320, 180, QImage::Format_RGB32);
    for (int y = 0; y < 180; ++y)
        for (int x = 0; x < 320; ++x) wide.setPixel(x, y, qRgb(x % 256, (y * 3) % 256, 160));
    ASSERT_TRUE(wide.save(file("wide.png")));
    const QSize size(640, 480);
    const auto renderTo = [&](const char* name, QStringList options) {
        options << QStringLiteral("-p") << QStringLiteral("Normal Quality") << QStringLiteral("-s")
                << QStringLiteral("1") << QStringLiteral("-t") << QStringLiteral("0.5")
                << QStringLiteral("-o") << file(name) << file("wide.png");
        const Run run = render(options);
        EXPECT_EQ(run.status, 0) << run.err;
        return videoFrame(path(name), 20, size);
    };
    const QImage letterboxed = renderTo("plain.avi", {});
    const QImage filled = renderTo("fill.avi", {QStringLiteral("--fill")});
    ASSERT_FALSE(letterboxed.isNull());
    ASSERT_FALSE(filled.isNull());
    EXPECT_LT(qBlue(letterboxed.pixel(320, 10)), 30) << "a black bar above the wide photo";
    EXPECT_GT(qBlue(filled.pixel(320, 10)), 120) << "filled: the photo reaches the top";

    const QStringList gentle{QStringLiteral("--motion"), QStringLiteral("auto"), QStringLiteral("--seed"),
                             QStringLiteral("3")};
    const QImage first = renderTo("moving1.avi", gentle);
    const QImage again = renderTo("moving2.avi", gentle);
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first, again);
    EXPECT_NE(first, letterboxed);

    ProjectDocument document;
    document.content.slides = {SlideContent{path("wide.png"), 1.0, 0.5, 1, -1, false}};
    document.content.slides[0].look = {{MotionKind::ZoomIn, {}, {}}, {PhotoFit::Letterbox, false}};
    document.profileName = "Normal Quality(.avi)";
    ASSERT_TRUE(writeProjectFile(path("show.kestrelle"), document));
    const Run still = render({file("show.kestrelle"), QStringLiteral("--motion"), QStringLiteral("none"),
                              QStringLiteral("-o"), file("still.avi")});
    ASSERT_EQ(still.status, 0) << still.err;
    EXPECT_EQ(videoFrame(path("still.avi"), 20, size), letterboxed);
}

TEST_F(RenderProjectTest, ABadProjectOrMixedInputsAreRefused) {
    ASSERT_TRUE(testing::writeFile(path("later.kestrelle"), "<kestrelle-project version=\"7\"/>"));
    ASSERT_TRUE(testing::writeFile(path("noise.kestrelle"), "\x01\x02 not xml"));
    ASSERT_TRUE(testing::writeFile(path("empty.kestrelle"), "<kestrelle-project version=\"1\"/>"));
    struct Case {
        QStringList arguments;
        std::string mentions;
    };
    const std::vector<Case> cases = {
        {{file("later.kestrelle")}, "newer version of Kestrelle"},
        {{file("noise.kestrelle")}, "not a Kestrelle slideshow"},
        {{file("empty.kestrelle")}, "holds no slides"},
        {{file("missing.kestrelle")}, "does not exist"},
        {{file("empty.kestrelle"), QStringLiteral("-s"), QStringLiteral("2")}, "cannot be used with"},
        {{file("empty.kestrelle"), file("later.kestrelle")}, "on its own"},
    };
    for (const Case& c : cases) {
        const Run run = render(c.arguments);
        EXPECT_EQ(run.status, 2) << c.mentions;
        EXPECT_NE(run.err.find(c.mentions), std::string::npos) << run.err;
    }
    EXPECT_TRUE(isProjectFileName("/a/Show.KESTRELLE"));
    EXPECT_FALSE(isProjectFileName(".kestrelle"));
    EXPECT_FALSE(isProjectFileName("show.kestrelle.jpg"));
}

}  // namespace
}  // namespace kestrelle
