#include "diag/export_target.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace kestrelle {

std::string archivePathWithSuffix(const std::string& chosen) {
    if (chosen.empty()) return chosen;
    const std::size_t slash = chosen.find_last_of('/');
    const std::string name = slash == std::string::npos ? chosen : chosen.substr(slash + 1);
    // A dot that only starts a hidden file's name or ends the name is no suffix.
    const std::size_t dot = name.find_last_of('.');
    const bool hasSuffix = dot != std::string::npos && dot > 0 && dot + 1 < name.size();
    if (name.empty() || hasSuffix) return chosen;
    if (name.back() == '.') return chosen + kArchiveSuffix;
    return chosen + "." + kArchiveSuffix;
}

bool isSameFile(const std::string& first, const std::string& second) {
    struct stat a {};
    struct stat b {};
    if (::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0) {
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    }
    std::error_code error;
    const std::filesystem::path left =
        std::filesystem::weakly_canonical(std::filesystem::absolute(first, error), error);
    if (error) return false;
    const std::filesystem::path right =
        std::filesystem::weakly_canonical(std::filesystem::absolute(second, error), error);
    if (error) return false;
    return left == right;
}

}  // namespace kestrelle
