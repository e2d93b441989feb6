#include "base/xml_document.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_home.h"

namespace kestrelle {
namespace {

using testing::readFile;
using testing::writeFile;

// ---- parsing: messages, offsets, well-formedness ------------------------------------------------

struct ParseCase {
    const char* text;
    const char* result;
    bool wellFormed;
};

TEST(XmlDocumentParse, MessagesAndOffsets) {
    const ParseCase cases[] = {
        {"", "Empty document", false},
        {" \t\r\n ", "No root element", false},
        {"<a/><b/>", "Root element has sibling", false},
        {"<a><b></a>", "End tag 'a' at offset 7 does not match start tag 'b' at offset 3", false},
        {"<a></b></a>", "No start tag for end tag 'b' at offset 3", false},
        {"<a>", "Element 'a' at offset 0 not ended", false},
        {"<!-- never closed", "Comment at offset 0 unterminated", false},
        {"<1a/>", "Incorrect tag name character at offset 0", false},
        {"<a>< b/></a>", "Incorrect tag name character at offset 3", false},
        {"<a><!-x></a>", "Incorrect comment tag at offset 3", false},
        {"<a><![X[y]]></a>", "Incorrect tag at offset 3", false},
        {"<a><!Q></a>", "Incorrect ! tag at offset 3", false},
        {"<a><![CDATA[x", "CDATA Section at offset 3 unterminated", false},
        {"<a><?pi", "Processing instruction at offset 3 unterminated", false},
        {"<a></a", "Element end tag at offset 3 unterminated", false},
        {"<a><b c='>", "Element tag at offset 3 unterminated", false},
        {"<a><!DOCTYPE x [<!ELEMENT a ANY>]", "Doctype at offset 3 unterminated", false},
        {"<a><!-", "tag at offset 3 unterminated", false},
        {"<a><![", "tag at offset 3 unterminated", false},
        // Only the first problem is reported...
        {"<a></b></c></a>", "No start tag for end tag 'b' at offset 3", false},
        // ...but a root with a sibling overrides it.
        {"<a/><b>", "Root element has sibling", false},
        {"<?xml version=\"1.0\"?>\r\n<!DOCTYPE a [<!ELEMENT a ANY>]>\r\n<!-- c -->"
         "<a x=\"1>2\" y='/'>t<![CDATA[<c>]]><b/><b /><b z=\"1\"/></a>\r\n",
         "", true},
        {"<a>x</a[1]>", "", true},  // an end tag name continuing with '[' still closes
    };
    for (const ParseCase& c : cases) {
        XmlDocument doc;
        EXPECT_EQ(doc.setDoc(c.text), c.wellFormed) << c.text;
        EXPECT_EQ(doc.isWellFormed(), c.wellFormed) << c.text;
        EXPECT_EQ(doc.resultText(), c.result) << c.text;
        EXPECT_TRUE(doc.checkIndex()) << c.text;
    }
}

TEST(XmlDocumentParse, NoStartTagKeepsTheElement) {
    XmlDocument doc;
    doc.setDoc("<a></b></a>");
    EXPECT_TRUE(doc.findElem("a"));
    EXPECT_FALSE(doc.findElem("b"));
}

TEST(XmlDocumentParse, MismatchedEndTagLeavesInnerElementUnendedInside) {
    XmlDocument doc;
    doc.setDoc("<a><b>x</a>");
    ASSERT_TRUE(doc.findElem("a"));
    EXPECT_EQ(doc.getData(), "");  // a has a child
    ASSERT_TRUE(doc.intoElem());
    ASSERT_TRUE(doc.findElem("b"));
    EXPECT_EQ(doc.getData(), "");  // unended
    ASSERT_TRUE(doc.outOfElem());
    EXPECT_FALSE(doc.findElem("b"));  // not a sibling of a
}

TEST(XmlDocumentParse, UnendedElementHandsItsChildrenToItsParent) {
    XmlDocument doc;
    doc.setDoc("<a><b>x</b>");
    EXPECT_EQ(doc.resultText(), "Root element has sibling");
    ASSERT_TRUE(doc.findElem("a"));
    ASSERT_TRUE(doc.intoElem());
    EXPECT_FALSE(doc.findElem(""));  // a is childless
    ASSERT_TRUE(doc.outOfElem());
    ASSERT_TRUE(doc.findElem("b"));
    EXPECT_EQ(doc.getData(), "x");

    // A chain of unended elements: the children follow in document order.
    doc.setDoc("<r><a><b>1</b><c><d>4</d>5</r>");
    EXPECT_EQ(doc.resultText(), "End tag 'r' at offset 27 does not match start tag 'c' at offset 14");
    EXPECT_TRUE(doc.checkIndex());
    ASSERT_TRUE(doc.findElem("r"));
    ASSERT_TRUE(doc.intoElem());
    const char* order[] = {"a", "b", "c", "d"};
    for (const char* name : order) EXPECT_TRUE(doc.findElem(name)) << name;
    EXPECT_FALSE(doc.findElem(""));
    EXPECT_EQ(doc.getData(), "4");
}

TEST(XmlDocumentParse, EmptyElementTagRule) {
    XmlDocument doc;
    EXPECT_TRUE(doc.setDoc("<r><a/><a /><a b=\"1\"/><a b='1'/></r>"));
    EXPECT_FALSE(doc.setDoc("<r><a b/></r>"));  // not empty: a is unended
    EXPECT_EQ(doc.resultText(), "End tag 'r' at offset 10 does not match start tag 'a' at offset 3");
}

// ---- navigation and the name rule -----------------------------------------------------------------

TEST(XmlDocumentFind, ForwardOnlyWithTheNameRule) {
    XmlDocument doc;
    ASSERT_TRUE(doc.setDoc("<r><Themes>1</Themes><Theme Path=\"p\">2</Theme><b>3</b><c>4</c></r>"));
    ASSERT_TRUE(doc.findElem("r"));
    ASSERT_TRUE(doc.intoElem());
    ASSERT_TRUE(doc.findElem("Theme"));  // not <Themes>
    EXPECT_EQ(doc.getData(), "2");
    ASSERT_TRUE(doc.findElem("c"));
    EXPECT_FALSE(doc.findElem("b"));  // lies before the current element
    EXPECT_EQ(doc.getData(), "4");
    EXPECT_FALSE(doc.findElem("Themes"));
    ASSERT_TRUE(doc.outOfElem());
    EXPECT_FALSE(doc.outOfElem());  // document level
    ASSERT_TRUE(doc.intoElem());    // back in r at c
    EXPECT_EQ(doc.getData(), "4");
    EXPECT_FALSE(doc.findElem("c"));  // nothing after c

    doc.setDoc("<r><Themes>1</Themes><Theme Path=\"p\">2</Theme></r>");
    ASSERT_TRUE(doc.findElem("r") && doc.intoElem());
    ASSERT_TRUE(doc.findElem("Theme Path"));
    EXPECT_EQ(doc.getData(), "2");
}

TEST(XmlDocumentFind, RequestContinuations) {
    XmlDocument doc;
    doc.setDoc("<r><a>1</a><a>2</a><a>3</a><a>4</a></r>");
    doc.findElem("r");
    doc.intoElem();
    EXPECT_TRUE(doc.findElem("a"));
    EXPECT_TRUE(doc.findElem("a=1"));
    EXPECT_TRUE(doc.findElem("a/x"));
    EXPECT_TRUE(doc.findElem("a[3]"));
    EXPECT_EQ(doc.getData(), "4");
    doc.setDoc("<r><ab/></r>");
    doc.findElem("r");
    doc.intoElem();
    EXPECT_FALSE(doc.findElem("a"));
    EXPECT_FALSE(doc.findElem("abc"));
}

TEST(XmlDocumentFind, NothingToNavigateBeforeParsing) {
    XmlDocument doc;
    EXPECT_FALSE(doc.isWellFormed());
    EXPECT_FALSE(doc.findElem(""));
    EXPECT_FALSE(doc.intoElem());
    EXPECT_FALSE(doc.outOfElem());
    EXPECT_EQ(doc.getData(), "");
}

// ---- reading text ---------------------------------------------------------------------------------

TEST(XmlDocumentData, TextCDataCommentsAndInstructions) {
    XmlDocument doc;
    EXPECT_FALSE(
        doc.setDoc("<r><a>x &amp; <!-- c -->y<?p?><![CDATA[<&amp;>]]></a><b><![CDATA[1]]> <![CDATA[2]]></b>"
                   "<c/><d></d><e>a&lt;b&#233;</e><f><g/></f><h>a</x>b</h></r>"));
    EXPECT_EQ(doc.resultText(), "No start tag for end tag 'x' at offset 132");
    ASSERT_TRUE(doc.findElem("r"));
    ASSERT_TRUE(doc.intoElem());
    const char* expected[][2] = {{"a", "x & y<&amp;>"}, {"b", "12"}, {"c", ""},  {"d", ""},
                                 {"e", "a<b\xC3\xA9"},  {"f", ""},   {"h", "ab"}};
    for (const auto& e : expected) {
        ASSERT_TRUE(doc.findElem(e[0])) << e[0];
        EXPECT_EQ(doc.getData(), e[1]) << e[0];
    }
}

TEST(XmlDocumentData, UnescapeAndEscape) {
    const char* cases[][2] = {
        {"&lt;&amp;&gt;&apos;&quot;", "<&>'\""},
        {"&#233;", "\xC3\xA9"},
        {"&#xE9;&#65;&#x20AC;",
         "\xC3\xA9"
         "A"
         "\xE2\x82\xAC"},
        {"&#65535;", "\xEF\xBF\xBF"},
        {"&#65536;", "\xF0\x90\x80\x80"},  // past three bytes: four, not a broken lead byte
        {"&#123456;", "&#123456;"},        // ';' further than seven characters
        {"&#;&#x;&#1a;&foo;&amp&", "&#;&#x;&#1a;&foo;&amp&"},
        {"plain", "plain"},
    };
    for (const auto& c : cases) EXPECT_EQ(XmlDocument::unescapeText(c[0]), c[1]) << c[0];
    EXPECT_EQ(XmlDocument::escapeText("a<b & c>d \"'"), "a&lt;b &amp; c&gt;d \"'");
    const std::string all = "&lt;&#233;<>&;\"'";
    EXPECT_EQ(XmlDocument::unescapeText(XmlDocument::escapeText(all)), all);
}

// ---- adding elements ------------------------------------------------------------------------------

TEST(XmlDocumentAdd, BuildsOneElementPerLine) {
    XmlDocument doc;
    doc.setDoc("");
    ASSERT_TRUE(doc.addElem("xml", ""));
    ASSERT_TRUE(doc.intoElem());
    ASSERT_TRUE(doc.addElem("System", ""));
    EXPECT_EQ(doc.docText(), "<xml>\r\n<System/>\r\n</xml>\r\n");
    ASSERT_TRUE(doc.intoElem());
    ASSERT_TRUE(doc.addElem("A", "1"));
    ASSERT_TRUE(doc.addElem("B", ""));
    ASSERT_TRUE(doc.outOfElem());
    ASSERT_TRUE(doc.addElem("Note", "x<y & z"));
    EXPECT_EQ(doc.getData(), "x<y & z");
    EXPECT_EQ(
        doc.docText(),
        "<xml>\r\n<System>\r\n<A>1</A>\r\n<B/>\r\n</System>\r\n<Note>x&lt;y &amp; z</Note>\r\n</xml>\r\n");
    EXPECT_TRUE(doc.checkIndex());

    XmlDocument back;
    ASSERT_TRUE(back.setDoc(doc.docText()));
    ASSERT_TRUE(back.findElem("xml") && back.intoElem() && back.findElem("System") && back.intoElem());
    ASSERT_TRUE(back.findElem("A"));
    EXPECT_EQ(back.getData(), "1");
    ASSERT_TRUE(back.outOfElem() && back.findElem("Note"));
    EXPECT_EQ(back.getData(), "x<y & z");
}

TEST(XmlDocumentAdd, IntoParsedParents) {
    struct Case {
        const char* text;
        const char* path;  // element to enter, below the root
        const char* expected;
    } cases[] = {
        {"<P></P>\r\n", nullptr, "<P>\r\n<a>1</a>\r\n</P>\r\n"},
        {"<P/>\r\n", nullptr, "<P>\r\n<a>1</a>\r\n</P>\r\n"},
        {"<P x=\"1\" />\r\n", nullptr, "<P x=\"1\" >\r\n<a>1</a>\r\n</P>\r\n"},
        {"<r>\r\n<P/>\r\n</r>\r\n", "P", "<r>\r\n<P>\r\n<a>1</a>\r\n</P>\r\n</r>\r\n"},
        {"<P>\r\n<b/>\r\n</P>\r\n", nullptr, "<P>\r\n<b/>\r\n<a>1</a>\r\n</P>\r\n"},
        {"<P>text</P>", nullptr, "<P>text<a>1</a>\r\n</P>"},
    };
    for (const Case& c : cases) {
        XmlDocument doc;
        doc.setDoc(c.text);
        ASSERT_TRUE(doc.findElem("") && doc.intoElem()) << c.text;
        if (c.path) {
            ASSERT_TRUE(doc.findElem(c.path) && doc.intoElem()) << c.text;
        }
        ASSERT_TRUE(doc.addElem("a", "1"));
        EXPECT_EQ(doc.docText(), c.expected) << c.text;
        EXPECT_TRUE(doc.checkIndex()) << c.text;
        EXPECT_EQ(doc.getData(), "1");
        ASSERT_TRUE(doc.outOfElem());
        EXPECT_EQ(doc.getData(), "");  // now has a child
        EXPECT_TRUE(XmlDocument().setDoc(doc.docText())) << doc.docText();
    }
}

TEST(XmlDocumentAdd, AfterTheCurrentElementAndItsLineEnd) {
    XmlDocument doc;
    doc.setDoc("<r>\r\n<a/>\r\n<c>3</c>\r\n</r>\r\n");
    ASSERT_TRUE(doc.findElem("r") && doc.intoElem() && doc.findElem("a"));
    ASSERT_TRUE(doc.addElem("b", "2"));
    EXPECT_EQ(doc.docText(), "<r>\r\n<a/>\r\n<b>2</b>\r\n<c>3</c>\r\n</r>\r\n");
    ASSERT_TRUE(doc.findElem("c"));  // the elements after moved with the text
    EXPECT_EQ(doc.getData(), "3");
    EXPECT_FALSE(doc.findElem("b"));
    ASSERT_TRUE(doc.outOfElem());
    ASSERT_TRUE(doc.addElem("s", ""));  // after the root, at the end of the text
    EXPECT_EQ(doc.docText(), "<r>\r\n<a/>\r\n<b>2</b>\r\n<c>3</c>\r\n</r>\r\n<s/>\r\n");
    EXPECT_TRUE(doc.checkIndex());
}

TEST(XmlDocumentAdd, ThemePathReadsBackEmpty) {
    XmlDocument doc;
    doc.setDoc("");
    doc.addElem("xml", "");
    doc.intoElem();
    doc.addElem("System", "");
    doc.intoElem();
    doc.addElem("Theme Path", "");
    doc.addElem("Next", "5");
    EXPECT_EQ(doc.docText(),
              "<xml>\r\n<System>\r\n<Theme Path/>\r\n<Next>5</Next>\r\n</System>\r\n</xml>\r\n");

    XmlDocument back;
    EXPECT_FALSE(back.setDoc(doc.docText()));
    EXPECT_EQ(back.resultText(),
              "End tag 'System' at offset 49 does not match start tag 'Theme' at offset 17");
    ASSERT_TRUE(back.findElem("xml") && back.intoElem() && back.findElem("System") && back.intoElem());
    ASSERT_TRUE(back.findElem("Theme Path"));
    EXPECT_EQ(back.getData(), "");
    ASSERT_TRUE(back.findElem("Next"));  // handed back from the unended Theme
    EXPECT_EQ(back.getData(), "5");
}

TEST(XmlDocumentAdd, LongNamesAndTagsKeepTheirLengths) {
    // Tag lengths beyond 10 and 22 bits must not wrap.
    const std::string name(2000, 'n');
    const std::string value(5u << 20, 'v');
    XmlDocument doc;
    ASSERT_TRUE(doc.setDoc("<r a=\"" + value + "\"><" + name + ">t</" + name + "></r>"));
    ASSERT_TRUE(doc.findElem("r") && doc.intoElem() && doc.findElem(name));
    EXPECT_EQ(doc.getData(), "t");
    ASSERT_TRUE(doc.addElem("x", "1"));
    ASSERT_TRUE(doc.outOfElem());
    ASSERT_TRUE(doc.intoElem());  // back at x
    EXPECT_EQ(doc.getData(), "1");
    EXPECT_TRUE(doc.checkIndex());
    EXPECT_TRUE(doc.docText().ends_with("nnn><x>1</x>\r\n</r>"));
}

// ---- hostile input --------------------------------------------------------------------------------

TEST(XmlDocumentParse, HostileInputStaysNavigable) {
    std::string opens;
    for (int i = 0; i < 333333; ++i) opens += "<a>";
    std::string closes = opens;
    for (int i = 0; i < 333333; ++i) closes += "</b>";
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
    const std::string texts[] = {opens,
                                 closes,
                                 binary,
                                 std::string(100000, '<'),
                                 "<a>" + std::string(100000, '[') + "</a" + std::string(100000, '[') + ">",
                                 std::string("<a>\0<b>\0</b></a>", 15)};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 40));
        XmlDocument doc;
        doc.setDoc(text);
        EXPECT_TRUE(doc.checkIndex());
        int top = 0;
        while (doc.findElem("")) {
            (void)doc.getData();
            ++top;
        }
        if (text.size() == opens.size()) {
            EXPECT_EQ(top, 333333);  // every unended a moved up to the document
            EXPECT_EQ(doc.resultText(), "Root element has sibling");
        }
        EXPECT_TRUE(doc.addElem("k", "v"));
        EXPECT_TRUE(doc.checkIndex());
    }
}

// ---- files ----------------------------------------------------------------------------------------

class XmlDocumentFile : public testing::TempHomeTest {};

TEST_F(XmlDocumentFile, LoadAndSaveResultTexts) {
    const std::string file = path("doc.xml");
    std::string text = "<a>";
    text += std::string(1234 - 7, 'x');
    text += "</a>";
    ASSERT_TRUE(writeFile(file, text));
    XmlDocument doc;
    EXPECT_TRUE(doc.load(file));
    EXPECT_EQ(doc.resultText(), "1234 bytes");

    ASSERT_TRUE(writeFile(file, "<a>xy"));
    EXPECT_FALSE(doc.load(file));
    EXPECT_EQ(doc.resultText(), "5 bytes, Element 'a' at offset 0 not ended");

    ASSERT_TRUE(writeFile(file, ""));
    EXPECT_FALSE(doc.load(file));
    EXPECT_EQ(doc.resultText(), "0 bytes, Empty document");

    ASSERT_TRUE(writeFile(file, std::string("\xEF\xBB\xBF<a>\r\n</a>", 13)));  // bytes kept as they are
    EXPECT_TRUE(doc.load(file));
    EXPECT_EQ(doc.resultText(), "13 bytes");
    EXPECT_EQ(doc.docText().substr(0, 4), "\xEF\xBB\xBF<");

    doc.setDoc("<r>1</r>");
    EXPECT_EQ(doc.resultText(), "");
    const std::string out = path("out.xml");
    EXPECT_TRUE(doc.save(out));
    EXPECT_EQ(doc.resultText(), "8 bytes");
    EXPECT_EQ(readFile(out), "<r>1</r>");
    doc.setDoc("");
    EXPECT_TRUE(doc.save(out));
    EXPECT_EQ(doc.resultText(), "0 bytes");
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_EQ(std::filesystem::file_size(out), 0u);
}

TEST_F(XmlDocumentFile, FailuresKeepTheDocument) {
    XmlDocument doc;
    ASSERT_TRUE(doc.setDoc("<r><a>1</a></r>"));
    EXPECT_FALSE(doc.load(path("missing.xml")));
    EXPECT_EQ(doc.resultText(), "No such file or directory");
    EXPECT_FALSE(doc.load(root()));  // a folder opens but does not read
    EXPECT_EQ(doc.resultText(), "Is a directory");
    EXPECT_EQ(doc.docText(), "<r><a>1</a></r>");
    EXPECT_TRUE(doc.isWellFormed());
    ASSERT_TRUE(doc.findElem("r") && doc.intoElem() && doc.findElem("a"));
    EXPECT_EQ(doc.getData(), "1");

    EXPECT_FALSE(doc.save(path("no/such/folder.xml")));
    EXPECT_EQ(doc.resultText(), "No such file or directory");
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_FALSE(doc.save("/dev/full"));  // a full disk is not success
        EXPECT_EQ(doc.resultText(), "No space left on device");
    }
}

}  // namespace
}  // namespace kestrelle
