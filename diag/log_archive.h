#pragma once
// The log archive: a small container of files (a header, then per file a 128-byte name, two time
// stamps, a size and the bytes; all integers little-endian), compressed as a whole with gzip.
//
//   offset 0  "VXPACK" (a reader also accepts "VXSEGM")
//   offset 6  version, signed 16-bit, written as 1 (a reader accepts any version up to 1)
//   offset 8  entry count, 32-bit
//   offset 12 entries: name[128] zero-filled, modification time u32, creation time u32, size u32, data
//
// The functions report failures as negative codes; the codes stay inside the module's callers.

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

namespace LogArchive {

constexpr int kModeRead = 1;
constexpr int kModeWrite = 2;

struct Handle;

// Opens a handle. Write mode (2) touches no file yet. Read mode (1) reads the index of an uncompressed
// container. On failure returns null and stores the code in `error` (when not null):
//   -1 no path, -2 bad mode, -3 no memory for the entry table (write),
//   -4 cannot open, -51 shorter than the magic, -52 bad magic, -53 no version, -54 version above 1,
//   -5 no entry count, -6 read error inside a name, -7/-8/-9 modification time, creation time or size
//   missing (read).
// A container that ends inside an entry's name yields the entries before it, without an error.
Handle* open(const char* path, int mode, int* error);

// Records a file (path, size, times) for pack; the data is read only by pack. Returns the new entry
// count, or -1 without a handle, -2 when the file's status cannot be read (or it is 4 GiB or more),
// -3 when the path is a folder or another non-regular file.
int addFile(Handle* handle, const char* path);

// Writes the container to the handle's path and compresses it in place. Returns the number of entries
// whose data was copied whole, or: -1 read handle, -2 no entries, -3 the container cannot be created
// (or it is one of the files to pack), -31/-32/-4 magic/version/count not written, -5 a name not
// written, -6 an entry field or data block not written, -10 to -14 from gzipInPlace. On a negative
// result no file this call wrote is left behind.
int pack(Handle* handle);

// Frees the handle; -1 without one, else 0.
int release(Handle* handle);

// Replaces the file at `path` by its gzip compression (zlib's file interface, mode "wb"). Returns 0, or
// -10 no file status (or not a regular file), -11 the gzip file cannot be opened, -12 the file cannot be
// opened, -13 a short read, -14 the compressed file cannot be written or put in place. On failure `path` is
// left as it was and no temporary file remains.
int gzipInPlace(const std::string& path);

// Queries on a handle (null handle: 0 / empty entry).
int mode(const Handle* handle);
int entryCount(const Handle* handle);
ArchiveEntry entry(const Handle* handle, int index);

// The text of the last read error ("Read Error at %ld, ret=%d.").
std::string lastErrorText();

struct HandleDeleter {
    void operator()(Handle* handle) const { release(handle); }
};
using HandlePtr = std::unique_ptr<Handle, HandleDeleter>;

}  // namespace LogArchive

}  // namespace kestrelle
