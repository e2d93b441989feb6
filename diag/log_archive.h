#pragma once
// The log archive: a small container of files (a header, then per file a 128-byte name, two time
// stamps, a size and the bytes; all integers little-endian), compressed as a whole with gzip.
//
//   offset 0  "VXPACK" (a reader also accepts "VXSEGM")
//   offset 6  version, signed 16-bit, written as 1 (a reader accepts any version up to 1)
//   offset 8  entry count, 32-bit
//   offset 12 entries: name[128] zero-filled, modification time u32, creation time u32, size u32, data
//
// A LogArchive object owns one open archive (a table of entries to pack, or the index read from a
// container); it is movable, not copyable, and frees everything when it goes. Failures come back as
// LogArchiveError values; logArchiveErrorCode gives each one the number the archive tools report for it.

#include <cstdint>
#include <memory>
#include <string>

namespace kestrelle {

struct ArchiveEntry {
    std::string path;              // full path of the source file; after reading, the entry's name
    std::uint32_t dataOffset = 0;  // position of the data in the container when read, 0 when written
    std::uint32_t size = 0;
    std::uint32_t modificationTime = 0;  // seconds since 1970-01-01 UTC
    std::uint32_t creationTime = 0;      // birth time where the file system reports it, else st_ctime
};

// Why an archive operation failed. The number after each value is its logArchiveErrorCode.
enum class LogArchiveError {
    None,  // 0

    // LogArchive::open
    NoPath,              // -1   no path, or an empty one
    BadMode,             // -2   a mode other than Read or Write
    NoMemory,            // -3   no memory for the entry table (write)
    CannotOpen,          // -4   the container cannot be opened (read)
    NoMagic,             // -51  shorter than the magic
    BadMagic,            // -52  neither "VXPACK" nor "VXSEGM"
    NoVersion,           // -53  ends before the version
    VersionTooNew,       // -54  a version above 1
    NoEntryCount,        // -5   ends before the entry count
    NameReadFailed,      // -6   a read error inside an entry's name (lastErrorText tells where)
    NoModificationTime,  // -7
    NoCreationTime,      // -8
    NoSize,              // -9

    // addFile, close, and any operation on an archive that is not open
    NotOpen,            // -1
    FileStatusUnknown,  // -2   no path, no status, 4 GiB or more, or no memory for the entry
    NotRegularFile,     // -3   a folder, pipe or device

    // pack
    NotWritable,        // -1   not open, or opened for reading
    NoEntries,          // -2
    CannotCreate,       // -3   the container cannot be created (or it is one of the files to pack)
    MagicNotWritten,    // -31
    VersionNotWritten,  // -32
    CountNotWritten,    // -4
    NameNotWritten,     // -5
    EntryNotWritten,    // -6   an entry's fields or data, or the final flush

    // gzipInPlace (and so pack)
    NothingToCompress,         // -10  no file status, or not a regular file
    CompressedFileNotCreated,  // -11
    SourceNotOpened,           // -12
    ShortRead,                 // -13
    CompressedFileNotWritten,  // -14  not written, or not put in place
};

// The number the archive tools report for an error: 0 for None, else negative. The numbers repeat
// across operations (-1 is NoPath for open, NotOpen for addFile, NotWritable for pack).
int logArchiveErrorCode(LogArchiveError error);

class LogArchive {
public:
    // What an open archive is for; Closed is what mode() reports without one (and open refuses).
    enum class Mode { Closed = 0, Read = 1, Write = 2 };

    // A closed archive: every operation on it reports NotOpen (pack: NotWritable).
    LogArchive();
    ~LogArchive();
    LogArchive(LogArchive&& other) noexcept;
    LogArchive& operator=(LogArchive&& other) noexcept;
    LogArchive(const LogArchive&) = delete;
    LogArchive& operator=(const LogArchive&) = delete;

    // Opens an archive. Write mode touches no file yet. Read mode reads the index of an uncompressed
    // container; one that ends inside an entry's name yields the entries before it, without an error.
    // On failure the result is closed and `error` (when given) says why; on success it is None.
    static LogArchive open(const char* path, Mode mode, LogArchiveError* error = nullptr);

    bool isOpen() const { return state_ != nullptr; }
    explicit operator bool() const { return isOpen(); }

    // Records a file (path, size, times) for pack; the data is read only by pack. NotOpen without an
    // archive, FileStatusUnknown when the file's status cannot be read (or it is 4 GiB or more),
    // NotRegularFile for a folder or another non-regular file. entryCount() then counts it.
    LogArchiveError addFile(const char* path);

    // Writes the container to a temporary file beside the archive's path, compresses it and renames it
    // over that path. `completeEntries` (when given) receives the number of entries whose data was
    // copied whole; a source that cannot be opened writes nothing, one that shrank stops short. On
    // failure no file this call wrote is left behind and an existing file at the path is unchanged.
    LogArchiveError pack(int* completeEntries = nullptr);

    // Frees the archive now (the destructor does the same); NotOpen when it was not open.
    LogArchiveError close();

    // Queries (closed archive: Mode::Closed, 0, an empty entry).
    Mode mode() const;
    int entryCount() const;
    ArchiveEntry entry(int index) const;

    // The text of the last read error ("Read Error at %ld, ret=%d.").
    static std::string lastErrorText();

    // The archive's path, mode and entry table; defined where the archive is read and written.
    struct State;

private:
    explicit LogArchive(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Replaces the file at `path` by its gzip compression (zlib's file interface, mode "wb"). On failure
// `path` is left as it was and no temporary file remains.
LogArchiveError gzipInPlace(const std::string& path);

}  // namespace kestrelle
