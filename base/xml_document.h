#pragma once
// A small XML document: the whole text in one buffer plus an index of its elements, a cursor to
// navigate it, and editing that splices new elements into the text. Bytes in, bytes out.

#include <memory>
#include <string>

namespace kestrelle {

class XmlDocument {
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Replaces the text, clears the result text and parses; returns isWellFormed().
    bool setDoc(const std::string& text);
    // Reads the file and parses it; false when the file cannot be read (the document is kept).
    bool load(const std::string& path);
    // Writes the text to the file.
    bool save(const std::string& path);
    bool isWellFormed() const;

    // Navigation: forward from the current position among the current parent's children.
    bool findElem(const std::string& name);
    bool intoElem();
    bool outOfElem();
    // Text of the current element, unescaped (CDATA kept as is).
    std::string getData() const;
    // Adds an element after the current one and makes it current.
    bool addElem(const std::string& name, const std::string& text);

    const std::string& resultText() const;
    const std::string& docText() const;

    static std::string escapeText(const std::string& text);
    static std::string unescapeText(const std::string& text);

    // Checks that the element index agrees with the text (ranges inside the text and inside their
    // parents, siblings in order, links consistent). For tests and fuzzing.
    bool checkIndex() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrelle
