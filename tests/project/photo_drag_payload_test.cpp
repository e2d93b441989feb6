#include "project/photo_drag_payload.h"

#include <QMimeData>

#include <gtest/gtest.h>

namespace kestrelle {
namespace {

TEST(PhotoDragPayload, RoundTripsPathsWithAnyBytesInOrder) {
    const std::vector<std::string> paths = {"/photos/b.jpg", std::string("/caf\xe9/a\nb.png"), ""};
    QMimeData mime;
    putDragPayload(mime, {DragLine::Soundtrack, paths});
    std::optional<DragPayload> back = takeDragPayload(mime);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->line, DragLine::Soundtrack);
    EXPECT_EQ(back->paths, paths);
    EXPECT_FALSE(mime.hasFormat(QString::fromLatin1(kPhotoListMimeType)));
}

TEST(PhotoDragPayload, RefusesTruncatedPaddedAndForeignData) {
    const QByteArray whole = encodeDragPaths({"abc", "de"});
    // Every cut short of the whole is malformed; so is one byte more.
    for (qsizetype size = 0; size < whole.size(); ++size)
        EXPECT_FALSE(decodeDragPaths(whole.left(size))) << size;
    EXPECT_TRUE(decodeDragPaths(whole));
    EXPECT_FALSE(decodeDragPaths(whole + 'x'));
    // A count far beyond the bytes present is refused without allocating for it.
    EXPECT_FALSE(decodeDragPaths(QByteArray("\xff\xff\xff\x7f", 4)));

    QMimeData text;
    text.setText(QStringLiteral("/photos/a.jpg"));
    EXPECT_FALSE(takeDragPayload(text));
}

}  // namespace
}  // namespace kestrelle
