#include "diag/log_archive.h"
#include "diag/log_export.h"

#include "base/data_folder.h"
#include "base/message_box.h"
#include "tests/support/temp_home.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
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

using testing::le16;
using testing::le32;
using testing::readLe32;

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

    // Opens a container for reading and returns the error (None on success) and the archive.
    LogArchive openRead(const std::string& bytes, LogArchiveError& error) {
        const std::string file = path("container.bin");
        EXPECT_TRUE(writeFile(file, bytes));
        error = LogArchiveError::None;
        return LogArchive::open(file.c_str(), LogArchive::Mode::Read, &error);
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

TEST_F(LogArchiveTest, FailedExportLeavesTheFileItWouldReplace) {
    std::filesystem::create_directories(dataFolder());
    ASSERT_TRUE(writeFile(dataFolder() + "/run.log", std::string(8192, 'x')));
    const std::string archive = outFolder + "/Kestrelle.iba";
    ASSERT_TRUE(writeFile(archive, "the previous archive"));

    // A file size limit makes the write fail midway, for root too.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool exported = exportRunLog(archive);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(exported);
    EXPECT_EQ(readFile(archive), "the previous archive");
    EXPECT_EQ(folderEntries(outFolder), std::vector<std::string>{"Kestrelle.iba"});

    // Without the limit the same export replaces it.
    ASSERT_TRUE(exportRunLog(archive));
    bool ok = false;
    EXPECT_EQ(gunzip(archive, ok).substr(0, 6), "VXPACK");
    EXPECT_TRUE(ok);
    EXPECT_EQ(folderEntries(outFolder), std::vector<std::string>{"Kestrelle.iba"});
}

// --- Reading an uncompressed container -------------------------------------------------------------

TEST_F(LogArchiveTest, ReadsIndexOfHandWrittenContainer) {
    const std::string longName(130, 'n');  // stored cut to 128 bytes without terminator
    const std::string bytes = header("VXSEGM", 1, 3) + entryBytes("a.log", 100, 200, "alpha") +
                              entryBytes(longName, 7, 8, "") +
                              entryBytes("c", 0xFFFFFFFF, 1, std::string(3000, 'x'));
    LogArchiveError error = LogArchiveError::None;
    auto handle = openRead(bytes, error);
    ASSERT_TRUE(handle) << logArchiveErrorCode(error);
    EXPECT_EQ(handle.mode(), LogArchive::Mode::Read);
    ASSERT_EQ(handle.entryCount(), 3);
    const ArchiveEntry a = handle.entry(0);
    EXPECT_EQ(a.path, "a.log");
    EXPECT_EQ(a.modificationTime, 100u);
    EXPECT_EQ(a.creationTime, 200u);
    EXPECT_EQ(a.size, 5u);
    EXPECT_EQ(a.dataOffset, 12u + 140u);
    EXPECT_EQ(bytes.substr(a.dataOffset, a.size), "alpha");
    const ArchiveEntry b = handle.entry(1);
    EXPECT_EQ(b.path, std::string(128, 'n'));
    EXPECT_EQ(b.dataOffset, 12u + 145u + 140u);
    const ArchiveEntry c = handle.entry(2);
    EXPECT_EQ(c.modificationTime, 0xFFFFFFFFu);
    EXPECT_EQ(c.size, 3000u);
    EXPECT_EQ(c.dataOffset + c.size, bytes.size());
    EXPECT_EQ(handle.entry(3).path, "");
}

TEST_F(LogArchiveTest, OpenRefusesWithItsCodes) {
    using Error = LogArchiveError;
    Error error = Error::None;
    EXPECT_FALSE(LogArchive::open(nullptr, LogArchive::Mode::Write, &error));
    EXPECT_EQ(error, Error::NoPath);
    EXPECT_FALSE(LogArchive::open("", LogArchive::Mode::Read, &error));
    EXPECT_EQ(error, Error::NoPath);
    EXPECT_FALSE(LogArchive::open("x.iba", static_cast<LogArchive::Mode>(3), &error));
    EXPECT_EQ(error, Error::BadMode);
    EXPECT_FALSE(LogArchive::open(path("missing.bin").c_str(), LogArchive::Mode::Read, &error));
    EXPECT_EQ(error, Error::CannotOpen);

    const std::string good = header("VXPACK", 1, 1);
    struct Case {
        std::string bytes;
        Error error;
    } cases[] = {
        {good.substr(0, 5), Error::NoMagic},
        {"VXPACX" + good.substr(6), Error::BadMagic},
        {good.substr(0, 7), Error::NoVersion},
        {header("VXPACK", 2, 1), Error::VersionTooNew},
        {header("VXSEGM", 2, 0), Error::VersionTooNew},
        {good.substr(0, 11), Error::NoEntryCount},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(openRead(c.bytes, error)) << logArchiveErrorCode(c.error);
        EXPECT_EQ(error, c.error);
    }
    // Any version up to 1 is read, even a negative one.
    EXPECT_TRUE(openRead(header("VXPACK", -3, 0), error));
}

TEST_F(LogArchiveTest, ReadingRefusesPipesAndLinksAtOnce) {
    // A pipe with no writer would hold the reader forever; it is refused before any read.
    const std::string fifo = path("pipe.bin");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    LogArchiveError error = LogArchiveError::None;
    EXPECT_FALSE(LogArchive::open(fifo.c_str(), LogArchive::Mode::Read, &error));
    EXPECT_EQ(error, LogArchiveError::CannotOpen);

    // A link is not followed, even to a good container.
    const std::string real = path("real.bin");
    ASSERT_TRUE(writeFile(real, header("VXPACK", 1, 1) + entryBytes("a", 0, 0, "x")));
    ASSERT_TRUE(LogArchive::open(real.c_str(), LogArchive::Mode::Read));
    const std::string link = path("link.bin");
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    EXPECT_FALSE(LogArchive::open(link.c_str(), LogArchive::Mode::Read, &error));
    EXPECT_EQ(error, LogArchiveError::CannotOpen);
}

TEST_F(LogArchiveTest, ContainerCutInsideLastEntry) {
    const std::string first = header("VXPACK", 1, 2) + entryBytes("first", 1, 2, "data");
    const std::string second = entryBytes("second", 3, 4, "more");
    using Error = LogArchiveError;
    struct Case {
        std::size_t keep;  // bytes of the second entry left
        Error error;       // None: opens with `entries` entries
        int entries;
    } cases[] = {
        // ends inside the name: the entries before it, no error
        {0, Error::None, 1},
        {1, Error::None, 1},
        {127, Error::None, 1},
        // the name is whole, the modification time is not
        {128, Error::NoModificationTime, 0},
        {129, Error::NoModificationTime, 0},
        {132, Error::NoCreationTime, 0},
        {135, Error::NoCreationTime, 0},
        {136, Error::NoSize, 0},
        {139, Error::NoSize, 0},
        // fields whole, data missing: the index is still read (data is not)
        {140, Error::None, 2},
    };
    for (const Case& c : cases) {
        Error error = Error::None;
        auto handle = openRead(first + second.substr(0, c.keep), error);
        if (c.error != Error::None) {
            EXPECT_FALSE(handle) << c.keep;
            EXPECT_EQ(error, c.error) << c.keep;
        } else {
            ASSERT_TRUE(handle) << c.keep << " error " << logArchiveErrorCode(error);
            EXPECT_EQ(handle.entryCount(), c.entries) << c.keep;
            EXPECT_EQ(handle.entry(0).path, "first");
        }
    }
}

TEST_F(LogArchiveTest, HugeEntryCountClaimIsHarmless) {
    LogArchiveError error = LogArchiveError::None;
    auto handle = openRead(header("VXPACK", 1, 0xFFFFFFFFu) + entryBytes("only", 0, 0, "z"), error);
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle.entryCount(), 1);
    // A size that points far beyond the end stops the walk quietly.
    handle = openRead(header("VXPACK", 1, 2) + entryBytes("a", 0, 0, "").substr(0, 136) + le32(0xFFFFFFF0u),
                      error);
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle.entryCount(), 1);
}

// --- Writing ----------------------------------------------------------------------------------------

TEST_F(LogArchiveTest, AddFileCodesAndGrowth) {
    using Error = LogArchiveError;
    LogArchive closed;
    EXPECT_EQ(closed.addFile("x"), Error::NotOpen);
    LogArchive handle = LogArchive::open(path("a.iba").c_str(), LogArchive::Mode::Write);
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle.addFile(path("missing").c_str()), Error::FileStatusUnknown);
    EXPECT_EQ(handle.addFile(nullptr), Error::FileStatusUnknown);
    EXPECT_EQ(handle.addFile(outFolder.c_str()), Error::NotRegularFile);
    ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
    EXPECT_EQ(handle.addFile(path("pipe").c_str()), Error::NotRegularFile);
    EXPECT_EQ(handle.entryCount(), 0);

    ASSERT_TRUE(writeFile(path("f.txt"), "abc"));
    for (int i = 1; i <= 130; ++i) {
        ASSERT_EQ(handle.addFile(path("f.txt").c_str()), Error::None);
        ASSERT_EQ(handle.entryCount(), i);
    }
    EXPECT_EQ(handle.entry(0).path, path("f.txt"));
    EXPECT_EQ(handle.entry(129).size, 3u);
    EXPECT_EQ(closed.close(), Error::NotOpen);
    EXPECT_EQ(handle.close(), Error::None);
    EXPECT_FALSE(handle);
    EXPECT_EQ(handle.close(), Error::NotOpen);
}

TEST_F(LogArchiveTest, MovingHandsTheTableOverAndLeavesTheSourceClosed) {
    ASSERT_TRUE(writeFile(path("f.txt"), "abc"));
    LogArchive first = LogArchive::open((outFolder + "/m.iba").c_str(), LogArchive::Mode::Write);
    ASSERT_EQ(first.addFile(path("f.txt").c_str()), LogArchiveError::None);
    LogArchive second(std::move(first));
    EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): a moved-from archive is closed
    EXPECT_EQ(first.mode(), LogArchive::Mode::Closed);
    EXPECT_EQ(first.addFile(path("f.txt").c_str()), LogArchiveError::NotOpen);
    EXPECT_EQ(second.entryCount(), 1);

    LogArchive third;
    third = std::move(second);
    EXPECT_FALSE(second);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(third.mode(), LogArchive::Mode::Write);
    EXPECT_EQ(third.pack(), LogArchiveError::None);
    EXPECT_EQ(folderEntries(outFolder), std::vector<std::string>{"m.iba"});
}

TEST(LogArchiveErrorCodes, KeepTheNumbersTheArchiveToolsReport) {
    using Error = LogArchiveError;
    const std::pair<Error, int> table[] = {
        {Error::None, 0},
        {Error::NoPath, -1},
        {Error::NotOpen, -1},
        {Error::NotWritable, -1},
        {Error::BadMode, -2},
        {Error::FileStatusUnknown, -2},
        {Error::NoEntries, -2},
        {Error::NoMemory, -3},
        {Error::NotRegularFile, -3},
        {Error::CannotCreate, -3},
        {Error::CannotOpen, -4},
        {Error::CountNotWritten, -4},
        {Error::NoEntryCount, -5},
        {Error::NameNotWritten, -5},
        {Error::NameReadFailed, -6},
        {Error::EntryNotWritten, -6},
        {Error::NoModificationTime, -7},
        {Error::NoCreationTime, -8},
        {Error::NoSize, -9},
        {Error::NothingToCompress, -10},
        {Error::CompressedFileNotCreated, -11},
        {Error::SourceNotOpened, -12},
        {Error::ShortRead, -13},
        {Error::CompressedFileNotWritten, -14},
        {Error::MagicNotWritten, -31},
        {Error::VersionNotWritten, -32},
        {Error::NoMagic, -51},
        {Error::BadMagic, -52},
        {Error::NoVersion, -53},
        {Error::VersionTooNew, -54},
    };
    for (const auto& [error, code] : table) EXPECT_EQ(logArchiveErrorCode(error), code) << code;
}

TEST_F(LogArchiveTest, PackRefusesReadHandleAndEmptyTable) {
    const std::string container = header("VXPACK", 1, 0);
    ASSERT_TRUE(writeFile(path("c.bin"), container));
    LogArchive reader = LogArchive::open(path("c.bin").c_str(), LogArchive::Mode::Read);
    ASSERT_TRUE(reader);
    ASSERT_TRUE(writeFile(path("f.txt"), "abc"));
    EXPECT_EQ(reader.addFile(path("f.txt").c_str()), LogArchiveError::None);
    EXPECT_EQ(reader.entryCount(), 1);
    EXPECT_EQ(reader.pack(), LogArchiveError::NotWritable);
    EXPECT_EQ(readFile(path("c.bin")), container);

    LogArchive empty = LogArchive::open((outFolder + "/e.iba").c_str(), LogArchive::Mode::Write);
    EXPECT_EQ(empty.pack(), LogArchiveError::NoEntries);
    EXPECT_EQ(LogArchive().pack(), LogArchiveError::NotWritable);
    EXPECT_TRUE(folderEntries(outFolder).empty());
}

TEST_F(LogArchiveTest, PackedArchiveReadsBackAndCountsOnlyCompleteEntries) {
    ASSERT_TRUE(writeFile(path("one.txt"), std::string(2500, 'a')));  // several 1024-byte blocks
    ASSERT_TRUE(writeFile(path("gone.txt"), "bye"));
    ASSERT_TRUE(writeFile(path("shrinks.txt"), "0123456789"));
    ASSERT_TRUE(writeFile(path("empty.txt"), ""));
    const std::string archive = outFolder + "/many.iba";
    LogArchive handle = LogArchive::open(archive.c_str(), LogArchive::Mode::Write);
    for (const char* name : {"one.txt", "gone.txt", "empty.txt", "shrinks.txt"})
        ASSERT_EQ(handle.addFile(path(name).c_str()), LogArchiveError::None);
    std::filesystem::remove(path("gone.txt"));
    ASSERT_TRUE(writeFile(path("shrinks.txt"), "01234"));
    // one.txt and empty.txt are whole; gone.txt wrote nothing; shrinks.txt stopped short.
    int complete = -1;
    EXPECT_EQ(handle.pack(&complete), LogArchiveError::None);
    EXPECT_EQ(complete, 2);

    bool ok = false;
    const std::string c = gunzip(archive, ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(readLe32(c, 8), 4u);  // the header still counts every entry
    ASSERT_TRUE(writeFile(path("plain.bin"), c));
    LogArchive reader = LogArchive::open(path("plain.bin").c_str(), LogArchive::Mode::Read);
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader.entryCount(), 3);
    const ArchiveEntry one = reader.entry(0);
    EXPECT_EQ(one.path, "one.txt");
    EXPECT_EQ(c.substr(one.dataOffset, one.size), std::string(2500, 'a'));
    const ArchiveEntry empty = reader.entry(1);
    EXPECT_EQ(empty.path, "empty.txt");
    EXPECT_EQ(empty.size, 0u);
    // The recorded size stays; the data is what the file still held.
    const ArchiveEntry shrinks = reader.entry(2);
    EXPECT_EQ(shrinks.path, "shrinks.txt");
    EXPECT_EQ(shrinks.size, 10u);
    EXPECT_EQ(c.substr(shrinks.dataOffset), "01234");
}

TEST_F(LogArchiveTest, GzipInPlaceKeepsOtherFilesAndReportsMissingFile) {
    EXPECT_EQ(gzipInPlace(path("missing")), LogArchiveError::NothingToCompress);
    const std::string target = outFolder + "/t.iba";
    ASSERT_TRUE(writeFile(target, "payload"));
    ASSERT_TRUE(writeFile(target + ".gz", "somebody else's file"));
    ASSERT_EQ(gzipInPlace(target), LogArchiveError::None);
    bool ok = false;
    EXPECT_EQ(gunzip(target, ok), "payload");
    EXPECT_TRUE(ok);
    EXPECT_EQ(readFile(target + ".gz"), "somebody else's file");
    EXPECT_EQ(folderEntries(outFolder).size(), 2u);
}

}  // namespace
}  // namespace kestrelle
