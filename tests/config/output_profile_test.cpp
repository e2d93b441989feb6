#include "config/output_profile.h"
#include "base/data_folder.h"
#include "base/xml_document.h"
#include "config/settings_store.h"
#include "tests/config/config_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace kestrelle {
namespace {

using testing::readFile;
using testing::RecordingCombo;
using testing::writeFile;
namespace fs = std::filesystem;

const std::string kExampleIpf =
    "<Profile>\r\n<ResWidth>320</ResWidth>\r\n<ResHeight>240</ResHeight>\r\n<AspectRatio>0</AspectRatio>\r\n"
    "<VideoBR>448</VideoBR>\r\n<AudioBR>64</AudioBR>\r\n<FrameRate>0</FrameRate>\r\n"
    "<CodecName>Xvid MPEG-4 Codec</CodecName>\r\n<CodecSettings/>\r\n</Profile>\r\n";

std::string ipf(const std::string& body) {
    return "<Profile>\r\n" + body + "</Profile>\r\n";
}

class ProfileTest : public testing::ConfigTest {
protected:
    void SetUp() override {
        ConfigTest::SetUp();
        fs::create_directories(profileDir());
    }
    void put(const std::string& fileName, const std::string& bytes) {
        ASSERT_TRUE(writeFile(profileDir() + "/" + fileName, bytes));
    }
    // A store over the fake codecs, loaded from the private home.
    std::unique_ptr<SettingsStore> loadedStore(const CompressorProvider& provider) {
        auto store = std::make_unique<SettingsStore>(&provider);
        store->listCodecs();
        store->load();
        return store;
    }
    std::vector<std::string> names(const SettingsStore& store) {
        RecordingCombo combo;
        store.fillProfileCombo(combo);
        return combo.items;
    }
    testing::FakeProvider codecs_{
        {{"Xvid MPEG-4 Codec", makeFourCC('X', 'V', 'I', 'D')}, {"DivX 5", makeFourCC('D', 'X', '5', '0')}}};
};

TEST_F(ProfileTest, WrittenFileMatchesTheLayoutByteForByteAndRereadsIdentically) {
    OutputProfile fresh;
    EXPECT_EQ(fresh.ResWidth, 320);
    EXPECT_EQ(fresh.AudioBR, 64);
    fresh.name = "Example";
    fresh.CodecName = "Xvid MPEG-4 Codec";
    XmlDocument doc;
    doc.setDoc("");
    SettingsStore::writeProfile(fresh, doc);
    EXPECT_EQ(doc.docText(), kExampleIpf);

    SettingsStore store(&codecs_);
    store.addProfile(fresh);
    ASSERT_TRUE(store.save());
    EXPECT_EQ(readFile(profileDir() + "/Example.ipf"), kExampleIpf);

    auto back = loadedStore(codecs_);
    ASSERT_EQ(back->profileCount(), 1);
    back->save();
    EXPECT_EQ(readFile(profileDir() + "/Example.ipf"), kExampleIpf);
}

TEST_F(ProfileTest, ShippedProfilesReadBackUnchangedAndHoldTheDefaultProfile) {
    const std::string shipped = programFolder() + "/Profile";
    ASSERT_TRUE(fs::is_directory(shipped)) << shipped;
    bool normal = false, hd = false, fullHd = false;
    for (const auto& entry : fs::directory_iterator(shipped)) {
        const std::string bytes = readFile(entry.path().string());
        XmlDocument doc;
        doc.setDoc(bytes);
        OutputProfile p;
        ASSERT_TRUE(readProfileElements(doc, p)) << entry.path();
        // The MP4 profiles name the H.264 codec, every other one the Xvid compressor.
        const bool mp4 = entry.path().stem().string().find("(.mp4)") != std::string::npos;
        EXPECT_EQ(p.CodecName, mp4 ? "H.264 (MP4)" : "Xvid MPEG-4 Codec") << entry.path();
        XmlDocument rewritten;
        rewritten.setDoc("");
        writeProfile(p, rewritten);
        EXPECT_EQ(rewritten.docText(), bytes) << entry.path();
        const std::string title = entry.path().stem().string();
        normal |= title == AppSettings().CurrentProfile;
        hd |= p.ResWidth == 1280 && p.ResHeight == 720;
        fullHd |= p.ResWidth == 1920 && p.ResHeight == 1080;
    }
    EXPECT_TRUE(normal);
    EXPECT_TRUE(hd);
    EXPECT_TRUE(fullHd);
}

TEST_F(ProfileTest, ListOperationsCompareNamesWithoutCase) {
    put("a.ipf", kExampleIpf);
    put("b.ipf", kExampleIpf);
    auto store = loadedStore(codecs_);
    ASSERT_EQ(store->profileCount(), 2);
    const int b = store->profileAt(0)->name == "b" ? 0 : 1;

    store->settings().CurrentProfile = "B";
    EXPECT_EQ(store->currentProfileIndex(), b);
    EXPECT_EQ(store->currentProfile()->name, "b");
    store->settings().CurrentProfile = "nothing";
    EXPECT_EQ(store->currentProfileIndex(), 0);

    EXPECT_EQ(store->profileAt(-1), store->profileAt(0));
    EXPECT_EQ(store->profileAt(2), store->profileAt(0));
    store->selectProfile(1);
    EXPECT_EQ(store->settings().CurrentProfile, store->profileAt(1)->name);
    store->selectProfile(-1);  // a combo without selection
    EXPECT_EQ(store->settings().CurrentProfile, store->profileAt(0)->name);

    EXPECT_TRUE(store->profileExists("A"));
    EXPECT_EQ(store->findProfile("A")->name, "a");
    EXPECT_FALSE(store->profileExists("c"));

    OutputProfile c;
    c.name = "c";
    store->addProfile(c);
    RecordingCombo combo;
    combo.addItem("kept");
    store->fillProfileCombo(combo);
    ASSERT_EQ(combo.items.size(), 4u);
    EXPECT_EQ(combo.items[0], "kept");
    EXPECT_EQ(combo.items[3], "c");

    EXPECT_FALSE(store->deleteProfile("zzz"));
    EXPECT_EQ(store->profileCount(), 3);
    const std::string survivor = store->profileAt(b == 0 ? 1 : 0)->name;  // "a"
    EXPECT_TRUE(store->deleteProfile("B"));
    EXPECT_FALSE(fs::exists(profileDir() + "/b.ipf"));
    EXPECT_TRUE(fs::exists(profileDir() + "/a.ipf"));
    EXPECT_EQ(names(*store), (std::vector<std::string>{survivor, "c"}));
    EXPECT_FALSE(store->deleteProfile("c"));  // listed but never written: no file to delete
    EXPECT_TRUE(store->deleteProfile("a"));
    EXPECT_EQ(store->profileCount(), 0);
    EXPECT_EQ(store->currentProfile(), nullptr);
    EXPECT_EQ(store->codecForCurrentProfile(), nullptr);
    store->settings().CurrentProfile = "kept";
    store->selectProfile(0);  // empty list: nothing changes
    EXPECT_EQ(store->settings().CurrentProfile, "kept");
}

TEST_F(ProfileTest, ElementsAreFoundForwardOnlyAndCodecsSettleOnTheList) {
    put("order.ipf", ipf("<VideoBR>999</VideoBR>\r\n<ResWidth>640</ResWidth>\r\n<FrameRate>7</FrameRate>\r\n"
                         "<CodecName>DivX 5</CodecName>\r\n<CodecSettings>a&amp;b</CodecSettings>\r\n"));
    put("unknown.ipf", ipf("<ResHeight>480</ResHeight>\r\n<CodecName>No Such Codec</CodecName>\r\n"
                           "<CodecSettings>x</CodecSettings>\r\n"));
    put("nocodec.ipf", ipf("<AudioBR>3</AudioBR>\r\n"));
    put("case.ipf", ipf("<CodecName>xvid mpeg-4 codec</CodecName>\r\n"));
    auto store = loadedStore(codecs_);
    ASSERT_EQ(store->profileCount(), 4);

    const OutputProfile* order = store->findProfile("order");
    EXPECT_EQ(order->ResWidth, 640);
    EXPECT_EQ(order->VideoBR, 448);  // before ResWidth: keeps its default
    EXPECT_EQ(order->FrameRate, 7);
    EXPECT_EQ(order->CodecName, "DivX 5");
    EXPECT_EQ(order->CodecSettings, "a&b");

    const OutputProfile* unknown = store->findProfile("unknown");
    EXPECT_EQ(unknown->ResHeight, 480);
    EXPECT_EQ(unknown->CodecName, "Xvid MPEG-4 Codec");
    EXPECT_EQ(unknown->CodecSettings, "");
    EXPECT_EQ(store->findProfile("nocodec")->CodecName, "Xvid MPEG-4 Codec");
    EXPECT_EQ(store->findProfile("nocodec")->AudioBR, 3);
    EXPECT_EQ(store->findProfile("case")->CodecName, "xvid mpeg-4 codec");

    store->settings().CurrentProfile = "order";
    ASSERT_NE(store->codecForCurrentProfile(), nullptr);
    EXPECT_EQ(store->codecForCurrentProfile()->handler, makeFourCC('D', 'X', '5', '0'));

    // Without any usable codec every profile names none.
    testing::FakeProvider none({});
    auto bare = loadedStore(none);
    for (int i = 0; i < bare->profileCount(); ++i) {
        EXPECT_EQ(bare->profileAt(i)->CodecName, "");
        EXPECT_EQ(bare->profileAt(i)->CodecSettings, "");
    }
}

TEST_F(ProfileTest, HostileProfileFilesAreSkippedOrDefaulted) {
    std::string binary;
    for (int i = 0; i < 2048; ++i) binary.push_back(static_cast<char>((i * 77 + 3) & 0xFF));
    std::string huge = ipf("<ResWidth>1</ResWidth>\r\n");
    huge.append(2 * 1024 * 1024, '\n');
    put("empty.ipf", "");
    put("binary.ipf", binary);
    put("huge.ipf", huge);
    put("noroot.ipf", "<Other><ResWidth>5</ResWidth></Other>");
    put("junk.ipf", "<Profile><ResWidth>12abc</ResWidth><ResHeight>-99999999999</ResHeight></Profile>");
    // Unended: its children become its siblings, so nothing is read from them.
    put("unended.ipf", "<Profile><ResWidth>12</ResWidth>");
    put(".ipf", kExampleIpf);       // no title
    put("notes.txt", kExampleIpf);  // not a profile
    put("Upper.IPF", kExampleIpf);  // the extension in capitals still counts
    put("we ird & <name> é.ipf", kExampleIpf);
    fs::create_directories(profileDir() + "/folder.ipf");
    auto store = loadedStore(codecs_);
    std::vector<std::string> loaded = names(*store);
    std::sort(loaded.begin(), loaded.end());
    EXPECT_EQ(loaded, (std::vector<std::string>{"Upper", "junk", "unended", "we ird & <name> é"}));
    EXPECT_EQ(store->findProfile("unended")->ResWidth, 320);
    const OutputProfile* junk = store->findProfile("junk");
    EXPECT_EQ(junk->ResWidth, 12);
    EXPECT_EQ(junk->ResHeight, -2147483647 - 1);
    EXPECT_EQ(junk->CodecName, "Xvid MPEG-4 Codec");

    // Saving keeps every name as its file name.
    ASSERT_TRUE(store->save());
    EXPECT_EQ(readFile(profileDir() + "/we ird & <name> é.ipf"), kExampleIpf);
    EXPECT_EQ(readFile(profileDir() + "/huge.ipf"), huge);  // not ours to rewrite: it was not loaded
}

TEST_F(ProfileTest, ANameInAnotherByteEncodingIsListedOpenedAndSaved) {
    put("A.ipf", kExampleIpf);
    put("B.ipf", kExampleIpf);
    put("C.ipf", kExampleIpf);
    put("Caf\xe9.ipf", ipf("<ResWidth>720</ResWidth>\r\n"));
    auto store = loadedStore(codecs_);
    ASSERT_EQ(store->profileCount(), 4);
    const OutputProfile* latin1 = store->findProfile("Caf\xe9");
    ASSERT_NE(latin1, nullptr);
    EXPECT_EQ(latin1->ResWidth, 720);
    ASSERT_TRUE(store->save());
    EXPECT_NE(readFile(profileDir() + "/Caf\xe9.ipf").find("<ResWidth>720</ResWidth>"), std::string::npos);
    EXPECT_TRUE(store->deleteProfile("Caf\xe9"));
    EXPECT_FALSE(fs::exists(profileDir() + "/Caf\xe9.ipf"));
}

TEST_F(ProfileTest, NamesThatAreNoFileNameNeverLeaveTheProfileFolder) {
    SettingsStore store(&codecs_);
    for (const char* bad : {"../escape", "a/b", "..", ".", ""}) {
        OutputProfile p;
        p.name = bad;
        EXPECT_FALSE(store.writeProfileFile(p)) << bad;
    }
    OutputProfile p;
    p.name = "../escape";
    store.addProfile(p);
    EXPECT_FALSE(store.save());
    EXPECT_FALSE(fs::exists(dataFolder() + "/escape.ipf"));
    EXPECT_FALSE(store.deleteProfile("../escape"));
    EXPECT_EQ(store.profileCount(), 0);
}

TEST_F(ProfileTest, EachLoadedTitleIsLogged) {
    put("Logged One.ipf", kExampleIpf);
    auto store = loadedStore(codecs_);
    const std::string log = readFile(dataFolder() + "/run.log");
    EXPECT_NE(log.find("\tConfigSet.cpp,"), std::string::npos) << log;
    EXPECT_NE(log.find("|Logged One\r\n"), std::string::npos) << log;
}

TEST_F(ProfileTest, WithoutDataFolderProfilesLiveInTheRelativeFolder) {
    loseDataFolder(path("cwd"));
    EXPECT_EQ(profileFolder(), ".//Profile//");
    fs::create_directories(path("cwd/Profile"));
    writeFile(path("cwd/Profile/rel.ipf"), kExampleIpf);
    auto store = loadedStore(codecs_);
    ASSERT_EQ(store->profileCount(), 1);
    EXPECT_TRUE(store->deleteProfile("rel"));
    EXPECT_FALSE(fs::exists(path("cwd/Profile/rel.ipf")));
}

}  // namespace
}  // namespace kestrelle
