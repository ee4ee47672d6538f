#include "core/inifile.h"

#include "support/filesizelimit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

namespace {

class IniFileTest : public ::testing::Test {
protected:
    QString ini() const { return m_dir.path(QStringLiteral("Quoxel.ini")); }
    void put(const QByteArray& bytes) { ASSERT_TRUE(m_dir.write(QStringLiteral("Quoxel.ini"), bytes)); }
    QByteArray onDisk() const { return m_dir.read(QStringLiteral("Quoxel.ini")); }
    TestDir m_dir;
};

const QString kGeneral = QStringLiteral("General");

} // namespace

struct ReadCase {
    const char* name;
    QByteArray file; // null: no file at all
    const char* section;
    const char* key;
    QString expected; // with "def" as the default
    bool sectionSeen;
};
class IniReadTest : public IniFileTest, public ::testing::WithParamInterface<ReadCase> {};

// Names match regardless of letter case and blanks, values are trimmed; the first section and key
// of a name win over later ones; missing files, sections, keys and comments give the default;
// values are cut to 2047 characters and lose one pair of quotes.
TEST_P(IniReadTest, ValueOrDefault) {
    const ReadCase& c = GetParam();
    if (!c.file.isNull())
        put(c.file);
    TIniFile f(ini());
    EXPECT_EQ(f.SectionExists(QLatin1String(c.section)), c.sectionSeen);
    EXPECT_EQ(f.ReadString(QLatin1String(c.section), QLatin1String(c.key), QStringLiteral("def")), c.expected);
}
const QByteArray kShadowed = "[General]\nmode=online\nmode=quoxel\n[general]\nmode=live\nextra=1\n";
const QByteArray kComments = "[General]\n;k=commented\nnovalue\n=orphan\n";
const QByteArray kQuotes = "[General]\nlong=" + QByteArray(5000, 'a') + "\nq=\"quoted value\"\nhalf=\"open\n";
INSTANTIATE_TEST_SUITE_P(
    Files, IniReadTest,
    ::testing::Values(ReadCase{"CaseAndBlanks", "  [ general ]  \n  IP_LAN  =   10.0.0.5   \n", "GENERAL", "ip_lan",
                               QStringLiteral("10.0.0.5"), true},
                      ReadCase{"FirstKeyWins", kShadowed, "General", "mode", QStringLiteral("online"), true},
                      ReadCase{"ShadowedSectionUnseen", kShadowed, "General", "extra", QStringLiteral("def"), true},
                      ReadCase{"NoFile", QByteArray(), "General", "k", QStringLiteral("def"), false},
                      ReadCase{"CommentIsNoKey", kComments, "General", "k", QStringLiteral("def"), true},
                      ReadCase{"LineWithoutValue", kComments, "General", "novalue", QStringLiteral("def"), true},
                      ReadCase{"LongValueCut", kQuotes, "General", "long", QString(2047, QLatin1Char('a')), true},
                      ReadCase{"QuotesStripped", kQuotes, "General", "q", QStringLiteral("quoted value"), true},
                      ReadCase{"HalfQuoteKept", kQuotes, "General", "half", QStringLiteral("\"open"), true}),
    [](const auto& info) { return std::string(info.param.name); });

struct IntCase {
    const char* text;
    int expected;
};
class IniIntegerTest : public IniFileTest, public ::testing::WithParamInterface<IntCase> {};

// Decimal and 0x-hex numbers are read; anything else, or out of range, gives the default (-7).
// A boolean is any non-zero number, or its default.
TEST_P(IniIntegerTest, ReadsNumbersOrDefault) {
    put(QByteArray("[General]\nn=") + GetParam().text + "\n");
    TIniFile f(ini());
    EXPECT_EQ(f.ReadInteger(kGeneral, QStringLiteral("n"), -7), GetParam().expected);
    const bool number = GetParam().expected != -7;
    EXPECT_EQ(f.ReadBool(kGeneral, QStringLiteral("n"), false), number && GetParam().expected != 0);
    EXPECT_EQ(f.ReadBool(kGeneral, QStringLiteral("n"), true), !number || GetParam().expected != 0);
}
INSTANTIATE_TEST_SUITE_P(Values, IniIntegerTest,
                         ::testing::Values(IntCase{"42", 42}, IntCase{"0", 0}, IntCase{"-3", -3}, IntCase{"0x1F", 31},
                                           IntCase{"0XfF", 255}, IntCase{"", -7}, IntCase{"12abc", -7},
                                           IntCase{"abc", -7}, IntCase{"99999999999", -7},
                                           IntCase{"2147483647", 2147483647}, IntCase{"0x", -7}, IntCase{"1.5", -7}));

// Writing keeps comments, unknown keys and sections byte for byte and the key's own spelling.
TEST_F(IniFileTest, WritePreservesEverythingElse) {
    const QByteArray before = "; my notes\n[General]\nMODE=live\nunknown = \xff\xfe raw\n\n[Other]\nx=1\n";
    put(before);
    TIniFile f(ini());
    ASSERT_TRUE(f.WriteString(kGeneral, QStringLiteral("mode"), QStringLiteral("online")));
    ASSERT_TRUE(f.WriteString(kGeneral, QStringLiteral("newkey"), QStringLiteral("v")));
    ASSERT_TRUE(f.WriteString(QStringLiteral("Telnet"), QStringLiteral("port"), QStringLiteral("23")));
    EXPECT_EQ(onDisk(), QByteArray("; my notes\n[General]\nMODE=online\nunknown = \xff\xfe raw\nnewkey=v\n\n"
                                   "[Other]\nx=1\n[Telnet]\nport=23\n"));
}

// A CRLF file stays CRLF when keys are changed or added.
TEST_F(IniFileTest, KeepsCrLfLineEnds) {
    put("[General]\r\nmode=live\r\n");
    TIniFile f(ini());
    ASSERT_TRUE(f.WriteString(kGeneral, QStringLiteral("mode"), QStringLiteral("online")));
    ASSERT_TRUE(f.WriteString(kGeneral, QStringLiteral("x"), QStringLiteral("1")));
    EXPECT_EQ(onDisk(), QByteArray("[General]\r\nmode=online\r\nx=1\r\n"));
    TIniFile again(ini());
    EXPECT_EQ(again.ReadString(kGeneral, QStringLiteral("mode"), {}), QStringLiteral("online"));
}

// A value with line breaks cannot forge a second key.
TEST_F(IniFileTest, ValueCannotInjectLines) {
    TIniFile f(ini());
    ASSERT_TRUE(f.WriteString(kGeneral, QStringLiteral("ip_lan"), QStringLiteral("1.2.3.4\n[Webserver]\npass=x")));
    TIniFile again(ini());
    EXPECT_FALSE(again.SectionExists(QStringLiteral("Webserver")));
    EXPECT_EQ(again.ReadString(kGeneral, QStringLiteral("ip_lan"), {}), QStringLiteral("1.2.3.4 [Webserver] pass=x"));
}

// A save cut short by the disk (here a file-size limit) leaves the old file intact and the
// in-memory copy in step with it.
TEST_F(IniFileTest, InterruptedSaveLeavesOldFile) {
    const QByteArray before = "[General]\nmode=live\n";
    put(before);
    TIniFile f(ini());
    FileSizeLimit limit(4096);
    f.beginUpdate();
    EXPECT_TRUE(f.WriteString(kGeneral, QStringLiteral("mode"), QStringLiteral("online")));
    EXPECT_TRUE(f.WriteString(kGeneral, QStringLiteral("big"), QString(20000, QLatin1Char('x'))));
    EXPECT_FALSE(f.endUpdate());
    EXPECT_TRUE(f.lastError().contains(QStringLiteral("Quoxel.ini")));
    EXPECT_EQ(onDisk(), before);
    EXPECT_EQ(f.ReadString(kGeneral, QStringLiteral("mode"), {}), QStringLiteral("live"));
}

// Binary garbage and truncated lines read as defaults without harm; a real key still counts.
TEST_F(IniFileTest, BinaryAndTruncatedFiles) {
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk += static_cast<char>((i * 131) & 0xff);
    put(junk + "\n[General]\nmode=onl");
    TIniFile f(ini());
    EXPECT_EQ(f.ReadString(kGeneral, QStringLiteral("mode"), {}), QStringLiteral("onl"));
    EXPECT_EQ(f.ReadString(kGeneral, QStringLiteral("ip_lan"), QStringLiteral("d")), QStringLiteral("d"));
    ASSERT_TRUE(f.WriteString(kGeneral, QStringLiteral("mode"), QStringLiteral("live")));
    EXPECT_TRUE(onDisk().startsWith(junk));
}

// A 10 MB file is read in full and a key at its end is found.
TEST_F(IniFileTest, LargeFile) {
    QByteArray big = "[Filler]\n";
    while (big.size() < 10 * 1024 * 1024)
        big += "some_unknown_key_with_a_long_name=and a value that fills the line\n";
    put(big + "[General]\nmode=quoxel\n");
    TIniFile f(ini());
    EXPECT_EQ(f.ReadString(kGeneral, QStringLiteral("mode"), {}), QStringLiteral("quoxel"));
}
