#include "app/ui/desktop_service_impls.h"

#include "app/ui/job_completion_actions.h"
#include "media/wave_file.h"
#include "tests/support/temp_home.h"

#include <QDBusConnection>
#include <QUrl>

#include <cstdlib>
#include <string>

namespace kestrelle {
namespace {

// The test entry point points both buses at nothing; these tests rely on it never to reach a real bus.
// The check returns its verdict so that a caller stops before any call that could reach a real bus
// (a failed ASSERT inside a helper would only leave the helper).
bool pointsAtNothing(const char* variable) {
    const char* address = std::getenv(variable);
    return address != nullptr && std::string(address).find("/nonexistent/") != std::string::npos;
}

::testing::AssertionResult noBus() {
    for (const char* variable : {"DBUS_SYSTEM_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS"}) {
        if (!pointsAtNothing(variable)) {
            return ::testing::AssertionFailure() << variable << " does not point at a missing bus";
        }
    }
    if (QDBusConnection::systemBus().isConnected()) {
        return ::testing::AssertionFailure() << "the system bus is connected";
    }
    if (QDBusConnection::sessionBus().isConnected()) {
        return ::testing::AssertionFailure() << "the session bus is connected";
    }
    return ::testing::AssertionSuccess();
}

// Restores one environment variable when it goes out of scope.
class SavedVariable {
public:
    explicit SavedVariable(const char* name) : name_(name) {
        if (const char* value = std::getenv(name)) {
            value_ = value;
            had_ = true;
        }
    }
    ~SavedVariable() {
        if (had_) {
            setenv(name_, value_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    SavedVariable(const SavedVariable&) = delete;
    SavedVariable& operator=(const SavedVariable&) = delete;

private:
    const char* name_;
    std::string value_;
    bool had_ = false;
};

// The guard refuses an address that could lead to a real bus, and an unset one, for either bus
// (without connecting: the check on the address comes first).
TEST(NoBusGuard, RefusesAnyAddressThatCouldReachARealBus) {
    ASSERT_TRUE(noBus());
    for (const char* variable : {"DBUS_SYSTEM_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS"}) {
        SavedVariable saved(variable);
        setenv(variable, "unix:path=/run/dbus/system_bus_socket", 1);
        EXPECT_FALSE(noBus()) << variable;
        unsetenv(variable);
        EXPECT_FALSE(noBus()) << variable;
    }
    EXPECT_TRUE(noBus());
}

TEST(DesktopMessages, PowerOffAsksLogindInteractively) {
    const QDBusMessage message = powerOffMessage();
    EXPECT_EQ(message.type(), QDBusMessage::MethodCallMessage);
    EXPECT_EQ(message.service(), QStringLiteral("org.freedesktop.login1"));
    EXPECT_EQ(message.path(), QStringLiteral("/org/freedesktop/login1"));
    EXPECT_EQ(message.interface(), QStringLiteral("org.freedesktop.login1.Manager"));
    EXPECT_EQ(message.member(), QStringLiteral("PowerOff"));
    ASSERT_EQ(message.arguments().size(), 1);
    EXPECT_EQ(message.arguments()[0].metaType(), QMetaType::fromType<bool>());
    EXPECT_TRUE(message.arguments()[0].toBool());
    EXPECT_TRUE(message.isInteractiveAuthorizationAllowed());
}

// The path travels as one encoded file URI, whatever blanks, quotes or other characters it holds.
TEST(DesktopMessages, ShowItemsCarriesTheExactFileAsAnUri) {
    const std::string file = "/home/ann/My Videos/say \"hi\" it's 50% #1.avi";
    const QDBusMessage message = showItemsMessage(file);
    EXPECT_EQ(message.service(), QStringLiteral("org.freedesktop.FileManager1"));
    EXPECT_EQ(message.path(), QStringLiteral("/org/freedesktop/FileManager1"));
    EXPECT_EQ(message.interface(), QStringLiteral("org.freedesktop.FileManager1"));
    EXPECT_EQ(message.member(), QStringLiteral("ShowItems"));
    ASSERT_EQ(message.arguments().size(), 2);
    const QStringList uris = message.arguments()[0].toStringList();
    ASSERT_EQ(uris.size(), 1);
    EXPECT_EQ(uris[0],
              QStringLiteral("file:///home/ann/My%20Videos/say%20%22hi%22%20it's%2050%25%20%231.avi"));
    EXPECT_EQ(QUrl(uris[0]).toLocalFile().toStdString(), file);
    EXPECT_EQ(message.arguments()[1].toString(), QString());
    EXPECT_EQ(containingFolderUrl(file).toLocalFile(), QStringLiteral("/home/ann/My Videos"));
}

// A name that is not UTF-8 reaches the file manager with its own bytes, not a replacement character.
TEST(DesktopMessages, NamesThatAreNotUtf8KeepTheirBytes) {
    const std::string file = "/srv/caf\xE9/Trip \xE9t\xE9.avi";
    const QStringList uris = showItemsMessage(file).arguments()[0].toStringList();
    ASSERT_EQ(uris.size(), 1);
    EXPECT_EQ(uris[0], QStringLiteral("file:///srv/caf%E9/Trip%20%E9t%E9.avi"));
    EXPECT_EQ(containingFolderUrl(file).toString(QUrl::FullyEncoded), QStringLiteral("file:///srv/caf%E9"));
}

// Without any bus: the folder opens through the desktop's URL handler, and nothing is powered off.
TEST(DesktopServices, WithoutDBusTheFolderOpensAndPowerOffIsRefused) {
    // Stops here, before the power-off call below, unless both buses point at nothing.
    ASSERT_TRUE(noBus());
    std::vector<QUrl> opened;
    DesktopFileRevealer revealer([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    EXPECT_TRUE(revealer.revealFile("/srv/out/My Video.avi"));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toLocalFile(), QStringLiteral("/srv/out"));

    DesktopFileRevealer failing([](const QUrl&) { return false; });
    EXPECT_FALSE(failing.revealFile("/srv/out/My Video.avi"));

    LogindPowerControl power;
    EXPECT_FALSE(power.powerOff());
}

// A finish sound that is missing, empty, damaged or not PCM beeps instead (without touching an audio
// device).
class FinishSoundTest : public testing::TempHomeTest {};

TEST_F(FinishSoundTest, UnplayableFilesBeep) {
    ASSERT_TRUE(testing::writeFile(path("empty.wav"), ""));
    ASSERT_TRUE(testing::writeFile(path("text.wav"), "this is no sound at all, only words"));
    ASSERT_TRUE(testing::writeFile(path("cut.wav"), std::string("RIFF\x24\x10\0\0WAVEfmt ", 16)));
    int beeps = 0;
    QtSoundPlayer player([&] { ++beeps; });
    for (const char* name : {"missing.wav", "empty.wav", "text.wav", "cut.wav"}) {
        const int before = beeps;
        player.playFile(path(name));
        EXPECT_EQ(beeps, before + 1) << name;
    }
}

// The shipped finish sound lies beside the program and is a PCM WAV the player accepts.
TEST(FinishSound, ShippedBesideTheProgramAsPcm) {
    WaveFile wave;
    ASSERT_EQ(wave.open(finishSoundPath()), WaveOpenResult::Ok) << finishSoundPath();
    EXPECT_EQ(wave.format().formatTag, 1);
    EXPECT_TRUE(wave.hasSamples());
    EXPECT_GT(wave.durationSeconds(), 0.2);
    EXPECT_LT(wave.durationSeconds(), 3.0);
}

}  // namespace
}  // namespace kestrelle
