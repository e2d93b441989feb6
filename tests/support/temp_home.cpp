#include "tests/support/temp_home.h"

#include "base/byte_order.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrelle::testing {

void TempHomeTest::SetUp() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kestrelle-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    if (const char* home = std::getenv("HOME")) {
        hadHome_ = true;
        savedHome_ = home;
    }
    if (const char* data = std::getenv("XDG_DATA_HOME")) {
        hadDataHome_ = true;
        savedDataHome_ = data;
    }
    setenv("HOME", root_.c_str(), 1);
    setenv("XDG_DATA_HOME", dataHome().c_str(), 1);
}

void TempHomeTest::TearDown() {
    if (hadHome_)
        setenv("HOME", savedHome_.c_str(), 1);
    else
        unsetenv("HOME");
    if (hadDataHome_)
        setenv("XDG_DATA_HOME", savedDataHome_.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
    std::error_code ignored;
    if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char block[4096];
        std::size_t got;
        while ((got = std::fread(block, 1, sizeof block, pipe)) > 0) out.append(block, got);
        pclose(pipe);
    }
    return out;
}

std::uint32_t readLe32(const std::string& bytes, std::size_t at) {
    if (at + 4 > bytes.size()) return 0;
    return kestrelle::readLe32(bytes.data() + at);
}

std::string le16(std::uint16_t value) {
    std::string bytes;
    kestrelle::appendLe16(bytes, value);
    return bytes;
}

std::string le32(std::uint32_t value) {
    std::string bytes;
    kestrelle::appendLe32(bytes, value);
    return bytes;
}

}  // namespace kestrelle::testing
