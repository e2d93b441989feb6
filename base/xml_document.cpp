#include "base/xml_document.h"

#include "base/text.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrelle {
namespace {

using Index = uint32_t;

// Records live in segments of 65536: the high 16 bits of an index pick the segment, the low 16 the slot.
constexpr unsigned kSegmentBits = 16;
constexpr size_t kSegmentSize = size_t{1} << kSegmentBits;
constexpr Index kSlotMask = kSegmentSize - 1;

// Offsets and lengths are 32-bit; longer texts are refused.
constexpr size_t kMaxText = 0xFFFFFFF0u;

// Flags: nesting depth in the low 16 bits, markers above.
constexpr uint32_t kLevelMask = 0xFFFF;
constexpr uint32_t kFirstChild = 1u << 16;
constexpr uint32_t kUnended = 1u << 17;
constexpr uint32_t kErrorInside = 1u << 18;
constexpr uint32_t kIllFormed = 1u << 19;  // document record only

enum NodeKind : int {
    kEndTagNode = 0,
    kElementNode = 1,
    kTextNode = 2,
    kWhitespaceNode = 4,
    kCDataNode = 8,
    kProcessingNode = 16,
    kCommentNode = 32,
    kDeclarationNode = 64,
    kErrorNode = -1,
    kEndOfDocument = -2,
};

struct Record {
    uint32_t start = 0;   // offset of the start tag's '<'
    uint32_t length = 0;  // start tag to the end of the end tag (start tag alone when none)
    uint32_t startTagLength = 0;
    uint32_t endTagLength = 0;  // 0: no end tag
    uint32_t flags = 0;
    Index parent = 0;
    Index firstChild = 0;
    Index next = 0;  // 0 after the last sibling
    Index prev = 0;  // the first child's prev is the last child
};

bool endsName(char c) {
    return isXmlSpace(c) || c == '<' || c == '>' || c == '=' || c == '\\' || c == '/' || c == '?' || c == '!';
}

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// An element's name read at `from`: leading white space skipped, then up to a name delimiter or `limit`.
std::string_view readName(std::string_view text, size_t from, size_t limit) {
    limit = std::min(limit, text.size());
    from = std::min(from, limit);
    while (from < limit && isXmlSpace(text[from])) ++from;
    size_t end = from;
    while (end < limit && !endsName(text[end])) ++end;
    return text.substr(from, end - from);
}

// A requested name matches when it starts with the element's name and ends there or goes on with
// a space, '=', '/' or '[' ("Theme Path" matches the element written <Theme Path>).
bool nameMatches(std::string_view requested, std::string_view name) {
    if (requested.size() < name.size() || requested.compare(0, name.size(), name) != 0) return false;
    if (requested.size() == name.size()) return true;
    const char c = requested[name.size()];
    return c == ' ' || c == '=' || c == '/' || c == '[';
}

std::string offsetMessage(const char* before, std::string_view what, const char* middle, size_t offset,
                          const char* after) {
    std::string m(before);
    m.append(what);
    m.append(middle);
    m.append(std::to_string(offset));
    m.append(after);
    return m;
}

// The standard library's text for an error number, cut at its first line end.
std::string errorText(int err) {
    if (err == 0) err = EIO;
    std::string text = std::strerror(err);
    const size_t cut = text.find_first_of("\r\n");
    if (cut != std::string::npos) text.resize(cut);
    return text;
}

std::string byteCountText(size_t bytes) {
    return std::to_string(bytes) + " bytes";
}

struct Node {
    int kind = kEndOfDocument;
    size_t start = 0;
    size_t end = 0;         // one past the node's last byte
    size_t nameEnd = 0;     // start tag: where the tag's name stops
    bool emptyTag = false;  // start tag: <a/>, <a />, <a b="1"/>
    bool unterminated = false;
    const char* what = "";  // error: the kind of node at fault
};

// Reads the node at `pos`. Always consumes at least one byte unless at the end of the text.
Node readNode(std::string_view s, size_t pos) {
    const size_t n = s.size();
    Node node;
    node.start = pos;
    if (pos >= n) {
        node.end = n;
        return node;
    }
    if (s[pos] != '<') {
        size_t lt = s.find('<', pos);
        if (lt == std::string_view::npos) lt = n;
        node.kind = kWhitespaceNode;
        for (size_t i = pos; i < lt; ++i) {
            if (!isXmlSpace(s[i])) {
                node.kind = kTextNode;
                break;
            }
        }
        node.end = lt;
        return node;
    }
    auto unterminated = [&](const char* what) {
        node.kind = kErrorNode;
        node.unterminated = true;
        node.what = what;
        node.end = n;
        return node;
    };
    // A malformed tag is skipped up to its '>' (or the end of the text).
    auto incorrect = [&](const char* what) {
        node.kind = kErrorNode;
        node.what = what;
        const size_t gt = s.find('>', pos + 1);
        node.end = gt == std::string_view::npos ? n : gt + 1;
        return node;
    };
    auto endsWith = [&](int kind, std::string_view terminator, size_t from, const char* what) {
        const size_t at = from <= n ? s.find(terminator, from) : std::string_view::npos;
        if (at == std::string_view::npos) return unterminated(what);
        node.kind = kind;
        node.end = at + terminator.size();
        return node;
    };

    if (pos + 1 >= n) return unterminated("Element tag");
    const char c = s[pos + 1];
    if (c == '/') return endsWith(kEndTagNode, ">", pos + 2, "Element end tag");
    if (c == '?') return endsWith(kProcessingNode, "?>", pos + 2, "Processing instruction");
    if (c == '!') {
        if (pos + 2 >= n) return unterminated("tag");
        const char d = s[pos + 2];
        if (d == '-') {
            if (pos + 3 >= n) return unterminated("tag");
            if (s[pos + 3] != '-') return incorrect("comment tag");
            return endsWith(kCommentNode, "-->", pos + 4, "Comment");
        }
        if (d == '[') {
            if (pos + 3 >= n) return unterminated("tag");
            if (s[pos + 3] != 'C') return incorrect("tag");
            return endsWith(kCDataNode, "]]>", pos + 3, "CDATA Section");
        }
        if (d == 'D') {
            // DOCTYPE: nested declarations in angle brackets may sit inside it.
            size_t depth = 1;
            for (size_t i = pos + 2; i < n; ++i) {
                if (s[i] == '<') {
                    ++depth;
                } else if (s[i] == '>' && --depth == 0) {
                    node.kind = kDeclarationNode;
                    node.end = i + 1;
                    return node;
                }
            }
            return unterminated("Doctype");
        }
        if (d == 'E' || d == 'A' || d == 'N') return endsWith(kDeclarationNode, ">", pos + 2, "Doctype");
        return incorrect("! tag");
    }
    if (!(isAsciiLetter(c) || c == ':' || c == '_' || static_cast<unsigned char>(c) > 0x7E)) {
        return incorrect("tag name character");
    }

    // Start tag: the name runs to white space, '/' or '>'; a quoted value after '=' may hold '>'.
    size_t i = pos + 1;
    while (i < n && !isXmlSpace(s[i]) && s[i] != '/' && s[i] != '>') ++i;
    node.nameEnd = i;
    bool afterEquals = false;
    while (i < n && s[i] != '>') {
        const char ch = s[i];
        if (ch == '=') {
            afterEquals = true;
        } else if ((ch == '"' || ch == '\'') && afterEquals) {
            const size_t close = s.find(ch, i + 1);
            if (close == std::string_view::npos) return unterminated("Element tag");
            i = close;
            afterEquals = false;
        } else if (!isXmlSpace(ch)) {
            afterEquals = false;
        }
        ++i;
    }
    if (i >= n) return unterminated("Element tag");
    node.kind = kElementNode;
    node.end = i + 1;
    const size_t slash = i - 1;
    if (s[slash] == '/') {
        const char before = slash > node.nameEnd ? s[slash - 1] : '\0';
        node.emptyTag = slash == node.nameEnd || isXmlSpace(before) || before == '"' || before == '\'';
    }
    return node;
}

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        // Five decimal digits reach past 0xFFFF; those need four bytes, not a mangled three.
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

int digitValue(char c, bool hex) {
    if (c >= '0' && c <= '9') return c - '0';
    if (hex && c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A numeric reference at `amp` ("&#233;", "&#xE9;") with its ';' within seven characters.
// Returns the reference's length, 0 when there is none.
size_t numericReference(std::string_view s, size_t amp, uint32_t& code) {
    if (amp + 2 >= s.size() || s[amp + 1] != '#') return 0;
    const bool hex = s[amp + 2] == 'x';
    const size_t first = amp + (hex ? 3 : 2);
    const size_t last = std::min(s.size(), amp + 8);  // ';' at most 7 past the '&'
    uint32_t value = 0;
    for (size_t i = first; i < last; ++i) {
        if (s[i] == ';') {
            if (i == first) return 0;
            code = value;
            return i - amp + 1;
        }
        const int d = digitValue(s[i], hex);
        if (d < 0) return 0;
        value = value * (hex ? 16 : 10) + static_cast<uint32_t>(d);
    }
    return 0;
}

// Open elements by name, so an end tag finds its match without walking the whole stack.
uint64_t mixHash(uint64_t h, unsigned char c) {
    // Polynomial hash modulo 2^61 - 1.
    constexpr uint64_t kMod = (uint64_t{1} << 61) - 1;
    constexpr uint64_t kBase = 1000003;
    const unsigned __int128 product = static_cast<unsigned __int128>(h) * kBase + c + 1;
    uint64_t r = static_cast<uint64_t>(product & kMod) + static_cast<uint64_t>(product >> 61);
    if (r >= kMod) r -= kMod;
    return r;
}

uint64_t nameHash(std::string_view name) {
    uint64_t h = 0;
    for (char c : name) h = mixHash(h, static_cast<unsigned char>(c));
    return h;
}

}  // namespace

struct XmlDocument::Impl {
    std::string text;
    std::string result;

    std::vector<std::vector<Record>> segments;
    size_t capacity = 0;
    Index nextFree = 0;

    // Cursor.
    Index parent = 0;
    Index current = 0;
    Index child = 0;
    bool currentIsElement = false;

    Record& rec(Index i) { return segments[i >> kSegmentBits][i & kSlotMask]; }
    const Record& rec(Index i) const { return segments[i >> kSegmentBits][i & kSlotMask]; }

    void resetCursor() {
        parent = current = child = 0;
        currentIsElement = false;
    }

    void growTo(size_t records) {
        while (capacity < records) {
            if (segments.empty() || segments.back().size() == kSegmentSize) segments.emplace_back();
            std::vector<Record>& last = segments.back();
            const size_t want = std::min(kSegmentSize, last.size() + (records - capacity));
            last.reserve(want);
            capacity += want - last.size();
            last.resize(want);
        }
    }

    void resetIndex(size_t records) {
        segments.clear();
        capacity = 0;
        growTo(std::max<size_t>(records, 8));
        rec(0) = Record{};
        nextFree = 1;
    }

    // Takes the next free record, growing the index by half of the records used when full.
    Index newRecord() {
        if (nextFree >= capacity) growTo(capacity + std::max<size_t>(nextFree / 2, 8));
        const Index i = nextFree++;
        rec(i) = Record{};
        return i;
    }

    void appendChild(Index p, Index r) {
        Record& pr = rec(p);
        rec(r).parent = p;
        if (pr.firstChild == 0) {
            pr.firstChild = r;
            rec(r).prev = r;
            rec(r).flags |= kFirstChild;
            return;
        }
        Record& first = rec(pr.firstChild);
        const Index last = first.prev;
        rec(last).next = r;
        rec(r).prev = last;
        rec(r).next = 0;
        first.prev = r;
    }

    void insertAfter(Index sibling, Index r) {
        Record& s = rec(sibling);
        Record& nr = rec(r);
        nr.parent = s.parent;
        nr.prev = sibling;
        nr.next = s.next;
        if (s.next != 0) {
            rec(s.next).prev = r;
        } else {
            rec(rec(s.parent).firstChild).prev = r;
        }
        s.next = r;
    }

    std::string_view nameOf(Index i) const {
        const Record& r = rec(i);
        return readName(text, size_t{r.start} + 1, size_t{r.start} + r.startTagLength);
    }

    uint32_t levelOf(Index i) const { return i == 0 ? 0 : (rec(i).flags & kLevelMask); }

    void parse();
    bool wellFormed() const;
};

// ---- parsing --------------------------------------------------------------------------------------

namespace {

struct OpenElement {
    uint32_t nameStart;
    uint32_t nameLength;
    Index record;
    uint64_t hash;
};

}  // namespace

void XmlDocument::Impl::parse() {
    resetCursor();
    const size_t n = text.size();
    resetIndex(n / 64 + 8);

    std::string message;
    bool anyMessage = false;
    if (n == 0) {
        message = "Empty document";
        anyMessage = true;
    }

    std::vector<OpenElement> stack;
    stack.reserve(6);
    std::unordered_map<uint64_t, std::vector<uint32_t>> openByName;  // name hash -> stack depths
    const std::string_view s(text);

    auto note = [&](std::string m) {
        rec(0).flags |= kIllFormed;
        if (!stack.empty()) rec(stack.back().record).flags |= kErrorInside;
        if (!anyMessage) {
            message = std::move(m);
            anyMessage = true;
        }
    };
    auto nameOfOpen = [&](const OpenElement& e) { return s.substr(e.nameStart, e.nameLength); };
    auto pop = [&]() {
        std::vector<uint32_t>& depths = openByName[stack.back().hash];
        depths.pop_back();
        if (depths.empty()) openByName.erase(stack.back().hash);
        stack.pop_back();
    };
    // Closes every open element above `depth` as unended, innermost first: each one keeps only its
    // start tag and hands its children to its parent, where they follow it in their order. Done in
    // one pass: the children of all of them end up, in document order, at the end of the
    // surviving parent's children.
    auto closeUnendedAbove = [&](size_t depth) {
        const Index into = depth == 0 ? 0 : stack[depth - 1].record;
        for (size_t k = depth; k < stack.size(); ++k) {
            const Index u = stack[k].record;
            Record& ur = rec(u);
            ur.flags |= kUnended;
            ur.length = ur.startTagLength;
            ur.endTagLength = 0;
            const Index first = ur.firstChild;
            if (first == 0) continue;
            ur.firstChild = 0;
            // `u` is the last child of `into` at this point.
            const Index last = rec(first).prev;
            for (Index c = first; c != 0; c = rec(c).next) rec(c).parent = into;
            rec(first).flags &= ~kFirstChild;
            rec(u).next = first;
            rec(first).prev = u;
            rec(rec(into).firstChild).prev = last;
        }
        while (stack.size() > depth) pop();
    };

    size_t pos = 0;
    while (n != 0) {
        const Node node = readNode(s, pos);
        if (node.kind == kEndOfDocument) break;
        pos = node.end;
        if (node.kind == kElementNode) {
            const Index parentIndex = stack.empty() ? 0 : stack.back().record;
            const Index r = newRecord();
            appendChild(parentIndex, r);
            Record& nr = rec(r);
            nr.start = static_cast<uint32_t>(node.start);
            nr.startTagLength = static_cast<uint32_t>(node.end - node.start);
            nr.length = nr.startTagLength;
            nr.flags |= std::min<uint32_t>(stack.size() + 1, kLevelMask);
            if (!node.emptyTag) {
                const std::string_view name = readName(s, node.start + 1, node.end);
                if (stack.size() == stack.capacity()) stack.reserve(stack.capacity() * 2 + 6);
                const uint64_t h = nameHash(name);
                openByName[h].push_back(static_cast<uint32_t>(stack.size()));
                stack.push_back({static_cast<uint32_t>(name.data() - s.data()),
                                 static_cast<uint32_t>(name.size()), r, h});
            }
        } else if (node.kind == kEndTagNode) {
            const std::string_view name = readName(s, node.start + 2, node.end);
            // The innermost open element whose name matches: the end tag's whole name, or the part
            // of it before any '['.
            bool found = false;
            size_t match = 0;
            uint64_t h = 0;
            for (size_t k = 1; k <= name.size(); ++k) {
                h = mixHash(h, static_cast<unsigned char>(name[k - 1]));
                if (k < name.size() && name[k] != '[') continue;
                const auto it = openByName.find(h);
                if (it == openByName.end()) continue;
                const std::string_view prefix = name.substr(0, k);
                for (auto d = it->second.rbegin(); d != it->second.rend(); ++d) {
                    if (found && *d <= match) break;
                    if (nameOfOpen(stack[*d]) == prefix) {
                        found = true;
                        match = *d;
                        break;
                    }
                }
            }
            if (!found) {
                note(offsetMessage("No start tag for end tag '", name, "' at offset ", node.start, ""));
                continue;
            }
            if (match + 1 < stack.size()) {
                const OpenElement& inner = stack.back();
                note(offsetMessage("End tag '", name, "' at offset ", node.start + 1, "") +
                     offsetMessage(" does not match start tag '", nameOfOpen(inner), "' at offset ",
                                   rec(inner.record).start, ""));
                closeUnendedAbove(match + 1);
            }
            Record& closed = rec(stack.back().record);
            closed.length = static_cast<uint32_t>(node.end - closed.start);
            closed.endTagLength = static_cast<uint32_t>(node.end - node.start);
            pop();
        } else if (node.kind == kErrorNode) {
            if (node.unterminated) {
                note(offsetMessage("", node.what, " at offset ", node.start, " unterminated"));
            } else {
                note(offsetMessage("Incorrect ", node.what, " at offset ", node.start, ""));
            }
        }
    }
    if (!stack.empty()) {
        const OpenElement& inner = stack.back();
        note(offsetMessage("Element '", nameOfOpen(inner), "' at offset ", rec(inner.record).start,
                           " not ended"));
        closeUnendedAbove(0);
    }
    rec(0).length = static_cast<uint32_t>(n);

    // Re-parenting moved elements up; set every depth from its parent (parents have lower indexes).
    for (Index i = 1; i < nextFree; ++i) {
        Record& r = rec(i);
        r.flags = (r.flags & ~kLevelMask) | std::min<uint32_t>(levelOf(r.parent) + 1, kLevelMask);
    }

    if (n != 0) {
        const Index root = rec(0).firstChild;
        if (root == 0) {
            // A problem already found (an unfinished comment, a bad tag) says more about a missing
            // root than "No root element" does.
            if (!anyMessage) message = "No root element";
            rec(0).flags |= kIllFormed;
        } else if (rec(root).next != 0) {
            message = "Root element has sibling";
            rec(0).flags |= kIllFormed;
        }
    }
    if (!message.empty()) {
        if (result.empty()) {
            result = std::move(message);
        } else {
            result += ", ";
            result += message;
        }
    }
}

bool XmlDocument::Impl::wellFormed() const {
    if (nextFree == 0 || (rec(0).flags & kIllFormed)) return false;
    const Index root = rec(0).firstChild;
    return root != 0 && rec(root).next == 0;
}

// ---- public interface -----------------------------------------------------------------------------

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {
    impl_->resetIndex(8);
}

XmlDocument::~XmlDocument() = default;

bool XmlDocument::setDoc(const std::string& text) {
    impl_->result.clear();
    if (text.size() > kMaxText) {
        impl_->text.clear();
        impl_->resetCursor();
        impl_->resetIndex(8);
        impl_->result = errorText(EFBIG);
        return false;
    }
    impl_->text = text;
    impl_->parse();
    return impl_->wellFormed();
}

bool XmlDocument::load(const std::string& path) {
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        impl_->result = errorText(errno);
        return false;
    }
    std::string data;
    struct stat info {};
    if (::fstat(fileno(file.get()), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
        static_cast<unsigned long long>(info.st_size) <= kMaxText) {
        data.reserve(static_cast<size_t>(info.st_size));
    }
    std::vector<char> buffer(size_t{1} << 16);
    for (;;) {
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), file.get());
        if (got == 0) break;
        if (data.size() + got > kMaxText) {
            impl_->result = errorText(EFBIG);
            return false;
        }
        data.append(buffer.data(), got);
    }
    if (std::ferror(file.get())) {
        // A folder opens but does not read; neither does a failing disk.
        impl_->result = errorText(errno);
        return false;
    }
    impl_->text = std::move(data);
    impl_->result = byteCountText(impl_->text.size());
    impl_->parse();
    return impl_->wellFormed();
}

bool XmlDocument::save(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        impl_->result = errorText(errno);
        return false;
    }
    const std::string& text = impl_->text;
    int err = 0;
    bool complete = true;
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
        err = errno;
        complete = false;
    }
    // Buffered bytes reach the disk only on flush and close; a full disk shows there.
    if (complete && std::fflush(file) != 0) {
        err = errno;
        complete = false;
    }
    if (std::fclose(file) != 0 && complete) {
        err = errno;
        complete = false;
    }
    if (!complete) {
        impl_->result = errorText(err);
        return false;
    }
    impl_->result = byteCountText(text.size());
    return true;
}

bool XmlDocument::isWellFormed() const {
    return impl_->wellFormed();
}

bool XmlDocument::findElem(const std::string& name) {
    Impl& d = *impl_;
    Index candidate = d.current != 0 ? d.rec(d.current).next : d.rec(d.parent).firstChild;
    for (; candidate != 0; candidate = d.rec(candidate).next) {
        if (name.empty() || nameMatches(name, d.nameOf(candidate))) {
            d.current = candidate;
            d.currentIsElement = true;
            d.child = 0;
            return true;
        }
    }
    return false;
}

bool XmlDocument::intoElem() {
    Impl& d = *impl_;
    if (!d.currentIsElement || d.current == 0) return false;
    d.parent = d.current;
    d.current = d.child;
    d.currentIsElement = d.current != 0;
    d.child = 0;
    return true;
}

bool XmlDocument::outOfElem() {
    Impl& d = *impl_;
    if (d.parent == 0) return false;
    d.child = d.current;
    d.current = d.parent;
    d.currentIsElement = true;
    d.parent = d.rec(d.current).parent;
    return true;
}

std::string XmlDocument::getData() const {
    const Impl& d = *impl_;
    if (!d.currentIsElement || d.current == 0) return {};
    const Record& r = d.rec(d.current);
    if (r.firstChild != 0 || (r.flags & kUnended) || r.endTagLength == 0) return {};
    const size_t from = size_t{r.start} + r.startTagLength;
    const size_t to = size_t{r.start} + r.length - r.endTagLength;
    if (from > to || to > d.text.size()) return {};
    const std::string_view content = std::string_view(d.text).substr(from, to - from);
    if (content.find('<') == std::string_view::npos) return unescapeText(std::string(content));

    std::string out;
    size_t pos = 0;
    for (;;) {
        const Node node = readNode(content, pos);
        if (node.kind == kEndOfDocument) break;
        if (node.kind == kTextNode) {
            out += unescapeText(std::string(content.substr(node.start, node.end - node.start)));
        } else if (node.kind == kCDataNode) {
            const size_t inner = std::min(node.start + 9, node.end - 3);  // after "<![CDATA["
            out.append(content.substr(inner, node.end - 3 - inner));
        }
        pos = node.end;
    }
    return out;
}

bool XmlDocument::addElem(const std::string& name, const std::string& text) {
    Impl& d = *impl_;
    const Index p = d.parent;
    const Index c = d.currentIsElement ? d.current : 0;

    std::string element = "<" + name;
    uint32_t startTagLength = 0;
    uint32_t endTagLength = 0;
    if (!text.empty()) {
        element += '>';
        startTagLength = static_cast<uint32_t>(element.size());
        element += escapeText(text);
        element += "</" + name + ">";
        endTagLength = static_cast<uint32_t>(name.size() + 3);
    } else {
        element += "/>";
        startTagLength = static_cast<uint32_t>(element.size());
    }
    const size_t elementLength = element.size();
    element += "\r\n";

    const Record& pr = d.rec(p);
    const bool parentEmpty = p != 0 && pr.endTagLength == 0 && !(pr.flags & kUnended);
    const std::string parentName(p != 0 ? d.nameOf(p) : std::string_view());

    // What goes where: `insertAt` in the current text, after removing the byte at `removeAt` (empty
    // parent only); records from `shiftFrom` on move by the net change.
    size_t insertAt = 0;
    size_t shiftFrom = 0;
    bool removeSlash = false;
    std::string insertion;
    size_t elementOffset = 0;  // where the new element starts inside `insertion`
    if (parentEmpty) {
        // <P/> becomes <P>, CR LF, the element, </P>.
        removeSlash = true;
        shiftFrom = size_t{pr.start} + pr.startTagLength;
        insertAt = shiftFrom;
        insertion = "\r\n" + element + "</" + parentName + ">";
        elementOffset = 2;
    } else {
        const size_t contentEnd = p == 0 ? d.text.size() : size_t{pr.start} + pr.length - pr.endTagLength;
        size_t point = contentEnd;
        if (c != 0) point = size_t{d.rec(c).start} + d.rec(c).length;
        // Past the line end that follows the current element, staying inside the parent.
        size_t ahead = point;
        while (ahead < contentEnd && isXmlSpace(d.text[ahead])) ++ahead;
        if (ahead >= d.text.size() || d.text[ahead] == '<' || ahead == contentEnd) point = ahead;
        insertAt = shiftFrom = point;
        insertion = element;
        if (c == 0 && p != 0 && pr.endTagLength != 0 && pr.length == pr.startTagLength + pr.endTagLength) {
            insertion = "\r\n" + element;  // <P></P>: the element on a line of its own
            elementOffset = 2;
        }
    }
    const size_t delta = insertion.size() - (removeSlash ? 1 : 0);
    if (d.text.size() + delta > kMaxText) return false;

    if (removeSlash) {
        d.text.erase(insertAt - 2, 1);
        insertAt -= 1;
    }
    d.text.insert(insertAt, insertion);

    for (Index i = 1; i < d.nextFree; ++i) {
        Record& r = d.rec(i);
        if (r.start >= shiftFrom) r.start += static_cast<uint32_t>(delta);
    }
    for (Index a = p; a != 0; a = d.rec(a).parent) d.rec(a).length += static_cast<uint32_t>(delta);
    d.rec(0).length = static_cast<uint32_t>(d.text.size());
    if (parentEmpty) {
        Record& pe = d.rec(p);
        pe.startTagLength -= 1;
        pe.endTagLength = static_cast<uint32_t>(parentName.size() + 3);
    }

    const Index r = d.newRecord();
    Record& nr = d.rec(r);
    nr.start = static_cast<uint32_t>(insertAt + elementOffset);
    nr.length = static_cast<uint32_t>(elementLength);
    nr.startTagLength = startTagLength;
    nr.endTagLength = endTagLength;
    nr.flags = std::min<uint32_t>(d.levelOf(p) + 1, kLevelMask);
    if (c != 0) {
        d.insertAfter(c, r);
    } else {
        d.appendChild(p, r);
    }

    d.current = r;
    d.currentIsElement = true;
    d.child = 0;
    return true;
}

const std::string& XmlDocument::resultText() const {
    return impl_->result;
}

const std::string& XmlDocument::docText() const {
    return impl_->text;
}

std::string XmlDocument::escapeText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
                break;
        }
    }
    return out;
}

std::string XmlDocument::unescapeText(const std::string& text) {
    static constexpr struct {
        std::string_view reference;
        char byte;
    } kNamed[] = {{"&lt;", '<'}, {"&amp;", '&'}, {"&gt;", '>'}, {"&apos;", '\''}, {"&quot;", '"'}};
    const std::string_view s(text);
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < s.size()) {
        const size_t amp = s.find('&', i);
        if (amp == std::string_view::npos) {
            out.append(s.substr(i));
            break;
        }
        out.append(s.substr(i, amp - i));
        size_t used = 0;
        for (const auto& named : kNamed) {
            if (s.compare(amp, named.reference.size(), named.reference) == 0) {
                out += named.byte;
                used = named.reference.size();
                break;
            }
        }
        uint32_t code = 0;
        if (used == 0 && (used = numericReference(s, amp, code)) != 0) appendUtf8(out, code);
        if (used == 0) {
            out += '&';
            used = 1;
        }
        i = amp + used;
    }
    return out;
}

bool XmlDocument::checkIndex() const {
    const Impl& d = *impl_;
    if (d.nextFree == 0 || d.nextFree > d.capacity) return false;
    const size_t n = d.text.size();
    if (d.rec(0).length != n) return false;
    std::vector<uint32_t> seen(d.nextFree, 0);
    for (Index p = 0; p < d.nextFree; ++p) {
        const Record& pr = d.rec(p);
        size_t lo = p == 0 ? 0 : size_t{pr.start} + pr.startTagLength;
        const size_t hi = p == 0 ? n : size_t{pr.start} + pr.length;
        if (p != 0) {
            if (pr.startTagLength == 0 || size_t{pr.startTagLength} + pr.endTagLength > pr.length || hi > n ||
                d.text[pr.start] != '<')
                return false;
        }
        const Index first = pr.firstChild;
        if (first == 0) continue;
        if (!(d.rec(first).flags & kFirstChild)) return false;
        Index last = 0;
        for (Index c = first; c != 0; c = d.rec(c).next) {
            if (c >= d.nextFree || seen[c]++ != 0) return false;  // out of range or a cycle
            const Record& cr = d.rec(c);
            if (cr.parent != p || (c != first && cr.prev != last) || (c != first && (cr.flags & kFirstChild)))
                return false;
            if (cr.start < lo || size_t{cr.start} + cr.length > hi) return false;
            lo = size_t{cr.start} + cr.length;
            last = c;
        }
        if (d.rec(first).prev != last) return false;
    }
    for (Index i = 1; i < d.nextFree; ++i) {
        if (seen[i] != 1) return false;  // every record hangs in exactly one children list
    }
    return true;
}

}  // namespace kestrelle
