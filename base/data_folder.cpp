#include "base/data_folder.h"

#include "base/file_replace.h"
#include "base/run_log.h"

#include <pwd.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace kestrelle {

namespace {

constexpr const char* kLogSource = "ConfigSet.cpp";

// $XDG_DATA_HOME when it is an absolute path, else <home>/.local/share; empty when neither is known.
std::string dataHome() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    // A set HOME decides; the password database only stands in for an unset one.
    std::string home;
    if (const char* env = std::getenv("HOME")) {
        if (env[0] == '/') home = env;
    } else if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir && entry->pw_dir[0] == '/') {
        home = entry->pw_dir;
    }
    if (home.empty()) return {};
    return home + "/.local/share";
}

}  // namespace

bool resolveDataFolder(const std::string& folderName, std::string& outPath, DataFolderLogging logging) {
    const bool log = logging == DataFolderLogging::Log;
    const std::string home = dataHome();
    if (home.empty()) {
        if (log) KESTRELLE_LOG_AS(kLogSource, 0, "Get function failed!");
        return false;
    }
    const std::string path = home + "/Brightmoor/" + folderName;
    if (!makeFolders(path)) {
        if (log) KESTRELLE_LOG_AS(kLogSource, 0, "Get SHGetFolderPathAndSubDirA failed");
        return false;
    }
    outPath = path;
    return true;
}

std::string programFolder() {
    std::vector<char> buffer(4096);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) return ".";
    const std::string path(buffer.data(), static_cast<std::size_t>(length));
    const std::size_t cut = path.find_last_of('/');
    if (cut == std::string::npos) return ".";
    return cut == 0 ? "/" : path.substr(0, cut);
}

std::uint64_t freeDiskBytes(const std::string& folder) {
    struct statvfs info {};
    if (folder.empty() || ::statvfs(folder.c_str(), &info) != 0) return 0;
    return static_cast<std::uint64_t>(info.f_bfree) * static_cast<std::uint64_t>(info.f_frsize);
}

}  // namespace kestrelle
