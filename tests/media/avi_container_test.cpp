// The RIFF AVI container: structure, indexes and OpenDML parts, read back by ffprobe/ffmpeg.

#include "media/riff_avi_file.h"

#include "base/byte_order.h"
#include "tests/support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

using testing::TempHomeTest;

// Output of a shell command with its error output.
std::string run(const std::string& command) {
    return testing::commandOutput(command + " 2>&1");
}

std::uint32_t le32(const std::string& b, std::size_t at) {
    return testing::readLe32(b, at);
}

std::uint64_t le64(const std::string& b, std::size_t at) {
    return le32(b, at) | static_cast<std::uint64_t>(le32(b, at + 4)) << 32;
}

// Reads a range of a file without loading all of it.
std::string readRange(const std::string& path, std::uint64_t offset, std::size_t size) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string bytes(size, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

std::uint64_t fileSizeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

struct TopLevelPart {
    std::uint64_t offset;
    std::uint32_t size;
    std::string form;
};

// The file's top-level RIFF parts; they must tile the file exactly.
std::vector<TopLevelPart> topLevelParts(const std::string& path) {
    std::vector<TopLevelPart> parts;
    const std::uint64_t end = fileSizeOf(path);
    std::uint64_t at = 0;
    while (at + 12 <= end) {
        const std::string h = readRange(path, at, 12);
        if (h.compare(0, 4, "RIFF") != 0) break;
        parts.push_back({at, le32(h, 4), h.substr(8, 4)});
        at += 8 + le32(h, 4);
    }
    EXPECT_EQ(at, end) << "RIFF parts do not end at the end of the file";
    return parts;
}

// The bytes of a raw 32-bit frame numbered k: every byte holds k.
std::vector<std::uint8_t> rawFrame(std::size_t size, int k) {
    return std::vector<std::uint8_t>(size, static_cast<std::uint8_t>(k));
}

AviVideoStreamInfo rawVideo(int width, int height) {
    AviVideoStreamInfo v;
    v.handler = 0;
    v.scale = 1;
    v.rate = 25;
    v.width = width;
    v.height = height;
    v.suggestedBufferSize = static_cast<std::uint32_t>(width * height * 4);
    v.format.assign(40, 0);
    const std::uint32_t fields[] = {40, static_cast<std::uint32_t>(width),
                                    static_cast<std::uint32_t>(height)};
    for (int f = 0; f < 3; ++f) writeLe32(&v.format[static_cast<std::size_t>(f * 4)], fields[f]);
    v.format[12] = 1;
    v.format[14] = 32;
    return v;
}

// 8 kHz mono 8-bit PCM: one byte per sample, so odd chunk sizes come easily.
AviAudioStreamInfo pcmAudio() {
    AviAudioStreamInfo a;
    a.scale = 1;
    a.rate = 8000;
    a.sampleSize = 1;
    a.format = {1, 0, 1, 0, 0x40, 0x1f, 0, 0, 0x40, 0x1f, 0, 0, 1, 0, 8, 0, 0, 0};
    a.name = "Audio Stream";
    return a;
}

class AviContainerTest : public TempHomeTest {};

// Several RIFF parts: the structure tiles the file, idx1 and every standard index point at the right
// chunks, and ffmpeg reads every packet back in order.
TEST_F(AviContainerTest, PartsIndexesAndPaddingReadBack) {
    const std::string file = path("parts.avi");
    const int width = 64, height = 48, frames = 60;
    const std::size_t frameSize = static_cast<std::size_t>(width * height * 4);
    std::uint64_t audioBytes = 0;
    {
        RiffAviFile avi;
        avi.setPartLimitForTesting(2u << 20);  // the smallest part: about 170 frames of 12 KiB
        ASSERT_TRUE(avi.open(file));
        ASSERT_EQ(avi.addVideoStream(rawVideo(width, height)), 0);
        ASSERT_EQ(avi.addAudioStream(pcmAudio()), 1);
        // Large audio chunks so the file needs three parts.
        const std::size_t audioChunk = 60001;  // odd: padded in the file, not in the index
        std::vector<std::uint8_t> audio(audioChunk, 128);
        for (int k = 0; k < frames; ++k) {
            const auto frame = rawFrame(frameSize, k);
            ASSERT_TRUE(avi.writeChunk(0, frame.data(), frame.size(), k % 30 == 0));
            ASSERT_TRUE(avi.writeChunk(1, audio.data(), audio.size(), true));
            audioBytes += audio.size();
        }
        ASSERT_TRUE(avi.writeChunk(1, audio.data(), 0, true));  // skipped, carries no time
        EXPECT_EQ(avi.addAudioStream(pcmAudio()), -1) << "streams are fixed once data is written";
        EXPECT_EQ(avi.chunkCount(0), static_cast<std::uint64_t>(frames));
        EXPECT_EQ(avi.chunkCount(1), static_cast<std::uint64_t>(frames));
        ASSERT_TRUE(avi.close());
        EXPECT_TRUE(avi.close()) << "a second close is harmless";
    }
    const auto parts = topLevelParts(file);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].form, "AVI ");
    for (std::size_t i = 1; i < parts.size(); ++i) EXPECT_EQ(parts[i].form, "AVIX");
    for (const auto& p : parts) EXPECT_LE(p.size + 8u, 2u << 20);

    const std::string all = testing::readFile(file);
    // Header: stream lengths patched, dmlh total frames, avih first-part frames.
    const std::size_t avih = all.find("avih");
    ASSERT_NE(avih, std::string::npos);
    EXPECT_EQ(le32(all, avih + 8 + 24), 2u) << "stream count";
    const std::size_t dmlh = all.find("dmlh");
    ASSERT_NE(dmlh, std::string::npos);
    EXPECT_EQ(le32(all, dmlh + 8), static_cast<std::uint32_t>(frames));
    const std::size_t vidsStrh = all.find("strh");
    ASSERT_NE(vidsStrh, std::string::npos);
    const std::size_t audsStrh = all.find("strh", vidsStrh + 4);
    ASSERT_NE(audsStrh, std::string::npos);
    EXPECT_EQ(all.substr(vidsStrh + 8, 4), "vids");
    EXPECT_EQ(all.substr(audsStrh + 8, 4), "auds");
    EXPECT_EQ(le32(all, vidsStrh + 8 + 32), static_cast<std::uint32_t>(frames));
    EXPECT_EQ(le32(all, audsStrh + 8 + 32), audioBytes) << "audio length counts samples (bytes here)";
    EXPECT_NE(all.find(std::string("strn\x0d\0\0\0Audio Stream\0\0", 22)), std::string::npos);

    // idx1: every entry names the chunk at its offset, from the 'movi' code of the first part.
    const std::size_t movi = all.find("movi");
    const std::size_t idx1 = all.find("idx1", static_cast<std::size_t>(parts[0].offset));
    ASSERT_NE(idx1, std::string::npos);
    const std::uint32_t idx1Entries = le32(all, idx1 + 4) / 16;
    ASSERT_GT(idx1Entries, 0u);
    const std::uint32_t firstPartFrames = le32(all, avih + 8 + 16);
    std::uint32_t videoEntries = 0;
    for (std::uint32_t e = 0; e < idx1Entries; ++e) {
        const std::size_t at = idx1 + 8 + 16 * e;
        const std::size_t chunk = movi + le32(all, at + 8);
        ASSERT_EQ(all.substr(chunk, 4), all.substr(at, 4)) << "idx1 entry " << e;
        EXPECT_EQ(le32(all, chunk + 4), le32(all, at + 12));
        if (all.compare(at, 4, "00dc") == 0) {
            EXPECT_EQ(le32(all, at + 4), videoEntries % 30 == 0 ? 0x10u : 0u) << "key frame flag";
            ++videoEntries;
        }
    }
    EXPECT_EQ(videoEntries, firstPartFrames);
    EXPECT_LT(firstPartFrames, static_cast<std::uint32_t>(frames));

    // Super indexes: one entry per part, each pointing at an ix## chunk whose entries point at data.
    std::map<std::string, std::uint64_t> chunksPerStream;
    for (const char* id : {"00dc", "01wb"}) {
        std::size_t indx = all.find(std::string("indx"));
        if (id[1] == '1') indx = all.find("indx", indx + 4);
        ASSERT_NE(indx, std::string::npos);
        EXPECT_EQ(all.substr(indx + 8 + 8, 4), id);
        const std::uint32_t inUse = le32(all, indx + 8 + 4);
        EXPECT_EQ(inUse, parts.size());
        std::uint64_t duration = 0;
        for (std::uint32_t e = 0; e < inUse; ++e) {
            const std::size_t entry = indx + 8 + 24 + 16 * e;
            const std::uint64_t ix = le64(all, entry);
            duration += le32(all, entry + 12);
            ASSERT_EQ(all.substr(ix, 2), "ix");
            EXPECT_EQ(le32(all, entry + 8), le32(all, ix + 4) + 8);
            const std::uint32_t n = le32(all, ix + 8 + 4);
            const std::uint64_t base = le64(all, ix + 8 + 12);
            for (std::uint32_t k = 0; k < n; ++k) {
                const std::uint64_t data = base + le32(all, ix + 32 + 8 * k);
                const std::uint32_t size = le32(all, ix + 32 + 8 * k + 4) & 0x7FFFFFFFu;
                ASSERT_EQ(all.substr(data - 8, 4), id);
                ASSERT_EQ(le32(all, data - 4), size);
                ++chunksPerStream[id];
            }
        }
        EXPECT_EQ(duration, id[1] == '0' ? static_cast<std::uint64_t>(frames) : audioBytes);
    }
    EXPECT_EQ(chunksPerStream["00dc"], static_cast<std::uint64_t>(frames));
    EXPECT_EQ(chunksPerStream["01wb"], static_cast<std::uint64_t>(frames));

    EXPECT_EQ(run("ffmpeg -nostdin -v error -i '" + file + "' -f null -"), "");
    const std::string probe =
        run("ffprobe -v error -count_packets -show_entries stream=codec_type,nb_read_packets "
            "-of csv=p=0 '" +
            file + "'");
    EXPECT_EQ(probe, "video," + std::to_string(frames) + "\naudio," + std::to_string(frames) + "\n");
    // The last frame decodes to its own bytes: the index of the last part is right.
    const std::string last = run("ffmpeg -nostdin -v error -i '" + file + "' -vf select='eq(n\\," +
                                 std::to_string(frames - 1) + ")' -frames:v 1 -f rawvideo -pix_fmt bgra -");
    ASSERT_EQ(last.size(), frameSize);
    EXPECT_EQ(static_cast<unsigned char>(last[0]), frames - 1);
    EXPECT_EQ(static_cast<unsigned char>(last[frameSize - 1]), frames - 1);
}

// A file beyond 1 GiB at the normal part size: 70 chunks of 16 MiB. Written to memory (/dev/shm)
// where there is one, so the test does not wait for the disk.
TEST_F(AviContainerTest, FileBeyondOneGibStaysReadable) {
    std::string folder = "/dev/shm/kestrelle-avi-XXXXXX";
    if (::access("/dev/shm", W_OK) != 0 || mkdtemp(folder.data()) == nullptr) folder = root();
    struct Cleanup {
        std::string folder, file;
        ~Cleanup() {
            ::unlink(file.c_str());
            if (folder.rfind("/dev/shm/", 0) == 0) ::rmdir(folder.c_str());
        }
    } cleanup{folder, folder + "/big.avi"};
    const std::string file = cleanup.file;
    const int width = 2048, height = 2048, frames = 70;
    const std::size_t frameSize = static_cast<std::size_t>(width) * height * 4;
    {
        RiffAviFile avi;
        ASSERT_TRUE(avi.open(file));
        ASSERT_EQ(avi.addVideoStream(rawVideo(width, height)), 0);
        ASSERT_EQ(avi.addAudioStream(pcmAudio()), 1);
        std::vector<std::uint8_t> frame(frameSize);
        std::vector<std::uint8_t> audio(321, 128);
        for (int k = 0; k < frames; ++k) {
            std::memset(frame.data(), k, 4096);  // only the first bytes differ: cheap to check
            ASSERT_TRUE(avi.writeChunk(0, frame.data(), frame.size(), true));
            ASSERT_TRUE(avi.writeChunk(1, audio.data(), audio.size(), true));
        }
        ASSERT_TRUE(avi.close());
    }
    ASSERT_GT(fileSizeOf(file), 1ull << 30);
    const auto parts = topLevelParts(file);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_LE(parts[0].size, 1u << 30);

    // Every packet demuxes without a single error line.
    const std::string probe =
        run("ffprobe -v error -count_packets -show_entries stream=codec_type,nb_read_packets "
            "-of csv=p=0 '" +
            file + "'");
    EXPECT_EQ(probe, "video," + std::to_string(frames) + "\naudio," + std::to_string(frames) + "\n");
    // Seeking to the last frame lands on the right chunk in the second part.
    const std::string last = run("ffmpeg -nostdin -v error -ss " + std::to_string((frames - 1) / 25.0) +
                                 " -i '" + file + "' -frames:v 1 -f rawvideo -pix_fmt bgra -");
    ASSERT_EQ(last.size(), frameSize);
    // The chunk's first bytes are the picture's bottom row: the last row decoded.
    EXPECT_EQ(static_cast<unsigned char>(last[frameSize - static_cast<std::size_t>(width) * 4]), frames - 1);
    EXPECT_EQ(static_cast<unsigned char>(last[0]), 0);
}

// A file removed while being written: writing fails instead of going nowhere.
TEST_F(AviContainerTest, RemovedFileFailsTheWrite) {
    const std::string file = path("gone.avi");
    RiffAviFile avi;
    ASSERT_TRUE(avi.open(file));
    ASSERT_EQ(avi.addVideoStream(rawVideo(512, 512)), 0);
    std::vector<std::uint8_t> frame(512 * 512 * 4, 7);
    ASSERT_TRUE(avi.writeChunk(0, frame.data(), frame.size(), true));
    ASSERT_EQ(::unlink(file.c_str()), 0);
    bool refused = false;
    for (int k = 0; k < 64 && !refused; ++k) refused = !avi.writeChunk(0, frame.data(), frame.size(), true);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(avi.failed());
    EXPECT_NE(avi.errorCode(), 0);
    EXPECT_FALSE(avi.writeChunk(0, frame.data(), frame.size(), true)) << "a failed file takes no more data";
    EXPECT_FALSE(avi.close());
}

// What a reader finds in a file, walking its chunks up to the end of the file: the chunks of each
// stream that lie whole inside it, and their payload bytes.
struct ChunksOnDisk {
    std::uint64_t video = 0;
    std::uint64_t firstPartVideo = 0;
    std::uint64_t audio = 0;
    std::uint64_t audioBytes = 0;
    bool partialChunk = false;  // a chunk runs past the end of the file
};

ChunksOnDisk walkChunks(const std::string& all) {
    ChunksOnDisk found;
    std::size_t part = 0;
    for (std::size_t riff = 0; riff + 12 <= all.size() && all.compare(riff, 4, "RIFF") == 0; ++part) {
        const std::size_t partEnd = std::min<std::size_t>(all.size(), riff + 8 + le32(all, riff + 4));
        for (std::size_t at = riff + 12; at + 12 <= partEnd;) {
            const std::size_t size = le32(all, at + 4);
            if (all.compare(at, 4, "LIST") == 0 && all.compare(at + 8, 4, "movi") == 0) {
                const std::size_t moviEnd = std::min(partEnd, at + 8 + size);
                for (std::size_t c = at + 12; c + 8 <= moviEnd;) {
                    const std::size_t body = le32(all, c + 4);
                    if (c + 8 + body > all.size()) {
                        found.partialChunk = true;
                        break;
                    }
                    if (all.compare(c, 4, "00dc") == 0) {
                        ++found.video;
                        if (part == 0) ++found.firstPartVideo;
                    } else if (all.compare(c, 4, "01wb") == 0) {
                        ++found.audio;
                        found.audioBytes += body;
                    }
                    c += 8 + body + (body & 1);
                }
            }
            at += 8 + size + (size & 1);
        }
        riff += 8 + le32(all, riff + 4);
    }
    return found;
}

// A write that fails partway (file size limit; disk full behaves the same) leaves a file cut after its
// last whole chunk, with headers that declare exactly the chunks it holds: frame counts, stream
// lengths, RIFF and list sizes, the OpenDML total. Cut inside the first part, inside a later part, and with
// everything still buffered when the close fails. Runs in child processes that carry the limit.
TEST_F(AviContainerTest, CutFileDeclaresOnlyWhatItHolds) {
    const int width = 64, height = 48;
    const std::size_t frameSize = static_cast<std::size_t>(width * height * 4);
    struct Case {
        rlim_t limit;
        int frames;
    };
    // 400 frames with audio make about 5 MB in three parts of 2 MB: all of it fits the writer's buffer,
    // so the first write to disk happens at close; 700 frames overflow it and fail while writing.
    for (const Case c :
         {Case{100u << 10, 400}, Case{2600u << 10, 400}, Case{4600u << 10, 400}, Case{100u << 10, 700}}) {
        SCOPED_TRACE("limit " + std::to_string(c.limit));
        const std::string file = path("cut" + std::to_string(c.limit) + ".avi");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{c.limit, c.limit};
            setrlimit(RLIMIT_FSIZE, &limit);
            RiffAviFile avi;
            avi.setPartLimitForTesting(2u << 20);
            if (!avi.open(file) || avi.addVideoStream(rawVideo(width, height)) != 0 ||
                avi.addAudioStream(pcmAudio()) != 1)
                _exit(3);
            std::vector<std::uint8_t> audio(417, 128);
            for (int k = 0; k < c.frames; ++k) {
                const auto frame = rawFrame(frameSize, k);
                if (!avi.writeChunk(0, frame.data(), frame.size(), true) ||
                    !avi.writeChunk(1, audio.data(), audio.size(), true))
                    break;
            }
            _exit(avi.close() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_EQ(WEXITSTATUS(status), 1) << "the failed write is reported";

        const std::string all = testing::readFile(file);
        ASSERT_LE(all.size(), c.limit) << "no byte beyond the limit";
        EXPECT_GT(all.size(), c.limit - (64u << 10)) << "cut near the limit, after the last whole chunk";
        const ChunksOnDisk held = walkChunks(all);
        EXPECT_FALSE(held.partialChunk) << "a partial chunk would read as a damaged frame";
        ASSERT_GT(held.video, 0u);
        ASSERT_LT(held.video, static_cast<std::uint64_t>(c.frames));

        EXPECT_FALSE(topLevelParts(file).empty()) << "RIFF sizes tile the file";
        const std::size_t avih = all.find("avih");
        const std::size_t dmlh = all.find("dmlh");
        const std::size_t vidsStrh = all.find("strh");
        const std::size_t audsStrh = all.find("strh", vidsStrh + 4);
        ASSERT_NE(audsStrh, std::string::npos);
        EXPECT_EQ(le32(all, avih + 8 + 16), held.firstPartVideo) << "avih frames of the first part";
        EXPECT_EQ(le32(all, dmlh + 8), held.video) << "OpenDML total frames";
        EXPECT_EQ(le32(all, vidsStrh + 8 + 32), held.video) << "video stream length";
        EXPECT_EQ(le32(all, audsStrh + 8 + 32), held.audioBytes) << "audio stream length";

        // A reader believes the headers and finds every declared frame.
        const std::string probe =
            run("ffprobe -v error -count_packets -select_streams v:0 -show_entries "
                "stream=nb_frames,nb_read_packets -of csv=p=0 '" +
                file + "'");
        EXPECT_EQ(probe, std::to_string(held.video) + "," + std::to_string(held.video) + "\n");
    }
}

// Hostile arguments are refused without touching the file.
TEST_F(AviContainerTest, RefusesBadArguments) {
    RiffAviFile avi;
    EXPECT_FALSE(avi.open(path("missing/folder/x.avi")));
    EXPECT_NE(avi.errorCode(), 0);
    EXPECT_EQ(avi.addVideoStream(rawVideo(8, 8)), -1);

    RiffAviFile ok;
    ASSERT_TRUE(ok.open(path("x.avi")));
    ASSERT_EQ(ok.addVideoStream(rawVideo(8, 8)), 0);
    const std::uint8_t byte = 1;
    EXPECT_FALSE(ok.writeChunk(1, &byte, 1, true)) << "no such stream";
    EXPECT_FALSE(ok.writeChunk(-1, &byte, 1, true));
    EXPECT_FALSE(ok.writeChunk(0, nullptr, 5, true));
    EXPECT_TRUE(ok.writeChunk(0, &byte, 0, true)) << "an empty video chunk is a dropped frame";
    EXPECT_TRUE(ok.close());
}

}  // namespace
}  // namespace kestrelle
