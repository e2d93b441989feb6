// kestrelle-render as a user runs it: exit statuses, messages, and a render on a fresh data folder.

#include "base/data_folder.h"
#include "media/video_compressor.h"
#include "render/photo_loader.h"
#include "tests/support/temp_home.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>

namespace kestrelle {
namespace {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// How often each file is opened while `action` runs, by any process (inotify). Closes are watched too,
// so that two opens in a row are not merged into one event.
std::vector<int> opensDuring(const std::vector<std::string>& files, const std::function<void()>& action) {
    std::vector<int> opens(files.size(), 0);
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return {};
    std::vector<int> watches;
    for (const std::string& file : files)
        watches.push_back(inotify_add_watch(fd, file.c_str(), IN_OPEN | IN_CLOSE_NOWRITE));
    action();
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        for (char* at = buffer; at < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            for (std::size_t i = 0; i < watches.size(); ++i)
                if (event->wd == watches[i] && (event->mask & IN_OPEN)) ++opens[i];
            at += sizeof(inotify_event) + event->len;
        }
    }
    ::close(fd);
    return opens;
}

class RenderCliTest : public testing::TempHomeTest {
protected:
    // Starts the renderer in the temporary home.
    void startRender(QProcess& process, const QStringList& arguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), QString::fromStdString(root()));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(dataHome()));
        environment.insert(QStringLiteral("XDG_DOCUMENTS_DIR"), QString::fromStdString(path("Documents")));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(QString::fromStdString(root()));
        process.start(QString::fromStdString(programFolder() + "/kestrelle-render"), arguments);
    }

    RunResult render(const QStringList& arguments) {
        QProcess process;
        startRender(process, arguments);
        process.waitForFinished(120000);
        return resultOf(process);
    }

    static RunResult resultOf(QProcess& process) {
        RunResult result;
        result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = process.readAllStandardOutput().toStdString();
        result.err = process.readAllStandardError().toStdString();
        return result;
    }

    QString photoFolder(int count) {
        const std::string folder = path("photos");
        std::filesystem::create_directories(folder);
        for (int i = 0; i < count; ++i) {
            QImage image(120, 90, QImage::Format_RGB32);
            image.fill(qRgb(40 * i, 100, 200 - 40 * i));
            image.save(QString::fromStdString(folder + "/p" + std::to_string(i) + ".jpg"));
        }
        return QString::fromStdString(folder);
    }

    QString file(const std::string& relative) const { return QString::fromStdString(path(relative)); }
};

TEST_F(RenderCliTest, BadUsageIsRefusedWithStatusTwoAndNothingWritten) {
    const QString photos = photoFolder(1);
    std::filesystem::create_directories(path("empty"));
    testing::writeFile(path("taken.avi"), "keep me");
    struct Case {
        QStringList arguments;
        std::string mentions;
    };
    const std::vector<Case> cases = {
        {{}, "no input"},
        {{file("empty")}, "holds no photos"},
        {{file("nothing-here")}, "no such file"},
        {{photos, QStringLiteral("-p"), QStringLiteral("No Such Profile")}, "Normal Quality(.avi)"},
        {{photos, QStringLiteral("-e"), QStringLiteral("13")}, "effect"},
        {{photos, QStringLiteral("-s"), QStringLiteral("0")}, "slide-duration"},
        {{photos, QStringLiteral("-t"), QStringLiteral("soon")}, "transition-duration"},
        {{photos, QStringLiteral("-o"), file("taken.avi")}, "-y"},
        {{photos, QStringLiteral("-o"), file("no/such/folder/out.avi")}, "does not exist"},
        {{photos, QStringLiteral("--frobnicate")}, "--frobnicate"},
    };
    for (const Case& c : cases) {
        const RunResult result = render(c.arguments);
        EXPECT_EQ(result.status, 2) << c.arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_NE(result.err.find(c.mentions), std::string::npos)
            << c.arguments.join(QLatin1Char(' ')).toStdString() << ": " << result.err;
    }
    EXPECT_EQ(testing::readFile(path("taken.avi")), "keep me");
    EXPECT_FALSE(std::filesystem::exists(path("Documents/Kestrelle/Untitled.avi")));
}

// Music that cannot be used is refused before anything is written, naming the file and why.
TEST_F(RenderCliTest, UnusableMusicIsRefusedWithStatusTwo) {
    const QString photos = photoFolder(1);
    testing::writeFile(path("words.mp3"), "not a song at all");
    testing::writeFile(path("empty.wav"), "");
    struct Case {
        QStringList arguments;
        std::string mentions;
    };
    const std::vector<Case> cases = {
        {{photos, QStringLiteral("--audio"), file("missing.mp3")},
         "cannot use audio file " + path("missing.mp3")},
        {{photos, QStringLiteral("--audio"), file("words.mp3")}, "words.mp3: The file holds no sound"},
        {{photos, QStringLiteral("--audio"), file("empty.wav")}, "empty.wav"},
        {{photos, QStringLiteral("--audio"), file("photos")}, "cannot use audio file"},
        {{photos, QStringLiteral("--audio-fade"), QStringLiteral("12")}, "--audio-fade must be"},
        {{photos, QStringLiteral("--fit-to-audio")}, "--fit-to-audio needs music"},
    };
    for (const Case& c : cases) {
        const RunResult result = render(c.arguments);
        EXPECT_EQ(result.status, 2) << c.arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_NE(result.err.find(c.mentions), std::string::npos)
            << c.arguments.join(QLatin1Char(' ')).toStdString() << ": " << result.err;
    }
    EXPECT_FALSE(std::filesystem::exists(path("Documents/Kestrelle/Untitled.avi")));
    const RunResult help = render({QStringLiteral("--help")});
    for (const char* option : {"--audio FILE", "--fit-to-audio", "--audio-fade SEC"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

// --fit-to-audio: the photos' stills are scaled so that the video lasts as long as the two clips
// joined by the fade given, within a frame (the spiral and a diagonal among the effects, whose steps
// depend on the frame size); the audio is the music at the profile's bit rate and ends with the video.
TEST_F(RenderCliTest, FitToAudioMakesTheVideoLastAsLongAsTheMusic) {
    const QString photos = photoFolder(3);
    std::string wave;
    for (const std::string name : {"one.wav", "two.wav"}) {
        // 2.5 s of a 440 Hz tone, 16-bit stereo at 44.1 kHz.
        const std::uint32_t frames = 110250;
        std::string bytes = "RIFF" + testing::le32(36 + frames * 4) + "WAVEfmt " + testing::le32(16) +
                            testing::le16(1) + testing::le16(2) + testing::le32(44100) +
                            testing::le32(176400) + testing::le16(4) + testing::le16(16) + "data" +
                            testing::le32(frames * 4);
        for (std::uint32_t i = 0; i < frames; ++i) {
            const auto v =
                static_cast<std::int16_t>(12000 * std::sin(2 * 3.14159265358979 * 440 * i / 44100.0));
            bytes +=
                testing::le16(static_cast<std::uint16_t>(v)) + testing::le16(static_cast<std::uint16_t>(v));
        }
        ASSERT_TRUE(testing::writeFile(path(name), bytes));
    }
    const RunResult result = render(
        {photos, QStringLiteral("-t"), QStringLiteral("0.5"), QStringLiteral("-e"), QStringLiteral("1,6,11"),
         QStringLiteral("--audio"), file("one.wav"), QStringLiteral("--audio"), file("two.wav"),
         QStringLiteral("--audio-fade"), QStringLiteral("1"), QStringLiteral("--fit-to-audio"),
         QStringLiteral("-o"), file("fitted.avi")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                 QStringLiteral("stream=codec_type,nb_frames,bit_rate"), QStringLiteral("-of"),
                 QStringLiteral("csv=p=0"), file("fitted.avi")});
    probe.waitForFinished(60000);
    const QStringList streams =
        QString::fromUtf8(probe.readAllStandardOutput()).trimmed().split(QLatin1Char('\n'));
    ASSERT_EQ(streams.size(), 2) << streams.join(QLatin1Char('|')).toStdString();
    const QStringList video = streams[0].split(QLatin1Char(','));
    const QStringList audio = streams[1].split(QLatin1Char(','));
    ASSERT_EQ(video.value(0), QStringLiteral("video"));
    const double videoSeconds = video.value(2).toDouble() / 29.97;
    EXPECT_NEAR(videoSeconds, 4.0, 1.0 / 29.97) << "2.5 + 2.5 - 1 s of music";
    ASSERT_EQ(audio.value(0), QStringLiteral("audio"));
    // A constant bit rate: the stream's bytes tell its length.
    const double audioSeconds = audio.value(2).toDouble() / (audio.value(1).toDouble() / 8);
    EXPECT_GE(audioSeconds, videoSeconds);
    EXPECT_LT(audioSeconds - videoSeconds, 1.0 / 29.97) << "the audio ends with the video";
}

TEST_F(RenderCliTest, ExportLogReplacesAnExistingFileOnlyWithYes) {
    std::filesystem::create_directories(dataFolder());
    ASSERT_TRUE(testing::writeFile(dataFolder() + "/run.log", "a line\r\n"));
    ASSERT_TRUE(testing::writeFile(path("old.iba"), "keep me"));

    const RunResult refused = render({QStringLiteral("--export-log"), file("old.iba")});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("old.iba exists (use -y to replace it)"), std::string::npos) << refused.err;
    EXPECT_EQ(testing::readFile(path("old.iba")), "keep me");

    const RunResult replaced =
        render({QStringLiteral("--export-log"), file("old.iba"), QStringLiteral("-y")});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(testing::readFile(path("old.iba")).substr(0, 2), "\x1f\x8b");  // a gzip stream now

    // A new file needs no -y.
    EXPECT_EQ(render({QStringLiteral("--export-log"), file("new.iba")}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(path("new.iba")));
}

TEST_F(RenderCliTest, ListsProfilesAndCodecs) {
    const RunResult profiles = render({QStringLiteral("--list-profiles")});
    EXPECT_EQ(profiles.status, 0);
    EXPECT_NE(profiles.out.find("Normal Quality(.avi), "), std::string::npos) << profiles.out;
    const RunResult codecs = render({QStringLiteral("--list-codecs")});
    EXPECT_EQ(codecs.status, 0);
    EXPECT_NE(codecs.out.find("Xvid MPEG-4 Codec"), std::string::npos) << codecs.out;
}

// A command that only reads leaves the settings and profile files as they are: the same bytes in the
// same file (a rewrite through a temporary file would give it a new inode).
TEST_F(RenderCliTest, ListingProfilesRewritesNoSettingsOrProfileFile) {
    ASSERT_EQ(render({QStringLiteral("--list-profiles")}).status, 0);
    struct Kept {
        std::string path;
        ino_t inode;
        std::string bytes;
    };
    std::vector<Kept> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dataFolder())) {
        const std::string name = entry.path().string();
        if (!entry.is_regular_file() || name.ends_with("run.log")) continue;
        struct stat info {};
        ASSERT_EQ(::stat(name.c_str(), &info), 0);
        files.push_back({name, info.st_ino, testing::readFile(name)});
    }
    ASSERT_GT(files.size(), 1u);  // settings.ini and the profiles

    ASSERT_EQ(render({QStringLiteral("--list-profiles")}).status, 0);
    for (const Kept& kept : files) {
        struct stat info {};
        ASSERT_EQ(::stat(kept.path.c_str(), &info), 0) << kept.path;
        EXPECT_EQ(info.st_ino, kept.inode) << kept.path;
        EXPECT_EQ(testing::readFile(kept.path), kept.bytes) << kept.path;
    }
}

// A folder of photos with default settings on a fresh data folder: the default output, a readable
// video, and the settings saved at exit.
TEST_F(RenderCliTest, RendersAFolderWithDefaultsOnAFreshDataFolder) {
    const QString photos = photoFolder(2);
    const RunResult result = render(
        {photos, QStringLiteral("-s"), QStringLiteral("0.5"), QStringLiteral("-t"), QStringLiteral("0.5")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");  // not a terminal: nothing but warnings and errors
    std::string output;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root())) {
        if (entry.path().filename() == "Untitled.avi") output = entry.path().string();
    }
    ASSERT_FALSE(output.empty()) << "no Untitled.avi below the temporary home";
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                 QStringLiteral("stream=codec_type"), QStringLiteral("-of"), QStringLiteral("csv=p=0"),
                 QString::fromStdString(output)});
    probe.waitForFinished(60000);
    EXPECT_EQ(probe.readAllStandardOutput().toStdString(), "video\naudio\n");
    EXPECT_TRUE(std::filesystem::exists(dataFolder() + "/settings.ini"));
    EXPECT_TRUE(std::filesystem::exists(dataFolder() + "/Profile/Normal Quality(.avi).ipf"));
}

// Ctrl-C (SIGINT) mid-render reaches the job from its own thread: it stops at the next frame, and the
// file is closed as far as written.
TEST_F(RenderCliTest, InterruptCancelsTheRenderAndClosesTheFile) {
    const QString photos = photoFolder(2);
    QProcess process;
    // Ten hours of slides: only the cancel can end it within the test's time.
    startRender(process, {photos, QStringLiteral("-s"), QStringLiteral("36000"), QStringLiteral("-o"),
                          file("long.avi")});
    ASSERT_TRUE(process.waitForStarted(60000));
    // The first frame is logged once it is on its way; waiting for the process doubles as the pause.
    const std::string log = dataFolder() + "/run.log";
    for (int round = 0; round < 3000 && testing::readFile(log).find("First frame") == std::string::npos;
         ++round)
        ASSERT_FALSE(process.waitForFinished(20)) << process.readAllStandardError().toStdString();
    ASSERT_NE(testing::readFile(log).find("First frame"), std::string::npos);
    ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), SIGINT), 0);
    ASSERT_TRUE(process.waitForFinished(120000));
    const RunResult result = resultOf(process);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(
        result.err.find("rendering cancelled; the file is closed as far as written: " + path("long.avi")),
        std::string::npos)
        << result.err;
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                 QStringLiteral("stream=codec_type"), QStringLiteral("-of"), QStringLiteral("csv=p=0"),
                 file("long.avi")});
    probe.waitForFinished(60000);
    EXPECT_EQ(probe.readAllStandardOutput().toStdString(), "video\naudio\n");
    EXPECT_EQ(probe.readAllStandardError().toStdString(), "");
}

// Nothing shows a storyboard here, so no thumbnails are made: each photo is read once, for the video.
TEST_F(RenderCliTest, EachPhotoIsReadOnceForTheVideo) {
    const QString photos = photoFolder(3);
    const std::vector<std::string> files = {path("photos/p0.jpg"), path("photos/p1.jpg"),
                                            path("photos/p2.jpg")};
    // One load may look at a file more than once; that is the unit.
    const int perLoad = opensDuring({files[0]}, [&] {
                            QImage picture;
                            PhotoLoader::load(picture, 320, 240, files[0], kBlackBackground);
                        }).at(0);
    ASSERT_GT(perLoad, 0);
    const std::vector<int> opens = opensDuring(files, [&] {
        const RunResult result = render({photos, QStringLiteral("-o"), file("out"), QStringLiteral("-s"),
                                         QStringLiteral("0.2"), QStringLiteral("-t"), QStringLiteral("0.2")});
        EXPECT_EQ(result.status, 0) << result.err;
    });
    ASSERT_EQ(opens.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(opens[i], perLoad) << files[i];
}

// A hand-edited default effect outside 0..12 falls back to the random pick: every transition is rendered.
TEST_F(RenderCliTest, AnEffectNumberOutsideTheTwelveInTheSettingsKeepsTheVideoWhole) {
    std::filesystem::create_directories(dataFolder());
    testing::writeFile(
        dataFolder() + "/settings.ini",
        "<xml>\r\n<General>\r\n<DefaultSlideIndex>13</DefaultSlideIndex>\r\n</General>\r\n</xml>\r\n");
    const RunResult result = render({photoFolder(2), QStringLiteral("-o"), file("out"), QStringLiteral("-s"),
                                     QStringLiteral("0.5"), QStringLiteral("-t"), QStringLiteral("0.5")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                 QStringLiteral("v:0"), QStringLiteral("-count_frames"), QStringLiteral("-show_entries"),
                 QStringLiteral("stream=nb_read_frames"), QStringLiteral("-of"), QStringLiteral("csv=p=0"),
                 file("out.avi")});
    probe.waitForFinished(60000);
    // Two slides of 15 still frames each and the closing frame make 31; the transitions come on top
    // (how many frames each writes depends on the effect the random pick chose).
    const std::string frames = probe.readAllStandardOutput().toStdString();
    ASSERT_FALSE(frames.empty());
    EXPECT_GT(std::stoi(frames), 31 + 10) << frames;
}

TEST_F(RenderCliTest, UndecodablePhotoRendersBlackWithAWarning) {
    std::filesystem::create_directories(path("photos"));
    testing::writeFile(path("photos/broken.jpg"), "not a jpeg at all");
    const RunResult result = render({file("photos"), QStringLiteral("-o"), file("out"), QStringLiteral("-s"),
                                     QStringLiteral("0.2"), QStringLiteral("-t"), QStringLiteral("0.2")});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("broken.jpg"), std::string::npos) << result.err;
    EXPECT_TRUE(std::filesystem::exists(path("out.avi")));
}

// The MP4 codecs are listed exactly when libavcodec has their encoders.
TEST_F(RenderCliTest, ListsTheMp4CodecsAndProfilesWhenTheEncoderIsPresent) {
    const RunResult codecs = render({QStringLiteral("--list-codecs")});
    ASSERT_EQ(codecs.status, 0);
    EXPECT_EQ(codecs.out.find("H.264 (MP4)\n") != std::string::npos, hasEncoderNamed("libx264"))
        << codecs.out;
    EXPECT_EQ(codecs.out.find("H.265 (MP4)\n") != std::string::npos, hasEncoderNamed("libx265"))
        << codecs.out;
    const RunResult profiles = render({QStringLiteral("--list-profiles")});
    ASSERT_EQ(profiles.status, 0);
    if (hasEncoderNamed("libx264")) {
        EXPECT_NE(profiles.out.find("MP4 1080p 60(.mp4), 1920x1080, 60.00 fps, H.264 (MP4)"),
                  std::string::npos)
            << profiles.out;
    }
}

// Probes one stream property list of a file: "codec_name,width,height" per stream.
std::string probeStreams(const std::string& file) {
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                 QStringLiteral("stream=codec_name,width,height:format=format_name"), QStringLiteral("-of"),
                 QStringLiteral("csv=p=0"), QString::fromStdString(file)});
    if (!probe.waitForFinished(60000)) return {};
    return probe.readAllStandardOutput().toStdString();
}

// -p takes an MP4 profile's name without "(.mp4)"; the file gets ".mp4" and holds H.264 and AAC, and an
// extension given with -o stays.
TEST_F(RenderCliTest, AnMp4ProfileWritesAnMp4FileWhatEverTheNameLacks) {
    if (!hasEncoderNamed("libx264")) GTEST_SKIP() << "libx264 is not available";
    const QString photos = photoFolder(2);
    const QStringList timing{QStringLiteral("-s"), QStringLiteral("0.3"), QStringLiteral("-t"),
                             QStringLiteral("0.2")};
    RunResult result = render(QStringList{photos, QStringLiteral("-p"), QStringLiteral("mp4 720p"),
                                          QStringLiteral("-o"), file("clip")} +
                              timing);
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_TRUE(std::filesystem::exists(path("clip.mp4")));
    EXPECT_FALSE(std::filesystem::exists(path("clip.avi")));
    const std::string streams = probeStreams(path("clip.mp4"));
    EXPECT_NE(streams.find("h264,1280,720"), std::string::npos) << streams;
    EXPECT_NE(streams.find("aac"), std::string::npos) << streams;
    EXPECT_NE(streams.find("mp4"), std::string::npos) << streams;

    // An explicit extension is the user's choice.
    result = render(QStringList{photos, QStringLiteral("-p"), QStringLiteral("MP4 720p(.mp4)"),
                                QStringLiteral("-o"), file("kept.avi")} +
                    timing);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(std::filesystem::exists(path("kept.avi")));
    EXPECT_FALSE(std::filesystem::exists(path("kept.avi.mp4")));
    EXPECT_NE(probeStreams(path("kept.avi")).find("h264"), std::string::npos);

    // The AVI names may drop their ending too, and still write AVI.
    result = render(QStringList{photos, QStringLiteral("-p"), QStringLiteral("normal quality"),
                                QStringLiteral("-o"), file("old")} +
                    timing);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(std::filesystem::exists(path("old.avi")));
}

}  // namespace
}  // namespace kestrelle
