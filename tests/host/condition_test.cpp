// MsiEvaluateCondition: Windows Installer's conditional statement syntax.
// Expected results follow Microsoft's "Conditional Statement Syntax" page and
// Wine's conformance tests (dlls/msi/tests/package.c, test_condition).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "host/faults.h"
#include "host/platform.h"
#include "host/session.h"
#include "tests/support/session_fixture.h"

namespace {

const MSICONDITION F = MSICONDITION_FALSE;
const MSICONDITION T = MSICONDITION_TRUE;
const MSICONDITION N = MSICONDITION_NONE;
const MSICONDITION E = MSICONDITION_ERROR;

struct Case {
  std::map<std::string, std::string> properties;
  const char* condition;
  MSICONDITION expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << "'" << c.condition << "'"; }

class ConditionTest : public vrintest::SessionTest {
 protected:
  MSICONDITION Evaluate(const std::string& condition) { return MsiEvaluateCondition(hInstall_, condition.c_str()); }
  void Open() { hInstall_ = OpenSession(); }
  MSIHANDLE hInstall_ = 0;
};

const std::vector<Case> kSyntax = {
    // Empty and blank conditions, literals and bare values.
    {{}, "", N},
    {{}, " ", N},
    {{}, " \t\r\n", N},
    {{}, "1", T},
    {{}, "0", F},
    {{}, "-1", T},
    {{}, "\"0\"", T},
    {{}, "\"\"", F},
    {{}, "LicView", F},
    {{{"LicView", "0"}}, "LicView", T},
    // Operators and keywords ignore case; NOT binds to the comparison after it.
    {{}, "not 0", T},
    {{}, "not LicView", T},
    {{}, "not \"A\"", F},
    {{}, "NoT 1", F},
    {{}, "1 and 2", T},
    {{}, "not 0 and 3", T},
    {{}, "NOT 0 AND 0", F},
    {{}, "NOT 1 OR 0", F},
    {{}, "0 AND 1 OR 1", T},
    {{}, "NOT 0 AND 1 OR 0", T},
    {{}, "NOT NOT 1", T},
    {{}, "Not LicView ~<< \"Testing\"", T},
    // XOR, EQV and IMP, and precedence NOT > AND > OR > XOR > EQV > IMP.
    {{}, "1 XOR 1", F},
    {{}, "1 xor 0", T},
    {{}, "1 IMP 1", T},
    {{}, "1 IMP 0", F},
    {{}, "0 IMP 0", T},
    {{}, "0 EQV 0", T},
    {{}, "0 EQV 1", F},
    {{}, "1 XOR 1 OR 1", F},   // 1 XOR (1 OR 1)
    {{}, "1 OR 1 XOR 1", F},   // (1 OR 1) XOR 1
    {{}, "0 IMP 0 EQV 0", T},  // 0 IMP (0 EQV 0)
    {{}, "1 EQV 0 IMP 0", T},  // (1 EQV 0) IMP 0
    {{}, "0 XOR 1 EQV 1", T},  // (0 XOR 1) EQV 1
    {{}, "1 AND 0 XOR 1", T},  // (1 AND 0) XOR 1
    // Parentheses.
    {{}, "(0)", F},
    {{}, "(((((1)))))", T},
    {{}, "(((((1))))))", E},
    {{}, "((1)", E},
    {{}, "NOT ( 1 AND 1 )", F},
    {{}, "( 1 AND 1 ) = 2", E},
    {{}, "(1<<1) == 2", E},
    // Malformed conditions.
    {{}, "0 >=", E},
    {{}, "0 < > 0", E},
    {{}, "\"A\" ~ = \"a\"", E},
    {{}, "~not \"A\"", E},
    {{}, "1 IMPL 1", E},
    {{}, "X != \"\"", E},
    {{}, "\"2\" < \"1.1", E},
    {{}, "1 2", E},
    {{}, "AND 1", E},
    {{}, "1 AND", E},
    {{}, "& = 1", E},
    {{}, "- 1", E},
    {{}, "1 + 1", E},
    {{}, "()", E},
    // Integers compare as numbers; substring operators are bitwise for them.
    {{}, "0 = 0", T},
    {{}, "0 <> 0", F},
    {{}, "0 > 1", F},
    {{}, "1 >= 1", T},
    {{}, "0 <= 1", T},
    {{}, "1 ~< 1", F},
    {{}, "-1 < 0", T},
    {{}, "3 >< 1", T},
    {{}, "3 >< 4", F},
    {{}, "131074 << 2", T},  // 0x00020002: high word 2
    {{}, "131074 >> 2", T},  // low word 2
    {{}, "131073 >> 2", F},
    // Text compares byte by byte; "~" ignores case.
    {{}, "\"A\" < \"B\"", T},
    {{}, "\"1\" > \"12\"", F},
    {{}, "\"100\" < \"21\"", T},
    {{}, "\"A\" = \"a\"", F},
    {{}, "\"A\" ~= \"a\"", T},
    {{}, "\"a\" ~<> \"A\"", F},
    {{}, "\"02.1\" < \"2.11\"", T},
    {{}, "\"ASFD\" >< \"S\"", T},
    {{}, "\"ASFD\" ~>< \"s\"", T},
    {{}, "\"ASFD\" ~>< \"\"", T},
    {{}, "\"ASFD\" ~>< \"sss\"", F},
    {{}, "\"Testing\" ~<< \"Testing\"", T},
    {{}, "LicView ~<< \"Testing\"", F},
    // An integer against a literal or a non-numeric symbol: only <> holds.
    {{}, "\"A\" = 1", F},
    {{}, "\"A\" ~= 1", F},
    {{}, "1 = \"1\"", F},
    {{}, "0 < \"100\"", F},
    {{}, "100 > \"0\"", F},
    {{}, "0 = \"\"", F},
    {{}, "\"\" <> 3", T},
    {{}, "1 AND \"\"", F},
    {{}, "1 AND \"1\"", T},
    {{}, "bandalmael=0", F},
    {{}, "bandalmael<>0", T},
    {{}, "bandalmael~<>0", T},
    {{}, "bandalmael<0", F},
    {{}, "bandalmael>=0", F},
    // A property whose text is an integer compares as one with an integer.
    {{{"mm", "5"}}, "mm = 5", T},
    {{{"mm", "5"}}, "mm < 12", T},
    {{{"mm", "5"}}, "mm = \"5\"", T},
    {{{"B", "0"}}, "B=0", T},
    {{{"B", "-0"}}, "B=0", T},
    {{{"B", "0000000000000"}}, "B=0", T},
    {{{"B", "0 "}}, "B=0", F},
    {{{"B", "+0"}}, "B=0", F},
    {{{"B", "--0"}}, "B=0", F},
    {{{"B", "0x00"}}, "B=0", F},
    {{{"B", "0.0"}}, "B=0", F},
    {{{"B", "0.0"}}, "B<>0", T},
    {{{"B", "0asdf"}}, "B=0", F},
    // Two symbols: numbers when both are integers, else text.
    {{{"A", "2"}, {"X", "50"}}, "A <= X", T},
    {{{"A", "2"}, {"X", "50val"}}, "A <= X", T},
    {{{"A", "7"}, {"X", "50val"}}, "A <= X", F},
    {{{"A", "7"}, {"X", "50"}}, "A <= X", T},
    {{{"X", "50val"}}, "2 <= X", F},
    {{{"one", "1234"}, {"two", "1"}}, "one >< two", F},
    {{{"one", "one 1234"}, {"two", "1"}}, "one >< two", T},
    {{{"one", "1234"}, {"two", "1"}}, "one << two", F},
    {{{"one", "1234 one"}, {"two", "1"}}, "one << two", T},
    {{{"one", "one 1234"}, {"two", "4"}}, "one >> two", T},
    // Substring operators on text: an empty left side never matches.
    {{{"one", "hithere"}, {"two", "hi"}}, "one >< two", T},
    {{{"one", "hi"}, {"two", "hithere"}}, "one >< two", F},
    {{{"two", "hi"}}, "one >< two", F},
    {{{"one", "hi"}}, "one >< two", T},
    {{}, "one >< two", F},
    {{{"one", "hithere"}, {"two", "hi"}}, "one << two", T},
    {{{"one", "abcdhithere"}, {"two", "hi"}}, "one << two", F},
    {{{"one", "hithere"}, {"two", "there"}}, "one >> two", T},
    {{{"one", "hithere"}, {"two", "hi"}}, "one >> two", F},
    {{}, "one << two", F},
    // Unset properties read as empty text.
    {{}, "LicView <> \"1\"", T},
    {{}, "LicView <> LicView", F},
    {{}, "_1 = _1", T},
    {{}, "Installed<>\"\"", F},
    {{}, "MsiNetAssemblySupport < \"1.1.4322\"", T},
    {{}, "MsiNetAssemblySupport >= \"1.1.4322\"", F},
    {{{"V", "1.1.4322"}}, "V < \"1.1.14322\"", F},
    {{{"V", "1.1.4322"}}, "V < \"1.1.5\"", T},
    {{{"X", "5.0"}}, "X =\"5.0\" or X =\"5.1\" or X =\"6.0\"", T},
    {{}, "NOT A AND (BBBBBBBBBB=2 OR CCC=1) AND Ddddddddd", F},
    // Property names: letters, digits, "_" and "."; they are case-sensitive.
    {{{"Some.Name_1", "x"}}, "Some.Name_1 = \"x\"", T},
    {{{"Some.Name_1", "x"}}, "some.name_1 = \"x\"", F},
};

class ConditionSyntaxTest : public ConditionTest, public ::testing::WithParamInterface<Case> {};

TEST_P(ConditionSyntaxTest, EvaluatesAsWindowsDoes) {
  Open();
  for (const auto& [name, value] : GetParam().properties) Session().SetProperty(name, value);
  EXPECT_EQ(Evaluate(GetParam().condition), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ConditionSyntaxTest, ::testing::ValuesIn(kSyntax));

// The orchestrators' feature-state templates: one expected result per action
// state -1, 1, 2, 3, 4 of the feature, under the given properties.
struct TemplateCase {
  const char* templ;
  std::map<std::string, std::string> properties;
  const char* expected;  // 'T' or 'F' for each of -1, 1, 2, 3, 4
};

void PrintTo(const TemplateCase& c, std::ostream* os) { *os << "'" << c.templ << "' expecting " << c.expected; }

const std::vector<TemplateCase> kTemplates = {
    {"&%s <> 2", {}, "TTFTT"},
    {"&%s > 2", {}, "FFFTT"},
    {"&%s = 2", {}, "FFTFF"},
    {"NOT Installed AND &%s > 2", {}, "FFFTT"},
    {"NOT Installed AND &%s > 2", {{"Installed", "00:00:00"}}, "FFFFF"},
    {"Installed AND &%s = 2", {{"Installed", "1"}}, "FFTFF"},
    {"Installed AND &%s = 2", {}, "FFFFF"},
    {"Installed AND &%s <> 2 AND PRODUCTS <> 1", {{"Installed", "1"}, {"PRODUCTS", "2"}}, "TTFTT"},
    {"Installed AND &%s <> 2 AND PRODUCTS <> 1", {{"Installed", "1"}, {"PRODUCTS", "1"}}, "FFFFF"},
    {"Installed AND &%s <> 2 AND PRODUCTS <> 1", {{"PRODUCTS", "2"}}, "FFFFF"},
    // An unset PRODUCTS is text, and text is never equal to an integer.
    {"Installed AND &%s <> 2 AND PRODUCTS <> 1", {{"Installed", "1"}}, "TTFTT"},
    {"&%s > 2 AND NTSERVERUPGRADE", {{"NTSERVERUPGRADE", "1"}}, "FFFTT"},
    {"&%s > 2 AND NTSERVERUPGRADE", {}, "FFFFF"},
    {"&%s > 2 AND NTSERVERUPGRADE2", {{"NTSERVERUPGRADE2", "1"}}, "FFFTT"},
    {"&%s > 2 AND NTSERVERUPGRADE2", {{"NTSERVERUPGRADE", "1"}}, "FFFFF"},
    {"&%s > 2 AND (NOT NTSERVERREFCOUNTER OR NTSERVERREFCOUNTER=\"0\")", {}, "FFFTT"},
    {"&%s > 2 AND (NOT NTSERVERREFCOUNTER OR NTSERVERREFCOUNTER=\"0\")", {{"NTSERVERREFCOUNTER", "0"}}, "FFFTT"},
    {"&%s > 2 AND (NOT NTSERVERREFCOUNTER OR NTSERVERREFCOUNTER=\"0\")", {{"NTSERVERREFCOUNTER", "1"}}, "FFFFF"},
    // Compared with a literal, the counter is text: "00" is not "0".
    {"&%s > 2 AND (NOT NTSERVERREFCOUNTER OR NTSERVERREFCOUNTER=\"0\")", {{"NTSERVERREFCOUNTER", "00"}}, "FFFFF"},
    {"&%s > 2 AND (UILevel <> 2) AND (NOT NTSERVERREFCOUNTER OR NTSERVERREFCOUNTER=\"0\")",
     {{"UILevel", "5"}},
     "FFFTT"},
    {"&%s > 2 AND (UILevel <> 2) AND (NOT NTSERVERREFCOUNTER OR NTSERVERREFCOUNTER=\"0\")",
     {{"UILevel", "2"}},
     "FFFFF"},
    {"&%s > 2 AND (UILevel <> 2) AND (NOT NTSERVERREFCOUNTER OR NTSERVERREFCOUNTER=\"0\")",
     {{"UILevel", "5"}, {"NTSERVERREFCOUNTER", "2"}},
     "FFFFF"},
    {"&%s = 2 AND NTSERVERREFCOUNTER AND NTSERVERREFCOUNTER = \"1\"", {{"NTSERVERREFCOUNTER", "1"}}, "FFTFF"},
    {"&%s = 2 AND NTSERVERREFCOUNTER AND NTSERVERREFCOUNTER = \"1\"", {{"NTSERVERREFCOUNTER", "2"}}, "FFFFF"},
    {"&%s = 2 AND NTSERVERREFCOUNTER AND NTSERVERREFCOUNTER = \"1\"", {}, "FFFFF"},
    {"&%s = 2 AND GUIREFCOUNTER AND GUIREFCOUNTER = \"1\"", {{"GUIREFCOUNTER", "1"}}, "FFTFF"},
    {"&%s = 2 AND GUIREFCOUNTER AND GUIREFCOUNTER = \"1\"", {{"NTSERVERREFCOUNTER", "1"}}, "FFFFF"},
    {"&%s > 2 AND GUIUPGRADE", {{"GUIUPGRADE", "1"}}, "FFFTT"},
    {"&%s > 2 AND GUIUPGRADE", {}, "FFFFF"},
    {"STARTUPMODE~=\"Manual\" AND &%s > 2", {{"STARTUPMODE", "Manual"}}, "FFFTT"},
    {"STARTUPMODE~=\"Manual\" AND &%s > 2", {{"STARTUPMODE", "MANUAL"}}, "FFFTT"},
    {"STARTUPMODE~=\"Manual\" AND &%s > 2", {{"STARTUPMODE", "Automatic"}}, "FFFFF"},
    {"STARTUPMODE~=\"Manual\" AND &%s > 2", {}, "FFFFF"},
};

// 38 characters, the width of the Feature column, with the "." and "_" that
// keys may hold.
const char kFeature[] = "Server.Feature_0123456789ABCDEFGHIJKLM";

class ConditionTemplateTest : public ConditionTest, public ::testing::WithParamInterface<TemplateCase> {};

TEST_P(ConditionTemplateTest, EachRequestedStateOfTheFeature) {
  static_assert(sizeof(kFeature) == 39, "a feature key of the column's full width");
  Open();
  for (const auto& [name, value] : GetParam().properties) Session().SetProperty(name, value);
  std::string condition = GetParam().templ;
  condition.replace(condition.find("%s"), 2, kFeature);
  const INSTALLSTATE states[] = {INSTALLSTATE_UNKNOWN, INSTALLSTATE_ADVERTISED, INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL,
                                 INSTALLSTATE_SOURCE};
  for (int i = 0; i < 5; ++i) {
    Session().SetFeatureState(kFeature, INSTALLSTATE_LOCAL, states[i]);
    MSICONDITION expected = GetParam().expected[i] == 'T' ? T : F;
    EXPECT_EQ(Evaluate(condition), expected) << condition << " with the feature's action state " << states[i];
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ConditionTemplateTest, ::testing::ValuesIn(kTemplates));

TEST_F(ConditionTest, ConditionsWithoutAFeatureState) {
  Open();
  EXPECT_EQ(Evaluate("NOT Installed"), T);
  EXPECT_EQ(Evaluate("UILevel = 2 OR PRODUCTS <> 1"), T) << "an unset PRODUCTS is not 1";
  Session().SetProperty("PRODUCTS", "1");
  EXPECT_EQ(Evaluate("UILevel = 2 OR PRODUCTS <> 1"), F);
  Session().SetProperty("UILevel", "2");
  EXPECT_EQ(Evaluate("UILevel = 2 OR PRODUCTS <> 1"), T);
  EXPECT_EQ(Evaluate("NTSERVERINSTALLDIR"), F);
  Session().SetProperty("NTSERVERINSTALLDIR", "C:\\Old\\");
  EXPECT_EQ(Evaluate("NTSERVERINSTALLDIR"), T);
  Session().SetProperty("Installed", "1");
  EXPECT_EQ(Evaluate("NOT Installed"), F);
}

TEST_F(ConditionTest, FeatureAndComponentStates) {
  Open();
  Session().SetFeatureState("Main", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL);
  Session().SetComponentState("Core", INSTALLSTATE_LOCAL, INSTALLSTATE_SOURCE);
  EXPECT_EQ(Evaluate("&Main = 3"), T);
  EXPECT_EQ(Evaluate("!Main = 2"), T);
  EXPECT_EQ(Evaluate("$Core = 4"), T);
  EXPECT_EQ(Evaluate("?Core = 3"), T);
  EXPECT_EQ(Evaluate("&Main = \"3\""), F) << "a state is an integer, not text";
  EXPECT_EQ(Evaluate("&Main"), T);
  // Names are case-sensitive; an unknown feature or component is empty text.
  EXPECT_EQ(Evaluate("&main = 3"), F);
  EXPECT_EQ(Evaluate("&nofeature"), F);
  EXPECT_EQ(Evaluate("&nofeature=\"\""), T);
  EXPECT_EQ(Evaluate("&nofeature<>3"), T);
  EXPECT_EQ(Evaluate("!nofeature=\"\""), T);
  EXPECT_EQ(Evaluate("$nocomponent=\"\""), T);
  EXPECT_EQ(Evaluate("?nocomponent=\"\""), T);
  EXPECT_EQ(Evaluate("& Main = 3"), E) << "the sigil belongs to the name";
}

TEST_F(ConditionTest, EnvironmentVariablesIgnoreTheCaseOfTheirNames) {
  Open();
  Session().SetEnvironment("Path_Ext", "12");
  EXPECT_EQ(Evaluate("%PATH_EXT = 12"), T);
  EXPECT_EQ(Evaluate("%path_ext = \"12\""), T);
  EXPECT_EQ(Evaluate("%OTHER"), F);
  EXPECT_EQ(Evaluate("PATH_EXT"), F) << "a property, not the variable";
}

TEST_F(ConditionTest, HandleAndNullCondition) {
  Open();
  EXPECT_EQ(MsiEvaluateCondition(0, nullptr), E);
  EXPECT_EQ(MsiEvaluateCondition(0, "1"), E);
  EXPECT_EQ(MsiEvaluateCondition(hInstall_ + 100, "1"), E);
  EXPECT_EQ(MsiEvaluateCondition(hInstall_, nullptr), N);
  MSIHANDLE hRecord = MsiCreateRecord(1);
  EXPECT_EQ(MsiEvaluateCondition(hRecord, "1"), E) << "a record is not a session";
  MsiCloseHandle(hRecord);
}

TEST_F(ConditionTest, ConditionsAreReadAtEachCall) {
  Open();
  EXPECT_EQ(Evaluate("GUIUPGRADE"), F);
  Session().SetProperty("GUIUPGRADE", "1");
  EXPECT_EQ(Evaluate("GUIUPGRADE"), T);
  EXPECT_EQ(MsiSetProperty(hInstall_, "GUIUPGRADE", ""), 0u);
  EXPECT_EQ(Evaluate("GUIUPGRADE"), F);
}

TEST_F(ConditionTest, FaultReturnsTheChosenResult) {
  Open();
  host::Faults::Instance().Fail("MsiEvaluateCondition", MSICONDITION_ERROR, 1, "&Main = 2");
  EXPECT_EQ(Evaluate("1"), T);
  EXPECT_EQ(Evaluate("&Main = 2"), E);
  EXPECT_EQ(Evaluate("&Main = 2"), F);
  // An error code given as the answer is still one of the installer's four.
  host::Faults::Instance().Fail("MsiEvaluateCondition", ERROR_INSTALL_FAILURE);
  EXPECT_EQ(Evaluate("1"), E);
}

TEST_F(ConditionTest, DeepNestingIsAnErrorNotACrash) {
  Open();
  std::string nested = std::string(100000, '(') + "1" + std::string(100000, ')');
  EXPECT_EQ(Evaluate(nested), E);
  std::string negations;
  for (int i = 0; i < 100000; ++i) negations += "NOT ";
  EXPECT_EQ(Evaluate(negations + "1"), E);
  EXPECT_EQ(Evaluate("((((((((((1))))))))))"), T);
  EXPECT_EQ(Evaluate(std::string(999999, '9') + " > 1"), T) << "a long number saturates";
}

TEST_F(ConditionTest, ArbitraryBytesGiveAResult) {
  Open();
  Session().SetProperty("A", "1");
  std::mt19937 random(1234);
  const std::string alphabet = "()<>=~!&$?%\"-_ .0123456789AaNnDdOoRrTtXxEeQqVvIiMmPp\t\x80\xff";
  for (int round = 0; round < 20000; ++round) {
    std::string condition;
    size_t length = random() % 24;
    for (size_t i = 0; i < length; ++i) condition += alphabet[random() % alphabet.size()];
    MSICONDITION result = Evaluate(condition);
    ASSERT_TRUE(result == F || result == T || result == N || result == E) << condition;
  }
}

}  // namespace
