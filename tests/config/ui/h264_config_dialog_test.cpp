// The H.264 settings dialog, and the configuration dialog with an MP4 profile: 60 fps offered with
// the MP4 codec only, Configure opening the H.264 dialog and keeping its block.

#include "config/ui/h264_config_dialog.h"
#include "config/ui/codec_config_dialog.h"
#include "config/ui/config_dialog.h"
#include "tests/config/config_dialog_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace kestrelle {
namespace {

TEST(H264ConfigDialog, ShowsAndReturnsTheSettingsWithLinkedQualityControls) {
    H264Settings given;
    given.rateControl = H264RateControl::ConstantQuality;
    given.constantQuality = 20;
    given.preset = "fast";
    given.keyFrameSeconds = 1.0;
    given.stillsAsLongSamples = true;
    H264ConfigDialog dialog(QStringLiteral("H.264 Settings"), given);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("H.264 Settings"));
    EXPECT_EQ(dialog.settings(), given);
    EXPECT_TRUE(dialog.qualitySlider()->isEnabled());
    EXPECT_EQ(dialog.qualitySlider()->value(), 20);

    // Slider and spin box move together, within 18..28.
    dialog.qualitySlider()->setValue(26);
    EXPECT_EQ(dialog.qualitySpinBox()->value(), 26);
    dialog.qualitySpinBox()->setValue(99);
    EXPECT_EQ(dialog.qualitySlider()->value(), 28);

    // The average bit rate disables the quality controls; the key-frame interval stays within 0.5..2 s.
    dialog.averageBitRateButton()->setChecked(true);
    EXPECT_FALSE(dialog.qualitySlider()->isEnabled());
    EXPECT_FALSE(dialog.qualitySpinBox()->isEnabled());
    dialog.keyFrameSpinBox()->setValue(10.0);
    dialog.presetCombo()->setCurrentIndex(dialog.presetCombo()->count() - 1);
    const H264Settings taken = dialog.settings();
    EXPECT_EQ(taken.rateControl, H264RateControl::AverageBitRate);
    EXPECT_DOUBLE_EQ(taken.keyFrameSeconds, 2.0);
    EXPECT_EQ(taken.preset, "slow");
    EXPECT_TRUE(taken.stillsAsLongSamples);
    dialog.longSamplesCheckBox()->setChecked(false);
    EXPECT_FALSE(dialog.settings().stillsAsLongSamples);

    // H.265 has no long samples to offer: the stored choice is kept as it was.
    dialog.setSettings(given);
    dialog.setLongSamplesOffered(false);
    dialog.longSamplesCheckBox()->setChecked(false);
    EXPECT_TRUE(dialog.settings().stillsAsLongSamples);
    dialog.setLongSamplesOffered(true);

    // An unknown preset shows the first one; every control has a name for screen readers.
    H264Settings odd;
    odd.preset = "placebo";
    dialog.setSettings(odd);
    EXPECT_EQ(dialog.settings().preset, "veryfast");
    for (QWidget* control : std::initializer_list<QWidget*>{
             dialog.averageBitRateButton(), dialog.constantQualityButton(), dialog.qualitySlider(),
             dialog.qualitySpinBox(), dialog.presetCombo(), dialog.keyFrameSpinBox(),
             dialog.longSamplesCheckBox()})
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->metaObject()->className();
}

TEST(H264ConfigDialog, TheHevcEntryGetsItsOwnTitle) {
    CodecEntry hevc;
    hevc.handler = kHevcHandler;
    EXPECT_EQ(h264DialogTitle(hevc), QStringLiteral("H.265 Settings"));
    hevc.handler = kH264Handler;
    EXPECT_EQ(h264DialogTitle(hevc), QStringLiteral("H.264 Settings"));
}

class Mp4Provider : public testing::FakeProvider {
public:
    Mp4Provider() : FakeProvider(testing::xvidOnly()) {}
    bool hasEncoder(const std::string& name) const override { return name == "libx264"; }
};

class Mp4ConfigDialogTest : public testing::ConfigDialogTest {
protected:
    void SetUp() override {
        ConfigDialogTest::SetUp();
        store = std::make_unique<SettingsStore>(&mp4Provider_);
        store->listCodecs();
        store->load();
        installCodecConfigDialog();
    }
    std::unique_ptr<ConfigDialog> makeDialog() {
        auto dialog = std::make_unique<ConfigDialog>(
            *store, [](QWidget*) { return std::optional<int>(); }, [](int) { return QIcon(); });
        dialog->show();
        return dialog;
    }
    // Runs `answer` on the next modal dialog once it is up.
    static void answerNextModal(std::function<void(QDialog&)> answer) {
        QTimer::singleShot(0, [answer] {
            if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) answer(*modal);
        });
    }
    Mp4Provider mp4Provider_;
};

TEST_F(Mp4ConfigDialogTest, TheFrameRateListFollowsTheCodecAndConfigureKeepsTheH264Block) {
    OutputProfile mp4 = profile("Clip(.mp4)", kH264CodecName);
    mp4.FrameRate = kFrameRateIndex60;
    useProfiles({mp4});
    store->selectProfile(0);
    auto dialog = makeDialog();
    EXPECT_EQ(dialog->frameRateCombo()->count(), 4);
    EXPECT_EQ(dialog->frameRateCombo()->currentText(), QStringLiteral("60FPS"));
    ASSERT_TRUE(dialog->configureButton()->isEnabled());

    // Configure opens the H.264 dialog; OK with a constant quality stores the block.
    QString shownTitle;
    answerNextModal([&shownTitle](QDialog& modal) {
        shownTitle = modal.windowTitle();
        auto* settings = qobject_cast<H264ConfigDialog*>(&modal);
        ASSERT_NE(settings, nullptr);
        settings->constantQualityButton()->setChecked(true);
        settings->qualitySpinBox()->setValue(21);
        modal.accept();
    });
    QTest::mouseClick(dialog->configureButton(), Qt::LeftButton);
    EXPECT_EQ(shownTitle, QStringLiteral("H.264 Settings"));
    const CodecEntry* entry = store->findCodec(kH264CodecName);
    ASSERT_TRUE(entry->state.has_value());
    const std::optional<H264Settings> stored = parseH264Settings(*entry->state);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->rateControl, H264RateControl::ConstantQuality);
    EXPECT_EQ(stored->constantQuality, 21);

    // Cancel leaves the block alone.
    const std::vector<std::uint8_t> before = *entry->state;
    answerNextModal([](QDialog& modal) { modal.reject(); });
    QTest::mouseClick(dialog->configureButton(), Qt::LeftButton);
    EXPECT_EQ(*entry->state, before);

    // The Xvid codec offers the three AVI rates and the selection falls back to the first.
    const int xvid = dialog->codecCombo()->findText(QString::fromLatin1(kXvid));
    ASSERT_GE(xvid, 0);
    dialog->codecCombo()->setCurrentIndex(xvid);
    Q_EMIT dialog->codecCombo()->activated(xvid);
    EXPECT_EQ(dialog->frameRateCombo()->count(), 3);
    EXPECT_EQ(dialog->frameRateCombo()->currentIndex(), 0);
}

}  // namespace
}  // namespace kestrelle
