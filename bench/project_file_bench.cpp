// The project file with 1,000 slides: saving it (fingerprints from a warm cache, then the atomic write)
// and opening it, each against a baseline measured in the same run: the atomic write of the same bytes
// alone, and reading the same bytes and running Qt's XML tokeniser over them alone. Medians of the
// repetitions; the goal for a save is 50 ms.
//
//   project_file_bench [repetitions] [slides]

#include "base/file_replace.h"
#include "project/photo_fingerprint.h"
#include "project/project_file.h"

#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

double medianMs(int repetitions, const std::function<void()>& work) {
    std::vector<double> times;
    for (int r = 0; r < repetitions; ++r) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return median(times);
}

// A 4 MB photo as a sparse file with its own bytes at both ends, so the fingerprint reads real edges
// without the benchmark writing gigabytes.
bool makePhoto(const std::string& path, int number) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const std::string mark = "photo " + std::to_string(number);
    bool ok =
        ::ftruncate(fd, 4 * 1024 * 1024) == 0 &&
        ::pwrite(fd, mark.data(), mark.size(), 0) == static_cast<ssize_t>(mark.size()) &&
        ::pwrite(fd, mark.data(), mark.size(), 4 * 1024 * 1024 - 64) == static_cast<ssize_t>(mark.size());
    ok = ::close(fd) == 0 && ok;
    return ok;
}

// The file's bytes, read as plainly as can be: one open, one fstat, one read.
std::string readWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat info {};
    std::string bytes;
    if (::fstat(fd, &info) == 0) {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        const ssize_t got = ::read(fd, bytes.data(), bytes.size());
        bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    ::close(fd);
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    const int slides = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000;
    QTemporaryDir folder;
    const std::string root = folder.path().toStdString();
    const std::string photos = root + "/photos";
    ::mkdir(photos.c_str(), 0755);

    kestrelle::ProjectDocument document;
    for (int i = 0; i < slides; ++i) {
        const std::string photo = photos + "/IMG_" + std::to_string(10000 + i) + ".jpg";
        if (!makePhoto(photo, i)) {
            std::fprintf(stderr, "cannot make %s\n", photo.c_str());
            return 1;
        }
        document.content.slides.push_back(
            kestrelle::SlideContent{photo, 3.0 + i % 7 * 0.5, 1.5, i % 13, -1, false});
    }
    document.content.clips.push_back(kestrelle::ClipContent{root + "/music/song.mp3", 215.4, 0, 0});
    document.profileName = "Normal Quality(.avi)";
    document.outputName = "Holiday.avi";
    document.targetFolder = root + "/videos";
    const std::string projectPath = root + "/show.kestrelle";

    kestrelle::PhotoFingerprintCache cache;
    const auto coldStart = Clock::now();
    cache.fillFingerprints(document);
    const double coldMs = std::chrono::duration<double, std::milli>(Clock::now() - coldStart).count();

    bool ok = true;
    const double saveMs = medianMs(repetitions, [&] {
        kestrelle::ProjectDocument saved = document;
        cache.fillFingerprints(saved);
        ok = kestrelle::writeProjectFile(projectPath, saved) && ok;
    });
    const std::string text = kestrelle::projectFileText(document, projectPath);
    const std::string baselinePath = root + "/baseline.kestrelle";
    const double writeMs = medianMs(repetitions, [&] {
        std::string error;
        ok = kestrelle::replaceFileContents(baselinePath, text, error) && ok;
    });
    const double openMs = medianMs(repetitions, [&] {
        const kestrelle::ProjectReadResult read = kestrelle::readProjectFile(projectPath);
        ok = read.error == kestrelle::ProjectFileError::Ok &&
             read.document.content.slides.size() == static_cast<std::size_t>(slides) && ok;
    });
    const double readMs = medianMs(repetitions, [&] {
        const std::string bytes = readWhole(projectPath);
        QXmlStreamReader xml(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
        while (!xml.atEnd()) xml.readNext();
        ok = !xml.hasError() && ok;
    });
    if (!ok) {
        std::fprintf(stderr, "a save or an open failed\n");
        return 1;
    }
    std::printf("project file, %d slides (%zu bytes), medians of %d runs\n", slides, text.size(),
                repetitions);
    std::printf("  fingerprints, cold cache (once):     %8.2f ms\n", coldMs);
    std::printf(
        "  save, warm cache:                    %8.2f ms  (goal 50 ms)  baseline atomic write alone %6.2f "
        "ms, "
        "ratio %.2f\n",
        saveMs, writeMs, writeMs > 0 ? saveMs / writeMs : 0.0);
    std::printf(
        "  open:                                %8.2f ms  baseline reading and XML-tokenising the bytes "
        "alone %6.2f ms, ratio %.2f\n",
        openMs, readMs, readMs > 0 ? openMs / readMs : 0.0);
    std::printf("  computed fingerprints: %llu (one per photo)\n",
                static_cast<unsigned long long>(cache.computedCount()));
    return saveMs <= 50.0 ? 0 : 2;
}
