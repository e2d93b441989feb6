#include "config/config_dialog_model.h"
#include "base/message_box.h"
#include "base/text_numbers.h"
#include "tests/config/config_dialog_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kestrelle {
namespace {

using testing::profileFileText;
namespace fs = std::filesystem;

constexpr const char* kSwitchQuestion = "You have changed the settings, do you want to save changes?";
constexpr const char* kNewQuestion = "Save changes to current profile?";
constexpr const char* kDeleteQuestion = "Are you sure to delete the profile?";
constexpr const char* kEmptyName = "The name is empty,please input again!";
constexpr const char* kReservedName = "Characters /:*?\"<>|\\ can't be used in file name.";
constexpr const char* kTakenName = "The name is existed,please input again!";
constexpr const char* kTooLongName = "The name is too long. Use at most 100 characters.";

class ConfigDialogModelTest : public testing::ConfigDialogTest {
protected:
    static ConfigDialogModel::AskProfileName answering(std::optional<std::string> name) {
        return [name] { return name; };
    }
};

TEST_F(ConfigDialogModelTest, OpeningShowsTheCurrentProfileAndOkUntouchedRewritesEveryFileUnchanged) {
    OutputProfile odd = profile("Odd");
    odd.AudioBR = 64;   // outside the list: shown as "128"
    odd.FrameRate = 7;  // outside the list: shown as the first rate
    odd.CodecName = "divx 5.0";
    odd.ResWidth = 720;
    odd.ResHeight = 576;
    odd.VideoBR = 900;
    useProfiles({profile("First"), odd});
    store->settings().CurrentProfile = "ODD";
    ASSERT_TRUE(store->save());
    const auto before = allFiles();

    ConfigDialogModel model(*store);
    EXPECT_EQ(model.profileNames(), (std::vector<std::string>{"First", "Odd"}));
    EXPECT_EQ(model.profileSelection(), 1);
    EXPECT_EQ(model.shownProfileIndex(), 1);
    EXPECT_EQ(model.codecNames(), (std::vector<std::string>{kXvid, kDivx}));
    EXPECT_EQ(model.codecSelection(), 1);  // names match without regard to case
    EXPECT_TRUE(model.configureEnabled());
    EXPECT_EQ(model.editText(ProfileEdit::Width), "720");
    EXPECT_EQ(model.editText(ProfileEdit::Height), "576");
    EXPECT_EQ(model.editText(ProfileEdit::VideoBitRate), "900");
    EXPECT_EQ(model.audioBitRateSelection(), 3);
    EXPECT_EQ(model.frameRateSelection(), 0);
    EXPECT_EQ(model.slideDurationText(), "3.0");
    EXPECT_TRUE(model.playSound());
    EXPECT_FALSE(model.shutDown());
    EXPECT_FALSE(model.modified());  // the first fill does not count

    EXPECT_EQ(model.accept(), ConfigDialogModel::SaveResult::Saved);
    EXPECT_EQ(allFiles(), before);
    EXPECT_TRUE(presenter.shown.empty());
}

TEST_F(ConfigDialogModelTest, LeavingTheVideoBitRateClampsByCodecAndReplacesLowValues) {
    useProfiles({profile("Only")});
    struct Case {
        int codec;
        const char* typed;
        const char* after;
    };
    const Case cases[] = {
        {0, "3000", "2500"},
        {1, "3000", "1500"},
        {0, "2500", "2500"},
        {1, "1500", "1500"},
        {1, "1501", "1500"},
        {0, "50", "400"},
        {1, "99", "400"},
        {0, "100", "100"},
        {0, "", "400"},
        {0, "0", "400"},
        // Beyond the int range the number saturates instead of wrapping to a small or negative value.
        {0, "99999999999999999999", "2500"},
        {0, "4294967396", "2500"},
    };
    for (const Case& c : cases) {
        ConfigDialogModel model(*store);
        model.chooseCodec(c.codec);
        model.changeEditText(ProfileEdit::VideoBitRate, c.typed);
        model.leaveVideoBitRate();
        EXPECT_EQ(model.editText(ProfileEdit::VideoBitRate), c.after)
            << "codec " << c.codec << ", typed " << c.typed;
    }

    ConfigDialogModel model(*store);
    model.changeEditText(ProfileEdit::VideoBitRate, "3000");
    model.leaveVideoBitRate();
    model.accept();
    EXPECT_EQ(profileBytes("Only"), profileFileText(320, 240, 2500, 5, 1, kXvid));
}

TEST_F(ConfigDialogModelTest, LeavingADurationFallsBackToTheStoredDefaultAndKeepsMoreDecimalsUntilOk) {
    useProfiles({profile("Only")});
    store->settings().DefaultSlideDuration = 4.0;
    store->settings().DefaultTransitionDuration = 1.5;
    ConfigDialogModel model(*store);

    for (const char* bad : {"0", "abc", "-2", "", "inf", "nan", "1e999", "0.0"}) {
        model.changeTransitionDurationText("7");
        model.leaveTransitionDuration();
        model.changeTransitionDurationText(bad);
        model.leaveTransitionDuration();
        // The stored default, not the value cached a moment ago.
        EXPECT_EQ(model.transitionDurationText(), "1.5") << bad;
        EXPECT_DOUBLE_EQ(model.cachedTransitionDuration(), 1.5) << bad;
    }
    model.changeSlideDurationText("x");
    model.leaveSlideDuration();
    EXPECT_EQ(model.slideDurationText(), "4.0");

    model.changeTransitionDurationText("2.25");
    model.leaveTransitionDuration();
    EXPECT_EQ(model.transitionDurationText(), "2.2");
    EXPECT_DOUBLE_EQ(model.cachedTransitionDuration(), 2.25);
    EXPECT_FALSE(model.modified());  // durations are not profile edits
    model.accept();
    EXPECT_DOUBLE_EQ(store->settings().DefaultTransitionDuration, 2.25);
    EXPECT_NE(settingsBytes().find("<DefaultTransitionDuration>2.2</DefaultTransitionDuration>\r\n"),
              std::string::npos);
    EXPECT_NE(settingsBytes().find("<DefaultSlideDuration>4.0</DefaultSlideDuration>\r\n"),
              std::string::npos);
}

// The music fade takes 0 (a cut) to 10 seconds; a number outside is brought inside, anything else
// falls back to the stored setting. OK stores it and the file gains its element; Cancel leaves it out.
TEST_F(ConfigDialogModelTest, TheMusicFadeIsClampedToTenSecondsAndTakenByOkOnly) {
    useProfiles({profile("Only")});
    store->settings().AudioFadeSeconds = 3.5;
    ConfigDialogModel model(*store);
    EXPECT_EQ(model.audioFadeText(), "3.5");
    const struct {
        const char* typed;
        const char* shown;
    } cases[] = {{"0", "0.0"},     {"12", "10.0"}, {"-1", "0.0"},  {" 4.25 ", "4.2"},
                 {"abc", "3.5"},   {"", "3.5"},    {"nan", "3.5"}, {"inf", "3.5"},
                 {"1e999", "3.5"}, {"2,5", "3.5"}, {"10", "10.0"}, {"6", "6.0"}};
    for (const auto& c : cases) {
        model.changeAudioFadeText(c.typed);
        model.leaveAudioFade();
        EXPECT_EQ(model.audioFadeText(), c.shown) << c.typed;
    }
    EXPECT_DOUBLE_EQ(model.cachedAudioFade(), 6.0);
    EXPECT_FALSE(model.modified());
    model.cancel();
    EXPECT_DOUBLE_EQ(store->settings().AudioFadeSeconds, 3.5);
    EXPECT_NE(settingsBytes().find("<AudioFade>3.5</AudioFade>\r\n"), std::string::npos);
    model.accept();
    EXPECT_DOUBLE_EQ(store->settings().AudioFadeSeconds, 6.0);
    EXPECT_NE(settingsBytes().find("<AudioFade>6.0</AudioFade>\r\n"), std::string::npos);
}

TEST_F(ConfigDialogModelTest, OkStoresTheGeneralValuesAndCancelLeavesThemOut) {
    useProfiles({profile("Only")});
    const std::string before = settingsBytes();
    {
        ConfigDialogModel model(*store);
        model.setPlaySound(false);
        model.setShutDown(true);
        model.setDefaultEffect(7);
        model.changeSlideDurationText("5");
        model.leaveSlideDuration();
        model.cancel();
        EXPECT_EQ(settingsBytes(), before);
        EXPECT_EQ(store->settings().DefaultSlideIndex, 0);
    }
    ConfigDialogModel model(*store);
    model.setPlaySound(false);
    model.setShutDown(true);
    model.setDefaultEffect(7);
    model.changeSlideDurationText("5");
    model.leaveSlideDuration();
    model.accept();
    const std::string after = settingsBytes();
    EXPECT_NE(after.find("<PlaySound>0</PlaySound>\r\n<ShutDown>1</ShutDown>\r\n"), std::string::npos);
    EXPECT_NE(after.find("<DefaultSlideDuration>5.0</DefaultSlideDuration>\r\n"), std::string::npos);
    EXPECT_NE(after.find("<DefaultSlideIndex>7</DefaultSlideIndex>\r\n"), std::string::npos);
}

// The look of new slides: shown from the store, only listed choices taken, stored by OK and left out by
// Cancel; the profile's "modified" state does not move.
TEST_F(ConfigDialogModelTest, TheLookOfNewSlidesIsShownChosenFromTheListsAndTakenByOkOnly) {
    EXPECT_EQ(newSlideMotionChoices(), (std::vector<std::string>{"None", "Gentle random"}));
    EXPECT_EQ(newSlideFitChoices(),
              (std::vector<std::string>{"Letterbox", "Fill the frame", "Blurred background"}));
    EXPECT_EQ(newSlideMotionChoices().size(), static_cast<std::size_t>(kHighestNewSlideMotion) + 1);
    EXPECT_EQ(newSlideFitChoices().size(), static_cast<std::size_t>(kHighestNewSlideFit) + 1);
    useProfiles({profile("Only")});
    store->settings().NewSlideFitKind = NewSlideFit::Fill;
    ASSERT_TRUE(store->save());
    const std::string before = settingsBytes();
    const std::string profileBefore = profileBytes("Only");

    ConfigDialogModel model(*store);
    EXPECT_EQ(model.newSlideMotion(), NewSlideMotion::None);
    EXPECT_EQ(model.newSlideFit(), NewSlideFit::Fill);
    EXPECT_FALSE(model.enlargeSmallPhotos());
    model.chooseNewSlideMotion(1);
    model.chooseNewSlideMotion(2);   // not listed: ignored
    model.chooseNewSlideMotion(-1);  // nor this
    model.chooseNewSlideFit(2);
    model.chooseNewSlideFit(3);
    model.setEnlargeSmallPhotos(true);
    EXPECT_EQ(model.newSlideMotion(), NewSlideMotion::GentleRandom);
    EXPECT_EQ(model.newSlideFit(), NewSlideFit::BlurredBackground);
    EXPECT_TRUE(model.enlargeSmallPhotos());
    EXPECT_FALSE(model.modified());

    model.cancel();
    EXPECT_EQ(settingsBytes(), before);
    EXPECT_EQ(store->settings().NewSlideMotionKind, NewSlideMotion::None);
    EXPECT_EQ(store->settings().NewSlideFitKind, NewSlideFit::Fill);
    EXPECT_FALSE(store->settings().EnlargeSmallPhotos);

    EXPECT_EQ(model.accept(), ConfigDialogModel::SaveResult::Saved);
    EXPECT_EQ(store->settings().NewSlideMotionKind, NewSlideMotion::GentleRandom);
    EXPECT_EQ(store->settings().NewSlideFitKind, NewSlideFit::BlurredBackground);
    EXPECT_TRUE(store->settings().EnlargeSmallPhotos);
    EXPECT_NE(settingsBytes().find("<NewSlideMotion>1</NewSlideMotion>\r\n<NewSlideFit>2</NewSlideFit>\r\n"
                                   "<EnlargeSmallPhotos>1</EnlargeSmallPhotos>\r\n"),
              std::string::npos);
    EXPECT_EQ(profileBytes("Only"), profileBefore);
}

TEST_F(ConfigDialogModelTest, SwitchingProfileAsksOnlyAfterEditsAndKeepsThemOnYes) {
    useThreeProfiles();
    const std::string alphaBefore = profileBytes("Alpha");
    ConfigDialogModel model(*store);

    // Untouched: no question; the showing itself leaves `modified` clear afterwards.
    model.chooseProfile(1);
    EXPECT_TRUE(presenter.shown.empty());
    EXPECT_FALSE(model.modified());
    EXPECT_EQ(model.shownProfileIndex(), 1);
    EXPECT_EQ(model.codecSelection(), 1);
    EXPECT_EQ(store->settings().CurrentProfile, "Normal Quality(.avi)");  // the dialog never picks it

    // A typed change, then No: the edit is dropped.
    model.changeEditText(ProfileEdit::Height, "600");
    presenter.answers = {MessageAnswer::kNo};
    model.chooseProfile(0);
    ASSERT_EQ(presenter.shown, (std::vector<std::string>{kSwitchQuestion}));
    EXPECT_EQ(presenter.flagsShown.back(), MessageFlags::kWarningYesNo);
    EXPECT_EQ(store->findProfile("Beta")->ResHeight, 240);
    EXPECT_FALSE(model.modified());

    // A changed list choice, then Yes: kept in memory, and written by Cancel.
    model.chooseFrameRate(2);
    model.chooseCodec(1);
    presenter.answers = {MessageAnswer::kYes};
    model.chooseProfile(2);
    EXPECT_EQ(store->findProfile("Alpha")->FrameRate, 2);
    EXPECT_EQ(store->findProfile("Alpha")->CodecName, kDivx);
    EXPECT_EQ(profileBytes("Alpha"), alphaBefore);  // nothing on disk yet
    // An unconfirmed edit of the profile now shown is not taken by Cancel.
    model.changeEditText(ProfileEdit::Width, "999");
    model.cancel();
    EXPECT_EQ(profileBytes("Alpha"), profileFileText(320, 240, 448, 5, 2, kDivx));
    EXPECT_EQ(profileBytes("Gamma"), profileFileText(320, 240, 448, 5, 1, kXvid));
}

TEST_F(ConfigDialogModelTest, ChoosingACodecEnablesConfigureExceptForTheFirstItem) {
    OutputProfile lost = profile("Lost");
    useProfiles({lost});
    store->findProfile("Lost")->CodecName = "Gone";  // a codec that is not in the list (edited in memory)
    ConfigDialogModel model(*store);
    EXPECT_EQ(model.codecSelection(), 0);
    EXPECT_FALSE(model.configureEnabled());
    model.chooseCodec(0);
    EXPECT_FALSE(model.configureEnabled());
    EXPECT_TRUE(model.modified());
    model.chooseCodec(1);
    EXPECT_TRUE(model.configureEnabled());
}

TEST(NewProfileName, RefusesEmptyReservedUnusableAndTakenNamesWithTheirTexts) {
    SettingsStore store;
    OutputProfile existing;
    existing.name = "test";
    store.addProfile(existing);
    EXPECT_EQ(newProfileNameRefusal(store, ""), kEmptyName);
    for (char reserved : std::string("/:*?\"<>|\\"))
        EXPECT_EQ(newProfileNameRefusal(store, std::string("a") + reserved + "b"), kReservedName) << reserved;
    EXPECT_EQ(newProfileNameRefusal(store, "."), kReservedName);
    EXPECT_EQ(newProfileNameRefusal(store, ".."), kReservedName);
    EXPECT_EQ(newProfileNameRefusal(store, std::string(201, 'n')), kTooLongName);
    std::string accents;  // 200 bytes of two-byte characters
    for (int i = 0; i < 100; ++i) accents += "\xC3\xA9";
    EXPECT_EQ(newProfileNameRefusal(store, accents), std::nullopt);
    EXPECT_EQ(newProfileNameRefusal(store, accents + "n"), kTooLongName);
    EXPECT_EQ(newProfileNameRefusal(store, "Test"), kTakenName);
    EXPECT_EQ(newProfileNameRefusal(store, "TEST:"), kReservedName);  // the characters are checked first
    EXPECT_EQ(newProfileNameRefusal(store, std::string(100, 'n')), std::nullopt);
    EXPECT_EQ(newProfileNameRefusal(store, std::string(200, 'n')), kTooLongName);
    EXPECT_EQ(newProfileNameRefusal(store, "...."), std::nullopt);
    EXPECT_EQ(newProfileNameRefusal(store, "Tests"), std::nullopt);
}

// Blank names would add a blank entry to both profile lists; long ones would not fit a file name, and
// are told so rather than blamed on reserved characters.
TEST(NewProfileName, RefusesBlankAndTooLongNamesWithTheirOwnTexts) {
    SettingsStore store;
    for (const char* blank : {" ", "   ", "\t", " \t \n"})
        EXPECT_EQ(newProfileNameRefusal(store, blank), kEmptyName);
    EXPECT_EQ(newProfileNameRefusal(store, " a "), std::nullopt);
    EXPECT_EQ(newProfileNameRefusal(store, std::string(300, 'n')), kTooLongName);
    EXPECT_EQ(newProfileNameRefusal(store, std::string(101, 'n')), kTooLongName);
    EXPECT_EQ(newProfileNameRefusal(store, std::string(300, '*')), kTooLongName);  // length is checked first
    std::string wide;  // 60 characters of four bytes: within 100 characters but 240 bytes
    for (int i = 0; i < 60; ++i) wide += "\xF0\x9F\x98\x80";
    EXPECT_EQ(newProfileNameRefusal(store, wide), kTooLongName);
}

// Right after New nothing has changed: neither another New nor a switch asks to save, and the model
// refuses a blank name even from a caller that skipped the name dialog.
TEST_F(ConfigDialogModelTest, NothingIsAskedAfterNewUntilTheUserChangesSomething) {
    useThreeProfiles();
    ConfigDialogModel model(*store);
    EXPECT_EQ(model.newProfile(answering("First")), ConfigDialogModel::NewProfileResult::Added);
    EXPECT_EQ(model.newProfile(answering("Second")), ConfigDialogModel::NewProfileResult::Added);
    EXPECT_EQ(model.newProfile(answering("   ")), ConfigDialogModel::NewProfileResult::NotAdded);
    model.chooseProfile(0);
    EXPECT_TRUE(presenter.shown.empty());
    EXPECT_EQ(store->profileCount(), 5);

    model.changeEditText(ProfileEdit::Width, "640");
    presenter.answers = {MessageAnswer::kNo};
    EXPECT_EQ(model.newProfile(answering("Third")), ConfigDialogModel::NewProfileResult::Added);
    EXPECT_EQ(presenter.shown, (std::vector<std::string>{kNewQuestion}));
}

TEST_F(ConfigDialogModelTest, NewWritesTheFreshProfileAtOnceAndOkTakesTheShownControlsIntoIt) {
    useThreeProfiles();
    ConfigDialogModel model(*store);
    model.changeEditText(ProfileEdit::Width, "1024");
    presenter.answers = {MessageAnswer::kYes};
    EXPECT_EQ(model.newProfile(answering("Fresh")), ConfigDialogModel::NewProfileResult::Added);
    EXPECT_EQ(presenter.shown, (std::vector<std::string>{kNewQuestion}));
    EXPECT_EQ(store->findProfile("Beta")->ResWidth, 320);
    EXPECT_EQ(store->currentProfile()->name, "Alpha");
    EXPECT_EQ(store->findProfile("Alpha")->ResWidth, 1024);  // Yes took the edit

    // The file holds the fresh profile exactly as created.
    EXPECT_EQ(profileBytes("Fresh"), profileFileText(320, 240, 448, 64, 0, ""));
    EXPECT_EQ(model.profileNames().back(), "Fresh");
    EXPECT_EQ(model.profileSelection(), 3);
    EXPECT_EQ(model.shownProfileIndex(), 3);
    EXPECT_EQ(model.codecSelection(), 0);
    EXPECT_EQ(model.audioBitRateSelection(), 3);
    EXPECT_FALSE(model.modified());  // the fresh profile takes what its controls show

    model.accept();
    EXPECT_EQ(profileBytes("Fresh"), profileFileText(320, 240, 448, 3, 0, kXvid));
}

TEST_F(ConfigDialogModelTest, NewCancelledOrRefusedAddsNothing) {
    useThreeProfiles();
    const auto before = allFiles();
    ConfigDialogModel model(*store);
    EXPECT_EQ(model.newProfile(answering(std::nullopt)), ConfigDialogModel::NewProfileResult::NotAdded);
    // A caller that skipped the name dialog still cannot create a file outside the profile folder.
    EXPECT_EQ(model.newProfile(answering("../escape")), ConfigDialogModel::NewProfileResult::NotAdded);
    EXPECT_EQ(model.newProfile(answering("..")), ConfigDialogModel::NewProfileResult::NotAdded);
    EXPECT_EQ(model.newProfile(answering("BETA")), ConfigDialogModel::NewProfileResult::NotAdded);
    EXPECT_TRUE(presenter.shown.empty());  // nothing was modified, so nothing was asked
    EXPECT_EQ(store->profileCount(), 3);
    EXPECT_EQ(allFiles(), before);
    EXPECT_FALSE(fs::exists(dataFolder() + "/escape.ipf"));
}

TEST_F(ConfigDialogModelTest, DeleteKeepsTheLastProfileAsksAndSelectsTheNextOrTheFirst) {
    useProfiles({profile("Only")});
    {
        ConfigDialogModel model(*store);
        EXPECT_FALSE(model.deleteShownProfile());
        EXPECT_TRUE(presenter.shown.empty());
        EXPECT_TRUE(fs::exists(profileDir() + "/Only.ipf"));
    }
    store->addProfile(profile("Second"));
    store->addProfile(profile("Third"));
    ASSERT_TRUE(store->save());
    ConfigDialogModel model(*store);

    model.chooseProfile(2);
    presenter.answers = {MessageAnswer::kNo};
    EXPECT_FALSE(model.deleteShownProfile());
    EXPECT_EQ(presenter.shown, (std::vector<std::string>{kDeleteQuestion}));
    EXPECT_EQ(store->profileCount(), 3);

    // The last item: the first profile is selected afterwards.
    model.changeEditText(ProfileEdit::Width, "800");
    presenter.answers = {MessageAnswer::kYes};
    EXPECT_TRUE(model.deleteShownProfile());
    EXPECT_FALSE(fs::exists(profileDir() + "/Third.ipf"));
    EXPECT_EQ(model.profileNames(), (std::vector<std::string>{"Only", "Second"}));
    EXPECT_EQ(model.profileSelection(), 0);
    EXPECT_EQ(model.shownProfileIndex(), 0);
    EXPECT_FALSE(model.modified());

    // A middle item: the one after it moves into its place and is selected.
    store->addProfile(profile("Fourth"));
    ConfigDialogModel again(*store);
    again.chooseProfile(1);
    presenter.answers = {MessageAnswer::kYes};
    EXPECT_TRUE(again.deleteShownProfile());
    EXPECT_EQ(again.profileNames(), (std::vector<std::string>{"Only", "Fourth"}));
    EXPECT_EQ(again.profileSelection(), 1);
    EXPECT_FALSE(fs::exists(profileDir() + "/Second.ipf"));
}

TEST_F(ConfigDialogModelTest, CancelWritesProfilesAddedAndDeletedInTheDialog) {
    useThreeProfiles();
    ConfigDialogModel model(*store);
    model.newProfile(answering("Added"));
    presenter.answers = {MessageAnswer::kYes};  // the deletion (nothing was changed before the switch)
    model.chooseProfile(1);
    model.deleteShownProfile();
    model.cancel();
    EXPECT_EQ(allFiles().size(), 4u);  // settings.ini, Alpha, Gamma, Added
    EXPECT_TRUE(fs::exists(profileDir() + "/Added.ipf"));
    EXPECT_FALSE(fs::exists(profileDir() + "/Beta.ipf"));
}

// Records the dialog being shown and answers with a new quantizer.
class RecordingConfigurator : public CodecConfigurator {
public:
    bool configure(VideoCompressor& compressor, QObject* parent) override {
        shownFor.push_back(compressor.description());
        parents.push_back(parent);
        CompressorSettings settings = compressor.settings();
        settings.quantizer = 11;
        compressor.setSettings(settings);
        return true;
    }
    std::vector<std::string> shownFor;
    std::vector<QObject*> parents;
};

TEST_F(ConfigDialogModelTest, ConfigureOpensTheSelectedCodecsOwnDialogAndKeepsItsStateInMemory) {
    useProfiles({profile("Only")});
    const auto before = allFiles();
    RecordingConfigurator configurator;
    setCodecConfigurator(&configurator);
    ConfigDialogModel model(*store);
    model.chooseCodec(1);
    EXPECT_TRUE(model.configureSelectedCodec(nullptr));
    setCodecConfigurator(nullptr);
    EXPECT_EQ(configurator.shownFor, (std::vector<std::string>{kDivx}));
    ASSERT_TRUE(store->findCodec(kDivx)->state.has_value());
    EXPECT_EQ(store->findCodec(kDivx)->state->at(0), 11);
    EXPECT_FALSE(store->findCodec(kXvid)->state.has_value());
    EXPECT_EQ(allFiles(), before);
}

TEST_F(ConfigDialogModelTest, WithoutProfilesOrCodecsTheDialogStillOpensAndSaves) {
    testing::FakeProvider none({});
    SettingsStore empty(&none);
    empty.listCodecs();
    empty.load();
    ConfigDialogModel model(empty);
    EXPECT_EQ(model.profileSelection(), -1);
    EXPECT_EQ(model.codecSelection(), -1);
    EXPECT_FALSE(model.deleteShownProfile());
    model.changeEditText(ProfileEdit::Width, "10");
    model.chooseProfile(0);
    EXPECT_FALSE(model.configureSelectedCodec(nullptr));
    EXPECT_EQ(model.newProfile(answering("Made")), ConfigDialogModel::NewProfileResult::Added);
    EXPECT_EQ(model.codecSelection(), -1);
    EXPECT_EQ(model.accept(), ConfigDialogModel::SaveResult::Saved);
    EXPECT_EQ(profileBytes("Made"), profileFileText(320, 240, 448, 3, 0, ""));
}

TEST_F(ConfigDialogModelTest, AProfileFolderThatCannotBeWrittenIsReportedAsNotSaved) {
    useProfiles({profile("Only")});
    // A file where the profile folder should be: no profile can be written, whoever runs the test.
    fs::remove_all(profileDir());
    ASSERT_TRUE(testing::writeFile(profileDir(), "in the way"));
    ConfigDialogModel model(*store);
    EXPECT_EQ(model.newProfile(answering("Blocked")),
              ConfigDialogModel::NewProfileResult::AddedButFileNotWritten);
    EXPECT_NE(model.profileFileFailureText().find(profileDir() + "/Blocked.ipf"), std::string::npos);
    EXPECT_EQ(model.cancel(), ConfigDialogModel::SaveResult::Failed);
    EXPECT_NE(model.saveFailureText().find(dataFolder()), std::string::npos);
    EXPECT_EQ(store->profileCount(), 2);  // kept in memory for this run
}

}  // namespace
}  // namespace kestrelle
