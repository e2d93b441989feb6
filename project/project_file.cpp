#include "project/project_file.h"

#include "base/file_replace.h"
#include "project/project_paths.h"
#include "project/slideshow_project.h"

#include <QByteArray>
#include <QFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <utility>

// The format is read and written with Qt's XML stream classes rather than base/xml_document.h: that
// reader has no attributes, and a project of 100,000 slides needs one pass without an element index.

namespace kestrelle {

namespace {

const QString kRootName = QStringLiteral("kestrelle-project");

// A file name fit for a message: the bytes as the locale reads them (invalid ones shown as U+FFFD).
std::string shownName(const std::string& path) {
    const QString name = QFile::decodeName(QByteArray::fromStdString(fileNameOfPath(path)));
    return name.toStdString();
}

std::string numberText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

template <typename Integer>
std::string integerText(Integer value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// The whole text as a finite number, C locale, no sign but '-'.
std::optional<double> parseNumber(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

template <typename Integer>
std::optional<Integer> parseInteger(const std::string& text) {
    Integer value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end) return std::nullopt;
    return value;
}

// The names of a slide's motion and fit in the file.
constexpr std::pair<MotionKind, const char*> kMotionNames[] = {
    {MotionKind::None, "none"},
    {MotionKind::ZoomIn, "zoom-in"},
    {MotionKind::ZoomOut, "zoom-out"},
    {MotionKind::PanLeft, "pan-left"},
    {MotionKind::PanRight, "pan-right"},
    {MotionKind::PanUp, "pan-up"},
    {MotionKind::PanDown, "pan-down"},
    {MotionKind::Custom, "custom"},
    {MotionKind::GentleRandom, "gentle-random"},
};
constexpr std::pair<PhotoFit, const char*> kFitNames[] = {
    {PhotoFit::Letterbox, "letterbox"},
    {PhotoFit::Fill, "fill"},
    {PhotoFit::BlurredBackground, "blurred-background"},
};

template <typename Value, std::size_t N>
const char* nameOf(const std::pair<Value, const char*> (&names)[N], Value value) {
    for (const auto& [known, name] : names)
        if (known == value) return name;
    return names[0].second;
}

// A name a later version may have added counts as the first (the still, letterboxed default).
template <typename Value, std::size_t N>
Value valueOf(const std::pair<Value, const char*> (&names)[N], const std::string& text) {
    for (const auto& [value, name] : names)
        if (text == name) return value;
    return names[0].first;
}

// "x y width height"; an empty rectangle for anything else (the view is clamped when drawn).
std::string rectText(const QRectF& rect) {
    return numberText(rect.x()) + ' ' + numberText(rect.y()) + ' ' + numberText(rect.width()) + ' ' +
           numberText(rect.height());
}

QRectF parseRect(const std::string& text) {
    double values[4] = {};
    std::size_t at = 0;
    for (double& value : values) {
        if (at > text.size()) return {};
        const std::size_t end = std::min(text.find(' ', at), text.size());
        const std::optional<double> number = parseNumber(text.substr(at, end - at));
        if (!number) return {};
        value = *number;
        at = end + 1;
    }
    if (at <= text.size()) return {};
    return {values[0], values[1], values[2], values[3]};
}

// Where a path is stored: beneath the project's folder (as the folder was named, or as it really is
// once links are resolved) it is written relative, elsewhere absolute.
class PathWriter {
public:
    explicit PathWriter(const std::string& projectPath) {
        folder_ = folderOfPath(absolutePath(projectPath).value_or(projectPath));
        if (char* real = ::realpath(folder_.c_str(), nullptr)) {
            realFolder_ = real;
            std::free(real);
        }
    }
    std::string text(const std::string& given) const {
        // Written as it will be read: "." and ".." taken out.
        const std::string path =
            given.empty() || given.front() != '/' ? given : normaliseAbsolutePath(given).value_or(given);
        if (auto beneath = pathBeneath(path, folder_)) return encodePathText(*beneath);
        if (!realFolder_.empty()) {
            if (auto beneath = pathBeneath(path, realFolder_)) return encodePathText(*beneath);
        }
        return encodePathText(path);
    }

private:
    std::string folder_;
    std::string realFolder_;
};

// Qt's XML reader compares each attribute of an element with all those before it, so one element of
// a million attributes would take hours. The project's elements have at most a handful: this one pass
// over the bytes refuses a tag with more, or elements nested absurdly deep, before the XML reader sees it.
constexpr std::size_t kMaxAttributesPerTag = 64;

// The format nests four deep; a file nested far deeper costs the XML reader memory for each level.
constexpr std::size_t kMaxElementDepth = 256;

enum class TagScan { Ok, TooManyAttributes, TooDeep, DocumentType };

TagScan scanTags(const std::string& text) {
    // Markup whose inside is no tag: skipped whole, so quotes in it do not confuse the count.
    static const std::pair<const char*, const char*> kSkipped[] = {
        {"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
    std::size_t at = 0;
    std::size_t depth = 0;
    while ((at = text.find('<', at)) != std::string::npos) {
        // A document type can declare entities and attribute lists: never handed to the XML reader.
        if (text.compare(at, 9, "<!DOCTYPE") == 0) return TagScan::DocumentType;
        bool skipped = false;
        for (const auto& [open, close] : kSkipped) {
            if (text.compare(at, std::char_traits<char>::length(open), open) != 0) continue;
            const std::size_t end = text.find(close, at + std::char_traits<char>::length(open));
            if (end == std::string::npos) return TagScan::Ok;  // cut off: the XML reader says so
            at = end + std::char_traits<char>::length(close);
            skipped = true;
            break;
        }
        if (skipped) continue;
        const bool endTag = at + 1 < text.size() && text[at + 1] == '/';
        std::size_t equals = 0;
        char quote = 0;
        char before = 0;
        for (++at; at < text.size(); ++at) {
            const char c = text[at];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '=') {
                if (++equals > kMaxAttributesPerTag) return TagScan::TooManyAttributes;
            } else if (c == '>') {
                break;
            }
            before = c;
        }
        if (endTag) {
            if (depth > 0) --depth;
        } else if (before != '/' && ++depth > kMaxElementDepth) {
            return TagScan::TooDeep;
        }
    }
    return TagScan::Ok;
}

class Reader {
public:
    Reader(const std::string& text, const std::string& projectPath)
        : text_(text),
          xml_(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size()))),
          projectPath_(projectPath) {
        // The format uses no namespaces; resolving them costs time in proportion to the depth for every
        // element, which a deeply nested file would make quadratic.
        xml_.setNamespaceProcessing(false);
        folder_ = folderOfPath(absolutePath(projectPath).value_or(projectPath));
        struct stat info {};
        if (::stat(projectPath.c_str(), &info) == 0) {
            projectDevice_ = info.st_dev;
            projectInode_ = info.st_ino;
            knowsProjectFile_ = true;
        }
    }

    ProjectReadResult read() {
        readDocument();
        if (result_.error != ProjectFileError::Ok) result_.document = {};
        return std::move(result_);
    }

private:
    bool failed() const { return result_.error != ProjectFileError::Ok; }

    void fail(ProjectFileError error, const std::string& detail) {
        if (failed()) return;
        result_.error = error;
        const std::string name = shownName(projectPath_);
        switch (error) {
            case ProjectFileError::NotAProject:
                result_.message = "\"" + name + "\" is not a Kestrelle slideshow" +
                                  (detail.empty() ? "." : ": " + detail + ".");
                break;
            case ProjectFileError::NewerVersion:
                result_.message =
                    "This slideshow was saved by a newer version of Kestrelle and cannot be opened. (\"" +
                    name + "\" has format version " + detail + "; this version reads up to " +
                    integerText(kProjectFileVersion) + ".)";
                break;
            case ProjectFileError::TooLarge:
                result_.message = "The slideshow \"" + name + "\" is too large to open: " + detail + ".";
                break;
            default:
                result_.message = "The slideshow \"" + name + "\" is damaged and cannot be opened (line " +
                                  integerText(xml_.lineNumber()) + ": " + detail + ").";
                break;
        }
    }

    void damaged(const std::string& detail) { fail(ProjectFileError::Damaged, detail); }

    std::string attribute(const char* name, bool* present = nullptr) const {
        const QXmlStreamAttributes attributes = xml_.attributes();
        const QString key = QString::fromLatin1(name);
        if (present) *present = attributes.hasAttribute(key);
        return attributes.value(key).toString().toStdString();
    }

    std::string requiredAttribute(const char* element, const char* name) {
        bool present = false;
        std::string value = attribute(name, &present);
        if (!present) damaged(std::string("a ") + element + " has no " + name + " attribute");
        return value;
    }

    // A stored text back to its bytes.
    std::optional<std::string> decodedText(const char* what, const std::string& text) {
        std::optional<std::string> bytes = decodePathText(text);
        if (!bytes) {
            damaged(std::string("the ") + what + " \"" + text + "\" has a broken %-escape");
            return std::nullopt;
        }
        if (bytes->find('\0') != std::string::npos) {
            damaged(std::string("the ") + what + " holds a NUL byte");
            return std::nullopt;
        }
        if (bytes->size() > kMaxProjectPathBytes) {
            damaged(std::string("the ") + what + " is longer than " + integerText(kMaxProjectPathBytes) +
                    " bytes");
            return std::nullopt;
        }
        return bytes;
    }

    // A stored path as the absolute, normalised path it names.
    std::optional<std::string> resolvedPath(const char* what, const std::string& text) {
        std::optional<std::string> bytes = decodedText(what, text);
        if (!bytes) return std::nullopt;
        if (bytes->empty()) {
            damaged(std::string("a ") + what + " is empty");
            return std::nullopt;
        }
        std::optional<std::string> resolved =
            normaliseAbsolutePath(bytes->front() == '/' ? *bytes : folder_ + "/" + *bytes);
        if (!resolved) damaged(std::string("the ") + what + " \"" + text + "\" climbs above the root folder");
        return resolved;
    }

    std::optional<double> duration(const char* what, const std::string& text) {
        const std::optional<double> value = parseNumber(text);
        if (!value || *value < 0 || *value > kMaxDurationSeconds) {
            damaged(std::string("the ") + what + " \"" + text + "\" is not a number of seconds from 0 to " +
                    integerText(static_cast<long long>(kMaxDurationSeconds)));
            return std::nullopt;
        }
        return value;
    }

    // Whether the photo can be read now. Decided with stat alone, so a FIFO or a device is never opened;
    // the project file itself is no photo.
    bool photoPresent(const std::string& path) const {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
        if (knowsProjectFile_ && info.st_dev == projectDevice_ && info.st_ino == projectInode_) return false;
        return ::access(path.c_str(), R_OK) == 0;
    }

    void readDocument() {
        switch (scanTags(text_)) {
            case TagScan::DocumentType:
                return fail(ProjectFileError::NotAProject, "it declares a document type");
            case TagScan::TooDeep:
                return damaged("elements are nested more than " + integerText(kMaxElementDepth) + " deep");
            case TagScan::TooManyAttributes:
                return damaged("an element has more than " + integerText(kMaxAttributesPerTag) +
                               " attributes");
            case TagScan::Ok:
                break;
        }
        // Up to the root element: a declaration, comments and processing instructions only.
        while (!xml_.atEnd()) {
            const QXmlStreamReader::TokenType token = xml_.readNext();
            if (token == QXmlStreamReader::DTD) {
                fail(ProjectFileError::NotAProject, "it declares a document type");
                return;
            }
            if (token == QXmlStreamReader::StartElement) break;
        }
        if (xml_.hasError() || !xml_.isStartElement()) {
            fail(ProjectFileError::NotAProject, "it is not an XML document");
            return;
        }
        if (xml_.name() != kRootName) {
            fail(ProjectFileError::NotAProject, "its first element is not " + kRootName.toStdString());
            return;
        }
        bool present = false;
        const std::string versionText = attribute("version", &present);
        const std::optional<long long> version = parseInteger<long long>(versionText);
        if (!present || !version || *version < 1) {
            damaged("the format version \"" + versionText + "\" is not a number from 1 on");
            return;
        }
        if (*version > kProjectFileVersion) {
            fail(ProjectFileError::NewerVersion, versionText);
            return;
        }
        readProjectChildren();
        if (failed()) return;
        // The rest of the text must be well formed too: a cut-off file is damaged, not shortened.
        while (!xml_.atEnd() && !xml_.hasError()) {
            if (xml_.readNext() == QXmlStreamReader::DTD) {
                damaged("a document type declaration follows the content");
                return;
            }
        }
        checkXmlError();
    }

    // After a failed step of the XML reader: why.
    bool checkXmlError() {
        if (!xml_.hasError()) return false;
        if (xml_.error() == QXmlStreamReader::PrematureEndOfDocumentError) {
            damaged("the file ends in the middle (it was cut off)");
        } else {
            damaged("not well-formed XML: " + xml_.errorString().toStdString());
        }
        return true;
    }

    void readProjectChildren() {
        bool seenOutput = false, seenSlides = false, seenSoundtrack = false;
        while (!failed() && xml_.readNextStartElement()) {
            const auto name = xml_.name();
            if (name == QStringLiteral("output")) {
                if (std::exchange(seenOutput, true)) return damaged("a second output element");
                readOutput();
            } else if (name == QStringLiteral("slides")) {
                if (std::exchange(seenSlides, true)) return damaged("a second slides element");
                readList("slide", [this] { readSlide(); });
            } else if (name == QStringLiteral("soundtrack")) {
                if (std::exchange(seenSoundtrack, true)) return damaged("a second soundtrack element");
                readList("clip", [this] { readClip(); });
            } else if (name == QStringLiteral("motion")) {
                readMotionSeed();
            } else {
                xml_.skipCurrentElement();  // a later minor addition: ignored
            }
        }
        if (!failed()) checkXmlError();
    }

    template <typename ReadItem>
    void readList(const char* itemName, ReadItem readItem) {
        const QString item = QString::fromLatin1(itemName);
        while (!failed() && xml_.readNextStartElement()) {
            if (xml_.name() == item) {
                readItem();
                if (!failed()) xml_.skipCurrentElement();
            } else {
                xml_.skipCurrentElement();
            }
        }
    }

    void readOutput() {
        ProjectDocument& document = result_.document;
        if (auto profile = decodedText("profile name", attribute("profile"))) document.profileName = *profile;
        if (auto name = decodedText("output file name", attribute("name"))) document.outputName = *name;
        const std::string folderText = attribute("folder");
        if (!folderText.empty()) {
            if (auto folder = resolvedPath("target folder", folderText)) document.targetFolder = *folder;
        }
        if (!failed()) xml_.skipCurrentElement();
    }

    void readSlide() {
        ProjectDocument& document = result_.document;
        if (document.content.slides.size() >= kMaxProjectSlides) {
            return fail(ProjectFileError::TooLarge,
                        "it holds more than " + integerText(kMaxProjectSlides) + " slides");
        }
        const std::string photoText = requiredAttribute("slide", "photo");
        const std::string durationText = requiredAttribute("slide", "duration");
        const std::string transitionText = requiredAttribute("slide", "transition");
        const std::string effectText = requiredAttribute("slide", "effect");
        if (failed()) return;
        const std::string number = integerText(document.content.slides.size() + 1);
        SlideContent slide;
        const auto photo = resolvedPath("photo path", photoText);
        if (!photo) return;
        slide.photoPath = *photo;
        const auto seconds = duration(("slide duration of slide " + number).c_str(), durationText);
        const auto transition = duration(("transition duration of slide " + number).c_str(), transitionText);
        if (!seconds || !transition) return;
        slide.slideDuration = *seconds;
        slide.transitionDuration = *transition;
        const std::optional<int> effect = parseInteger<int>(effectText);
        if (!effect || *effect < 0 || *effect > 12) {
            return damaged("slide " + number + " has the effect \"" + effectText +
                           "\" (effects are 0 to 12)");
        }
        slide.transitionEffect = *effect;
        slide.thumbnailIndex = -1;
        slide.photoMissing = !photoPresent(slide.photoPath);

        PhotoFingerprint fingerprint;
        bool hasBytes = false;
        const std::string bytesText = attribute("bytes", &hasBytes);
        if (hasBytes) {
            const auto bytes = parseInteger<std::uint64_t>(bytesText);
            if (!bytes) return damaged("slide " + number + " has the photo size \"" + bytesText + "\"");
            fingerprint.bytes = *bytes;
        }
        fingerprint.hash = attribute("hash");
        if (fingerprint.hash.size() > 128 ||
            fingerprint.hash.find_first_not_of("0123456789abcdef") != std::string::npos) {
            return damaged("slide " + number + " has a fingerprint that is not lower-case hex");
        }
        // A size without a fingerprint identifies nothing.
        if (fingerprint.hash.empty()) fingerprint = {};
        readLook(slide.look);
        document.content.slides.push_back(std::move(slide));
        document.fingerprints.push_back(std::move(fingerprint));
    }

    // Motion and fit are later additions: absent or unknown values give the still, letterboxed photo.
    void readLook(SlideLook& look) {
        look.motion.kind = valueOf(kMotionNames, attribute("motion"));
        if (look.motion.kind == MotionKind::Custom) {
            look.motion.start = parseRect(attribute("motion-start"));
            look.motion.end = parseRect(attribute("motion-end"));
        }
        look.fit.fit = valueOf(kFitNames, attribute("fit"));
        look.fit.enlargeSmall = attribute("enlarge") == "1";
    }

    void readMotionSeed() {
        if (const auto seed = parseInteger<std::uint64_t>(attribute("seed")))
            result_.document.content.motionSeed = *seed;
        if (!failed()) xml_.skipCurrentElement();
    }

    void readClip() {
        ProjectDocument& document = result_.document;
        if (document.content.clips.size() >= kMaxProjectClips) {
            return fail(ProjectFileError::TooLarge,
                        "it holds more than " + integerText(kMaxProjectClips) + " soundtrack clips");
        }
        const std::string pathText = requiredAttribute("clip", "path");
        const std::string durationText = requiredAttribute("clip", "duration");
        if (failed()) return;
        const std::string number = integerText(document.content.clips.size() + 1);
        ClipContent clip;
        const auto path = resolvedPath("clip path", pathText);
        if (!path) return;
        clip.path = *path;
        const auto seconds = duration(("length of clip " + number).c_str(), durationText);
        if (!seconds) return;
        clip.durationSeconds = *seconds;
        bool present = false;
        const std::string dataText = attribute("data-bytes", &present);
        if (present) {
            const auto data = parseInteger<std::uint64_t>(dataText);
            if (!data) return damaged("clip " + number + " has the data size \"" + dataText + "\"");
            clip.dataBytes = *data;
        }
        const std::string rateText = attribute("byte-rate", &present);
        if (present) {
            const auto rate = parseInteger<std::uint32_t>(rateText);
            if (!rate) return damaged("clip " + number + " has the byte rate \"" + rateText + "\"");
            clip.averageBytesPerSecond = *rate;
        }
        document.content.clips.push_back(std::move(clip));
    }

    const std::string& text_;
    QXmlStreamReader xml_;
    std::string projectPath_;
    std::string folder_;
    bool knowsProjectFile_ = false;
    dev_t projectDevice_ = 0;
    ino_t projectInode_ = 0;
    ProjectReadResult result_;
};

// The whole regular file, refusing anything that is not one; never blocks on a FIFO put in its place.
bool readWholeFile(const std::string& path, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              static_cast<std::uint64_t>(info.st_size) <= kMaxProjectFileBytes;
    if (ok) {
        // One byte more than the size, so a file that grew meanwhile is seen (and refused past the limit).
        bytes.assign(static_cast<std::size_t>(info.st_size) + 1, '\0');
        std::size_t filled = 0;
        while (filled < bytes.size()) {
            const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) ok = false;
            if (got <= 0) break;
            filled += static_cast<std::size_t>(got);
        }
        if (filled > static_cast<std::uint64_t>(info.st_size)) {
            std::string rest;
            ok = ok && readSmallFile(path, kMaxProjectFileBytes, rest);
            bytes = std::move(rest);
        } else {
            bytes.resize(filled);
        }
    }
    ::close(fd);
    return ok;
}

QString attributeText(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// Only what differs from the still, letterboxed photo is written, so files without motion stay as they were.
void writeLook(QXmlStreamWriter& xml, const SlideLook& look) {
    if (look.motion.kind != MotionKind::None)
        xml.writeAttribute(QStringLiteral("motion"),
                           QString::fromLatin1(nameOf(kMotionNames, look.motion.kind)));
    if (look.motion.kind == MotionKind::Custom) {
        xml.writeAttribute(QStringLiteral("motion-start"), attributeText(rectText(look.motion.start)));
        xml.writeAttribute(QStringLiteral("motion-end"), attributeText(rectText(look.motion.end)));
    }
    if (look.fit.fit != PhotoFit::Letterbox)
        xml.writeAttribute(QStringLiteral("fit"), QString::fromLatin1(nameOf(kFitNames, look.fit.fit)));
    if (look.fit.enlargeSmall) xml.writeAttribute(QStringLiteral("enlarge"), QStringLiteral("1"));
}

}  // namespace

std::string projectFileText(const ProjectDocument& document, const std::string& projectPath) {
    const PathWriter paths(projectPath);
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(1);
    xml.writeStartDocument();
    xml.writeStartElement(kRootName);
    xml.writeAttribute(QStringLiteral("version"), QString::number(kProjectFileVersion));

    xml.writeStartElement(QStringLiteral("output"));
    xml.writeAttribute(QStringLiteral("profile"), attributeText(encodePathText(document.profileName)));
    xml.writeAttribute(QStringLiteral("name"), attributeText(encodePathText(document.outputName)));
    xml.writeAttribute(QStringLiteral("folder"), attributeText(encodePathText(document.targetFolder)));
    xml.writeEndElement();

    if (document.content.motionSeed != 0) {
        xml.writeStartElement(QStringLiteral("motion"));
        xml.writeAttribute(QStringLiteral("seed"), attributeText(integerText(document.content.motionSeed)));
        xml.writeEndElement();
    }

    xml.writeStartElement(QStringLiteral("slides"));
    const std::vector<SlideContent>& slides = document.content.slides;
    for (std::size_t i = 0; i < slides.size(); ++i) {
        const SlideContent& slide = slides[i];
        xml.writeStartElement(QStringLiteral("slide"));
        xml.writeAttribute(QStringLiteral("photo"), attributeText(paths.text(slide.photoPath)));
        xml.writeAttribute(QStringLiteral("duration"), attributeText(numberText(slide.slideDuration)));
        xml.writeAttribute(QStringLiteral("transition"), attributeText(numberText(slide.transitionDuration)));
        xml.writeAttribute(QStringLiteral("effect"), QString::number(slide.transitionEffect));
        if (i < document.fingerprints.size() && !document.fingerprints[i].hash.empty()) {
            xml.writeAttribute(QStringLiteral("bytes"),
                               attributeText(integerText(document.fingerprints[i].bytes)));
            xml.writeAttribute(QStringLiteral("hash"), attributeText(document.fingerprints[i].hash));
        }
        writeLook(xml, slide.look);
        xml.writeEndElement();
    }
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("soundtrack"));
    for (const ClipContent& clip : document.content.clips) {
        xml.writeStartElement(QStringLiteral("clip"));
        xml.writeAttribute(QStringLiteral("path"), attributeText(paths.text(clip.path)));
        xml.writeAttribute(QStringLiteral("duration"), attributeText(numberText(clip.durationSeconds)));
        xml.writeAttribute(QStringLiteral("data-bytes"), attributeText(integerText(clip.dataBytes)));
        xml.writeAttribute(QStringLiteral("byte-rate"),
                           attributeText(integerText(clip.averageBytesPerSecond)));
        xml.writeEndElement();
    }
    xml.writeEndElement();

    xml.writeEndElement();
    xml.writeEndDocument();
    return bytes.toStdString();
}

ProjectReadResult parseProjectFileText(const std::string& text, const std::string& projectPath) {
    return Reader(text, projectPath).read();
}

ProjectReadResult readProjectFile(const std::string& path) {
    ProjectReadResult result;
    const auto cannotOpen = [&](const std::string& why) {
        result.error = ProjectFileError::CannotOpen;
        result.message = "The slideshow \"" + shownName(path) + "\" cannot be opened: " + why + ".";
        return result;
    };
    if (path.empty() || path.find('\0') != std::string::npos) return cannotOpen("the name is not valid");
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return cannotOpen("the file does not exist");
    if (!S_ISREG(info.st_mode))
        return cannotOpen(S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a file");
    if (static_cast<std::uint64_t>(info.st_size) > kMaxProjectFileBytes) {
        result.error = ProjectFileError::TooLarge;
        result.message = "The slideshow \"" + shownName(path) +
                         "\" is too large to open: it is larger than " +
                         integerText(kMaxProjectFileBytes / (1024 * 1024)) + " MB.";
        return result;
    }
    std::string text;
    if (!readWholeFile(path, text)) return cannotOpen("it cannot be read");
    return parseProjectFileText(text, path);
}

bool writeProjectFile(const std::string& path, const ProjectDocument& document, std::string* message) {
    std::string error;
    if (replaceFileContents(path, projectFileText(document, path), error)) return true;
    if (message) *message = "The slideshow could not be saved as \"" + shownName(path) + "\": " + error + ".";
    return false;
}

}  // namespace kestrelle
