#pragma once

#include "box/records.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QString>

// Limits for pictures read from files: a channel logo is 40 x 21 pixels, so anything far beyond
// these is damaged or hostile and is refused before memory is taken for it.
inline constexpr qint64 kMaxGifFileBytes = 4 * 1024 * 1024;
inline constexpr int kMaxGifSide = 2048;

// The first frame of a GIF (transparency kept) as an ARGB image; a null image and a short reason
// for anything damaged, truncated or too large.
QImage decodeGif(const QByteArray& data, QString* error = nullptr);
// The same for a file; files beyond kMaxGifFileBytes are not read.
QImage loadGifFile(const QString& path, QString* error = nullptr);
// A 256-colour GIF of the image (the built-in pictures are made this way).
QByteArray encodeGif(const QImage& image);

// The hidden fallback pictures ImgTV and ImgRadio (40 x 21).
QImage fallbackPicture(TChannelMode mode);

// Channel logos: the decoded logo file of a channel, or the TV or radio fallback picture when it
// has none or it cannot be read. Decoded pictures are kept per file. UI thread.
class ChannelPictures {
public:
    QPixmap logoFor(const TChannel& channel);
    QPixmap fallback(TChannelMode mode);

private:
    QHash<QString, QPixmap> m_logos;
    QPixmap m_tv;
    QPixmap m_radio;
};
