#include "base/file_uri.h"

#include <QByteArray>
#include <QUrl>

namespace kestrelle {

namespace {

// The characters a URI path may hold as they are (RFC 3986 unreserved, sub-delims, ':', '@', '/').
bool keptAsIs(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("-._~!$&'()*+,;=:@/").find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

QString fileUriFromPath(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (keptAsIs(c)) {
            uri += ch;
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 0x0F];
        }
    }
    return QString::fromLatin1(uri.data(), static_cast<qsizetype>(uri.size()));
}

std::optional<std::string> localPathFromUrl(const QUrl& url) {
    if (!url.isValid() || url.scheme().compare(QStringLiteral("file"), Qt::CaseInsensitive) != 0) {
        return std::nullopt;
    }
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) != 0) {
        return std::nullopt;
    }
    // The encoded path keeps the original bytes as %XX; decoding it as bytes gives them back.
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (bytes.isEmpty()) return std::nullopt;
    return bytes.toStdString();
}

}  // namespace kestrelle
