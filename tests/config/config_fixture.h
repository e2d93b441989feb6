#pragma once
// Shared pieces of the configuration tests: a private home that also hides the user's XDG config (the
// documents folder is read from it), fake compressors, and a combo that records its items.

#include "config/codec_list.h"
#include "config/combo_sink.h"
#include "media/video_compressor.h"
#include "tests/support/temp_home.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrelle::testing {

class ConfigTest : public TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        if (const char* config = std::getenv("XDG_CONFIG_HOME")) {
            hadConfigHome_ = true;
            savedConfigHome_ = config;
        }
        setenv("XDG_CONFIG_HOME", path("config").c_str(), 1);
        savedCwd_ = std::filesystem::current_path();
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::current_path(savedCwd_, ignored);
        if (hadConfigHome_)
            setenv("XDG_CONFIG_HOME", savedConfigHome_.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        TempHomeTest::TearDown();
    }

    // Makes the data folder unresolvable (its parents are files) and works inside `folder`, where the
    // relative fall-backs then land.
    void loseDataFolder(const std::string& folder) {
        writeFile(path("not-a-folder"), "x");
        setenv("XDG_DATA_HOME", (path("not-a-folder") + "/share").c_str(), 1);
        setenv("HOME", (path("not-a-folder") + "/home").c_str(), 1);
        std::filesystem::create_directories(folder);
        std::filesystem::current_path(folder);
    }

    std::string profileDir() const { return dataFolder() + "/Profile"; }

private:
    bool hadConfigHome_ = false;
    std::string savedConfigHome_;
    std::filesystem::path savedCwd_;
};

class RecordingCombo : public ComboSink {
public:
    void addItem(const std::string& text) override { items.push_back(text); }
    std::vector<std::string> items;
};

// A compressor whose description, format answer and state are set by the test.
class FakeCompressor : public VideoCompressor {
public:
    FakeCompressor(std::string description, std::uint32_t handler, bool acceptsTestFormat,
                   std::size_t stateSize)
        : description_(std::move(description)),
          handler_(handler),
          accepts_(acceptsTestFormat),
          stateSize_(stateSize) {}
    std::string description() const override { return description_; }
    std::uint32_t typeCode() const override { return kCompressorType; }
    std::uint32_t handlerCode() const override { return handler_; }
    bool canCompress(CompressorInput, int, int) const override { return accepts_; }
    std::vector<std::uint8_t> state() const override {
        std::vector<std::uint8_t> block(stateSize_, 0);
        if (!block.empty()) block[0] = static_cast<std::uint8_t>(settings_.quantizer);
        return block;
    }
    bool setState(const std::uint8_t* data, std::size_t size) override {
        if (size != stateSize_ || size == 0) return false;
        settings_.quantizer = data[0];
        return true;
    }
    CompressorSettings settings() const override { return settings_; }
    void setSettings(const CompressorSettings& s) override { settings_ = s; }
    bool hasState() const override { return false; }
    bool begin(const CompressionParams&, std::string&) override { return false; }
    bool compress(const std::uint8_t*, CompressedFrame&, std::string&) override { return false; }
    void end() override {}
    std::vector<std::uint8_t> extraData() const override { return {}; }

private:
    std::string description_;
    std::uint32_t handler_;
    bool accepts_;
    std::size_t stateSize_;
    CompressorSettings settings_;
};

struct FakeSpec {
    std::string description;
    std::uint32_t handler = 0;
    bool opens = true;
    bool acceptsTestFormat = true;
    std::size_t stateSize = 4;
    bool throwsOnOpen = false;
    std::uint32_t type = kCompressorType;
};

class FakeProvider : public CompressorProvider {
public:
    explicit FakeProvider(std::vector<FakeSpec> fakes) : specs(std::move(fakes)) {}
    std::vector<CompressorInfo> enumerate() const override {
        std::vector<CompressorInfo> list;
        for (const auto& s : specs) list.push_back({s.description, s.type, s.handler});
        return list;
    }
    std::unique_ptr<VideoCompressor> open(std::uint32_t type, std::uint32_t handler) const override {
        for (const auto& s : specs) {
            if (s.handler != handler || s.type != type) continue;
            if (s.throwsOnOpen) throw std::runtime_error("compressor fault");
            if (!s.opens) return nullptr;
            ++opened;
            return std::make_unique<FakeCompressor>(s.description, s.handler, s.acceptsTestFormat,
                                                    s.stateSize);
        }
        return nullptr;
    }
    std::vector<FakeSpec> specs;
    mutable int opened = 0;
};

// One Xvid codec, as most tests need.
inline FakeProvider xvidOnly() {
    return FakeProvider({FakeSpec{"Xvid MPEG-4 Codec", makeFourCC('X', 'V', 'I', 'D')}});
}

}  // namespace kestrelle::testing
