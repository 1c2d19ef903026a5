// MsiFormatRecord: Windows Installer's formatted text. The cases are those of
// Wine's conformance tests (dlls/msi/tests/format.c); where Wine marks a case
// todo_wine, the Windows result it records is expected here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/faults.h"
#include "host/platform.h"
#include "host/session.h"
#include "tests/support/session_fixture.h"

namespace {

// A field: text, an integer ("#123") or null ("<null>").
struct Case {
  const char* templ;
  std::vector<const char*> fields;
  const char* expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << "'" << c.templ << "'"; }

class FormatTest : public vrintest::SessionTest {
 protected:
  // Formats with a record of max(12, fields) fields through the API, checking
  // the size contract on the way.
  std::string Format(MSIHANDLE hInstall, const char* templ, const std::vector<const char*>& fields,
                     unsigned int count = 12) {
    if (fields.size() > count) count = static_cast<unsigned int>(fields.size());
    MSIHANDLE hRecord = MsiCreateRecord(count);
    if (templ != nullptr) MsiRecordSetString(hRecord, 0, templ);
    for (unsigned int i = 0; i < fields.size(); ++i) {
      std::string field = fields[i];
      if (field == "<null>") continue;
      if (field.size() > 1 && field[0] == '#') {
        MsiRecordSetInteger(hRecord, i + 1, std::stoi(field.substr(1)));
      } else {
        MsiRecordSetString(hRecord, i + 1, fields[i]);
      }
    }
    DWORD cch = 0;
    EXPECT_EQ(MsiFormatRecord(hInstall, hRecord, nullptr, &cch), 0u);
    std::string buffer(cch + 1, 'x');
    DWORD cchBuffer = cch + 1;
    EXPECT_EQ(MsiFormatRecord(hInstall, hRecord, buffer.data(), &cchBuffer), 0u);
    EXPECT_EQ(cchBuffer, cch);
    MsiCloseHandle(hRecord);
    return buffer.substr(0, cch);
  }
};

const std::vector<Case> kWithoutSession = {
    {"%1", {}, "%1"},
    {"[1]", {}, ""},
    {"[1]", {"boo hoo"}, "boo hoo"},
    {"[1] [2]", {"boo", "hoo"}, "boo hoo"},
    {"[1]", {"#123456"}, "123456"},
    {"[1] [2]", {"#100", "#-100"}, "100 -100"},
    {"[01]", {"hoo"}, "hoo"},
    {"[100]", {"hoo"}, ""},
    {"[0]", {}, "[0]"},
    {"{a[0]b}", {"foo"}, "a{a[0]b}b"},
    // Nested references look up the name the inner ones produce.
    {"[[1]] [2]", {"2", "hey"}, "hey hey"},
    {"[[1]] [2]", {"[2]", "hey"}, "[[2]] hey"},
    {"[[[3]]] [2]", {"2", "hey", "1"}, "hey hey"},
    {"[[3][1]] [2]", {"2", "hey", "1", "<null>", "", "", "", "", "", "", "", "big"}, "big hey"},
    {"[[3][4][1]] [2]", {"2", "hey", "1", "<null>", "", "", "", "", "", "", "", "big"}, "big hey"},
    {"[[3][[4]][1]] [2]", {"2", "hey", "1"}, "[1[]2] hey"},
    {"[1]", {"[2]", "foo"}, "[2]"},
    // Unmatched brackets.
    {"[[[3][[4]][1]] [2]", {"2", "hey", "1"}, "[[[3][[4]][1]] [2]"},
    {"[[3][[4]][1]] [2]]", {"2", "hey", "1"}, "[1[]2] hey]"},
    {"[a[1]b", {"2"}, "[a[1]b"},
    {"a[1]b]", {"2"}, "a2b]"},
    {"]a[1]b", {"2"}, "]a2b"},
    {"\\[1]", {"2"}, "\\2"},
    {"\\{[1]}", {"2"}, "\\2"},
    // Without a session, every reference but [n] stays as written.
    {"[1] [2] [property]", {"boo", "hoo"}, "boo hoo [property]"},
    {"[1] [~] [2]", {"boo", "hoo"}, "boo [~] hoo"},
    {"[\\x]", {}, "[\\x]"},
    {"[1] [2] [\\3asdf]", {"boo", "hoo"}, "boo hoo [\\3asdf]"},
    {"[\\[]Bracket Text[\\]]", {}, "[\\[]Bracket Text[\\]]"},
    {"[%FOO]", {}, "[%FOO]"},
    {"[ 1]", {"hoo"}, "[ 1]"},
    {"[-1]", {}, "[-1]"},
    {"[01.]", {"hoo"}, "[01.]"},
    {"[]", {}, "[]"},
    {"[foo]", {}, "[foo]"},
    // Groups.
    {"{[3][1]} [2]", {"2", "hey", "1"}, "12 hey"},
    {"[{[3][1]}] [2]", {"2", "hey", "1", "<null>", "", "", "", "", "", "", "", "big"}, "[12] hey"},
    {"{test} [2]", {"2", "hey"}, "{test} hey"},
    {"{[test]} [2]", {"2", "hey"}, "{[test]} hey"},
    {"{[1][2][3][4]} [2]", {"2", "hey", "1"}, " hey"},
    {"{[1][2][3][dummy]} [2]", {"2", "hey", "1"}, "{2hey1[dummy]} hey"},
    {"{[1][2][3][4][dummy]} [2]", {"2", "hey", "1"}, "{2hey1[dummy]} hey"},
    {"{[1] [2]}", {"boo", "hoo"}, "boo hoo"},
    {"{}", {}, ""},
    {"{ }", {}, "{ }"},
    {"{foo}", {}, "{foo}"},
    {"{boo [1]}", {"hoo"}, "boo hoo"},
    {"{[]}", {}, "{[]}"},
    {"{\\x}", {}, "{\\x}"},
    {"a{b[1]c}d", {"<null>"}, "ad"},
    {"[1]}", {"hoo"}, "hoo}"},
    {"{abcd}", {}, "{abcd}"},
    {"{a[one]bc[two]de[one]f}", {}, "{a[one]bc[two]de[one]f}"},
    {"{abc{d[one]ef}", {}, "{abc{d[one]ef}"},
    {"{abc{d[one]ef}}", {}, "{abc{d[one]ef}}"},
    {"{a{b}c}", {}, "{a{b}c}"},
    {"{a{b}}", {}, "{a{b}}"},
    {"[1] {[noprop] [twoprop]} {abcdef}", {"one"}, "one {[noprop] [twoprop]} {abcdef}"},
    {"[1] {[one]} {abcdef}", {"one"}, "one {[one]} {abcdef}"},
    // "{{" drops everything up to the next "}}".
    {"{{[1]}}", {"hoo"}, ""},
    {"{{ [1]}}", {"hoo"}, ""},
    {"{{[1] }}", {"hoo"}, ""},
    {"{{a}{b}{c }{ d}{any text}}", {}, ""},
    {"{{a} {b}}", {}, ""},
    {"{{a b}}", {}, ""},
    {"{{def}}", {}, ""},
    {"{{def}hi{jk}}", {}, ""},
    {"{{def}{jk}}", {}, ""},
    {" {{a}}}", {}, " }"},
    {"{abc}{{def}hi{j[one]k}}", {}, "{abc}"},
    {"{{[1][2]}[3]{[4][dummy]}}", {"2", "hey", "1"}, ""},
    {"{{[1]}} {[4]}{[1][2]}", {"1", "2", "3"}, " 12"},
    // Without a "}}", the rest keeps its braces.
    {"{{[1]} }", {"hoo"}, "{{hoo} }"},
    {"{{a} }", {}, "{{a} }"},
    {"{{b}c}", {}, "{{b}c}"},
    {"{{[1]}", {"hoo"}, "{{hoo}"},
    {"{{ {[1]}", {"hoo"}, "{{ {hoo}"},
    {"{{ {{[1]}", {"hoo"}, "{{ {{hoo}"},
    {"{{ {{a}", {}, "{{ {{a}"},
    {"{{[1][2]}[3][4][dummy]}", {"2", "hey", "1"}, "{{2hey}1[dummy]}"},
    {"{{[1][2]}[3]} {[1][2]}", {"1", "2", "3"}, "{{12}3} {12}"},
    {"{[1][2]} {{[1][2]}[3]} {[1][2]}", {"1", "2", "3"}, "12 {{12}3} {12}"},
    {"{[4]}{[1][2]} {{[1][2]}[3]} {[1][2]}", {"1", "2", "3"}, "12 {{12}3} {12}"},
    {"{blah} {[4]}{[1][2]} {{[1][2]}[3]} {[1][2]}", {"1", "2", "3"}, "{blah} 12 {{12}3} {12}"},
    {"{{[1]}[2]} {[4]}{[1][2]}", {"1", "2", "3"}, "{{1}2} {}{12}"},
    {"[1{{boo}}]", {"hoo"}, "[1]"},
    {"{[1{{bo}o}}]}", {"hoo"}, "{[1{{bo}o}}]}"},
    // Wine's todo_wine cases: Windows, whose groups end at the first "}".
    {"{ {[1]}}", {"hoo"}, " {hoo}"},
    {"{ {[1]}", {"hoo"}, " {hoo"},
    {"{{a} b}}", {}, ""},
    {"{{ almost {{ any }} text }}", {}, " text }}"},
    {"{{ } { hidden ][ [ }}", {}, ""},
    {"{{test}} [01", {"hoo"}, " [01"},
    {"{{{[1]}} {[4]}{[1][2]}", {"1", "2", "3"}, " 12"},
    {"0{1{2{3{4[1]5}6}7}8}9", {"hoo"}, "01{2{3{4hoo56}7}8}9"},
    {"0{1{2[1]3}4", {"hoo"}, "01{2hoo34"},
    {"{[1.} [1]", {"hoo"}, "{[1.} hoo"},
    {"{[{[1]}]}", {"2", "foo"}, "{[{[1]}]}"},
    {"{[1][}", {"2", "foo"}, "2["},
    {"[{{boo}}1]", {"hoo"}, "[1]"},
    {"{[1]{{boo} }}", {"hoo"}, "hoo{{boo }}"},
    {"{[1{{boo}}]}", {"hoo"}, "{[1{{boo}}]}"},
    {"{[1{{b{o}o}}]}", {"hoo"}, "{[1{{b{o}o}}]}"},
    {"{[1][-1][1]}", {"foo"}, "{foo[-1]foo}"},
    {"{{{def}}hi{jk}}", {}, "hi{jk}}"},
    {"{{def}hi{{jk}}}", {}, "}"},
    {"{{{{}}}}", {}, "}}"},
    // Without a template the fields are listed.
    {nullptr, {"boo", "hoo"}, "1: boo 2: hoo 3:  4:  5:  6:  7:  8:  9:  10:  11:  12:  "},
    {"", {"boo", "hoo"}, "1: boo 2: hoo 3:  4:  5:  6:  7:  8:  9:  10:  11:  12:  "},
};

class FormatWithoutSessionTest : public FormatTest, public ::testing::WithParamInterface<Case> {};

TEST_P(FormatWithoutSessionTest, FormatsAsWindowsDoes) {
  EXPECT_EQ(Format(0, GetParam().templ, GetParam().fields), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, FormatWithoutSessionTest, ::testing::ValuesIn(kWithoutSession));

// With a session: properties prop=val, dummy=Bork, dummya=foo, dummyb=baa,
// adummyc=whoa, one=mercury, two=venus, b=ball, PropA..PropC as given.
const std::vector<Case> kWithSession = {
    {"[1] [2] [\\3asdf]", {"boo", "hoo"}, "boo hoo 3"},
    {"[1] [2] [\\x]", {"boo", "hoo"}, "boo hoo x"},
    {"[\\x]", {}, "x"},
    {"{\\x}", {}, "{\\x}"},
    {"[abc\\x]", {}, ""},
    {"[abc\\xdef]", {}, ""},
    {"\\x", {}, "\\x"},
    {"[\\[", {}, "[\\["},
    {"[\\[]", {}, "["},
    {"[[]", {}, "[[]"},
    {"[\\[]]", {}, "[]"},
    {"[\\[a]", {}, "["},
    {"[prop]", {}, "val"},
    {"[prop] [pro\\pblah] [prop]", {}, "val  val"},
    {"[\\b]", {}, "b"},
    {"[\\c]", {}, "c"},
    {"[\\[]prop]", {}, "[prop]"},
    {"[\\a]prop]", {}, "aprop]"},
    {"[\\[]Bracket Text[\\]]", {}, "[Bracket Text]"},
    {"[1] [~abc] [2]", {"boo", "hoo"}, "boo  hoo"},
    {"[1] [dummy] [2]", {"boo", "hoo"}, "boo Bork hoo"},
    {"[1] [invalid] [2]", {"boo", "hoo"}, "boo  hoo"},
    {"[dummy[1]] [dummy[2]] [[1]dummy[3]]", {"a", "b", "c"}, "foo baa whoa"},
    {"[1] [2] [[3]]", {"boo", "hoo", "\\help"}, "boo hoo h"},
    {"{abcd}", {}, "{abcd}"},
    {"{a[one]bc[two]de[one]f}", {}, "amercurybcvenusdemercuryf"},
    {"{a[one]bc[bad]de[two]f}", {}, ""},
    {"{[bad]}", {}, ""},
    {"{abc}{{def}hi{j[one]k}}", {}, "{abc}"},
    {"{{def}hi{j[one]k}}", {}, ""},
    {"[1] {[noprop] [twoprop]} {abcdef}", {"one"}, "one  {abcdef}"},
    {"[1] {[noprop] [one]} {abcdef}", {"one"}, "one  {abcdef}"},
    {"[1] {[one]} {abcdef}", {"one"}, "one mercury {abcdef}"},
    // Wine's todo_wine cases: Windows.
    {"{abc{d[one]ef}", {}, "abc{dmercuryef"},
    {"{abc{d[one]ef}}", {}, "abc{dmercuryef}"},
    // A field's property references are resolved, its field references not.
    {"[1]", {"[prop]"}, "val"},
    {"[1]", {"[2]", "two"}, "[2]"},
    {"Table [2] is missing ([1])", {"#2228", "Control"}, "Table Control is missing (2228)"},
    {nullptr, {"[2]", "stuff", "prop", "[prop]", "[noprop]"}, "1: [2] 2: stuff 3: prop 4: val 5:  "},
    {nullptr, {"[%crazyvar]"}, "1: crazyval "},
    {nullptr, {"[%idontexist]"}, "1:  "},
};

class FormatWithSessionTest : public FormatTest, public ::testing::WithParamInterface<Case> {};

TEST_P(FormatWithSessionTest, FormatsAsWindowsDoes) {
  MSIHANDLE hInstall = OpenSession();
  for (auto [name, value] : std::vector<std::pair<const char*, const char*>>{{"prop", "val"},
                                                                             {"dummy", "Bork"},
                                                                             {"dummya", "foo"},
                                                                             {"dummyb", "baa"},
                                                                             {"adummyc", "whoa"},
                                                                             {"one", "mercury"},
                                                                             {"two", "venus"},
                                                                             {"b", "ball"}}) {
    Session().SetProperty(name, value);
  }
  Session().SetEnvironment("crazyvar", "crazyval");
  unsigned int count = GetParam().templ == nullptr ? static_cast<unsigned int>(GetParam().fields.size()) : 12;
  EXPECT_EQ(Format(hInstall, GetParam().templ, GetParam().fields, count), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, FormatWithSessionTest, ::testing::ValuesIn(kWithSession));

TEST_F(FormatTest, PropertyValuesAreNotFormattedAgain) {
  MSIHANDLE hInstall = OpenSession();
  Session().SetProperty("PropA", "surprise");
  Session().SetProperty("PropB", "[PropA]");
  Session().SetProperty("PropC", "[PropB]");
  EXPECT_EQ(Format(hInstall, "[PropC]", {}), "[PropB]");
  EXPECT_EQ(Format(hInstall, "[[PropC]]", {}), "");
  Session().SetProperty("PropC", "PropB");
  EXPECT_EQ(Format(hInstall, "[[PropC]]", {}), "[PropA]");
  Session().SetProperty("PropB", "PropA");
  EXPECT_EQ(Format(hInstall, "[PropC]", {}), "PropB");
  EXPECT_EQ(Format(hInstall, "[[PropC]]", {}), "PropA");
  EXPECT_EQ(Format(hInstall, "[[[PropC]]]", {}), "surprise");
  Session().SetProperty("dummyc", "\\blath");
  Session().SetProperty("dummyb", "a");
  Session().SetProperty("dummya", "1");
  EXPECT_EQ(Format(hInstall, "[dummyc] [[dummyc]] [dummy[dummyb]]", {}), "\\blath b 1");
}

TEST_F(FormatTest, NulCharacterAndSizes) {
  MSIHANDLE hInstall = OpenSession();
  MSIHANDLE hRecord = MsiCreateRecord(2);
  MsiRecordSetString(hRecord, 0, "[1] [~] [2]");
  MsiRecordSetString(hRecord, 1, "boo");
  MsiRecordSetString(hRecord, 2, "hoo");
  char buffer[32];
  DWORD cch = sizeof(buffer);
  ASSERT_EQ(MsiFormatRecord(hInstall, hRecord, buffer, &cch), 0u);
  EXPECT_EQ(cch, 9u);
  EXPECT_EQ(std::string(buffer, 9), std::string("boo \0 hoo", 9));
  // A buffer one short gets what fits and ERROR_MORE_DATA.
  MsiRecordSetString(hRecord, 0, "%1");
  cch = 2;
  buffer[0] = 'x';
  EXPECT_EQ(MsiFormatRecord(0, hRecord, buffer, &cch), static_cast<UINT>(ERROR_MORE_DATA));
  EXPECT_STREQ(buffer, "%");
  EXPECT_EQ(cch, 2u);
  EXPECT_EQ(MsiFormatRecord(0, hRecord, buffer, nullptr), static_cast<UINT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MsiFormatRecord(0, 0, nullptr, nullptr), static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsiFormatRecord(hInstall + 100, hRecord, nullptr, nullptr), static_cast<UINT>(ERROR_INVALID_HANDLE));
  MsiCloseHandle(hRecord);
  hRecord = MsiCreateRecord(0);
  cch = sizeof(buffer);
  EXPECT_EQ(MsiFormatRecord(0, hRecord, buffer, &cch), 0u);
  EXPECT_EQ(cch, 0u) << "no template, no fields: nothing";
  MsiCloseHandle(hRecord);
}

// The Directory, Component and File tables of Wine's format tests.
std::vector<std::string> TablesSql() {
  return {
      "CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` CHAR(255) "
      "NOT NULL PRIMARY KEY `Directory`)",
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('TARGETDIR', '', 'SourceDir')",
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('ReallyLongDir', "
      "'TARGETDIR', 'REALLY~1|I am a really long directory')",
      "CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` CHAR(72) NOT "
      "NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY `Component`)",
      "INSERT INTO `Component` (`Component`, `Directory_`, `Attributes`, `KeyPath`) VALUES ('frontal', "
      "'TARGETDIR', 0, 'frontal_file')",
      "INSERT INTO `Component` (`Component`, `Directory_`, `Attributes`, `KeyPath`) VALUES ('temporal', "
      "'ReallyLongDir', 0, 'temporal_file')",
      "CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT "
      "NULL, `FileSize` LONG NOT NULL, `Version` CHAR(72), `Language` CHAR(20), `Attributes` SHORT, `Sequence` "
      "SHORT NOT NULL PRIMARY KEY `File`)",
      "INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Sequence`) VALUES ('frontal_file', "
      "'frontal', 'frontal.txt', 0, 1)",
      "INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Sequence`) VALUES ('temporal_file', "
      "'temporal', 'TEMPOR~1.TXT|temporal.txt', 0, 2)",
  };
}

TEST_F(FormatTest, FileAndComponentPathsFollowTheComponentsState) {
  MSIHANDLE hInstall = OpenSession(TablesSql());
  Session().SetProperty("ROOTDRIVE", "C:\\");
  Session().SetProperty("SourceDir", "D:\\Setup");
  // Before costing, states are unknown and the paths blank.
  EXPECT_EQ(Format(hInstall, "[#frontal_file]", {}), "");
  EXPECT_EQ(Format(hInstall, "[$temporal]", {}), "");
  Session().SetComponentState("frontal", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL);
  Session().SetComponentState("temporal", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL);
  EXPECT_EQ(Format(hInstall, "[#frontal_file]", {}), "C:\\frontal.txt");
  EXPECT_EQ(Format(hInstall, "[!frontal_file]", {}), "C:\\frontal.txt");
  EXPECT_EQ(Format(hInstall, "[#temporal_file]", {}), "C:\\I am a really long directory\\temporal.txt");
  EXPECT_EQ(Format(hInstall, "[!temporal_file]", {}), "C:\\REALLY~1\\TEMPOR~1.TXT");
  EXPECT_EQ(Format(hInstall, "[$temporal]", {}), "C:\\I am a really long directory\\");
  Session().SetComponentState("temporal", INSTALLSTATE_ABSENT, INSTALLSTATE_SOURCE);
  EXPECT_EQ(Format(hInstall, "[$temporal]", {}), "D:\\Setup\\I am a really long directory\\");
  EXPECT_EQ(Format(hInstall, "[#temporal_file]", {}), "D:\\Setup\\I am a really long directory\\temporal.txt");
  Session().SetComponentState("temporal", INSTALLSTATE_LOCAL, INSTALLSTATE_ABSENT);
  EXPECT_EQ(Format(hInstall, "[#temporal_file]", {}), "") << "a component being removed has no path";
  Session().SetComponentState("temporal", INSTALLSTATE_LOCAL, INSTALLSTATE_UNKNOWN);
  EXPECT_EQ(Format(hInstall, "[$temporal]", {}), "C:\\I am a really long directory\\") << "installed, no change";
  EXPECT_EQ(Format(hInstall, "[#nofile]{ [$nocomponent]}", {}), "");
  // A moved directory moves the files in it.
  ASSERT_EQ(MsiSetTargetPath(hInstall, "TARGETDIR", "E:\\Root"), 0u);
  EXPECT_EQ(Format(hInstall, "[#frontal_file]", {}), "E:\\Root\\frontal.txt");
}

TEST_F(FormatTest, FaultFailsTheCall) {
  MSIHANDLE hRecord = MsiCreateRecord(1);
  host::Faults::Instance().Fail("MsiFormatRecord", ERROR_FUNCTION_FAILED);
  DWORD cch = 0;
  EXPECT_EQ(MsiFormatRecord(0, hRecord, nullptr, &cch), static_cast<UINT>(ERROR_FUNCTION_FAILED));
  EXPECT_EQ(MsiFormatRecord(0, hRecord, nullptr, &cch), 0u);
  MsiCloseHandle(hRecord);
}

TEST_F(FormatTest, HostileTemplatesFormatWithoutCrashing) {
  MSIHANDLE hInstall = OpenSession();
  Session().SetProperty("a", "[[[[");
  for (const std::string& templ :
       {std::string(50000, '[') + std::string(50000, ']'), std::string(50000, '{'), std::string(50000, '}'),
        std::string(20000, '[') + "a" + std::string(20000, ']') + std::string(20000, '{') + "[1]",
        std::string(10000, '\\') + "[", std::string("[\\") + std::string(1, '\0') + "]"}) {
    std::string out = Format(hInstall, templ.c_str(), {"[a]"});
    EXPECT_LE(out.size(), templ.size() + 16);
  }
  EXPECT_EQ(Format(hInstall, "[99999999999999999999]", {"x"}), "");
}

}  // namespace
