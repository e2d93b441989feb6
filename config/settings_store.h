#pragma once
// The process-wide settings store: the user's settings (settings.ini), the output profiles (one .ipf
// file each) and the codec list. Reached through SettingsStore::instance(); saved once at exit.

#include "config/codec_list.h"
#include "config/combo_sink.h"
#include "config/output_profile.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrelle {

class XmlDocument;

// Transition effect numbers a slide may carry: 1..12 name an effect, 0 asks for a random one.
constexpr int kHighestEffectNumber = 12;
constexpr bool isEffectNumber(int number) {
    return number >= 0 && number <= kHighestEffectNumber;
}

// The motion new photo slides get: none (the photo stands still) or a gentle random pan or zoom chosen
// per slide.
enum class NewSlideMotion { None = 0, GentleRandom = 1 };
constexpr int kHighestNewSlideMotion = 1;
// How new photo slides fill the frame: the whole photo with bars, cropped to fill it, or the whole photo
// over a blurred, enlarged copy of itself.
enum class NewSlideFit { Letterbox = 0, Fill = 1, BlurredBackground = 2 };
constexpr int kHighestNewSlideFit = 2;

struct AppSettings {
    std::string ThemePath;                 // carried
    std::string TargetPath;                // folder receiving the output file
    std::string DefaultSelectedDirectory;  // folder last selected in the folder tree
    int PlaySound = 1;
    int ShutDown = 0;
    int RipVolume = 0;  // carried
    double DefaultSlideDuration = 3.0;
    double DefaultTransitionDuration = 3.0;
    int DefaultSlideIndex = 0;  // always an effect number (isEffectNumber)
    std::string CurrentProfile = "Normal Quality(.avi)";
    int TargetChanged = 0;
    int PreviewVolume = -5000;  // carried
    int StandardSkin = 0;       // carried
    // Seconds of the crossfade between soundtrack clips and of the music's fade-out at the show's end
    // (0 to 10; 0 joins clips directly and cuts the music at the end).
    double AudioFadeSeconds = 2.0;
    // The look of new photo slides. The defaults draw every new slide still and letterboxed, small photos
    // at their own size, as slides were always drawn.
    NewSlideMotion NewSlideMotionKind = NewSlideMotion::None;
    NewSlideFit NewSlideFitKind = NewSlideFit::Letterbox;
    bool EnlargeSmallPhotos = false;
};

// The longest music crossfade and fade-out the settings take, in seconds.
constexpr double kMaxAudioFadeSeconds = 10.0;
// A typed or stored music fade: the whole text (blanks around it aside) a decimal number, which is
// brought into 0..kMaxAudioFadeSeconds; none for anything else (empty, junk, not finite).
std::optional<double> audioFadeFromText(const std::string& text);
// A stored choice: the whole text (blanks around it aside) a decimal number from 0 to `highest`; none for
// anything else (empty, junk, a sign, out of range).
std::optional<int> choiceFromText(const std::string& text, int highest);

class SettingsStore {
public:
    // The one store of the process. The first call lists the codecs and loads settings and profiles.
    static SettingsStore& instance();
    // Saves the store when instance() was ever called; the application and the renderer call this once
    // as they end.
    static void saveAtExit();

    // A store with default settings, no codecs and no profiles, and nothing read yet (tests and tools;
    // the program uses instance()). The provider (nullptr: the installed compressors) must outlive it.
    explicit SettingsStore(const CompressorProvider* provider = nullptr);

    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // Every field to its default, no profiles, and the settings file path worked out again.
    void resetToDefaults();
    // Defaults, then settings.ini, the target folder fix-up and the profile files.
    void load();
    // settings.ini, then every profile file. False when any file could not be written (each file is
    // replaced whole or not at all).
    bool save();

    AppSettings& settings() { return settings_; }
    const AppSettings& settings() const { return settings_; }
    const std::string& settingsFilePath() const { return settingsFilePath_; }

    std::string targetPath() const { return settings_.TargetPath; }
    void setTargetPath(const std::string& path) { settings_.TargetPath = path; }
    std::string outputName() const { return outputName_; }
    void setOutputName(const std::string& name) { outputName_ = name; }
    void setDefaultSelectedDirectory(const std::string& path) { settings_.DefaultSelectedDirectory = path; }

    // --- Profiles (names compare without regard to letter case) ---
    int profileCount() const { return static_cast<int>(profiles_.size()); }
    // The profile at i; the first one when i is outside the list; nullptr for an empty list.
    OutputProfile* profileAt(int i);
    const OutputProfile* profileAt(int i) const;
    // The first profile named CurrentProfile; 0 when none is.
    int currentProfileIndex() const;
    OutputProfile* currentProfile() { return profileAt(currentProfileIndex()); }
    const OutputProfile* currentProfile() const { return profileAt(currentProfileIndex()); }
    // CurrentProfile becomes profile i's name (the first profile's for i outside the list).
    void selectProfile(int i);
    OutputProfile* findProfile(const std::string& name);
    const OutputProfile* findProfile(const std::string& name) const;
    bool profileExists(const std::string& name) const { return findProfile(name) != nullptr; }
    void addProfile(const OutputProfile& profile);
    // Removes the first profile of that name and deletes its file; returns whether the file was deleted.
    bool deleteProfile(const std::string& name);
    void fillProfileCombo(ComboSink& combo) const;

    // Reads a profile from a loaded document and settles its codec against the codec list.
    bool readProfile(XmlDocument& document, OutputProfile& profile) const;
    static void writeProfile(const OutputProfile& profile, XmlDocument& document);
    // Writes one profile's file (a new profile is written at once); false for an unusable name or a
    // failed write.
    bool writeProfileFile(const OutputProfile& profile) const;
    void loadProfiles();
    bool saveProfiles() const;

    // --- Codecs ---
    CodecList& codecs() { return codecs_; }
    const CodecList& codecs() const { return codecs_; }
    void listCodecs() { codecs_.listCodecs(); }
    void fillCodecCombo(ComboSink& combo) const { codecs_.fillCodecCombo(combo); }
    const CodecEntry* findCodec(const std::string& name) const { return codecs_.findCodec(name); }
    CodecEntry* findCodec(const std::string& name) { return codecs_.findCodec(name); }
    bool isCodecInstalled(const std::string& name) const { return codecs_.isCodecInstalled(name); }
    const CodecEntry* firstCodec() const { return codecs_.firstCodec(); }
    // The codec named by the current profile, or nullptr.
    const CodecEntry* codecForCurrentProfile() const;
    CodecEntry* codecForCurrentProfile();
    bool configureCodec(CodecEntry& entry, QObject* parentWindow) {
        return codecs_.configureCodec(entry, parentWindow);
    }

private:
    void readSettingsDocument(XmlDocument& document);
    void fixUpTargetPath();

    AppSettings settings_;
    std::string settingsFilePath_;
    std::string outputName_;
    std::vector<OutputProfile> profiles_;
    CodecList codecs_;
};

}  // namespace kestrelle
