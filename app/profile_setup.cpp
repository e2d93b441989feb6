#include "app/profile_setup.h"

#include "base/data_folder.h"
#include "base/file_replace.h"
#include "base/run_log.h"
#include "base/text_numbers.h"
#include "config/output_profile.h"
#include "config/settings_store.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>
#include <vector>

namespace kestrelle {

namespace {

namespace fs = std::filesystem;

// Names of the regular .ipf files in `folder`, in listing order; `found` tells whether the listing
// yielded any .ipf entry at all.
std::vector<std::string> listProfileFiles(const std::string& folder, bool& found) {
    std::vector<std::string> names;
    found = false;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const std::string name = it->path().filename().string();
        if (!hasProfileExtension(name)) continue;
        found = true;
        std::error_code typeError;
        if (it->is_regular_file(typeError) && !typeError) names.push_back(name);
    }
    return names;
}

}  // namespace

int setUpUserProfileFolder(const std::string& shippedFolder) {
    std::string dataFolder;
    if (!resolveDataFolder("Kestrelle", dataFolder)) return 0;
    const std::string userFolder = dataFolder + "/Profile";
    ::mkdir(userFolder.c_str(), 0777);  // one level; an existing folder or a failure is not reported

    bool userFound = false;
    const std::vector<std::string> userNames = listProfileFiles(userFolder, userFound);

    std::error_code ec;
    const bool shippedExists = fs::is_directory(shippedFolder, ec) && !ec;
    bool shippedFound = false;
    const std::vector<std::string> shippedNames = listProfileFiles(shippedFolder, shippedFound);
    KESTRELLE_LOG(0, "Module Path:%s,Access:%d,Found:%d", shippedFolder.c_str(), shippedExists ? 0 : -1,
                  shippedFound ? 1 : 0);

    int copied = 0;
    for (const std::string& name : shippedNames) {
        bool present = false;
        for (const std::string& userName : userNames)
            if (namesEqualIgnoringCase(name, userName)) {
                present = true;
                break;
            }
        if (present) continue;
        // Copied through a temporary file, so a full disk never leaves a truncated profile that would
        // then block later copies.
        std::string bytes;
        std::string error;
        const bool success = readSmallFile(shippedFolder + "/" + name, kMaxConfigFileBytes, bytes) &&
                             replaceFileContents(userFolder + "/" + name, bytes, error);
        KESTRELLE_LOG(0, "File Name:%s,Success:%d", name.c_str(), success ? 1 : 0);
        if (success) ++copied;
    }
    return copied;
}

int setUpUserProfileFolder() {
    return setUpUserProfileFolder(programFolder() + "/Profile");
}

bool checkProfilesAvailable(const SettingsStore& store, std::string& refusal) {
    if (store.profileCount() > 0) return true;
    refusal = kNoProfileMessage;
    return false;
}

}  // namespace kestrelle
