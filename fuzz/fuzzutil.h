#pragma once

#include "core/options.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A broken invariant is a finding like a crash: libFuzzer keeps the input that caused it.
#define FUZZ_CHECK(cond)                                                                                               \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__);                         \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

// The parsers log what they refuse; a fuzzing run would write millions of lines to "Quoxel.log"
// in the working directory.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Options.NoLogging = true;
    return 0;
}

namespace fuzz {

inline QByteArray bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// The receiver answers in Latin-1, the remote VLC and newer firmware in UTF-8: the first byte's low
// bit picks the decoding, so both paths see every byte string.
inline QString text(const QByteArray& in) {
    if (in.isEmpty())
        return QString();
    const QByteArray rest = in.mid(1);
    return (in[0] & 1) ? QString::fromUtf8(rest) : QString::fromLatin1(rest);
}

// Splits at the first NUL byte: two peer answers from one input.
inline std::pair<QByteArray, QByteArray> halves(const QByteArray& in) {
    const qsizetype nul = in.indexOf('\0');
    if (nul < 0)
        return {in, QByteArray()};
    return {in.left(nul), in.mid(nul + 1)};
}

inline bool hasLineBreak(QStringView s) {
    return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r'));
}

inline bool hasControl(QStringView s) {
    for (QChar c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

} // namespace fuzz
