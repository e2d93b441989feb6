#pragma once
// What the main window checks before it starts a generation job, and the small rules behind its
// file-name and target-folder fields. No widgets here: the window calls these and acts on the answer.

#include <cstdint>
#include <functional>
#include <string>

namespace kestrelle {

class SettingsStore;
class SlideShowProject;

// The private messages between the main window, the folder tree and the configuration dialog, kept as
// the numbers the other windows know them by; each is a slot on the main window.
inline constexpr int kOpenFolderMessage = 2025;       // open a folder in the photo browser
inline constexpr int kProfilesChangedMessage = 2026;  // refill the profile list
inline constexpr int kApplyDefaultsMessage = 2027;    // apply the default durations and effect

// The marker a running instance answers to.
inline constexpr int kInstanceMarker = 10019;

// Addresses the program opens.
inline constexpr const char* kHomePageUrl = "https://www.example.org/kestrelle/";
inline constexpr const char* kDownloadPageUrl = "https://www.example.org/kestrelle/download/";
inline constexpr const char* kContactUrl = "mailto:support@example.org?subject=Kestrelle";

// The user's texts of Start and of the file-name field.
inline constexpr const char* kNoCodecText =
    "Sorry, no video codec was found. Please download xvid codec from our download page first.";
inline constexpr const char* kAddPhotosText = "Please add photos!";
inline constexpr const char* kTargetMissingText =
    "The target folder doesn't exist. Please select another folder as the target directory.";
inline constexpr const char* kDefaultTargetQuestion =
    "Are you sure to put the output file to the default directory?\nPlease click \"Yes\" to continue, or "
    "click \"No\" to cancel, \nthen click \"Browse\" button to set another directory as the target.";
inline constexpr const char* kReservedCharactersText =
    "Characters \\/:*?\"<>| are reserved by OS and can't be used in file name.";
inline constexpr const char* kEmptyNameText = "Please input the file name!";
inline constexpr const char* kNameTooLongText =
    "The file name is too long. Please use a shorter name (at most 251 bytes).";
inline constexpr const char* kOverwriteQuestion = "File already exists, overwrite?";

// The longest output name: with ".avi" it must still fit a file name (255 bytes).
inline constexpr std::size_t kMaxOutputNameBytes = 251;

// The refusal for too little free space, naming the mount point that holds the target folder.
std::string notEnoughSpaceText(const std::string& mountPoint);

// The mount point of the file system holding `path` ("/" when nothing else can be found).
std::string mountPointOf(const std::string& path);

enum class NameCheck { Valid, ReservedCharacter, Empty, TooLong };
// The file-name field's rule: none of \ / : * ? " < > |, not empty, at most kMaxOutputNameBytes.
NameCheck checkOutputName(const std::string& name);
// The message for a refused name (nullptr for a valid one).
const char* nameRefusalText(NameCheck check);

// "<target>/<name><extension>"; a target of "/" gives "/<name><extension>".
std::string outputFilePath(const std::string& targetFolder, const std::string& name,
                           const std::string& extension = ".avi");

// The extension of the files the current profile's codec writes: ".mp4" for an MP4 codec, else ".avi"
// (also without a profile or a listed codec).
std::string currentOutputExtension(const SettingsStore& store);

// A folder picked in the folder browser, as the target field keeps it: trailing separators removed,
// the root staying "/". Empty for an empty choice.
std::string chosenTargetFolder(const std::string& picked);

// Where Start stopped, or Go when every check passed and the job may run.
enum class StartDecision {
    Go,
    NoCodec,  // the program ends after the download page
    NoPhotos,
    TargetMissing,
    DefaultTargetDeclined,
    NotEnoughSpace,
    ReservedCharacter,  // the file-name field takes the focus
    EmptyName,
    NameTooLong,
    OverwriteDeclined,
};

struct StartRequest {
    SettingsStore& store;
    const SlideShowProject& project;
    std::string fileNameText;  // the file-name field as it stands
    // Free bytes of the volume holding a folder (freeDiskBytes by default).
    std::function<std::uint64_t(const std::string&)> freeBytes;
};

// Runs Start's checks in order, showing each refusal or question with showMessage. A Yes to the
// default-folder question sets TargetChanged. Nothing else is changed and nothing is written.
StartDecision checkStart(const StartRequest& request);

}  // namespace kestrelle
