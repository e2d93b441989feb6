#include "diag/log_archive.h"
#include "diag/log_export.h"

#include "base/byte_order.h"
#include "base/data_folder.h"
#include "base/message_box.h"
#include "tests/support/temp_home.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kestrelle {
namespace {

using testing::readFile;
using testing::writeFile;

class RecordingPresenter : public MessagePresenter {
public:
    int show(const std::string& text, unsigned flags) override {
        shown.emplace_back(text, flags);
        return MessageAnswer::kOk;
    }
    std::vector<std::pair<std::string, unsigned>> shown;
};

std::string le16(std::uint16_t v) {
    std::string bytes;
    appendLe16(bytes, v);
    return bytes;
}
std::string le32(std::uint32_t v) {
    std::string bytes;
    appendLe32(bytes, v);
    return bytes;
}
std::uint32_t readLe32(const std::string& s, std::size_t at) {
    return kestrelle::readLe32(s.data() + at);
}

// One container entry as written by hand.
std::string entryBytes(const std::string& name, std::uint32_t mtime, std::uint32_t ctime,
                       const std::string& data) {
    std::string bytes = name.substr(0, 128);
    bytes.resize(128, '\0');
    return bytes + le32(mtime) + le32(ctime) + le32(static_cast<std::uint32_t>(data.size())) + data;
}
std::string header(const std::string& magic, std::int16_t version, std::uint32_t count) {
    return magic + le16(static_cast<std::uint16_t>(version)) + le32(count);
}

// Whole decompressed content of a gzip file; `ok` false when it is not a complete gzip stream.
std::string gunzip(const std::string& path, bool& ok) {
    ok = false;
    gzFile file = gzopen(path.c_str(), "rb");
    if (!file) return {};
    std::string out;
    char block[4096];
    int got;
    while ((got = gzread(file, block, sizeof block)) > 0) out.append(block, static_cast<std::size_t>(got));
    ok = got == 0 && gzdirect(file) == 0;
    gzclose(file);
    return out;
}

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    return names;
}

class LogArchiveTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        setMessagePresenter(&presenter);
        outFolder = path("out");
        std::filesystem::create_directories(outFolder);
    }
    void TearDown() override {
        setMessagePresenter(nullptr);
        TempHomeTest::TearDown();
    }

    // Opens a container for reading and returns the code (0 on success) and the handle.
    LogArchive::HandlePtr openRead(const std::string& bytes, int& error) {
        const std::string file = path("container.bin");
        EXPECT_TRUE(writeFile(file, bytes));
        error = 0;
        return LogArchive::HandlePtr(LogArchive::open(file.c_str(), LogArchive::kModeRead, &error));
    }

    RecordingPresenter presenter;
    std::string outFolder;
};

// --- Export --------------------------------------------------------------------------------------

TEST_F(LogArchiveTest, ExportWritesGzipOfContainerWithRunLog) {
    std::filesystem::create_directories(dataFolder());
    const std::string log = "2024-01-01 10:00:00\t5\tLumoDlg.cpp,1|hello\r\n";
    ASSERT_TRUE(writeFile(dataFolder() + "/run.log", log));
    struct stat info {};
    ASSERT_EQ(stat((dataFolder() + "/run.log").c_str(), &info), 0);

    const std::string archive = outFolder + "/Kestrelle.iba";
    ASSERT_TRUE(exportRunLog(archive));
    EXPECT_TRUE(presenter.shown.empty());

    const std::string raw = readFile(archive);
    ASSERT_GE(raw.size(), 2u);
    EXPECT_EQ(std::uint8_t(raw[0]), 0x1f);
    EXPECT_EQ(std::uint8_t(raw[1]), 0x8b);
    bool ok = false;
    const std::string c = gunzip(archive, ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(c.size(), 12u + 128u + 12u + log.size());
    EXPECT_EQ(c.substr(0, 6), "VXPACK");
    EXPECT_EQ(c.substr(6, 2), le16(1));
    EXPECT_EQ(readLe32(c, 8), 1u);
    std::string name = "run.log";
    name.resize(128, '\0');
    EXPECT_EQ(c.substr(12, 128), name);
    EXPECT_EQ(readLe32(c, 140), static_cast<std::uint32_t>(info.st_mtime));
    EXPECT_NE(readLe32(c, 144), 0u);
    EXPECT_EQ(readLe32(c, 148), log.size());
    EXPECT_EQ(c.substr(152), log);
    // Only the archive is left in the folder: no uncompressed copy, no ".gz".
    EXPECT_EQ(folderEntries(outFolder), std::vector<std::string>{"Kestrelle.iba"});
}

TEST_F(LogArchiveTest, FailedExportsShowTheirMessageAndLeaveNoFile) {
    // No run log: nothing to pack.
    const std::string archive = outFolder + "/Kestrelle.iba";
    EXPECT_FALSE(exportRunLog(archive));
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].first, "Pack the archive failed!");
    EXPECT_EQ(presenter.shown[0].second, 0x30u);
    EXPECT_TRUE(folderEntries(outFolder).empty());

    // A run log, but a target folder that does not exist.
    std::filesystem::create_directories(dataFolder());
    ASSERT_TRUE(writeFile(dataFolder() + "/run.log", "line\r\n"));
    EXPECT_FALSE(exportRunLog(outFolder + "/missing/Kestrelle.iba"));
    ASSERT_EQ(presenter.shown.size(), 2u);
    EXPECT_EQ(presenter.shown[1].first, "Pack the archive failed!");

    // No path at all.
    EXPECT_FALSE(exportRunLog(""));
    ASSERT_EQ(presenter.shown.size(), 3u);
    EXPECT_EQ(presenter.shown[2].first, "Open archive to write fialed!");
    EXPECT_EQ(presenter.shown[2].second, 0x30u);
    EXPECT_TRUE(folderEntries(outFolder).empty());
}

TEST_F(LogArchiveTest, ExportRefusesTargetsThatCannotHoldTheArchive) {
    std::filesystem::create_directories(dataFolder());
    const std::string logPath = dataFolder() + "/run.log";
    ASSERT_TRUE(writeFile(logPath, "precious\r\n"));
    // The run log itself: creating the container would empty it before it is read.
    EXPECT_FALSE(exportRunLog(logPath));
    EXPECT_EQ(readFile(logPath), "precious\r\n");
    // A named pipe: refused at once instead of waiting for a reader.
    const std::string pipe = outFolder + "/pipe.iba";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(exportRunLog(pipe));
    EXPECT_EQ(presenter.shown.size(), 2u);
    EXPECT_EQ(folderEntries(outFolder), std::vector<std::string>{"pipe.iba"});
}

// --- Reading an uncompressed container -------------------------------------------------------------

TEST_F(LogArchiveTest, ReadsIndexOfHandWrittenContainer) {
    const std::string longName(130, 'n');  // stored cut to 128 bytes without terminator
    const std::string bytes = header("VXSEGM", 1, 3) + entryBytes("a.log", 100, 200, "alpha") +
                              entryBytes(longName, 7, 8, "") +
                              entryBytes("c", 0xFFFFFFFF, 1, std::string(3000, 'x'));
    int error = 0;
    auto handle = openRead(bytes, error);
    ASSERT_TRUE(handle) << error;
    EXPECT_EQ(LogArchive::mode(handle.get()), LogArchive::kModeRead);
    ASSERT_EQ(LogArchive::entryCount(handle.get()), 3);
    const ArchiveEntry a = LogArchive::entry(handle.get(), 0);
    EXPECT_EQ(a.path, "a.log");
    EXPECT_EQ(a.modificationTime, 100u);
    EXPECT_EQ(a.creationTime, 200u);
    EXPECT_EQ(a.size, 5u);
    EXPECT_EQ(a.dataOffset, 12u + 140u);
    EXPECT_EQ(bytes.substr(a.dataOffset, a.size), "alpha");
    const ArchiveEntry b = LogArchive::entry(handle.get(), 1);
    EXPECT_EQ(b.path, std::string(128, 'n'));
    EXPECT_EQ(b.dataOffset, 12u + 145u + 140u);
    const ArchiveEntry c = LogArchive::entry(handle.get(), 2);
    EXPECT_EQ(c.modificationTime, 0xFFFFFFFFu);
    EXPECT_EQ(c.size, 3000u);
    EXPECT_EQ(c.dataOffset + c.size, bytes.size());
    EXPECT_EQ(LogArchive::entry(handle.get(), 3).path, "");
}

TEST_F(LogArchiveTest, OpenRefusesWithItsCodes) {
    int error = 0;
    EXPECT_EQ(LogArchive::open(nullptr, 2, &error), nullptr);
    EXPECT_EQ(error, -1);
    EXPECT_EQ(LogArchive::open("", 1, &error), nullptr);
    EXPECT_EQ(error, -1);
    EXPECT_EQ(LogArchive::open("x.iba", 3, &error), nullptr);
    EXPECT_EQ(error, -2);
    EXPECT_EQ(LogArchive::open(path("missing.bin").c_str(), 1, &error), nullptr);
    EXPECT_EQ(error, -4);

    const std::string good = header("VXPACK", 1, 1);
    struct Case {
        std::string bytes;
        int code;
    } cases[] = {
        {good.substr(0, 5), -51},      {"VXPACX" + good.substr(6), -52}, {good.substr(0, 7), -53},
        {header("VXPACK", 2, 1), -54}, {header("VXSEGM", 2, 0), -54},    {good.substr(0, 11), -5},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(openRead(c.bytes, error)) << c.code;
        EXPECT_EQ(error, c.code);
    }
    // Any version up to 1 is read, even a negative one.
    EXPECT_TRUE(openRead(header("VXPACK", -3, 0), error));
}

TEST_F(LogArchiveTest, ContainerCutInsideLastEntry) {
    const std::string first = header("VXPACK", 1, 2) + entryBytes("first", 1, 2, "data");
    const std::string second = entryBytes("second", 3, 4, "more");
    struct Case {
        std::size_t keep;  // bytes of the second entry left
        int code;          // 0: opens with the first entry only
    } cases[] = {
        {0, 0},    {1, 0},    {127, 0},  // ends inside the name: the entries before it, no error
        {128, -7}, {129, -7},            // the name is whole, the modification time is not
        {132, -8}, {135, -8}, {136, -9},
        {139, -9}, {140, 2},  // fields whole, data missing: the index is still read (data is not)
    };
    for (const Case& c : cases) {
        int error = 0;
        auto handle = openRead(first + second.substr(0, c.keep), error);
        if (c.code < 0) {
            EXPECT_FALSE(handle) << c.keep;
            EXPECT_EQ(error, c.code) << c.keep;
        } else {
            ASSERT_TRUE(handle) << c.keep << " error " << error;
            EXPECT_EQ(LogArchive::entryCount(handle.get()), c.code == 0 ? 1 : c.code) << c.keep;
            EXPECT_EQ(LogArchive::entry(handle.get(), 0).path, "first");
        }
    }
}

TEST_F(LogArchiveTest, HugeEntryCountClaimIsHarmless) {
    int error = 0;
    auto handle = openRead(header("VXPACK", 1, 0xFFFFFFFFu) + entryBytes("only", 0, 0, "z"), error);
    ASSERT_TRUE(handle);
    EXPECT_EQ(LogArchive::entryCount(handle.get()), 1);
    // A size that points far beyond the end stops the walk quietly.
    handle = openRead(header("VXPACK", 1, 2) + entryBytes("a", 0, 0, "").substr(0, 136) + le32(0xFFFFFFF0u),
                      error);
    ASSERT_TRUE(handle);
    EXPECT_EQ(LogArchive::entryCount(handle.get()), 1);
}

// --- Writing ----------------------------------------------------------------------------------------

TEST_F(LogArchiveTest, AddFileCodesAndGrowth) {
    EXPECT_EQ(LogArchive::addFile(nullptr, "x"), -1);
    LogArchive::HandlePtr handle(LogArchive::open(path("a.iba").c_str(), 2, nullptr));
    ASSERT_TRUE(handle);
    EXPECT_EQ(LogArchive::addFile(handle.get(), path("missing").c_str()), -2);
    EXPECT_EQ(LogArchive::addFile(handle.get(), nullptr), -2);
    EXPECT_EQ(LogArchive::addFile(handle.get(), outFolder.c_str()), -3);
    ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
    EXPECT_EQ(LogArchive::addFile(handle.get(), path("pipe").c_str()), -3);

    ASSERT_TRUE(writeFile(path("f.txt"), "abc"));
    for (int i = 1; i <= 130; ++i) ASSERT_EQ(LogArchive::addFile(handle.get(), path("f.txt").c_str()), i);
    EXPECT_EQ(LogArchive::entry(handle.get(), 0).path, path("f.txt"));
    EXPECT_EQ(LogArchive::entry(handle.get(), 129).size, 3u);
    EXPECT_EQ(LogArchive::release(nullptr), -1);
    EXPECT_EQ(LogArchive::release(handle.release()), 0);
}

TEST_F(LogArchiveTest, PackRefusesReadHandleAndEmptyTable) {
    const std::string container = header("VXPACK", 1, 0);
    ASSERT_TRUE(writeFile(path("c.bin"), container));
    LogArchive::HandlePtr reader(LogArchive::open(path("c.bin").c_str(), 1, nullptr));
    ASSERT_TRUE(reader);
    ASSERT_TRUE(writeFile(path("f.txt"), "abc"));
    EXPECT_EQ(LogArchive::addFile(reader.get(), path("f.txt").c_str()), 1);
    EXPECT_EQ(LogArchive::pack(reader.get()), -1);
    EXPECT_EQ(readFile(path("c.bin")), container);

    LogArchive::HandlePtr empty(LogArchive::open((outFolder + "/e.iba").c_str(), 2, nullptr));
    EXPECT_EQ(LogArchive::pack(empty.get()), -2);
    EXPECT_EQ(LogArchive::pack(nullptr), -1);
    EXPECT_TRUE(folderEntries(outFolder).empty());
}

TEST_F(LogArchiveTest, PackedArchiveReadsBackAndCountsOnlyCompleteEntries) {
    ASSERT_TRUE(writeFile(path("one.txt"), std::string(2500, 'a')));  // several 1024-byte blocks
    ASSERT_TRUE(writeFile(path("gone.txt"), "bye"));
    ASSERT_TRUE(writeFile(path("shrinks.txt"), "0123456789"));
    ASSERT_TRUE(writeFile(path("empty.txt"), ""));
    const std::string archive = outFolder + "/many.iba";
    LogArchive::HandlePtr handle(LogArchive::open(archive.c_str(), 2, nullptr));
    for (const char* name : {"one.txt", "gone.txt", "empty.txt", "shrinks.txt"})
        ASSERT_GT(LogArchive::addFile(handle.get(), path(name).c_str()), 0);
    std::filesystem::remove(path("gone.txt"));
    ASSERT_TRUE(writeFile(path("shrinks.txt"), "01234"));
    // one.txt and empty.txt are whole; gone.txt wrote nothing; shrinks.txt stopped short.
    EXPECT_EQ(LogArchive::pack(handle.get()), 2);

    bool ok = false;
    const std::string c = gunzip(archive, ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(readLe32(c, 8), 4u);  // the header still counts every entry
    ASSERT_TRUE(writeFile(path("plain.bin"), c));
    LogArchive::HandlePtr reader(LogArchive::open(path("plain.bin").c_str(), 1, nullptr));
    ASSERT_TRUE(reader);
    ASSERT_EQ(LogArchive::entryCount(reader.get()), 3);
    const ArchiveEntry one = LogArchive::entry(reader.get(), 0);
    EXPECT_EQ(one.path, "one.txt");
    EXPECT_EQ(c.substr(one.dataOffset, one.size), std::string(2500, 'a'));
    const ArchiveEntry empty = LogArchive::entry(reader.get(), 1);
    EXPECT_EQ(empty.path, "empty.txt");
    EXPECT_EQ(empty.size, 0u);
    // The recorded size stays; the data is what the file still held.
    const ArchiveEntry shrinks = LogArchive::entry(reader.get(), 2);
    EXPECT_EQ(shrinks.path, "shrinks.txt");
    EXPECT_EQ(shrinks.size, 10u);
    EXPECT_EQ(c.substr(shrinks.dataOffset), "01234");
}

TEST_F(LogArchiveTest, GzipInPlaceKeepsOtherFilesAndReportsMissingFile) {
    EXPECT_EQ(LogArchive::gzipInPlace(path("missing")), -10);
    const std::string target = outFolder + "/t.iba";
    ASSERT_TRUE(writeFile(target, "payload"));
    ASSERT_TRUE(writeFile(target + ".gz", "somebody else's file"));
    ASSERT_EQ(LogArchive::gzipInPlace(target), 0);
    bool ok = false;
    EXPECT_EQ(gunzip(target, ok), "payload");
    EXPECT_TRUE(ok);
    EXPECT_EQ(readFile(target + ".gz"), "somebody else's file");
    EXPECT_EQ(folderEntries(outFolder).size(), 2u);
}

}  // namespace
}  // namespace kestrelle
