#include "base/run_log.h"

#include "base/data_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

namespace kestrelle::RunLog {

namespace {

constexpr std::size_t kMaxSourceName = 127;
constexpr std::size_t kMaxPrefixedFormat = 1023;
constexpr std::size_t kMaxMessage = 2047;

std::mutex& logMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string_view sourceName(const char* sourcePath) {
    std::string_view path = sourcePath ? sourcePath : "";
    const std::size_t cut = path.find_last_of("/\\");
    if (cut != std::string_view::npos) path.remove_prefix(cut + 1);
    return path.substr(0, kMaxSourceName);
}

// Cuts `format` to at most `limit` characters without leaving a conversion unfinished at the end.
std::string cutFormat(const char* format, std::size_t limit) {
    std::string text = format ? format : "";
    if (text.size() <= limit) return text;
    text.resize(limit);
    std::size_t pos = 0;
    std::size_t openConversion = std::string::npos;
    while ((pos = text.find('%', pos)) != std::string::npos) {
        std::size_t end = pos + 1;
        if (end < text.size() && text[end] == '%') {
            pos = end + 1;
            continue;
        }
        while (end < text.size() && std::strchr("-+ #0123456789.*hlLqjzt", text[end])) ++end;
        if (end >= text.size()) {
            openConversion = pos;
            break;
        }
        pos = end + 1;
    }
    if (openConversion != std::string::npos) text.resize(openConversion);
    return text;
}

std::string logFilePath() {
    std::string folder;
    if (resolveDataFolder("Kestrelle", folder, DataFolderLogging::Silent)) return folder + "/run.log";
    return ".//run.log";
}

std::int32_t tickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t ms =
        static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
}

std::string localTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// Source name, line and the caller's expanded message, without leading white space. The name is
// placed as text, never used as a format, so a '%' in it stays a '%'.
std::string messageText(const char* sourcePath, int line, const char* format, va_list args) {
    char prefix[kMaxSourceName + 32];
    const std::string name(sourceName(sourcePath));
    std::snprintf(prefix, sizeof prefix, "%15s,%d|", name.c_str(), line);
    const std::size_t prefixLength = std::strlen(prefix);
    const std::string callerFormat =
        cutFormat(format, kMaxPrefixedFormat > prefixLength ? kMaxPrefixedFormat - prefixLength : 0);

    char message[kMaxMessage + 1];
    std::memcpy(message, prefix, prefixLength + 1);
    if (prefixLength < kMaxMessage) {
        std::vsnprintf(message + prefixLength, sizeof message - prefixLength, callerFormat.c_str(), args);
    }
    const char* start = message;
    while (*start && std::isspace(static_cast<unsigned char>(*start))) ++start;
    return start;
}

}  // namespace

int writeV(int level, const char* sourcePath, int line, const char* format, va_list args) {
    if (level < 0) return -1;
    const std::string message = messageText(sourcePath, line, format, args);
    const std::string path = logFilePath();

    std::lock_guard<std::mutex> lock(logMutex());
    // The log may sit in the working folder, where another user could have planted a link or a
    // pipe under its name: a link is not followed, and anything but a regular file is left alone
    // (O_NONBLOCK keeps the open from waiting on a pipe without a reader).
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    const std::string text = localTimeText() + '\t' + std::to_string(tickCount()) + '\t' + message + "\r\n";
    // One write per line: with O_APPEND the line lands whole at the end, even with other writers.
    [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
    ::close(fd);
    return 0;
}

int write(int level, const char* sourcePath, int line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = writeV(level, sourcePath, line, format, args);
    va_end(args);
    return result;
}

}  // namespace kestrelle::RunLog
