#pragma once
// An output profile (frame size, frame rate, codec and bit rates) and its .ipf file: an XML document
// with the root "Profile" and eight value elements.

#include <string>

namespace kestrelle {

class CodecList;
class XmlDocument;

// The frame-rate index of 60 frames a second, offered with the MP4 codecs only.
constexpr int kFrameRateIndex60 = 3;

struct OutputProfile {
    std::string name;  // the file's title; not stored inside the file
    int ResWidth = 320;
    int ResHeight = 240;
    int AspectRatio = 0;  // carried
    int VideoBR = 448;    // kbit/s, for the size estimate
    int AudioBR = 64;     // index into the dialog's audio bit-rate list (5 = 192 kbit/s; others read as 128)
    int FrameRate = 0;    // 0 = 29.97, 1 = 25.0, 2 = 15.0, 3 = 60 (MP4 codecs only); anything else 29.97
    std::string CodecName;
    std::string CodecSettings;  // carried
};

// Reads the profile's values from a loaded document, each element only forward from the last one
// found; a missing element keeps the field's value. False without a "Profile" element.
bool readProfileElements(XmlDocument& document, OutputProfile& profile);

// Makes the codec name one of `codecs`: an unknown name becomes the first codec's, and with no codecs
// at all both codec fields are emptied. A frame rate of 60 with a codec other than an MP4 one becomes
// the default rate.
void settleProfileCodec(OutputProfile& profile, const CodecList& codecs);

// Adds the profile's elements to an empty document.
void writeProfile(const OutputProfile& profile, XmlDocument& document);

// The profile folder with a trailing separator: "<data folder>/Profile/", or ".//Profile//" when the
// data folder is unavailable.
std::string profileFolder();
// The profile folder followed by the name and ".ipf".
std::string profileFilePath(const std::string& name);

// Whether `name` can be a profile's file title: not empty, no '/' or NUL, not "." or "..", at most 200
// bytes. Other names are never turned into paths, so a name cannot reach outside the profile folder.
bool isUsableProfileName(const std::string& name);

// Whether a directory entry name has the profile extension (".ipf" in any letter case).
bool hasProfileExtension(const std::string& fileName);

}  // namespace kestrelle
