// The only file that knows giflib.
#include "ui/pictures.h"

#include "core/log.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QPainter>

#include <gif_lib.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

struct ReadSource {
    const QByteArray* Data;
    qsizetype Pos = 0;
};

int readFromBuffer(GifFileType* gif, GifByteType* out, int size) {
    auto* src = static_cast<ReadSource*>(gif->UserData);
    const qsizetype n = std::clamp<qsizetype>(src->Data->size() - src->Pos, 0, size);
    std::memcpy(out, src->Data->constData() + src->Pos, static_cast<size_t>(n));
    src->Pos += n;
    return static_cast<int>(n);
}

int writeToBuffer(GifFileType* gif, const GifByteType* data, int size) {
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), size);
    return size;
}

struct DecoderClose {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
struct EncoderClose {
    void operator()(GifFileType* gif) const {
        int error = 0;
        EGifCloseFile(gif, &error);
    }
};
struct MapFree {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using Decoder = std::unique_ptr<GifFileType, DecoderClose>;
using Encoder = std::unique_ptr<GifFileType, EncoderClose>;

QImage fail(QString* error, const QString& reason) {
    if (error)
        *error = reason;
    return {};
}

QString gifError(int code) {
    const char* text = GifErrorString(code);
    return text ? QString::fromLatin1(text) : QStringLiteral("gif error %1").arg(code);
}

} // namespace

QImage decodeGif(const QByteArray& data, QString* error) {
    ReadSource source{&data};
    int code = 0;
    Decoder gif(DGifOpen(&source, readFromBuffer, &code));
    if (!gif)
        return fail(error, gifError(code));
    if (gif->SWidth <= 0 || gif->SHeight <= 0 || gif->SWidth > kMaxGifSide || gif->SHeight > kMaxGifSide)
        return fail(error, QStringLiteral("bad picture size"));
    int transparent = -1;
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    do {
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR)
            return fail(error, gifError(gif->Error));
        if (record == EXTENSION_RECORD_TYPE) {
            int extCode = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif.get(), &extCode, &ext) == GIF_ERROR)
                return fail(error, gifError(gif->Error));
            if (extCode == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
                GraphicsControlBlock gcb;
                if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK)
                    transparent = gcb.TransparentColor;
            }
            while (ext) {
                if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR)
                    return fail(error, gifError(gif->Error));
            }
        }
    } while (record != IMAGE_DESC_RECORD_TYPE && record != TERMINATE_RECORD_TYPE);
    if (record != IMAGE_DESC_RECORD_TYPE)
        return fail(error, QStringLiteral("no image"));
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR)
        return fail(error, gifError(gif->Error));

    const GifImageDesc& desc = gif->Image;
    if (desc.Width <= 0 || desc.Height <= 0 || desc.Width > kMaxGifSide || desc.Height > kMaxGifSide || desc.Left < 0 ||
        desc.Top < 0)
        return fail(error, QStringLiteral("bad frame size"));
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (!map || !map->Colors || map->ColorCount <= 0)
        return fail(error, QStringLiteral("no colour table"));

    std::vector<GifPixelType> pixels(static_cast<size_t>(desc.Width) * static_cast<size_t>(desc.Height));
    if (desc.Interlace) {
        // The four passes of an interlaced picture, as the format lays them out.
        static constexpr int kStart[] = {0, 4, 2, 1};
        static constexpr int kStep[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass) {
            for (int y = kStart[pass]; y < desc.Height; y += kStep[pass]) {
                if (DGifGetLine(gif.get(), &pixels[static_cast<size_t>(y) * desc.Width], desc.Width) == GIF_ERROR)
                    return fail(error, gifError(gif->Error));
            }
        }
    } else {
        for (int y = 0; y < desc.Height; ++y) {
            if (DGifGetLine(gif.get(), &pixels[static_cast<size_t>(y) * desc.Width], desc.Width) == GIF_ERROR)
                return fail(error, gifError(gif->Error));
        }
    }

    // The frame on a canvas of the screen size; what lies outside it is cut off.
    QImage image(gif->SWidth, gif->SHeight, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < desc.Height && desc.Top + y < gif->SHeight; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(desc.Top + y));
        for (int x = 0; x < desc.Width && desc.Left + x < gif->SWidth; ++x) {
            const int index = pixels[static_cast<size_t>(y) * desc.Width + x];
            if (index == transparent || index >= map->ColorCount)
                continue;
            const GifColorType& c = map->Colors[index];
            line[desc.Left + x] = qRgb(c.Red, c.Green, c.Blue);
        }
    }
    return image;
}

QImage loadGifFile(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("cannot open"));
    if (file.size() > kMaxGifFileBytes)
        return fail(error, QStringLiteral("file too large"));
    // Read at most one byte beyond the limit: a file that grows meanwhile is refused too.
    const QByteArray data = file.read(kMaxGifFileBytes + 1);
    if (data.size() > kMaxGifFileBytes)
        return fail(error, QStringLiteral("file too large"));
    return decodeGif(data, error);
}

QByteArray encodeGif(const QImage& source) {
    if (source.isNull() || source.width() > kMaxGifSide || source.height() > kMaxGifSide)
        return {};
    const QImage indexed = source.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
    const QList<QRgb> table = indexed.colorTable();
    int colours = 2;
    int bits = 1;
    while (colours < table.size() && bits < 8) {
        colours *= 2;
        ++bits;
    }
    std::unique_ptr<ColorMapObject, MapFree> map(GifMakeMapObject(colours, nullptr));
    if (!map)
        return {};
    for (int i = 0; i < colours; ++i) {
        const QRgb rgb = i < table.size() ? table[i] : qRgb(0, 0, 0);
        map->Colors[i] = GifColorType{static_cast<GifByteType>(qRed(rgb)), static_cast<GifByteType>(qGreen(rgb)),
                                      static_cast<GifByteType>(qBlue(rgb))};
    }
    QByteArray out;
    int code = 0;
    {
        Encoder gif(EGifOpen(&out, writeToBuffer, &code));
        if (!gif)
            return {};
        EGifSetGifVersion(gif.get(), true);
        if (EGifPutScreenDesc(gif.get(), indexed.width(), indexed.height(), bits, 0, map.get()) == GIF_ERROR ||
            EGifPutImageDesc(gif.get(), 0, 0, indexed.width(), indexed.height(), false, nullptr) == GIF_ERROR)
            return {};
        std::vector<GifPixelType> line(static_cast<size_t>(indexed.width()));
        for (int y = 0; y < indexed.height(); ++y) {
            std::memcpy(line.data(), indexed.constScanLine(y), line.size());
            if (EGifPutLine(gif.get(), line.data(), indexed.width()) == GIF_ERROR)
                return {};
        }
    }
    return out;
}

QImage fallbackPicture(TChannelMode mode) {
    // Drawn rather than shipped: a screen for TV, a speaker with waves for radio.
    QImage image(40, 21, QImage::Format_ARGB32);
    image.fill(QColor(0, 0, 128));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::white);
    if (mode == mTV) {
        p.drawRect(11, 3, 17, 12);
        p.fillRect(13, 5, 14, 9, QColor(96, 160, 255));
        p.drawLine(17, 17, 22, 17);
    } else {
        p.setBrush(Qt::white);
        p.drawRect(10, 8, 4, 5);
        p.drawPolygon(QPolygon({QPoint(14, 8), QPoint(19, 4), QPoint(19, 17), QPoint(14, 13)}));
        p.setBrush(Qt::NoBrush);
        p.drawArc(18, 6, 6, 9, -60 * 16, 120 * 16);
        p.drawArc(18, 3, 11, 15, -60 * 16, 120 * 16);
    }
    return image;
}

QPixmap ChannelPictures::fallback(TChannelMode mode) {
    QPixmap& pm = mode == mRadio ? m_radio : m_tv;
    if (pm.isNull()) {
        // Through the same decoder as the logo files, as a built-in GIF.
        QImage image = decodeGif(encodeGif(fallbackPicture(mode)));
        pm = QPixmap::fromImage(image.isNull() ? fallbackPicture(mode) : image);
    }
    return pm;
}

QPixmap ChannelPictures::logoFor(const TChannel& channel) {
    if (channel.LogoFile.isEmpty())
        return fallback(channel.Mode);
    const auto it = m_logos.constFind(channel.LogoFile);
    if (it != m_logos.constEnd())
        return it->isNull() ? fallback(channel.Mode) : *it;
    QString error;
    const QImage image = loadGifFile(channel.LogoFile, &error);
    if (image.isNull())
        Log(LogFunc, QStringLiteral("logo ") + channel.LogoFile + QStringLiteral(": ") + error);
    // A bad file is remembered as bad, so it is not read again on every paint.
    const QPixmap pm = image.isNull() ? QPixmap() : QPixmap::fromImage(image);
    m_logos.insert(channel.LogoFile, pm);
    return pm.isNull() ? fallback(channel.Mode) : pm;
}
