#pragma once
// File URIs built from and read back to the file system's own bytes, so that names which are not
// valid UTF-8 survive the trip (QUrl would turn such bytes into U+FFFD).

#include <QString>

#include <optional>
#include <string>
#include <string_view>

class QUrl;

namespace kestrelle {

// "file://" and the absolute path with every byte outside the URI path characters percent-encoded
// ("caf\xE9" becomes "caf%E9", a blank "%20").
QString fileUriFromPath(std::string_view path);

// The local path a URL names, as the file system's bytes: only "file" URLs whose host is empty or
// "localhost", never a file on another machine ("file://otherhost/x.jpg").
std::optional<std::string> localPathFromUrl(const QUrl& url);

}  // namespace kestrelle
