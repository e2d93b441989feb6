#include "app/ui/job_completion_actions.h"

#include "app/ui/shutdown_countdown_dialog.h"
#include "base/data_folder.h"
#include "base/message_box.h"
#include "config/desktop_services.h"
#include "config/settings_store.h"
#include "tests/support/temp_home.h"

#include <QFileInfo>
#include <QPushButton>
#include <QTest>

#include <string>
#include <vector>

namespace kestrelle {
namespace {

// Everything the completion actions reach, recorded in one ordered list of events.
struct Desk final : FileRevealer, PowerControl, SoundPlayer, MessagePresenter {
    bool revealFile(const std::string& filePath) override {
        events.push_back("reveal " + filePath);
        return true;
    }
    bool powerOff() override {
        // What was on disk when the power-off was asked for.
        events.push_back(QFileInfo::exists(QString::fromStdString(settingsFile))
                             ? "power off, settings saved"
                             : "power off, settings not saved");
        return powerAccepted;
    }
    void playFile(const std::string& wavPath) override { events.push_back("play " + wavPath); }
    int show(const std::string& text, unsigned flags) override {
        events.push_back("ask " + text + (flags == MessageFlags::kWarningYesNo ? " [yes/no]" : ""));
        return answer;
    }

    std::vector<std::string> events;
    std::string settingsFile;
    bool powerAccepted = true;
    int answer = MessageAnswer::kNo;
};

const std::string kQuestion =
    "ask Output file completed. Do you want to open the destination folder? [yes/no]";

class JobCompletionTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        store.resetToDefaults();
        desk.settingsFile = store.settingsFilePath();
        setMessagePresenter(&desk);
    }
    void TearDown() override {
        setMessagePresenter(nullptr);
        TempHomeTest::TearDown();
    }

    void complete(JobCompletionActions::CountdownRunner runner = {}) {
        if (!runner)
            runner = [](ShutdownCountdownDialog&) -> bool {
                ADD_FAILURE() << "no countdown expected";
                return false;
            };
        JobCompletionActions actions(store, desk, desk, desk, runner);
        actions.generationCompleted(aviPath, nullptr);
    }

    SettingsStore store;
    Desk desk;
    const std::string aviPath = "/videos/My \"Summer\" 2026/it's done.avi";
};

// Without ShutDown: the sound (when PlaySound is on), then the question; Yes hands the exact path to
// the file manager, No does nothing more.
TEST_F(JobCompletionTest, SoundThenTheOpenFolderQuestion) {
    const std::string sound = "play " + programFolder() + "/finish.wav";
    struct Case {
        int playSound;
        int answer;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {1, MessageAnswer::kNo, {sound, kQuestion}},
        {1, MessageAnswer::kYes, {sound, kQuestion, "reveal " + aviPath}},
        {0, MessageAnswer::kYes, {kQuestion, "reveal " + aviPath}},
    };
    for (const Case& c : cases) {
        desk.events.clear();
        store.settings().PlaySound = c.playSound;
        desk.answer = c.answer;
        complete();
        EXPECT_EQ(desk.events, c.events) << "PlaySound " << c.playSound << ", answer " << c.answer;
    }
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(desk.settingsFile)));
}

// With ShutDown: the countdown runs from 60 to 0 by its tick slot and then ends as "shut down"; the
// settings are saved before the power-off is asked for; no question.
TEST_F(JobCompletionTest, CountdownRunningOutSavesSettingsThenPowersOff) {
    store.settings().ShutDown = 1;
    std::vector<QString> texts;
    complete([&](ShutdownCountdownDialog& dialog) {
        dialog.stopTimer();
        texts.push_back(dialog.countdownText());
        for (int tick = 0; tick < 60; ++tick) {
            dialog.tick();
            texts.push_back(dialog.countdownText());
        }
        EXPECT_EQ(dialog.result(), 0);  // still open at "0 seconds"
        dialog.tick();
        return dialog.result() == QDialog::Accepted;
    });
    ASSERT_EQ(texts.size(), 61u);
    EXPECT_EQ(texts.front(), QStringLiteral("60 seconds to shut down computer."));
    EXPECT_EQ(texts[1], QStringLiteral("59 seconds to shut down computer."));
    EXPECT_EQ(texts.back(), QStringLiteral("0 seconds to shut down computer."));
    EXPECT_EQ(desk.events, (std::vector<std::string>{"play " + programFolder() + "/finish.wav",
                                                     "power off, settings saved"}));
    EXPECT_NE(testing::readFile(desk.settingsFile).find("<ShutDown>1</ShutDown>"), std::string::npos);
}

// "Abort" (or Escape) at any time: no power-off, the settings are not saved, no question. A refused
// power-off is not shown to the user either.
TEST_F(JobCompletionTest, AbortNeverPowersOffAndRefusalIsSilent) {
    store.settings().ShutDown = 1;
    store.settings().PlaySound = 0;
    for (int key : {0, int(Qt::Key_Escape)}) {
        desk.events.clear();
        complete([&](ShutdownCountdownDialog& dialog) {
            dialog.stopTimer();
            dialog.tick();
            if (key)
                QTest::keyClick(&dialog, Qt::Key(key));
            else
                dialog.findChildren<QPushButton*>().back()->click();  // "Abort"
            return dialog.result() == QDialog::Accepted;
        });
        EXPECT_TRUE(desk.events.empty()) << key;
    }
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(desk.settingsFile)));

    desk.powerAccepted = false;
    complete([](ShutdownCountdownDialog& dialog) {
        dialog.findChildren<QPushButton*>().front()->click();  // "Now"
        return dialog.result() == QDialog::Accepted;
    });
    EXPECT_EQ(desk.events, std::vector<std::string>{"power off, settings saved"});
}

TEST(ShutdownCountdown, LayoutTextsAndButtons) {
    ShutdownCountdownDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Shutting Down"));
    EXPECT_EQ(dialog.secondsLeft(), 60);
    const auto buttons = dialog.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_EQ(buttons[0]->text(), QStringLiteral("Now"));
    EXPECT_TRUE(buttons[0]->isDefault());
    EXPECT_EQ(buttons[1]->text(), QStringLiteral("Abort"));
}

}  // namespace
}  // namespace kestrelle
