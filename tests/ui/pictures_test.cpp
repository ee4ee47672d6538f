#include "ui/pictures.h"

#include "box/bouquets.h"
#include "support/tempdir.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

// A 40 x 21 logo with four colours in blocks.
QImage sampleLogo() {
    QImage image(40, 21, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y,
                           x < 20 ? (y < 10 ? qRgb(255, 0, 0) : qRgb(0, 255, 0))
                                  : (y < 10 ? qRgb(0, 0, 255) : qRgb(255, 255, 255)));
    return image;
}

// Offset of the first image descriptor in a GIF made by encodeGif (no extensions in front of it).
qsizetype descriptorOffset(const QByteArray& gif) {
    const int globalTable = (gif[10] & 0x80) ? 3 * (1 << ((gif[10] & 0x07) + 1)) : 0;
    return 13 + globalTable;
}

void put16(QByteArray& bytes, qsizetype at, int value) {
    bytes[at] = static_cast<char>(value & 0xff);
    bytes[at + 1] = static_cast<char>((value >> 8) & 0xff);
}

// A logo survives the trip through the encoder and decoder pixel for pixel.
TEST(Gif, RoundTrip) {
    const QImage logo = sampleLogo();
    const QByteArray gif = encodeGif(logo);
    ASSERT_TRUE(gif.startsWith("GIF89a"));
    QString error;
    const QImage back = decodeGif(gif, &error);
    ASSERT_FALSE(back.isNull()) << error.toStdString();
    ASSERT_EQ(back.size(), logo.size());
    for (int y = 0; y < logo.height(); ++y)
        for (int x = 0; x < logo.width(); ++x)
            ASSERT_EQ(back.pixel(x, y), logo.pixel(x, y)) << x << "," << y;
}

// Every cut of a valid file is refused or decoded, never a crash or a read past the end.
TEST(Gif, EveryTruncationIsSafe) {
    const QByteArray gif = encodeGif(sampleLogo());
    for (qsizetype n = 0; n < gif.size(); ++n) {
        QString error;
        const QImage image = decodeGif(gif.left(n), &error);
        if (image.isNull()) {
            EXPECT_FALSE(error.isEmpty()) << n;
        }
    }
    EXPECT_TRUE(decodeGif(gif.left(descriptorOffset(gif) + 5)).isNull());
}

struct BadGifCase {
    const char* name;
    QByteArray (*make)(const QByteArray& good);
};
class BadGifTest : public ::testing::TestWithParam<BadGifCase> {};

// Headers that claim huge or empty pictures, a frame far beyond its screen, text instead of a GIF:
// all refused with a reason before any large allocation.
TEST_P(BadGifTest, Refused) {
    const QByteArray gif = encodeGif(sampleLogo());
    QString error;
    EXPECT_TRUE(decodeGif(GetParam().make(gif), &error).isNull());
    EXPECT_FALSE(error.isEmpty());
}
INSTANTIATE_TEST_SUITE_P(
    Cases, BadGifTest,
    ::testing::Values(BadGifCase{"empty", [](const QByteArray&) { return QByteArray(); }},
                      BadGifCase{"text", [](const QByteArray&) { return QByteArray("<html>404 not found</html>"); }},
                      BadGifCase{"hugeScreen",
                                 [](const QByteArray& g) {
                                     QByteArray b = g;
                                     put16(b, 6, 0xffff);
                                     put16(b, 8, 0xffff);
                                     return b;
                                 }},
                      BadGifCase{"zeroScreen",
                                 [](const QByteArray& g) {
                                     QByteArray b = g;
                                     put16(b, 6, 0);
                                     return b;
                                 }},
                      BadGifCase{"hugeFrame",
                                 [](const QByteArray& g) {
                                     QByteArray b = g;
                                     put16(b, descriptorOffset(b) + 5, 0xffff);
                                     put16(b, descriptorOffset(b) + 7, 0xffff);
                                     return b;
                                 }},
                      BadGifCase{"noImage",
                                 [](const QByteArray& g) {
                                     QByteArray b = g.left(descriptorOffset(g));
                                     return b + QByteArray(1, ';');
                                 }}),
    [](const auto& info) { return std::string(info.param.name); });

// A frame larger than the screen or placed beyond it is cut to the screen.
TEST(Gif, FrameOutsideTheScreenIsClipped) {
    QByteArray gif = encodeGif(sampleLogo());
    put16(gif, descriptorOffset(gif) + 1, 30); // left
    const QImage image = decodeGif(gif);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(40, 21));
    EXPECT_EQ(image.pixel(31, 0), qRgb(255, 0, 0));
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
}

// Random damage anywhere in the file: no crash (run under the sanitizers).
TEST(Gif, RandomDamage) {
    const QByteArray good = encodeGif(sampleLogo());
    QRandomGenerator rng(5);
    for (int round = 0; round < 3000; ++round) {
        QByteArray b = good;
        const int flips = 1 + rng.bounded(8);
        for (int k = 0; k < flips; ++k)
            b[rng.bounded(static_cast<int>(b.size()))] = static_cast<char>(rng.bounded(256));
        decodeGif(b);
    }
}

// A file beyond the size limit is refused without being read; an unreadable one likewise.
TEST(Gif, FileLimits) {
    TestDir dir;
    ASSERT_TRUE(dir.write(QStringLiteral("big.gif"), encodeGif(sampleLogo())));
    QFile big(dir.path(QStringLiteral("big.gif")));
    ASSERT_TRUE(big.resize(kMaxGifFileBytes + 1));
    QString error;
    EXPECT_TRUE(loadGifFile(big.fileName(), &error).isNull());
    EXPECT_EQ(error, QStringLiteral("file too large"));
    EXPECT_TRUE(loadGifFile(dir.path(QStringLiteral("missing.gif")), &error).isNull());
    EXPECT_EQ(error, QStringLiteral("cannot open"));
}

// Logos from "logos/<id>.gif" of the loaded bouquet; a missing or broken file gives the TV or radio
// fallback picture.
TEST(ChannelLogos, FromTheLogoFolder) {
    TestDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("logos")));
    ASSERT_TRUE(dir.write(QStringLiteral("logos/43700016d66.gif"), encodeGif(sampleLogo())));
    ASSERT_TRUE(dir.write(QStringLiteral("logos/437000273f2.gif"), encodeGif(sampleLogo()).left(40)));
    ASSERT_TRUE(dir.write(QStringLiteral("logos/4370001bfa1.gif"), QByteArray("GIF89a") + QByteArray(4096, '\xff')));
    TBouquetModel bouquets([](const QString& url) {
        if (url.endsWith(QLatin1String("mode=TV")))
            return QStringLiteral("1 43700016d66 Das Erste\n2 437000273f2 ORF\n3 44100016dca Sat.1");
        return QStringLiteral("1 4370001bfa1 Bayern 3\n2 4370001bfa2 FM4");
    });
    bouquets.setLogoFolder(dir.path(QStringLiteral("logos")));
    ASSERT_TRUE(bouquets.LoadBouquet(QStringLiteral("1")));
    ChannelPictures pictures;
    const QImage tv = pictures.fallback(mTV).toImage();
    const QImage radio = pictures.fallback(mRadio).toImage();
    EXPECT_EQ(tv.size(), QSize(40, 21));
    EXPECT_EQ(radio.size(), QSize(40, 21));
    EXPECT_NE(tv, radio);

    const auto& box = bouquets.channelBox();
    ASSERT_EQ(box.size(), 5);
    EXPECT_EQ(pictures.logoFor(*box[0].Channel).toImage().pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(pictures.logoFor(*box[1].Channel).toImage(), tv) << "truncated file";
    EXPECT_EQ(pictures.logoFor(*box[2].Channel).toImage(), tv) << "no file";
    EXPECT_EQ(pictures.logoFor(*box[3].Channel).toImage(), radio) << "garbage file";
    EXPECT_EQ(pictures.logoFor(*box[4].Channel).toImage(), radio) << "no file";
    // A bad file is not read again: removing it changes nothing.
    QFile::remove(dir.path(QStringLiteral("logos/437000273f2.gif")));
    EXPECT_EQ(pictures.logoFor(*box[1].Channel).toImage(), tv);
}

} // namespace
