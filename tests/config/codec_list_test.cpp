#include "config/codec_list.h"
#include "config/settings_store.h"
#include "config/ui/codec_config_dialog.h"
#include "tests/config/config_fixture.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QRadioButton>
#include <QSpinBox>

namespace kestrelle {
namespace {

using testing::FakeProvider;
using testing::FakeSpec;
using testing::readFile;

constexpr std::uint32_t fcc(const char* s) {
    return makeFourCC(s[0], s[1], s[2], s[3]);
}

TEST(CodecFilter, NeedsXvidOrDivXInExactCase) {
    EXPECT_TRUE(codecNamePassesFilter("Xvid MPEG-4 Codec"));
    EXPECT_TRUE(codecNamePassesFilter("My DivX Pro 5.2"));
    EXPECT_TRUE(codecNamePassesFilter("DivX-compatible MPEG-4 (libavcodec)"));
    EXPECT_FALSE(codecNamePassesFilter("DIVX only in capitals"));
    EXPECT_FALSE(codecNamePassesFilter("xvid lower"));
    EXPECT_FALSE(codecNamePassesFilter("XVID upper"));
    EXPECT_FALSE(codecNamePassesFilter("Cinepak"));
    EXPECT_FALSE(codecNamePassesFilter(""));
}

class CodecListTest : public testing::ConfigTest {};

TEST_F(CodecListTest, ListsOnlyCompressorsThatOpenAcceptTheTestFormatAndPassTheFilter) {
    FakeSpec closed{"Xvid closed", fcc("XCLS")};
    closed.opens = false;
    FakeSpec refuses{"Xvid picky", fcc("XPCK")};
    refuses.acceptsTestFormat = false;
    FakeSpec otherType{"Xvid audio", fcc("XAUD")};
    otherType.type = fcc("audc");
    FakeProvider provider({{"Xvid MPEG-4 Codec", fcc("XVID")},
                           {"DIVX capitals", fcc("DIVX")},
                           closed,
                           refuses,
                           otherType,
                           {"DivX 5.0", fcc("DX50")}});
    CodecList list(&provider);
    list.listCodecs();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.entries()[0].name, "Xvid MPEG-4 Codec");
    EXPECT_EQ(list.entries()[0].type, kCompressorType);
    EXPECT_EQ(list.entries()[0].handler, fcc("XVID"));
    EXPECT_FALSE(list.entries()[0].state.has_value());
    EXPECT_EQ(list.entries()[1].name, "DivX 5.0");

    EXPECT_EQ(list.firstCodec(), &list.entries()[0]);
    EXPECT_EQ(list.findCodec("divx 5.0"), &list.entries()[1]);
    EXPECT_TRUE(list.isCodecInstalled("XVID MPEG-4 CODEC"));
    EXPECT_FALSE(list.isCodecInstalled("DIVX capitals"));
    EXPECT_EQ(list.findCodec(""), nullptr);
    testing::RecordingCombo combo;
    list.fillCodecCombo(combo);
    EXPECT_EQ(combo.items, (std::vector<std::string>{"Xvid MPEG-4 Codec", "DivX 5.0"}));

    list.listCodecs();  // rebuilt, not appended
    EXPECT_EQ(list.size(), 2u);

    CodecList empty(&provider);
    EXPECT_EQ(empty.firstCodec(), nullptr);
}

TEST_F(CodecListTest, AFaultingCompressorEndsTheListingAndKeepsEarlierEntries) {
    FakeSpec faulty{"Xvid faulty", fcc("XFLT")};
    faulty.throwsOnOpen = true;
    FakeProvider provider({{"Xvid MPEG-4 Codec", fcc("XVID")}, faulty, {"DivX 5.0", fcc("DX50")}});
    CodecList list(&provider);
    list.listCodecs();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.entries()[0].name, "Xvid MPEG-4 Codec");
    const std::string log = readFile(dataFolder() + "/run.log");
    EXPECT_NE(log.find("\tConfigSet.cpp,"), std::string::npos);
    EXPECT_NE(log.find("|list_avi_codec failed\r\n"), std::string::npos);
}

TEST_F(CodecListTest, TheInstalledCompressorsIncludeXvidAndDivX) {
    CodecList list;
    list.listCodecs();
    ASSERT_NE(list.findCodec("DivX-compatible MPEG-4 (libavcodec)"), nullptr);
    EXPECT_EQ(list.findCodec("DivX-compatible MPEG-4 (libavcodec)")->handler, fcc("DX50"));
    if (list.findCodec("Xvid MPEG-4 Codec") != nullptr) {
        EXPECT_EQ(list.firstCodec()->name, "Xvid MPEG-4 Codec");
    }
}

// Records what the dialog was opened on and answers like a user.
class ScriptedConfigurator : public CodecConfigurator {
public:
    bool configure(VideoCompressor& compressor, QObject*) override {
        ++shown;
        openedOn.push_back(compressor.settings().quantizer);
        if (!accept) return false;
        CompressorSettings s = compressor.settings();
        s.quantizer = nextQuantizer;
        compressor.setSettings(s);
        return true;
    }
    int shown = 0;
    bool accept = true;
    int nextQuantizer = 9;
    std::vector<int> openedOn;
};

class ConfigureCodecTest : public CodecListTest {
protected:
    void SetUp() override {
        CodecListTest::SetUp();
        setCodecConfigurator(&configurator_);
    }
    void TearDown() override {
        setCodecConfigurator(nullptr);
        CodecListTest::TearDown();
    }
    ScriptedConfigurator configurator_;
};

TEST_F(ConfigureCodecTest, TheSecondDialogOpensOnTheChoicesOfTheFirst) {
    FakeProvider provider({{"Xvid MPEG-4 Codec", fcc("XVID")}});
    SettingsStore store(&provider);
    store.listCodecs();
    CodecEntry* entry = store.findCodec("Xvid MPEG-4 Codec");
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(store.configureCodec(*entry, nullptr));
    ASSERT_TRUE(entry->state.has_value());
    EXPECT_EQ(entry->state->size(), 4u);
    EXPECT_EQ((*entry->state)[0], 9);

    configurator_.nextQuantizer = 12;
    EXPECT_TRUE(store.configureCodec(*entry, nullptr));
    EXPECT_EQ(configurator_.openedOn, (std::vector<int>{4, 9}));
    EXPECT_EQ((*entry->state)[0], 12);

    // Cancelled: the state captured afterwards still holds the earlier choice.
    configurator_.accept = false;
    EXPECT_TRUE(store.configureCodec(*entry, nullptr));
    EXPECT_EQ((*entry->state)[0], 12);
}

TEST_F(ConfigureCodecTest, NothingHappensWithoutCompressorStateOrDialog) {
    FakeSpec stateless{"Xvid stateless", fcc("XNOS")};
    stateless.stateSize = 0;
    FakeProvider provider({{"Xvid MPEG-4 Codec", fcc("XVID")}, stateless});
    CodecList list(&provider);
    list.listCodecs();
    ASSERT_EQ(list.size(), 2u);

    CodecEntry noState = list.entries()[1];
    EXPECT_FALSE(list.configureCodec(noState, nullptr));
    EXPECT_EQ(configurator_.shown, 0);
    EXPECT_FALSE(noState.state.has_value());

    CodecEntry gone = list.entries()[0];
    gone.handler = fcc("GONE");
    EXPECT_FALSE(list.configureCodec(gone, nullptr));
    EXPECT_EQ(configurator_.shown, 0);

    // A state of another size (an older compressor version) is replaced, not sent back.
    CodecEntry resized = list.entries()[0];
    resized.state = std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6};
    EXPECT_TRUE(list.configureCodec(resized, nullptr));
    EXPECT_EQ(configurator_.openedOn.back(), 4);
    EXPECT_EQ(resized.state->size(), 4u);

    setCodecConfigurator(nullptr);
    CodecEntry unconfigured = list.entries()[0];
    EXPECT_FALSE(list.configureCodec(unconfigured, nullptr));
    EXPECT_FALSE(unconfigured.state.has_value());
}

TEST_F(ConfigureCodecTest, TheRealCompressorStateReachesTheEncoder) {
    SettingsStore store;
    store.listCodecs();
    CodecEntry* entry = store.findCodec("DivX-compatible MPEG-4 (libavcodec)");
    ASSERT_NE(entry, nullptr);
    configurator_.nextQuantizer = 17;
    ASSERT_TRUE(store.configureCodec(*entry, nullptr));
    auto compressor = openCompressor(entry->type, entry->handler);
    ASSERT_TRUE(compressor->setState(entry->state->data(), entry->state->size()));
    EXPECT_EQ(compressor->settings().quantizer, 17);
    EXPECT_TRUE(compressor->hasState());
}

QApplication& application() {
    static int argc = 1;
    static char name[] = "test_config";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

TEST(CodecConfigDialog, ShowsAndReturnsTheSettingsAndEnablesTheActiveRateField) {
    application();
    CompressorSettings s;
    s.rateControl = CompressorSettings::RateControl::ConstantQuantizer;
    s.bitRateKbps = 2500;
    s.quantizer = 6;
    s.keyFrameInterval = 45;
    CodecConfigDialog dialog(QStringLiteral("Xvid MPEG-4 Codec"), s);
    const CompressorSettings shown = dialog.settings();
    EXPECT_EQ(shown.rateControl, s.rateControl);
    EXPECT_EQ(shown.bitRateKbps, 2500);
    EXPECT_EQ(shown.quantizer, 6);
    EXPECT_EQ(shown.keyFrameInterval, 45);
    const auto spins = dialog.findChildren<QSpinBox*>();
    ASSERT_EQ(spins.size(), 3);
    EXPECT_FALSE(spins[0]->isEnabled());  // bit rate, unused under a constant quantizer
    EXPECT_TRUE(spins[1]->isEnabled());
    const auto radios = dialog.findChildren<QRadioButton*>();
    ASSERT_EQ(radios.size(), 2);
    radios[0]->setChecked(true);  // target bit rate
    EXPECT_TRUE(spins[0]->isEnabled());
    EXPECT_FALSE(spins[1]->isEnabled());
    EXPECT_EQ(dialog.settings().rateControl, CompressorSettings::RateControl::TargetBitRate);
    spins[2]->setValue(0);  // below range: clamped to 1
    EXPECT_EQ(dialog.settings().keyFrameInterval, 1);
}

}  // namespace
}  // namespace kestrelle
