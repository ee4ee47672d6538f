#include "ui/remotecontrol.h"

#include <QLabel>
#include <QTest>
#include <QtEndian>

#include <gtest/gtest.h>

#include <functional>

namespace {

QPoint probePoint(const RemoteKeyRect& r, int where) {
    switch (where) {
    case 1:
        return {r.xFrom, r.yFrom};
    case 2:
        return {r.xTo, r.yTo};
    case 3:
        return {r.xFrom - 1, (r.yFrom + r.yTo) / 2};
    case 4:
        return {(r.xFrom + r.xTo) / 2, r.yTo + 1};
    default:
        return {(r.xFrom + r.xTo) / 2, (r.yFrom + r.yTo) / 2};
    }
}

} // namespace

// Each rectangle's corners and centre hold its key, and only its key; one pixel outside does not.
TEST(RemotePicture, HitTable) {
    for (const RemoteKeyRect& r : remoteKeyTable()) {
        for (int where = 0; where <= 4; ++where) {
            const QStringList keys = remoteKeysAt(probePoint(r, where));
            ASSERT_LE(keys.size(), 1) << r.key;
            EXPECT_EQ(keys.contains(QString::fromLatin1(r.key)), where <= 2) << r.key << " " << where;
        }
    }
    // The edge of "KEY_1" belongs to it.
    EXPECT_EQ(remoteKeysAt({68, 63}), QStringList{QStringLiteral("KEY_1")});
    EXPECT_TRUE(remoteKeysAt({69, 63}).isEmpty());
}

// The picture's buttons lie inside their rectangles and the window outline keeps every button and the
// close label, while the key colour around the body is cut away.
TEST(RemotePicture, OutlineAndButtons) {
    const QImage pic = paintRemotePicture();
    ASSERT_EQ(pic.size(), QSize(128, 480));
    const QRegion region = remoteRegion(pic);
    for (const RemoteKeyRect& r : remoteKeyTable()) {
        const QPoint c((r.xFrom + r.xTo) / 2, (r.yFrom + r.yTo) / 2);
        EXPECT_TRUE(region.contains(c)) << r.key;
        EXPECT_NE(pic.pixel(c), pic.pixel(QPoint(r.xFrom - 2, r.yFrom - 2))) << r.key << " is drawn";
    }
    EXPECT_TRUE(region.contains(QPoint(115, 10)));
    EXPECT_FALSE(region.contains(QPoint(0, 0)));
    EXPECT_FALSE(region.contains(QPoint(129, 490)));
    TFrmRemoteControl w;
    EXPECT_EQ(w.size(), QSize(130, 500));
    EXPECT_EQ(w.mask(), region);
    EXPECT_EQ(w.LblRemoteControlClose()->pos(), QPoint(113, 6));
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
}

// Docked beside the main window: right edge 2 pixels over its left edge, 8 pixels higher.
TEST(RemotePicture, Placement) {
    TFrmRemoteControl w;
    w.placeBeside(QRect(400, 300, 640, 480));
    EXPECT_EQ(w.pos(), QPoint(400 - 130 + 2, 300 - 8));
    w.move(400 - 130, 300); // where the user put it: kept
    w.placeBeside(QRect(400, 300, 640, 480));
    EXPECT_EQ(w.pos(), QPoint(270, 300));
}

// A 2 x 2 screenshot as the receiver's tool writes it (8 bits, bottom-up, the palette's fourth byte
// the transparency, the image size field too large), spoilt one way per row.
QByteArray screenshot(const std::function<void(QByteArray&)>& spoil) {
    QByteArray b(54 + 1024 + 8, '\0');
    const auto put = [&b](int at, quint32 v) { qToLittleEndian(v, b.data() + at); };
    b[0] = 'B';
    b[1] = 'M';
    put(2, quint32(b.size()));
    put(10, 1078);
    put(14, 40);
    put(18, 2);
    put(22, 2);
    b[26] = 1;
    b[28] = 8;
    put(34, 8 + 1024);
    put(46, 256);
    put(54, 0x00ff8040); // entry 0: red 0xff, green 0x80, blue 0x40
    put(58, 0xff808080); // entry 1: grey, but transparent
    b[1078] = 1;         // the first row in the file, the bottom one: transparent, entry 0; the other all entry 0
    spoil(b);
    return b;
}

struct DecodeRow {
    const char* name;
    std::function<void(QByteArray&)> spoil;
    bool decodes;
    int blackRow = 1; // where the file's first row shows
};
class ScreenDecode : public ::testing::TestWithParam<DecodeRow> {};

// The screenshot decodes with the transparent entry black and the rows the right way up; a cut or
// hostile header gives no picture instead of a wrong or huge one.
TEST_P(ScreenDecode, EightBitFile) {
    const QImage img = decodeScreenPicture(screenshot(GetParam().spoil));
    ASSERT_EQ(!img.isNull(), GetParam().decodes);
    if (!GetParam().decodes)
        return;
    EXPECT_EQ(img.size(), QSize(2, 2));
    const int first = GetParam().blackRow;
    EXPECT_EQ(img.pixel(0, first), qRgb(0, 0, 0)) << "transparent shows black";
    EXPECT_EQ(img.pixel(1, first), qRgb(0xff, 0x80, 0x40));
    EXPECT_EQ(img.pixel(0, 1 - first), qRgb(0xff, 0x80, 0x40));
}
INSTANTIATE_TEST_SUITE_P(
    Rows, ScreenDecode,
    ::testing::Values(DecodeRow{"RowsCut", [](QByteArray& b) { b.chop(3); }, false},
                      DecodeRow{"HugeWidth", [](QByteArray& b) { qToLittleEndian<quint32>(100000, b.data() + 18); },
                                false},
                      DecodeRow{"PaletteBeyondEnd", [](QByteArray& b) { b.truncate(600); }, false},
                      DecodeRow{"Compressed", [](QByteArray& b) { b[30] = 1; }, false},
                      DecodeRow{"TopDown", [](QByteArray& b) { qToLittleEndian<qint32>(-2, b.data() + 22); }, true, 0}),
    [](const auto& info) { return std::string(info.param.name); });
