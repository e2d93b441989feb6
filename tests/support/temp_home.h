#pragma once
// Gives each test a private, empty home: HOME and XDG_DATA_HOME point into a fresh temporary folder
// (removed afterwards), so nothing touches the real user's files.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrelle::testing {

class TempHomeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    const std::string& root() const { return root_; }  // the temporary folder
    std::string dataHome() const { return root_ + "/share"; }
    std::string dataFolder() const { return dataHome() + "/Brightmoor/Kestrelle"; }
    // Path of a file below root().
    std::string path(const std::string& relative) const { return root_ + "/" + relative; }

private:
    std::string root_;
    std::string savedHome_;
    std::string savedDataHome_;
    bool hadHome_ = false;
    bool hadDataHome_ = false;
};

// Whole contents of a file ("" when it cannot be read).
std::string readFile(const std::string& path);
// Writes `bytes` to `path`, replacing it; false on failure.
bool writeFile(const std::string& path, const std::string& bytes);
// Standard output of a shell command ("" when it cannot run).
std::string commandOutput(const std::string& command);
// Little-endian 32-bit value at byte `at` of `bytes` (0 past the end).
std::uint32_t readLe32(const std::string& bytes, std::size_t at);
// `value` as 2 or 4 little-endian bytes, for building test files.
std::string le16(std::uint16_t value);
std::string le32(std::uint32_t value);

}  // namespace kestrelle::testing
