#include "config/output_profile.h"

#include "base/data_folder.h"
#include "base/text_numbers.h"
#include "base/xml_document.h"
#include "config/codec_list.h"

#include <cctype>

namespace kestrelle {

bool readProfileElements(XmlDocument& document, OutputProfile& profile) {
    if (!document.findElem("Profile")) return false;
    document.intoElem();
    int* const numbers[] = {&profile.ResWidth, &profile.ResHeight, &profile.AspectRatio,
                            &profile.VideoBR,  &profile.AudioBR,   &profile.FrameRate};
    const char* const numberNames[] = {"ResWidth", "ResHeight", "AspectRatio",
                                       "VideoBR",  "AudioBR",   "FrameRate"};
    for (int i = 0; i < 6; ++i)
        if (document.findElem(numberNames[i])) *numbers[i] = textToInt(document.getData());
    if (document.findElem("CodecName")) profile.CodecName = document.getData();
    if (document.findElem("CodecSettings")) profile.CodecSettings = document.getData();
    document.outOfElem();
    return true;
}

void settleProfileCodec(OutputProfile& profile, const CodecList& codecs) {
    if (!codecs.isCodecInstalled(profile.CodecName)) {
        profile.CodecName.clear();
        profile.CodecSettings.clear();
    }
    const CodecEntry* first = codecs.firstCodec();
    if (first == nullptr) {
        profile.CodecName.clear();
        profile.CodecSettings.clear();
        return;
    }
    if (profile.CodecName.empty()) {
        profile.CodecName = first->name;
        profile.CodecSettings.clear();
    }
    // 60 frames a second is an MP4 rate only: with an AVI codec that index reads as the default.
    const CodecEntry* codec = codecs.findCodec(profile.CodecName);
    if (profile.FrameRate == kFrameRateIndex60 && (codec == nullptr || !codec->isMp4()))
        profile.FrameRate = 0;
}

void writeProfile(const OutputProfile& profile, XmlDocument& document) {
    document.addElem("Profile", "");
    document.intoElem();
    document.addElem("ResWidth", intToText(profile.ResWidth));
    document.addElem("ResHeight", intToText(profile.ResHeight));
    document.addElem("AspectRatio", intToText(profile.AspectRatio));
    document.addElem("VideoBR", intToText(profile.VideoBR));
    document.addElem("AudioBR", intToText(profile.AudioBR));
    document.addElem("FrameRate", intToText(profile.FrameRate));
    document.addElem("CodecName", profile.CodecName);
    document.addElem("CodecSettings", profile.CodecSettings);
    document.outOfElem();
}

std::string profileFolder() {
    std::string dataFolder;
    if (resolveDataFolder("Kestrelle", dataFolder)) return dataFolder + "/Profile/";
    return ".//Profile//";
}

std::string profileFilePath(const std::string& name) {
    return profileFolder() + name + ".ipf";
}

bool isUsableProfileName(const std::string& name) {
    if (name.empty() || name.size() > 200 || name == "." || name == "..") return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

bool hasProfileExtension(const std::string& fileName) {
    if (fileName.size() < 4) return false;
    const std::string tail = fileName.substr(fileName.size() - 4);
    return tail[0] == '.' && std::tolower(static_cast<unsigned char>(tail[1])) == 'i' &&
           std::tolower(static_cast<unsigned char>(tail[2])) == 'p' &&
           std::tolower(static_cast<unsigned char>(tail[3])) == 'f';
}

}  // namespace kestrelle
