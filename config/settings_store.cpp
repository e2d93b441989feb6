#include "config/settings_store.h"

#include "base/data_folder.h"
#include "base/file_replace.h"
#include "base/run_log.h"
#include "base/text_numbers.h"
#include "base/xml_document.h"

#include <QDir>
#include <QStandardPaths>
#include <QString>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace kestrelle {

namespace {

// The run log names this module so.
constexpr const char* kSource = "ConfigSet.cpp";
constexpr const char* kRelativeSettingsPath = ".//Config//settings.ini";
constexpr const char* kRelativeProfileFolder = ".//Profile//";

std::atomic<bool> g_instanceCreated{false};

// What surrounds a number in a hand-edited file.
constexpr const char* kBlanks = " \t\r\n";

// Reads a settings or profile file into a document; a missing, unreadable or oversized file leaves it
// empty.
void loadDocument(XmlDocument& document, const std::string& path) {
    std::string bytes;
    if (!readSmallFile(path, kMaxConfigFileBytes, bytes)) bytes.clear();
    document.setDoc(bytes);
}

// Writes the document unless the file holds exactly its text already: a run that changed nothing
// leaves the user's files (and their times) alone.
bool writeDocument(const XmlDocument& document, const std::string& path) {
    const std::string& text = document.docText();
    std::string current;
    if (readSmallFile(path, kMaxConfigFileBytes, current) && current == text) return true;
    std::string error;
    if (replaceFileContents(path, text, error)) return true;
    KESTRELLE_LOG_AS(kSource, 1, "Save %s failed: %s", path.c_str(), error.c_str());
    return false;
}

// The user's documents folder as a byte path; "" when unknown. Qt hands paths back decoded as UTF-8, so
// a home folder whose name is not valid UTF-8 comes back mangled: its own bytes are put back in front.
std::string documentsFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty()) return {};
    const QString home = QDir::homePath();
    const char* rawHome = std::getenv("HOME");
    if (rawHome != nullptr && rawHome[0] == '/' && home != QStringLiteral("/") &&
        (documents == home || documents.startsWith(home + QLatin1Char('/')))) {
        const QString rest = documents.mid(home.size());
        if (!rest.contains(QChar::ReplacementCharacter)) return rawHome + rest.toStdString();
    }
    // A name that did not survive decoding is never turned into a folder of its own.
    if (documents.contains(QChar::ReplacementCharacter)) return {};
    return documents.toStdString();
}

}  // namespace

std::optional<double> audioFadeFromText(const std::string& text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) return std::nullopt;
    const std::size_t last = text.find_last_not_of(kBlanks);
    const char* begin = text.data() + first;
    const char* end = text.data() + last + 1;
    double value = 0.0;
    // from_chars reads the C locale's numbers whatever the process locale is.
    const auto [stop, error] = std::from_chars(begin, end, value, std::chars_format::fixed);
    if (error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
    return std::clamp(value, 0.0, kMaxAudioFadeSeconds);
}

std::optional<int> choiceFromText(const std::string& text, int highest) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) return std::nullopt;
    const std::size_t last = text.find_last_not_of(kBlanks);
    const char* begin = text.data() + first;
    const char* end = text.data() + last + 1;
    // Digits only: a sign, a fraction or trailing junk is a hand edit this program never wrote.
    if (*begin < '0' || *begin > '9') return std::nullopt;
    int value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop != end || value < 0 || value > highest) return std::nullopt;
    return value;
}

SettingsStore& SettingsStore::instance() {
    static SettingsStore store;
    static const bool loaded = [] {
        store.listCodecs();
        store.resetToDefaults();
        store.load();
        g_instanceCreated = true;
        return true;
    }();
    (void)loaded;
    return store;
}

void SettingsStore::saveAtExit() {
    if (g_instanceCreated) instance().save();
}

SettingsStore::SettingsStore(const CompressorProvider* provider) : codecs_(provider) {
    resetToDefaults();
}

void SettingsStore::resetToDefaults() {
    settings_ = AppSettings{};
    profiles_.clear();
    std::string dataFolder;
    if (resolveDataFolder("Kestrelle", dataFolder))
        settingsFilePath_ = dataFolder + "/settings.ini";
    else
        settingsFilePath_ = kRelativeSettingsPath;
}

void SettingsStore::load() {
    resetToDefaults();
    XmlDocument document;
    loadDocument(document, settingsFilePath_);
    readSettingsDocument(document);
    fixUpTargetPath();
    loadProfiles();
}

void SettingsStore::readSettingsDocument(XmlDocument& doc) {
    if (!doc.findElem("xml")) return;
    doc.intoElem();
    if (doc.findElem("System")) {
        doc.intoElem();
        if (doc.findElem("Theme Path")) settings_.ThemePath = doc.getData();
        if (doc.findElem("TargetPath")) settings_.TargetPath = doc.getData();
        if (doc.findElem("DefaultSelectedDirectory")) settings_.DefaultSelectedDirectory = doc.getData();
        doc.outOfElem();
    }
    if (doc.findElem("General")) {
        doc.intoElem();
        if (doc.findElem("PlaySound")) settings_.PlaySound = textToInt(doc.getData());
        if (doc.findElem("ShutDown")) settings_.ShutDown = textToInt(doc.getData());
        if (doc.findElem("RipVolume")) settings_.RipVolume = textToInt(doc.getData());
        if (doc.findElem("DefaultSlideDuration"))
            settings_.DefaultSlideDuration = textToDouble(doc.getData());
        if (doc.findElem("DefaultTransitionDuration"))
            settings_.DefaultTransitionDuration = textToDouble(doc.getData());
        if (doc.findElem("DefaultSlideIndex")) {
            // A hand-edited number that names no effect would reach every new slide: take the default.
            const int effect = textToInt(doc.getData());
            settings_.DefaultSlideIndex = isEffectNumber(effect) ? effect : AppSettings{}.DefaultSlideIndex;
        }
        if (doc.findElem("AudioFade"))
            settings_.AudioFadeSeconds =
                audioFadeFromText(doc.getData()).value_or(AppSettings{}.AudioFadeSeconds);
        // The look of new slides: anything but a listed choice reads as the default.
        if (doc.findElem("NewSlideMotion")) {
            const std::optional<int> motion = choiceFromText(doc.getData(), kHighestNewSlideMotion);
            settings_.NewSlideMotionKind =
                motion ? static_cast<NewSlideMotion>(*motion) : AppSettings{}.NewSlideMotionKind;
        }
        if (doc.findElem("NewSlideFit")) {
            const std::optional<int> fit = choiceFromText(doc.getData(), kHighestNewSlideFit);
            settings_.NewSlideFitKind = fit ? static_cast<NewSlideFit>(*fit) : AppSettings{}.NewSlideFitKind;
        }
        if (doc.findElem("EnlargeSmallPhotos"))
            settings_.EnlargeSmallPhotos = choiceFromText(doc.getData(), 1).value_or(0) == 1;
        doc.outOfElem();
    }
    if (doc.findElem("Current Profile")) settings_.CurrentProfile = doc.getData();
    if (doc.findElem("Target Changed")) settings_.TargetChanged = textToInt(doc.getData());
    if (doc.findElem("Preview Volume")) settings_.PreviewVolume = textToInt(doc.getData());
    if (doc.findElem("Standard Skin")) settings_.StandardSkin = textToInt(doc.getData());
    doc.outOfElem();
}

void SettingsStore::fixUpTargetPath() {
    const std::string& target = settings_.TargetPath;
    if (!target.empty() && target.find('\0') == std::string::npos && ::access(target.c_str(), F_OK) == 0)
        return;
    const std::string documents = documentsFolder();
    if (documents.empty()) return;
    const std::string folder = documents + "/Kestrelle";
    // The documents folder itself may be missing on a fresh Linux account; create it along.
    makeFolders(folder);
    settings_.TargetPath = folder;
    settings_.TargetChanged = 0;
}

bool SettingsStore::save() {
    XmlDocument doc;
    doc.setDoc("");
    doc.addElem("xml", "");
    doc.intoElem();
    doc.addElem("System", "");
    doc.intoElem();
    doc.addElem("Theme Path", settings_.ThemePath);
    doc.addElem("TargetPath", settings_.TargetPath);
    doc.addElem("DefaultSelectedDirectory", settings_.DefaultSelectedDirectory);
    doc.outOfElem();
    doc.addElem("General", "");
    doc.intoElem();
    doc.addElem("PlaySound", intToText(settings_.PlaySound));
    doc.addElem("ShutDown", intToText(settings_.ShutDown));
    doc.addElem("RipVolume", intToText(settings_.RipVolume));
    doc.addElem("DefaultSlideDuration", durationToText(settings_.DefaultSlideDuration));
    doc.addElem("DefaultTransitionDuration", durationToText(settings_.DefaultTransitionDuration));
    doc.addElem("DefaultSlideIndex", intToText(settings_.DefaultSlideIndex));
    // The music fade is written once it differs from its default: a file that never used it stays
    // as it was.
    if (durationToText(settings_.AudioFadeSeconds) != durationToText(AppSettings{}.AudioFadeSeconds))
        doc.addElem("AudioFade", durationToText(settings_.AudioFadeSeconds));
    // So is the look of new slides, each value on its own.
    const AppSettings defaults;
    if (settings_.NewSlideMotionKind != defaults.NewSlideMotionKind)
        doc.addElem("NewSlideMotion", intToText(static_cast<int>(settings_.NewSlideMotionKind)));
    if (settings_.NewSlideFitKind != defaults.NewSlideFitKind)
        doc.addElem("NewSlideFit", intToText(static_cast<int>(settings_.NewSlideFitKind)));
    if (settings_.EnlargeSmallPhotos != defaults.EnlargeSmallPhotos)
        doc.addElem("EnlargeSmallPhotos", settings_.EnlargeSmallPhotos ? "1" : "0");
    doc.outOfElem();
    doc.addElem("Current Profile", settings_.CurrentProfile);
    doc.addElem("Target Changed", intToText(settings_.TargetChanged));
    doc.addElem("Preview Volume", intToText(settings_.PreviewVolume));
    doc.addElem("Standard Skin", intToText(settings_.StandardSkin));
    doc.outOfElem();
    const bool settingsWritten = writeDocument(doc, settingsFilePath_);
    const bool profilesWritten = saveProfiles();
    return settingsWritten && profilesWritten;
}

// --- Profiles ---------------------------------------------------------------------------------------

OutputProfile* SettingsStore::profileAt(int i) {
    return const_cast<OutputProfile*>(static_cast<const SettingsStore*>(this)->profileAt(i));
}

const OutputProfile* SettingsStore::profileAt(int i) const {
    if (profiles_.empty()) return nullptr;
    if (i < 0 || i >= profileCount()) return &profiles_.front();
    return &profiles_[static_cast<std::size_t>(i)];
}

int SettingsStore::currentProfileIndex() const {
    for (int i = 0; i < profileCount(); ++i)
        if (namesEqualIgnoringCase(profiles_[static_cast<std::size_t>(i)].name, settings_.CurrentProfile))
            return i;
    return 0;
}

void SettingsStore::selectProfile(int i) {
    const OutputProfile* profile = profileAt(i);
    if (profile != nullptr) settings_.CurrentProfile = profile->name;
}

OutputProfile* SettingsStore::findProfile(const std::string& name) {
    return const_cast<OutputProfile*>(static_cast<const SettingsStore*>(this)->findProfile(name));
}

const OutputProfile* SettingsStore::findProfile(const std::string& name) const {
    for (const OutputProfile& profile : profiles_)
        if (namesEqualIgnoringCase(profile.name, name)) return &profile;
    return nullptr;
}

void SettingsStore::addProfile(const OutputProfile& profile) {
    profiles_.push_back(profile);
}

bool SettingsStore::deleteProfile(const std::string& name) {
    for (auto it = profiles_.begin(); it != profiles_.end(); ++it) {
        if (!namesEqualIgnoringCase(it->name, name)) continue;
        const std::string fileName = it->name;
        profiles_.erase(it);
        if (!isUsableProfileName(fileName)) return false;
        std::error_code ec;
        return std::filesystem::remove(profileFilePath(fileName), ec) && !ec;
    }
    return false;
}

void SettingsStore::fillProfileCombo(ComboSink& combo) const {
    for (const OutputProfile& profile : profiles_) combo.addItem(profile.name);
}

bool SettingsStore::readProfile(XmlDocument& document, OutputProfile& profile) const {
    if (!readProfileElements(document, profile)) return false;
    settleProfileCodec(profile, codecs_);
    return true;
}

void SettingsStore::writeProfile(const OutputProfile& profile, XmlDocument& document) {
    kestrelle::writeProfile(profile, document);
}

bool SettingsStore::writeProfileFile(const OutputProfile& profile) const {
    if (!isUsableProfileName(profile.name)) {
        KESTRELLE_LOG_AS(kSource, 1, "Profile name not usable as a file name: %s", profile.name.c_str());
        return false;
    }
    const std::string folder = profileFolder();
    if (folder != kRelativeProfileFolder) makeFolders(folder);
    XmlDocument doc;
    doc.setDoc("");
    writeProfile(profile, doc);
    return writeDocument(doc, folder + profile.name + ".ipf");
}

void SettingsStore::loadProfiles() {
    namespace fs = std::filesystem;
    const std::string folder = profileFolder();
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const std::string fileName = it->path().filename().string();
        if (fileName == "." || fileName == ".." || !hasProfileExtension(fileName)) continue;
        std::error_code typeError;
        if (!it->is_regular_file(typeError) || typeError) continue;
        const std::string title = fileName.substr(0, fileName.size() - 4);
        const std::string path = folder + fileName;
        if (title.empty() || path.empty()) continue;
        KESTRELLE_LOG_AS(kSource, 1, "%s", title.c_str());
        XmlDocument doc;
        loadDocument(doc, path);
        OutputProfile profile;
        if (!readProfile(doc, profile)) continue;
        profile.name = title;
        profiles_.push_back(std::move(profile));
    }
}

bool SettingsStore::saveProfiles() const {
    bool all = true;
    for (const OutputProfile& profile : profiles_)
        if (!writeProfileFile(profile)) all = false;
    return all;
}

const CodecEntry* SettingsStore::codecForCurrentProfile() const {
    const OutputProfile* profile = currentProfile();
    return profile != nullptr ? codecs_.findCodec(profile->CodecName) : nullptr;
}

CodecEntry* SettingsStore::codecForCurrentProfile() {
    const OutputProfile* profile = currentProfile();
    return profile != nullptr ? codecs_.findCodec(profile->CodecName) : nullptr;
}

}  // namespace kestrelle
