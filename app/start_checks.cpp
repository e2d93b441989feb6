#include "app/start_checks.h"

#include "base/data_folder.h"
#include "base/message_box.h"
#include "config/settings_store.h"
#include "project/slideshow_project.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

namespace kestrelle {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kReservedCharacters = "\\/:*?\"<>|";

bool isFolder(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    std::error_code ec;
    return fs::is_directory(path, ec) && !ec;
}

bool fileExists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

std::optional<OutputRates> ratesOf(const OutputProfile* profile) {
    if (!profile) return std::nullopt;
    return OutputRates{profile->VideoBR, profile->AudioBR, profile->FrameRate};
}

}  // namespace

std::string notEnoughSpaceText(const std::string& mountPoint) {
    return "There isn't enough space on drive " + mountPoint +
           ". \nPlease delete some unwanted files on drive " + mountPoint +
           " \nor select another drive as the target.";
}

std::string mountPointOf(const std::string& path) {
    std::error_code ec;
    fs::path current = fs::weakly_canonical(fs::path(path), ec);
    if (ec || current.empty() || !current.is_absolute()) return "/";
    struct stat status {};
    // Climb to the nearest existing folder, then up while the device stays the same.
    while (::stat(current.c_str(), &status) != 0) {
        if (current == current.root_path()) return "/";
        current = current.parent_path();
    }
    while (current != current.root_path()) {
        const fs::path parent = current.parent_path();
        struct stat parentStatus {};
        if (::stat(parent.c_str(), &parentStatus) != 0 || parentStatus.st_dev != status.st_dev) break;
        current = parent;
    }
    return current.string();
}

NameCheck checkOutputName(const std::string& name) {
    // The reserved characters are checked first, as Start checks them before the empty name.
    if (name.find_first_of(kReservedCharacters) != std::string::npos) return NameCheck::ReservedCharacter;
    if (name.empty()) return NameCheck::Empty;
    if (name.size() > kMaxOutputNameBytes) return NameCheck::TooLong;
    return NameCheck::Valid;
}

const char* nameRefusalText(NameCheck check) {
    switch (check) {
        case NameCheck::ReservedCharacter:
            return kReservedCharactersText;
        case NameCheck::Empty:
            return kEmptyNameText;
        case NameCheck::TooLong:
            return kNameTooLongText;
        case NameCheck::Valid:
            break;
    }
    return nullptr;
}

std::string outputFilePath(const std::string& targetFolder, const std::string& name,
                           const std::string& extension) {
    if (!targetFolder.empty() && targetFolder.back() == '/') return targetFolder + name + extension;
    return targetFolder + "/" + name + extension;
}

std::string currentOutputExtension(const SettingsStore& store) {
    const OutputProfile* profile = store.currentProfile();
    return fileExtensionFor(profile != nullptr ? store.findCodec(profile->CodecName) : nullptr);
}

std::string chosenTargetFolder(const std::string& picked) {
    std::string folder = picked;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

StartDecision checkStart(const StartRequest& request) {
    SettingsStore& store = request.store;
    if (store.codecs().empty()) {
        showMessage(kNoCodecText, MessageFlags::kWarningOk);
        return StartDecision::NoCodec;
    }
    if (request.project.photoSlideCount() < 1) {
        showMessage(kAddPhotosText, MessageFlags::kWarningOk);
        return StartDecision::NoPhotos;
    }
    const std::string target = store.targetPath();
    if (!isFolder(target)) {
        showMessage(kTargetMissingText, MessageFlags::kWarningOk);
        return StartDecision::TargetMissing;
    }
    if (store.settings().TargetChanged == 0) {
        if (showMessage(kDefaultTargetQuestion, MessageFlags::kWarningYesNo) != MessageAnswer::kYes)
            return StartDecision::DefaultTargetDeclined;
        store.settings().TargetChanged = 1;
    }
    const std::uint64_t freeBytes = request.freeBytes ? request.freeBytes(target) : freeDiskBytes(target);
    const std::int64_t estimate = request.project.estimatedOutputBytes(ratesOf(store.currentProfile()));
    if (estimate > 0 && freeBytes < static_cast<std::uint64_t>(estimate)) {
        showMessage(notEnoughSpaceText(mountPointOf(target)), MessageFlags::kWarningOk);
        return StartDecision::NotEnoughSpace;
    }
    switch (checkOutputName(request.fileNameText)) {
        case NameCheck::ReservedCharacter:
            showMessage(kReservedCharactersText, MessageFlags::kWarningOk);
            return StartDecision::ReservedCharacter;
        case NameCheck::Empty:
            showMessage(kEmptyNameText, MessageFlags::kWarningOk);
            return StartDecision::EmptyName;
        case NameCheck::TooLong:
            showMessage(kNameTooLongText, MessageFlags::kWarningOk);
            return StartDecision::NameTooLong;
        case NameCheck::Valid:
            break;
    }
    if (fileExists(outputFilePath(target, store.outputName(), currentOutputExtension(store))) &&
        showMessage(kOverwriteQuestion, MessageFlags::kWarningYesNo) == MessageAnswer::kNo)
        return StartDecision::OverwriteDeclined;
    return StartDecision::Go;
}

}  // namespace kestrelle
