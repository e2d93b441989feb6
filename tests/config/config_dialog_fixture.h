#pragma once
// The configuration dialog's tests: a store with two codecs and named profiles whose files exist,
// questions answered from a script, and the bytes of every settings and profile file for before and
// after comparisons.

#include "base/data_folder.h"
#include "base/message_box.h"
#include "config/settings_store.h"
#include "tests/config/config_fixture.h"

#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestrelle::testing {

// Answers questions in order (No once the script runs out) and records every text shown.
class ScriptedPresenter : public MessagePresenter {
public:
    int show(const std::string& text, unsigned flags) override {
        shown.push_back(text);
        flagsShown.push_back(flags);
        if (flags != MessageFlags::kWarningYesNo) return MessageAnswer::kOk;
        if (answers.empty()) return MessageAnswer::kNo;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::deque<int> answers;
    std::vector<std::string> shown;
    std::vector<unsigned> flagsShown;
};

class ConfigDialogTest : public ConfigTest {
protected:
    static constexpr const char* kXvid = "Xvid MPEG-4 Codec";
    static constexpr const char* kDivx = "DivX 5.0";

    void SetUp() override {
        ConfigTest::SetUp();
        setMessagePresenter(&presenter);
        store = std::make_unique<SettingsStore>(&provider);
        store->listCodecs();
        store->load();
    }
    void TearDown() override {
        store.reset();
        setMessagePresenter(nullptr);
        ConfigTest::TearDown();
    }

    // Adds profiles in this order and writes every file, as a previous run would have left them.
    void useProfiles(const std::vector<OutputProfile>& profiles) {
        for (const OutputProfile& profile : profiles) store->addProfile(profile);
        ASSERT_TRUE(store->save());
    }
    static OutputProfile profile(const std::string& name, const std::string& codec = kXvid) {
        OutputProfile p;
        p.name = name;
        p.CodecName = codec;
        p.AudioBR = 5;
        p.FrameRate = 1;
        return p;
    }
    void useThreeProfiles() { useProfiles({profile("Alpha"), profile("Beta", kDivx), profile("Gamma")}); }

    std::string settingsBytes() const { return readFile(store->settingsFilePath()); }
    std::string profileBytes(const std::string& name) const {
        return readFile(profileDir() + "/" + name + ".ipf");
    }
    // Every file of the data folder that the dialog may write: name -> bytes.
    std::map<std::string, std::string> allFiles() const {
        std::map<std::string, std::string> files;
        files["settings.ini"] = settingsBytes();
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(profileDir(), ec))
            files[entry.path().filename().string()] = readFile(entry.path().string());
        return files;
    }

    FakeProvider provider{
        {FakeSpec{kXvid, makeFourCC('X', 'V', 'I', 'D')}, FakeSpec{kDivx, makeFourCC('D', 'X', '5', '0')}}};
    ScriptedPresenter presenter;
    std::unique_ptr<SettingsStore> store;
};

// The lines of a profile file as this program writes them.
inline std::string profileFileText(int width, int height, int videoBitRate, int audioIndex, int frameRate,
                                   const std::string& codec) {
    auto line = [](const std::string& tag, const std::string& value) {
        return value.empty() ? "<" + tag + "/>\r\n" : "<" + tag + ">" + value + "</" + tag + ">\r\n";
    };
    return "<Profile>\r\n" + line("ResWidth", std::to_string(width)) +
           line("ResHeight", std::to_string(height)) + line("AspectRatio", "0") +
           line("VideoBR", std::to_string(videoBitRate)) + line("AudioBR", std::to_string(audioIndex)) +
           line("FrameRate", std::to_string(frameRate)) + line("CodecName", codec) +
           line("CodecSettings", "") + "</Profile>\r\n";
}

}  // namespace kestrelle::testing
