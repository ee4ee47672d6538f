// The seed corpus of every fuzz target through its entry point. A broken invariant aborts the
// program (the fuzzers' check), so a failure shows as a crash naming the last input replayed.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdio>

#define FUZZ_ENTRY(t)                                                                                                  \
    extern "C" int fuzz_##t##_one(const uint8_t*, size_t);                                                             \
    extern "C" int fuzz_##t##_init(int*, char***);
FUZZ_ENTRY(inifile)
FUZZ_ENTRY(bouquets)
FUZZ_ENTRY(epgext)
FUZZ_ENTRY(epgxml)
FUZZ_ENTRY(httpbody)
FUZZ_ENTRY(httpanswer)
FUZZ_ENTRY(streaminfo)
FUZZ_ENTRY(subchannels)
FUZZ_ENTRY(remotevlc)
FUZZ_ENTRY(webserver)
FUZZ_ENTRY(vtscreen)

namespace {

struct Target {
    const char* name;
    int (*one)(const uint8_t*, size_t);
    int (*init)(int*, char***);
};

#define FUZZ_TARGET(t)                                                                                                 \
    Target {                                                                                                           \
        "fuzz_" #t, fuzz_##t##_one, fuzz_##t##_init                                                                    \
    }

class Corpus : public testing::TestWithParam<Target> {};

TEST_P(Corpus, EveryInputKeepsTheInvariants) {
    const Target& t = GetParam();
    t.init(nullptr, nullptr);
    const QDir dir(QStringLiteral(QUOXEL_FUZZ_CORPUS "/") + QLatin1String(t.name));
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(files.isEmpty()) << dir.path().toStdString();
    for (const QString& name : files) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray input = f.readAll();
        // Named before the run: a broken invariant aborts inside, leaving this as the last line.
        std::fprintf(stderr, "%s/%s\n", t.name, name.toUtf8().constData());
        t.one(reinterpret_cast<const uint8_t*>(input.constData()), size_t(input.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, Corpus,
                         testing::Values(FUZZ_TARGET(inifile), FUZZ_TARGET(bouquets), FUZZ_TARGET(epgext),
                                         FUZZ_TARGET(epgxml), FUZZ_TARGET(httpbody), FUZZ_TARGET(httpanswer),
                                         FUZZ_TARGET(streaminfo), FUZZ_TARGET(subchannels), FUZZ_TARGET(remotevlc),
                                         FUZZ_TARGET(webserver), FUZZ_TARGET(vtscreen)),
                         [](const testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

} // namespace
