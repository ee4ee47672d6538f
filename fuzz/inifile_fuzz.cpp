// The settings file as a user or another program may have left it: any bytes at all.
#include "core/inifile.h"

#include "fuzzutil.h"

#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fuzz.ini"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(fuzz::bytes(data, size));
    }
    TIniFile ini(path);
    if (!ini.reload())
        return 0;
    for (const char* section : {"General", "DBox2", "VLC", "Telnet"}) {
        for (const char* key : {"Mode", "IP", "Port", "Password", ""}) {
            const QString v = ini.ReadString(QLatin1String(section), QLatin1String(key), QStringLiteral("dflt"));
            FUZZ_CHECK(v.size() <= TIniFile::kMaxValueLength);
            FUZZ_CHECK(!v.contains(QLatin1Char('\n'))); // lines end at LF; a lone CR is text
            (void)ini.ReadInteger(QLatin1String(section), QLatin1String(key), 7);
            (void)ini.ReadBool(QLatin1String(section), QLatin1String(key), true);
        }
    }
    // A value written must read back, from this object and from the file, whatever else is in it.
    const QString value = QStringLiteral("v a=l;ue");
    if (!ini.WriteString(QStringLiteral("General"), QStringLiteral("Mode"), value))
        return 0;
    FUZZ_CHECK(ini.ReadString(QStringLiteral("General"), QStringLiteral("Mode"), QString()) == value);
    TIniFile again(path);
    FUZZ_CHECK(again.reload());
    FUZZ_CHECK(again.ReadString(QStringLiteral("general"), QStringLiteral("MODE"), QString()) == value);
    return 0;
}
