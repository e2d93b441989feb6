// Feeds arbitrary bytes to XmlDocument: parse, walk, edit, re-parse. Besides the sanitizers it checks
// that the index stays consistent with the text and that added text reads back unchanged.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/xml_document.h"

using kestrelle::XmlDocument;

namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "xml_document_fuzz: %s\n", what);
        std::abort();
    }
}

// Visits every element depth first; the step limit only guards against a broken index.
void walk(XmlDocument& doc) {
    int depth = 0;
    for (int steps = 0; steps < 100000; ++steps) {
        if (doc.findElem("")) {
            (void)doc.getData();
            if (doc.intoElem()) ++depth;
            continue;
        }
        if (depth == 0 || !doc.outOfElem()) return;
        --depth;
    }
    require(false, "walk did not end");
}

void parse(XmlDocument& doc, const std::string& text) {
    const bool wellFormed = doc.setDoc(text);
    require(wellFormed == doc.isWellFormed(), "setDoc and isWellFormed disagree");
    // Every problem leaves a message; a document without one is well formed.
    require(wellFormed == doc.resultText().empty(), "result text and well-formedness disagree");
    require(doc.checkIndex(), "index inconsistent after parse");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string text = input.ConsumeRandomLengthString(size);

    XmlDocument doc;
    parse(doc, text);
    walk(doc);
    parse(doc, text);

    const std::string escaped = XmlDocument::escapeText(text);
    require(XmlDocument::unescapeText(escaped) == text, "escape does not round-trip");
    (void)XmlDocument::unescapeText(text);

    for (int ops = 0; ops < 64 && input.remaining_bytes() > 0; ++ops) {
        switch (input.ConsumeIntegralInRange<int>(0, 7)) {
            case 0:
                doc.findElem(input.ConsumeRandomLengthString(16));
                break;
            case 1:
                doc.findElem("");
                break;
            case 2:
                doc.intoElem();
                break;
            case 3:
                doc.outOfElem();
                break;
            case 4:
                (void)doc.getData();
                break;
            case 5: {
                const std::string name = input.ConsumeRandomLengthString(12);
                const std::string value = input.ConsumeRandomLengthString(32);
                require(doc.addElem(name, value), "addElem refused");
                require(doc.getData() == value, "added text does not read back");
                require(doc.checkIndex(), "index inconsistent after addElem");
                break;
            }
            case 6:
                walk(doc);
                break;
            case 7: {
                XmlDocument again;
                parse(again, doc.docText());
                walk(again);
                break;
            }
        }
    }
    require(doc.checkIndex(), "index inconsistent at the end");
    return 0;
}
