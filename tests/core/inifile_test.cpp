#include "core/inifile.h"

#include "support/filesizelimit.h"
#include "support/tempdir.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <sys/stat.h>

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

// Names match regardless of letter case and surrounding blanks; values are trimmed.
TEST_F(IniFileTest, LookupIgnoresCaseAndBlanks) {
    put("  [ general ]  \n  IP_LAN  =   10.0.0.5   \n");
    TIniFile f(ini());
    EXPECT_TRUE(f.SectionExists(QStringLiteral("GENERAL")));
    EXPECT_EQ(f.ReadString(kGeneral, QStringLiteral("ip_lan"), QStringLiteral("x")), QStringLiteral("10.0.0.5"));
}

// The first section and the first key of a name win over later duplicates.
TEST_F(IniFileTest, FirstMatchWins) {
    put("[General]\nmode=online\nmode=quoxel\n[general]\nmode=live\nextra=1\n");
    TIniFile f(ini());
    EXPECT_EQ(f.ReadString(kGeneral, QStringLiteral("mode"), {}), QStringLiteral("online"));
    // A key only present in the second, shadowed section is not seen.
    EXPECT_EQ(f.ReadString(kGeneral, QStringLiteral("extra"), QStringLiteral("d")), QStringLiteral("d"));
}

// Missing files, sections and keys give the default; comments are not keys.
TEST_F(IniFileTest, DefaultsForMissingAndComments) {
    TIniFile none(ini());
    EXPECT_FALSE(none.SectionExists(kGeneral));
    EXPECT_EQ(none.ReadString(kGeneral, QStringLiteral("k"), QStringLiteral("def")), QStringLiteral("def"));
    put("[General]\n;k=commented\nnovalue\n=orphan\n");
    TIniFile f(ini());
    EXPECT_EQ(f.ReadString(kGeneral, QStringLiteral("k"), QStringLiteral("def")), QStringLiteral("def"));
    EXPECT_EQ(f.ReadString(kGeneral, QStringLiteral("novalue"), QStringLiteral("def")), QStringLiteral("def"));
}

// Values are read back cut to 2047 characters; one pair of quotes is removed.
TEST_F(IniFileTest, LongValuesAreCutAndQuotesStripped) {
    put("[General]\nlong=" + QByteArray(5000, 'a') + "\nq=\"quoted value\"\nhalf=\"open\n");
    TIniFile f(ini());
    EXPECT_EQ(f.ReadString(kGeneral, QStringLiteral("long"), {}).size(), 2047);
    EXPECT_EQ(f.ReadString(kGeneral, QStringLiteral("q"), {}), QStringLiteral("quoted value"));
    EXPECT_EQ(f.ReadString(kGeneral, QStringLiteral("half"), {}), QStringLiteral("\"open"));
}

struct IntCase {
    const char* text;
    int expected;
};
class IniIntegerTest : public IniFileTest, public ::testing::WithParamInterface<IntCase> {};

// Decimal and 0x-hex numbers are read; anything else, or out of range, gives the default (-7).
TEST_P(IniIntegerTest, ReadsNumbersOrDefault) {
    put(QByteArray("[General]\nn=") + GetParam().text + "\n");
    TIniFile f(ini());
    EXPECT_EQ(f.ReadInteger(kGeneral, QStringLiteral("n"), -7), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Values, IniIntegerTest,
                         ::testing::Values(IntCase{"42", 42}, IntCase{"-3", -3}, IntCase{"0x1F", 31},
                                           IntCase{"0XfF", 255}, IntCase{"", -7}, IntCase{"12abc", -7},
                                           IntCase{"abc", -7}, IntCase{"99999999999", -7},
                                           IntCase{"2147483647", 2147483647}, IntCase{"0x", -7}, IntCase{"1.5", -7}));

// Any non-zero integer is true; a non-number gives the default.
TEST_F(IniFileTest, BooleansFollowIntegers) {
    put("[General]\na=1\nb=0\nc=-2\nd=yes\n");
    TIniFile f(ini());
    EXPECT_TRUE(f.ReadBool(kGeneral, QStringLiteral("a"), false));
    EXPECT_FALSE(f.ReadBool(kGeneral, QStringLiteral("b"), true));
    EXPECT_TRUE(f.ReadBool(kGeneral, QStringLiteral("c"), false));
    EXPECT_TRUE(f.ReadBool(kGeneral, QStringLiteral("d"), true));
    EXPECT_FALSE(f.ReadBool(kGeneral, QStringLiteral("d"), false));
}

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

// Saved files are private to the user.
TEST_F(IniFileTest, SavedFileIsOwnerOnly) {
    put("[General]\n");
    QFile::setPermissions(ini(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    TIniFile f(ini());
    ASSERT_TRUE(f.WriteString(kGeneral, QStringLiteral("k"), QStringLiteral("v")));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(ini()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
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
