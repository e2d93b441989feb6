#include "base/file_uri.h"

#include <QUrl>

#include <gtest/gtest.h>

namespace kestrelle {
namespace {

// Bytes that are not UTF-8 are encoded as themselves, and read back as the same bytes.
TEST(FileUri, KeepsTheFileSystemBytes) {
    const std::string latin1 = "/home/ann/caf\xE9/photo 1#.jpg";
    EXPECT_EQ(fileUriFromPath(latin1), QStringLiteral("file:///home/ann/caf%E9/photo%201%23.jpg"));
    EXPECT_EQ(localPathFromUrl(QUrl(fileUriFromPath(latin1))), latin1);
    const std::string utf8 = "/home/ann/caf\xC3\xA9/it's 50%.jpg";
    EXPECT_EQ(fileUriFromPath(utf8), QStringLiteral("file:///home/ann/caf%C3%A9/it's%2050%25.jpg"));
    EXPECT_EQ(localPathFromUrl(QUrl(fileUriFromPath(utf8))), utf8);
    // A trailing blank is part of the name.
    EXPECT_EQ(localPathFromUrl(QUrl(fileUriFromPath("/srv/Trip "))), "/srv/Trip ");
}

// Only files of this machine become paths: another host, another scheme or no path are refused.
TEST(FileUri, OnlyLocalFilesBecomePaths) {
    EXPECT_EQ(localPathFromUrl(QUrl(QStringLiteral("file:///srv/x.jpg"))), "/srv/x.jpg");
    EXPECT_EQ(localPathFromUrl(QUrl(QStringLiteral("file://localhost/srv/x.jpg"))), "/srv/x.jpg");
    EXPECT_EQ(localPathFromUrl(QUrl(QStringLiteral("file://LocalHost/srv/x.jpg"))), "/srv/x.jpg");
    EXPECT_EQ(localPathFromUrl(QUrl(QStringLiteral("file://otherhost/x.jpg"))), std::nullopt);
    EXPECT_EQ(localPathFromUrl(QUrl(QStringLiteral("http://localhost/x.jpg"))), std::nullopt);
    EXPECT_EQ(localPathFromUrl(QUrl(QStringLiteral("file:"))), std::nullopt);
    EXPECT_EQ(localPathFromUrl(QUrl()), std::nullopt);
}

}  // namespace
}  // namespace kestrelle
