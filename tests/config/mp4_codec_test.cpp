// The MP4 codecs beside the AVI compressors: their list entries, the 60 fps rate they alone offer, the
// shipped MP4 profiles and the H.264 settings block kept by Configure.

#include "base/data_folder.h"
#include "base/xml_document.h"
#include "config/codec_list.h"
#include "config/config_dialog_model.h"
#include "config/output_profile.h"
#include "config/settings_store.h"
#include "media/h264_settings.h"
#include "tests/config/config_dialog_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

namespace kestrelle {
namespace {

using testing::FakeProvider;
using testing::FakeSpec;

constexpr std::uint32_t kXvidHandler = makeFourCC('X', 'V', 'I', 'D');

// A fake provider that also answers which libavcodec encoders exist.
class EncoderProvider : public FakeProvider {
public:
    EncoderProvider(std::vector<FakeSpec> fakes, std::set<std::string> encoders)
        : FakeProvider(std::move(fakes)), encoders_(std::move(encoders)) {}
    bool hasEncoder(const std::string& name) const override { return encoders_.count(name) > 0; }

private:
    std::set<std::string> encoders_;
};

std::vector<std::string> names(const CodecList& list) {
    std::vector<std::string> result;
    for (const CodecEntry& entry : list.entries()) result.push_back(entry.name);
    return result;
}

TEST(Mp4CodecList, EntriesFollowTheAviCompressorsOnlyForEncodersPresent) {
    EncoderProvider both(
        {FakeSpec{"Xvid MPEG-4 Codec", kXvidHandler}, FakeSpec{"Cinepak", makeFourCC('c', 'v', 'i', 'd')}},
        {"libx264", "libx265"});
    CodecList list(&both);
    list.listCodecs();
    EXPECT_EQ(names(list), (std::vector<std::string>{"Xvid MPEG-4 Codec", "H.264 (MP4)", "H.265 (MP4)"}));
    EXPECT_EQ(list.firstCodec()->container, ContainerFormat::Avi);
    const CodecEntry* h264 = list.findCodec("h.264 (mp4)");
    ASSERT_NE(h264, nullptr);
    EXPECT_TRUE(h264->isMp4());
    EXPECT_EQ(h264->handler, kH264Handler);
    EXPECT_EQ(list.findCodec("H.265 (MP4)")->handler, kHevcHandler);
    EXPECT_STREQ(fileExtensionFor(h264), ".mp4");
    EXPECT_STREQ(fileExtensionFor(list.firstCodec()), ".avi");
    EXPECT_STREQ(fileExtensionFor(nullptr), ".avi");

    EncoderProvider onlyX264({}, {"libx264"});
    list.setProvider(&onlyX264);
    list.listCodecs();
    EXPECT_EQ(names(list), (std::vector<std::string>{"H.264 (MP4)"}));

    // A provider that knows no encoders (the tests' plain fake) lists its compressors alone.
    FakeProvider plain({FakeSpec{"Xvid MPEG-4 Codec", kXvidHandler}});
    list.setProvider(&plain);
    list.listCodecs();
    EXPECT_EQ(names(list), (std::vector<std::string>{"Xvid MPEG-4 Codec"}));
}

TEST(Mp4CodecList, TheFilterAdmitsTheMp4NamesExactlyAndTheInstalledListFollowsLibavcodec) {
    EXPECT_TRUE(codecNamePassesFilter("H.264 (MP4)"));
    EXPECT_TRUE(codecNamePassesFilter("H.265 (MP4)"));
    EXPECT_FALSE(codecNamePassesFilter("H.264"));
    EXPECT_FALSE(codecNamePassesFilter("x H.264 (MP4)"));

    CodecList installed;
    installed.listCodecs();
    EXPECT_EQ(installed.findCodec("H.264 (MP4)") != nullptr, hasEncoderNamed("libx264"));
    EXPECT_EQ(installed.findCodec("H.265 (MP4)") != nullptr, hasEncoderNamed("libx265"));
    EXPECT_FALSE(hasEncoderNamed(""));
    EXPECT_FALSE(hasEncoderNamed("no-such-encoder"));
    // The AVI compressors still come first.
    if (installed.size() > 1) {
        EXPECT_FALSE(installed.firstCodec()->isMp4());
    }
}

TEST(Mp4Profile, SixtyFramesASecondStaysOnlyWithAnMp4Codec) {
    EncoderProvider provider({FakeSpec{"Xvid MPEG-4 Codec", kXvidHandler}}, {"libx264"});
    CodecList list(&provider);
    list.listCodecs();
    OutputProfile mp4;
    mp4.CodecName = "H.264 (MP4)";
    mp4.FrameRate = kFrameRateIndex60;
    settleProfileCodec(mp4, list);
    EXPECT_EQ(mp4.FrameRate, kFrameRateIndex60);

    OutputProfile avi = mp4;
    avi.CodecName = "Xvid MPEG-4 Codec";
    settleProfileCodec(avi, list);
    EXPECT_EQ(avi.FrameRate, 0);

    // An MP4 profile on a machine without the encoder falls back to the first (AVI) codec and its rates.
    FakeProvider noEncoders({FakeSpec{"Xvid MPEG-4 Codec", kXvidHandler}});
    list.setProvider(&noEncoders);
    list.listCodecs();
    OutputProfile orphan = mp4;
    settleProfileCodec(orphan, list);
    EXPECT_EQ(orphan.CodecName, "Xvid MPEG-4 Codec");
    EXPECT_EQ(orphan.FrameRate, 0);
}

TEST(Mp4Profile, TheShippedMp4ProfilesNameTheH264CodecWithTheirSizesAndRates) {
    struct Expected {
        int width, height, frameRate, videoBitRate;
    };
    const std::map<std::string, Expected> expected{
        {"MP4 1080p(.mp4)", {1920, 1080, 0, 8000}},
        {"MP4 720p(.mp4)", {1280, 720, 0, 5000}},
        {"MP4 4K(.mp4)", {3840, 2160, 0, 35000}},
        {"MP4 1080p 60(.mp4)", {1920, 1080, 3, 12000}},
        {"MP4 Phone portrait(.mp4)", {1080, 1920, 0, 8000}},
    };
    const std::string shipped = programFolder() + "/Profile";
    int found = 0;
    for (const auto& [name, want] : expected) {
        const std::string bytes = testing::readFile(shipped + "/" + name + ".ipf");
        ASSERT_FALSE(bytes.empty()) << name;
        XmlDocument document;
        document.setDoc(bytes);
        OutputProfile p;
        ASSERT_TRUE(readProfileElements(document, p)) << name;
        EXPECT_EQ(p.CodecName, kH264CodecName) << name;
        EXPECT_EQ(p.ResWidth, want.width) << name;
        EXPECT_EQ(p.ResHeight, want.height) << name;
        EXPECT_EQ(p.FrameRate, want.frameRate) << name;
        EXPECT_EQ(p.VideoBR, want.videoBitRate) << name;
        EXPECT_TRUE(p.AudioBR == 4 || p.AudioBR == 5) << name;  // 160 or 192 kbit/s
        ++found;
    }
    EXPECT_EQ(found, 5);
}

// Answers the H.264 dialog like a user: records the block it opened on, then OK with new settings or
// Cancel.
class ScriptedH264Configurator : public H264Configurator {
public:
    bool configure(const CodecEntry&, std::vector<std::uint8_t>& block, QObject*) override {
        openedOn.push_back(block);
        if (!accept) return false;
        block = serializeH264Settings(next);
        return true;
    }
    bool accept = true;
    H264Settings next;
    std::vector<std::vector<std::uint8_t>> openedOn;
};

class Mp4DialogModelTest : public testing::ConfigDialogTest {
protected:
    void SetUp() override {
        ConfigDialogTest::SetUp();
        mp4Provider_ = std::make_unique<EncoderProvider>(provider.specs, std::set<std::string>{"libx264"});
        store = std::make_unique<SettingsStore>(mp4Provider_.get());
        store->listCodecs();
        store->load();
        setH264Configurator(&configurator_);
    }
    void TearDown() override {
        setH264Configurator(nullptr);
        ConfigDialogTest::TearDown();
    }
    int codecIndex(const ConfigDialogModel& model, const std::string& name) const {
        for (std::size_t i = 0; i < model.codecNames().size(); ++i)
            if (model.codecNames()[i] == name) return static_cast<int>(i);
        return -1;
    }
    std::unique_ptr<EncoderProvider> mp4Provider_;
    ScriptedH264Configurator configurator_;
};

TEST_F(Mp4DialogModelTest, SixtyFpsIsOfferedOnlyWhileAnMp4CodecIsSelected) {
    OutputProfile mp4 = profile("Clip", kH264CodecName);
    mp4.FrameRate = kFrameRateIndex60;
    useProfiles({profile("Alpha"), mp4});
    store->selectProfile(1);
    ConfigDialogModel model(*store);
    ASSERT_TRUE(model.selectedCodecIsMp4());
    EXPECT_EQ(model.offeredFrameRates().size(), 4u);
    EXPECT_EQ(model.offeredFrameRates().back(), "60FPS");
    EXPECT_EQ(model.frameRateSelection(), kFrameRateIndex60);

    // Switching to an AVI codec takes 60 away and falls back to the first rate.
    model.chooseCodec(codecIndex(model, kXvid));
    EXPECT_FALSE(model.selectedCodecIsMp4());
    EXPECT_EQ(model.offeredFrameRates(), frameRateChoices());
    EXPECT_EQ(model.frameRateSelection(), 0);
    model.chooseFrameRate(kFrameRateIndex60);
    EXPECT_EQ(model.frameRateSelection(), 0);

    // Back on H.264, 60 can be chosen, and OK stores it.
    model.chooseCodec(codecIndex(model, kH264CodecName));
    model.chooseFrameRate(kFrameRateIndex60);
    EXPECT_EQ(model.frameRateSelection(), kFrameRateIndex60);
    ASSERT_EQ(model.accept(), ConfigDialogModel::SaveResult::Saved);
    EXPECT_EQ(store->findProfile("Clip")->FrameRate, kFrameRateIndex60);
    EXPECT_EQ(store->findProfile("Clip")->CodecName, kH264CodecName);
}

TEST_F(Mp4DialogModelTest, AnMp4CodecTakesHighBitRatesWhileTheAviLimitsStay) {
    useProfiles({profile("Clip", kH264CodecName)});
    ConfigDialogModel model(*store);
    model.changeEditText(ProfileEdit::VideoBitRate, "35000");
    model.leaveVideoBitRate();
    EXPECT_EQ(model.editText(ProfileEdit::VideoBitRate), "35000");
    model.changeEditText(ProfileEdit::VideoBitRate, "500000");
    model.leaveVideoBitRate();
    EXPECT_EQ(model.editText(ProfileEdit::VideoBitRate), "100000");
    model.chooseCodec(codecIndex(model, kXvid));  // the first codec: 2500 at most
    model.changeEditText(ProfileEdit::VideoBitRate, "35000");
    model.leaveVideoBitRate();
    EXPECT_EQ(model.editText(ProfileEdit::VideoBitRate), "2500");
}

TEST_F(Mp4DialogModelTest, ConfigureKeepsTheAcceptedH264BlockAndCancelKeepsTheOldOne) {
    useProfiles({profile("Clip", kH264CodecName)});
    ConfigDialogModel model(*store);
    ASSERT_TRUE(model.configureEnabled());
    configurator_.next.rateControl = H264RateControl::ConstantQuality;
    configurator_.next.constantQuality = 20;
    configurator_.next.preset = "slow";
    EXPECT_TRUE(model.configureSelectedCodec(nullptr));
    const CodecEntry* entry = store->findCodec(kH264CodecName);
    ASSERT_TRUE(entry->state.has_value());
    EXPECT_EQ(parseH264Settings(*entry->state), configurator_.next);

    // The second dialog opens on the first one's block; Cancel changes nothing.
    configurator_.accept = false;
    EXPECT_FALSE(model.configureSelectedCodec(nullptr));
    ASSERT_EQ(configurator_.openedOn.size(), 2u);
    EXPECT_TRUE(configurator_.openedOn[0].empty());
    EXPECT_EQ(configurator_.openedOn[1], *entry->state);
    EXPECT_EQ(parseH264Settings(*entry->state)->preset, "slow");

    // Without an installed dialog nothing happens.
    setH264Configurator(nullptr);
    EXPECT_FALSE(model.configureSelectedCodec(nullptr));
}

}  // namespace
}  // namespace kestrelle
