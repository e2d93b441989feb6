#include "config/settings_store.h"
#include "base/text_numbers.h"
#include "tests/config/config_fixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <clocale>
#include <filesystem>

namespace kestrelle {
namespace {

using testing::readFile;
using testing::writeFile;
namespace fs = std::filesystem;

std::string crlf(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines) text += std::string(line) + "\r\n";
    return text;
}

class SettingsStoreTest : public testing::ConfigTest {
protected:
    std::string settingsPath() const { return dataFolder() + "/settings.ini"; }
    std::string documentsTarget() const { return root() + "/Documents/Kestrelle"; }
    testing::FakeProvider provider_ = testing::xvidOnly();
};

TEST(TextNumbers, ReadLikeAtoiAndAtofAndWriteInTheCLocale) {
    EXPECT_EQ(textToInt("42"), 42);
    EXPECT_EQ(textToInt("  -7xyz"), -7);
    EXPECT_EQ(textToInt("+3"), 3);
    EXPECT_EQ(textToInt("abc"), 0);
    EXPECT_EQ(textToInt(""), 0);
    EXPECT_EQ(textToInt("99999999999999999999"), 2147483647);
    EXPECT_EQ(textToInt("-99999999999999999999"), -2147483647 - 1);
    EXPECT_DOUBLE_EQ(textToDouble("2.5s"), 2.5);
    EXPECT_DOUBLE_EQ(textToDouble(" -.5"), -0.5);
    EXPECT_DOUBLE_EQ(textToDouble("1e1"), 10.0);
    EXPECT_DOUBLE_EQ(textToDouble("3e"), 3.0);
    EXPECT_DOUBLE_EQ(textToDouble("abc"), 0.0);
    EXPECT_DOUBLE_EQ(textToDouble("."), 0.0);
    EXPECT_DOUBLE_EQ(textToDouble("inf"), 0.0);
    EXPECT_DOUBLE_EQ(textToDouble("nan"), 0.0);
    EXPECT_DOUBLE_EQ(textToDouble("1e999"), 0.0);
    EXPECT_EQ(durationToText(3.0), "3.0");
    EXPECT_EQ(durationToText(2.75), "2.8");
    EXPECT_EQ(durationToText(0.25), "0.2");  // exact halves round to even, as printf does
    EXPECT_EQ(durationToText(-1.04), "-1.0");
    EXPECT_EQ(intToText(-5000), "-5000");
    EXPECT_TRUE(namesEqualIgnoringCase("Normal Quality(.avi)", "NORMAL quality(.AVI)"));
    EXPECT_TRUE(namesEqualIgnoringCase("Qualität", "QUALITÄT"));
    EXPECT_FALSE(namesEqualIgnoringCase("a", "ab"));
}

TEST_F(SettingsStoreTest, WithoutSettingsFileEverythingDefaultsAndTheTargetIsTheDocumentsFolder) {
    SettingsStore store(&provider_);
    store.settings().TargetChanged = 1;
    store.load();
    const AppSettings& s = store.settings();
    const AppSettings defaults;
    EXPECT_EQ(store.settingsFilePath(), settingsPath());
    EXPECT_EQ(s.ThemePath, "");
    EXPECT_EQ(s.DefaultSelectedDirectory, "");
    EXPECT_EQ(s.PlaySound, 1);
    EXPECT_EQ(s.ShutDown, 0);
    EXPECT_EQ(s.RipVolume, 0);
    EXPECT_DOUBLE_EQ(s.DefaultSlideDuration, 3.0);
    EXPECT_DOUBLE_EQ(s.DefaultTransitionDuration, 3.0);
    EXPECT_EQ(s.DefaultSlideIndex, 0);
    EXPECT_EQ(s.CurrentProfile, "Normal Quality(.avi)");
    EXPECT_EQ(s.TargetChanged, 0);
    EXPECT_EQ(s.PreviewVolume, -5000);
    EXPECT_EQ(s.StandardSkin, 0);
    EXPECT_EQ(s.TargetPath, documentsTarget());
    EXPECT_TRUE(fs::is_directory(documentsTarget()));
    EXPECT_EQ(store.profileCount(), 0);
    EXPECT_EQ(store.currentProfile(), nullptr);
}

TEST_F(SettingsStoreTest, SaveWritesTheLayoutByteForByteAndAgainIdentically) {
    fs::create_directories(path("Videos"));
    SettingsStore store(&provider_);
    store.settings().TargetPath = path("Videos");
    store.settings().DefaultSelectedDirectory = "/home/me/Photos";
    ASSERT_TRUE(store.save());
    const std::string expected = crlf(
        {"<xml>", "<System>", "<Theme Path/>", ("<TargetPath>" + path("Videos") + "</TargetPath>").c_str(),
         "<DefaultSelectedDirectory>/home/me/Photos</DefaultSelectedDirectory>", "</System>", "<General>",
         "<PlaySound>1</PlaySound>", "<ShutDown>0</ShutDown>", "<RipVolume>0</RipVolume>",
         "<DefaultSlideDuration>3.0</DefaultSlideDuration>",
         "<DefaultTransitionDuration>3.0</DefaultTransitionDuration>",
         "<DefaultSlideIndex>0</DefaultSlideIndex>", "</General>",
         "<Current Profile>Normal Quality(.avi)</Current Profile>", "<Target Changed>0</Target Changed>",
         "<Preview Volume>-5000</Preview Volume>", "<Standard Skin>0</Standard Skin>", "</xml>"});
    const std::string first = readFile(settingsPath());
    EXPECT_EQ(first, expected);

    SettingsStore again(&provider_);
    again.load();
    EXPECT_EQ(again.settings().TargetPath, path("Videos"));
    ASSERT_TRUE(again.save());
    EXPECT_EQ(readFile(settingsPath()), first);

    // Nothing but the file itself is left in the folder: the temporary file was renamed over it.
    for (const auto& entry : fs::directory_iterator(dataFolder())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "settings.ini" || name == "run.log" || name == "Profile") << name;
    }
}

TEST_F(SettingsStoreTest, SavingRewritesTheFileOnlyWhenItsTextChanged) {
    SettingsStore store(&provider_);
    ASSERT_TRUE(store.save());
    struct stat before {};
    ASSERT_EQ(::stat(settingsPath().c_str(), &before), 0);
    const std::string first = readFile(settingsPath());

    // Unchanged settings leave the very same file in place.
    ASSERT_TRUE(store.save());
    struct stat after {};
    ASSERT_EQ(::stat(settingsPath().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(readFile(settingsPath()), first);

    // A changed setting is written.
    store.settings().PlaySound = 0;
    ASSERT_TRUE(store.save());
    EXPECT_NE(readFile(settingsPath()).find("<PlaySound>0</PlaySound>"), std::string::npos);
}

TEST_F(SettingsStoreTest, ChangedValuesRoundTripWithEscapesAndOneDecimal) {
    fs::create_directories(path("Out & <Films>"));
    SettingsStore store(&provider_);
    AppSettings& s = store.settings();
    s.ThemePath = "theme&more";
    s.TargetPath = path("Out & <Films>");
    s.DefaultSelectedDirectory = "/a&b<c>d";
    s.PlaySound = 0;
    s.ShutDown = 1;
    s.RipVolume = 12;
    s.DefaultSlideDuration = 2.75;
    s.DefaultTransitionDuration = 0.04;
    s.DefaultSlideIndex = 11;
    s.CurrentProfile = "Mine";
    s.TargetChanged = 1;
    s.PreviewVolume = -1;
    s.StandardSkin = 2;
    ASSERT_TRUE(store.save());
    const std::string text = readFile(settingsPath());
    EXPECT_NE(text.find("<DefaultSelectedDirectory>/a&amp;b&lt;c&gt;d</DefaultSelectedDirectory>\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("<DefaultSlideDuration>2.8</DefaultSlideDuration>\r\n"), std::string::npos);
    EXPECT_NE(text.find("<DefaultTransitionDuration>0.0</DefaultTransitionDuration>\r\n"), std::string::npos);

    SettingsStore back(&provider_);
    back.load();
    const AppSettings& b = back.settings();
    EXPECT_EQ(b.ThemePath, "theme&more");
    EXPECT_EQ(b.TargetPath, path("Out & <Films>"));
    EXPECT_EQ(b.DefaultSelectedDirectory, "/a&b<c>d");
    EXPECT_EQ(b.PlaySound, 0);
    EXPECT_EQ(b.ShutDown, 1);
    EXPECT_EQ(b.RipVolume, 12);
    EXPECT_DOUBLE_EQ(b.DefaultSlideDuration, 2.8);
    EXPECT_DOUBLE_EQ(b.DefaultTransitionDuration, 0.0);
    EXPECT_EQ(b.DefaultSlideIndex, 11);
    EXPECT_EQ(b.CurrentProfile, "Mine");
    EXPECT_EQ(b.TargetChanged, 1);  // the target exists, so the user's choice stands
    EXPECT_EQ(b.PreviewVolume, -1);
    EXPECT_EQ(b.StandardSkin, 2);
}

TEST_F(SettingsStoreTest, ElementsAreFoundForwardOnly) {
    fs::create_directories(dataFolder());
    fs::create_directories(path("Films"));
    const std::string target = "<TargetPath>" + path("Films") + "</TargetPath>";
    writeFile(
        settingsPath(),
        crlf({"<xml>", "<System>", "<Theme Path>skin</Theme Path>",
              "<DefaultSelectedDirectory>/d</DefaultSelectedDirectory>", target.c_str(), "</System>",
              "<General>", "<ShutDown>1</ShutDown>", "<PlaySound>0</PlaySound>",
              "<DefaultSlideDuration>abc</DefaultSlideDuration>",
              "<DefaultTransitionDuration></DefaultTransitionDuration>",
              "<DefaultSlideIndex>5 </DefaultSlideIndex>", "</General>", "<Target Changed>1</Target Changed>",
              "<Current Profile>HD</Current Profile>", "</xml>"}));
    SettingsStore store(&provider_);
    store.load();
    const AppSettings& s = store.settings();
    EXPECT_EQ(s.ThemePath, "skin");  // "Theme Path" finds the element written <Theme Path>
    EXPECT_EQ(s.TargetPath, path("Films"));
    EXPECT_EQ(s.DefaultSelectedDirectory, "");  // lies before TargetPath
    EXPECT_EQ(s.PlaySound, 0);                  // read
    EXPECT_EQ(s.ShutDown, 0);                   // lies before PlaySound: keeps its default
    EXPECT_DOUBLE_EQ(s.DefaultSlideDuration, 0.0);
    EXPECT_DOUBLE_EQ(s.DefaultTransitionDuration, 0.0);
    EXPECT_EQ(s.DefaultSlideIndex, 5);
    EXPECT_EQ(s.CurrentProfile, "HD");
    EXPECT_EQ(s.TargetChanged, 0);  // lies before "Current Profile"
}

TEST_F(SettingsStoreTest, AVanishedTargetFallsBackToTheDocumentsFolderAndAsksAgain) {
    fs::create_directories(dataFolder());
    writeFile(settingsPath(), crlf({"<xml>", "<System>", "<TargetPath>/nowhere/at/all</TargetPath>",
                                    "</System>", "<Target Changed>1</Target Changed>", "</xml>"}));
    SettingsStore store(&provider_);
    store.load();
    EXPECT_EQ(store.settings().TargetPath, documentsTarget());
    EXPECT_TRUE(fs::is_directory(documentsTarget()));
    EXPECT_EQ(store.settings().TargetChanged, 0);
    EXPECT_FALSE(fs::exists("/nowhere/at/all"));
}

TEST_F(SettingsStoreTest, HostileFilesEndWithUsableDefaults) {
    fs::create_directories(dataFolder());
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 151 + 7) & 0xFF));
    std::string huge = "<xml><General><PlaySound>0</PlaySound></General>";
    huge.append(3 * 1024 * 1024, ' ');
    huge += "</xml>";
    const std::string cases[] = {"",
                                 binary,
                                 huge,
                                 "<xml><General><PlaySound>0",
                                 "<<<<>>>>&&&&;",
                                 std::string("<xml>\0<System>", 14),
                                 "<xml><General><PlaySound>&#99999999;</PlaySound>"};
    for (const std::string& bytes : cases) {
        SCOPED_TRACE(bytes.substr(0, 40));
        ASSERT_TRUE(writeFile(settingsPath(), bytes));
        SettingsStore store(&provider_);
        store.load();
        EXPECT_EQ(store.settings().CurrentProfile, "Normal Quality(.avi)");
        EXPECT_EQ(store.settings().TargetPath, documentsTarget());
        EXPECT_DOUBLE_EQ(store.settings().DefaultTransitionDuration, 3.0);
        ASSERT_TRUE(store.save());
        // The next start reads a complete file.
        SettingsStore next(&provider_);
        next.load();
        EXPECT_EQ(next.settings().PlaySound, store.settings().PlaySound);
        EXPECT_EQ(readFile(settingsPath()).substr(0, 7), "<xml>\r\n");
    }
    // A folder where the file should be: loading ignores it, saving reports the failure.
    fs::remove(settingsPath());
    fs::create_directories(settingsPath());
    SettingsStore store(&provider_);
    store.load();
    EXPECT_EQ(store.settings().PlaySound, 1);
    EXPECT_FALSE(store.save());
}

TEST_F(SettingsStoreTest, TheNumbersDoNotFollowTheProcessLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr &&
        std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") == nullptr)
        GTEST_SKIP() << "no locale with a decimal comma installed";
    SettingsStore store(&provider_);
    store.settings().DefaultSlideDuration = 4.5;
    store.save();
    SettingsStore back(&provider_);
    back.load();
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_NE(readFile(settingsPath()).find("<DefaultSlideDuration>4.5</DefaultSlideDuration>"),
              std::string::npos);
    EXPECT_DOUBLE_EQ(back.settings().DefaultSlideDuration, 4.5);
}

TEST_F(SettingsStoreTest, WithoutDataFolderTheRelativeFallbacksAreUsed) {
    loseDataFolder(path("work"));
    fs::create_directories(path("work/Config"));
    fs::create_directories(path("work/Profile"));
    SettingsStore store(&provider_);
    EXPECT_EQ(store.settingsFilePath(), ".//Config//settings.ini");
    store.settings().RipVolume = 77;
    OutputProfile profile;
    profile.name = "Here";
    store.addProfile(profile);
    EXPECT_TRUE(store.save());
    EXPECT_NE(readFile(path("work/Config/settings.ini")).find("<RipVolume>77</RipVolume>"),
              std::string::npos);
    EXPECT_FALSE(readFile(path("work/Profile/Here.ipf")).empty());
    SettingsStore back(&provider_);
    back.load();
    EXPECT_EQ(back.settings().RipVolume, 77);
    ASSERT_EQ(back.profileCount(), 1);
    EXPECT_EQ(back.profileAt(0)->name, "Here");
}

TEST_F(SettingsStoreTest, AnEffectNumberOutsideTheTwelveReadsAsTheDefault) {
    fs::create_directories(dataFolder());
    const struct {
        const char* text;
        int expected;
    } cases[] = {{"12", 12}, {"0", 0}, {"7", 7}, {"13", 0}, {"-1", 0}, {"99999999999", 0}, {"x", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(
            writeFile(settingsPath(),
                      crlf({"<xml>", "<General>",
                            (std::string("<DefaultSlideIndex>") + c.text + "</DefaultSlideIndex>").c_str(),
                            "</General>", "</xml>"})));
        SettingsStore store(&provider_);
        store.load();
        EXPECT_EQ(store.settings().DefaultSlideIndex, c.expected);
    }
}

// The music fade: read from its element after the slide index (missing: 2 s), brought into 0..10 s,
// junk read as the default; written like the other durations once it is not the default, so a file
// that never used it keeps its bytes.
TEST_F(SettingsStoreTest, TheMusicFadeIsReadClampedAndWrittenOnceItDiffersFromTheDefault) {
    fs::create_directories(dataFolder());
    const struct {
        const char* text;
        double expected;
    } cases[] = {{nullptr, 2.0}, {"3.5", 3.5}, {"0", 0.0},  {"0.0", 0.0}, {"25", 10.0}, {"-3", 0.0},
                 {"x", 2.0},     {"", 2.0},    {"4s", 2.0}, {"nan", 2.0}, {" 7 ", 7.0}, {"1e999", 2.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(missing)");
        const std::string element = c.text ? std::string("<AudioFade>") + c.text + "</AudioFade>"
                                           : std::string("<Unknown>0</Unknown>");
        ASSERT_TRUE(
            writeFile(settingsPath(), crlf({"<xml>", "<General>", "<DefaultSlideIndex>3</DefaultSlideIndex>",
                                            element.c_str(), "</General>", "</xml>"})));
        SettingsStore store(&provider_);
        store.load();
        EXPECT_DOUBLE_EQ(store.settings().AudioFadeSeconds, c.expected);
        EXPECT_EQ(store.settings().DefaultSlideIndex, 3);
    }

    SettingsStore store(&provider_);
    store.settings().AudioFadeSeconds = 0.0;
    ASSERT_TRUE(store.save());
    EXPECT_NE(
        readFile(settingsPath())
            .find("<DefaultSlideIndex>0</DefaultSlideIndex>\r\n<AudioFade>0.0</AudioFade>\r\n</General>"),
        std::string::npos);
    SettingsStore back(&provider_);
    back.load();
    EXPECT_DOUBLE_EQ(back.settings().AudioFadeSeconds, 0.0);
    back.settings().AudioFadeSeconds = 2.0;
    ASSERT_TRUE(back.save());
    EXPECT_EQ(readFile(settingsPath()).find("AudioFade"), std::string::npos);
}

// The look of new slides: three elements after the music fade, each written only once it differs from
// its default (so a file that never used them keeps its bytes), each read back exactly; anything but a
// listed choice reads as the default without disturbing its neighbours.
TEST_F(SettingsStoreTest, TheLookOfNewSlidesRoundTripsAndHostileValuesReadAsTheDefaults) {
    SettingsStore store(&provider_);
    store.settings().NewSlideMotionKind = NewSlideMotion::GentleRandom;
    store.settings().NewSlideFitKind = NewSlideFit::BlurredBackground;
    store.settings().EnlargeSmallPhotos = true;
    ASSERT_TRUE(store.save());
    EXPECT_NE(readFile(settingsPath())
                  .find("<DefaultSlideIndex>0</DefaultSlideIndex>\r\n<NewSlideMotion>1</NewSlideMotion>\r\n"
                        "<NewSlideFit>2</NewSlideFit>\r\n<EnlargeSmallPhotos>1</EnlargeSmallPhotos>\r\n"
                        "</General>"),
              std::string::npos);
    SettingsStore back(&provider_);
    back.load();
    EXPECT_EQ(back.settings().NewSlideMotionKind, NewSlideMotion::GentleRandom);
    EXPECT_EQ(back.settings().NewSlideFitKind, NewSlideFit::BlurredBackground);
    EXPECT_TRUE(back.settings().EnlargeSmallPhotos);
    // Each is written on its own; back at the defaults, none is.
    back.settings().NewSlideMotionKind = NewSlideMotion::None;
    back.settings().NewSlideFitKind = NewSlideFit::Fill;
    back.settings().EnlargeSmallPhotos = false;
    ASSERT_TRUE(back.save());
    std::string text = readFile(settingsPath());
    EXPECT_EQ(text.find("NewSlideMotion"), std::string::npos);
    EXPECT_NE(text.find("<NewSlideFit>1</NewSlideFit>\r\n</General>"), std::string::npos);
    EXPECT_EQ(text.find("EnlargeSmallPhotos"), std::string::npos);
    back.settings().NewSlideFitKind = NewSlideFit::Letterbox;
    ASSERT_TRUE(back.save());
    text = readFile(settingsPath());
    EXPECT_EQ(text.find("NewSlide"), std::string::npos);
    EXPECT_EQ(text.find("Enlarge"), std::string::npos);

    const struct {
        const char* motion;
        const char* fit;
        const char* enlarge;
        NewSlideMotion expectedMotion;
        NewSlideFit expectedFit;
        bool expectedEnlarge;
    } cases[] = {
        {"1", "1", "1", NewSlideMotion::GentleRandom, NewSlideFit::Fill, true},
        {" 1\t", " 2 ", "\n1\n", NewSlideMotion::GentleRandom, NewSlideFit::BlurredBackground, true},
        {"0", "0", "0", NewSlideMotion::None, NewSlideFit::Letterbox, false},
        {"2", "3", "2", NewSlideMotion::None, NewSlideFit::Letterbox, false},
        {"-1", "-2", "-1", NewSlideMotion::None, NewSlideFit::Letterbox, false},
        {"+1", "+1", "+1", NewSlideMotion::None, NewSlideFit::Letterbox, false},
        {"1x", "1.0", "1e0", NewSlideMotion::None, NewSlideFit::Letterbox, false},
        {"", "", "", NewSlideMotion::None, NewSlideFit::Letterbox, false},
        {"GentleRandom", "Fill", "true", NewSlideMotion::None, NewSlideFit::Letterbox, false},
        {"99999999999999999999", "4294967297", "1 1", NewSlideMotion::None, NewSlideFit::Letterbox, false},
        {"&#49;", "&amp;", "\xff\xfe", NewSlideMotion::GentleRandom, NewSlideFit::Letterbox, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.motion) + "|" + c.fit + "|" + c.enlarge);
        const std::string motion = std::string("<NewSlideMotion>") + c.motion + "</NewSlideMotion>";
        const std::string fit = std::string("<NewSlideFit>") + c.fit + "</NewSlideFit>";
        const std::string enlarge = std::string("<EnlargeSmallPhotos>") + c.enlarge + "</EnlargeSmallPhotos>";
        ASSERT_TRUE(writeFile(
            settingsPath(), crlf({"<xml>", "<General>", "<DefaultSlideIndex>4</DefaultSlideIndex>",
                                  "<AudioFade>5.0</AudioFade>", motion.c_str(), fit.c_str(), enlarge.c_str(),
                                  "</General>", "<Current Profile>HD</Current Profile>", "</xml>"})));
        SettingsStore hostile(&provider_);
        hostile.load();
        const AppSettings& s = hostile.settings();
        EXPECT_EQ(s.NewSlideMotionKind, c.expectedMotion);
        EXPECT_EQ(s.NewSlideFitKind, c.expectedFit);
        EXPECT_EQ(s.EnlargeSmallPhotos, c.expectedEnlarge);
        EXPECT_EQ(s.DefaultSlideIndex, 4);
        EXPECT_DOUBLE_EQ(s.AudioFadeSeconds, 5.0);
        EXPECT_EQ(s.CurrentProfile, "HD");
    }

    // Missing elements, and elements from an older file without the music fade, still read.
    ASSERT_TRUE(writeFile(settingsPath(), crlf({"<xml>", "<General>", "<NewSlideFit>1</NewSlideFit>",
                                                "</General>", "</xml>"})));
    SettingsStore older(&provider_);
    older.load();
    EXPECT_EQ(older.settings().NewSlideMotionKind, NewSlideMotion::None);
    EXPECT_EQ(older.settings().NewSlideFitKind, NewSlideFit::Fill);
    EXPECT_FALSE(older.settings().EnlargeSmallPhotos);
}

std::vector<std::string> entryNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Paths are bytes: a data folder or a profile name that is not valid UTF-8 is read and written like any
// other.
TEST_F(SettingsStoreTest, FilesAtPathsThatAreNotUtf8AreReadAndWritten) {
    const std::string latin1Home = path("Caf\xe9");
    setenv("XDG_DATA_HOME", (latin1Home + "/share").c_str(), 1);
    setenv("HOME", latin1Home.c_str(), 1);
    const std::string folder = latin1Home + "/share/Brightmoor/Kestrelle";
    std::vector<std::string> expectedRoot = entryNames(root());
    expectedRoot.push_back("Caf\xe9");
    std::sort(expectedRoot.begin(), expectedRoot.end());
    {
        SettingsStore store(&provider_);
        EXPECT_EQ(store.settingsFilePath(), folder + "/settings.ini");
        store.settings().RipVolume = 31;
        OutputProfile profile;
        profile.name = "Sch\xf6n";
        profile.ResWidth = 640;
        store.addProfile(profile);
        EXPECT_TRUE(store.save());
    }
    EXPECT_NE(readFile(folder + "/settings.ini").find("<RipVolume>31</RipVolume>"), std::string::npos);
    EXPECT_NE(readFile(folder + "/Profile/Sch\xf6n.ipf").find("<ResWidth>640</ResWidth>"), std::string::npos);
    SettingsStore back(&provider_);
    back.load();
    EXPECT_EQ(back.settings().RipVolume, 31);
    EXPECT_EQ(back.settings().TargetPath, latin1Home + "/Documents/Kestrelle");
    ASSERT_EQ(back.profileCount(), 1);
    EXPECT_EQ(back.profileAt(0)->name, "Sch\xf6n");
    EXPECT_EQ(back.profileAt(0)->ResWidth, 640);
    // Nothing was made beside the folder under a mangled name, and no temporary file is left.
    EXPECT_EQ(entryNames(root()), expectedRoot);
    EXPECT_EQ(entryNames(folder), (std::vector<std::string>{"Profile", "run.log", "settings.ini"}));
    EXPECT_EQ(entryNames(folder + "/Profile"), (std::vector<std::string>{"Sch\xf6n.ipf"}));
}

// Saving replaces the file a linked settings.ini points at and keeps the link.
TEST_F(SettingsStoreTest, ALinkedSettingsFileStaysALink) {
    fs::create_directories(dataFolder());
    fs::create_directories(path("dotfiles"));
    ASSERT_TRUE(writeFile(path("dotfiles/settings.ini"), ""));
    fs::create_symlink(path("dotfiles/settings.ini"), settingsPath());
    SettingsStore store(&provider_);
    store.settings().RipVolume = 12;
    ASSERT_TRUE(store.save());
    EXPECT_TRUE(fs::is_symlink(settingsPath()));
    EXPECT_NE(readFile(path("dotfiles/settings.ini")).find("<RipVolume>12</RipVolume>"), std::string::npos);
    EXPECT_EQ(entryNames(path("dotfiles")), std::vector<std::string>{"settings.ini"});
}

// The one test touching the process-wide store: it binds to this test's home.
TEST_F(SettingsStoreTest, TheProcessStoreIsOneObjectSavedByAnExplicitCall) {
    SettingsStore& a = SettingsStore::instance();
    EXPECT_EQ(&a, &SettingsStore::instance());
    EXPECT_EQ(a.settingsFilePath(), settingsPath());
    EXPECT_FALSE(fs::exists(settingsPath()));  // creating it reads, never writes
    a.settings().DefaultSlideIndex = 9;
    SettingsStore::saveAtExit();
    EXPECT_NE(readFile(settingsPath()).find("<DefaultSlideIndex>9</DefaultSlideIndex>"), std::string::npos);
}

}  // namespace
}  // namespace kestrelle
