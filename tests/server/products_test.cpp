// The products bitmask: which bit PRODUCTS names, what is read and written,
// when SKIPUNINSTALL keeps the component for other products, and how refused
// writes and missing input fail the action.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/faults.h"
#include "host/registry.h"
#include "server/products.h"
#include "tests/support/session_fixture.h"

namespace {

using host::Faults;
using host::LocalRegistry;

const std::string kProduct = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
const std::string kOld = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\OV VRIN\\CurrentVersion";
const std::string kProductsTrace = "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion\\Products";

class ProductsTest : public vrintest::SessionTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(host::OpenRegistryKeyCount(), 0) << "a key was left open";
    SessionTest::TearDown();
  }

  MSIHANDLE Open(const std::string& products) {
    MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
    if (!products.empty()) Session().SetProperty("PRODUCTS", products);
    return hInstall;
  }
  static void ExpectMask(uint32_t mask) {
    auto value = LocalRegistry().Value(kProduct, "Products");
    ASSERT_TRUE(value.has_value()) << "no Products value";
    EXPECT_EQ(value->type, static_cast<uint32_t>(REG_DWORD));
    EXPECT_EQ(LocalRegistry().Dword(kProduct, "Products"), mask);
  }
};

// --- Setting a product's bit ------------------------------------------------

TEST_F(ProductsTest, ProductThreeOverMaskOneGivesFive) {
  MSIHANDLE hInstall = Open("3");
  LocalRegistry().SetDword(kProduct, "Products", 0x1);
  EXPECT_EQ(VrinNTSetProducts(hInstall), 0u);
  ExpectMask(0x5);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "OV VRIN : VrinNTSetProducts ->",
                            "OV VRIN : InstallGetProperty -> PRODUCTS",
                            "OV VRIN : InstallGetProperty <- (3)",
                            "OV VRIN : InstallGetRegValue -> " + kProductsTrace + " [0]",
                            "OV VRIN : InstallGetRegValue <- 1",
                            "OV VRIN : InstallSetRegValue -> " + kProductsTrace + " = 5",
                            "OV VRIN : InstallSetRegValue <- 0",
                            "OV VRIN : VrinNTSetProducts <- [0]",
                        }));
}

TEST_F(ProductsTest, OldKeyMaskIsTakenOverWhenTheProductKeyHasNone) {
  MSIHANDLE hInstall = Open("3");
  LocalRegistry().SetDword(kOld, "Products", 0x2);
  EXPECT_EQ(VrinNTSetProducts(hInstall), 0u);
  ExpectMask(0x6);
  EXPECT_EQ(LocalRegistry().Dword(kOld, "Products"), 0x2u) << "the old key is only read";
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[5], "OV VRIN : InstallGetRegValue -> Software\\Orvannic\\OV VRIN\\CurrentVersion\\Products [0]");
  EXPECT_EQ(lines[6], "OV VRIN : InstallGetRegValue <- 2");
  EXPECT_EQ(lines[7], "OV VRIN : InstallSetRegValue -> " + kProductsTrace + " = 6");
}

// A stored 0 is this generation's own mask, come down to 0 as its products
// left: the previous generation's products are not registered again.
TEST_F(ProductsTest, StoredZeroMaskIsThisGenerationsOwn) {
  MSIHANDLE hInstall = Open("1");
  LocalRegistry().SetDword(kProduct, "Products", 0);
  LocalRegistry().SetDword(kOld, "Products", 0x8);
  EXPECT_EQ(VrinNTSetProducts(hInstall), 0u);
  ExpectMask(0x1);
}

TEST_F(ProductsTest, ProductThirtyTwoSetsBitThirtyOne) {
  MSIHANDLE hInstall = Open("32");
  EXPECT_EQ(VrinNTSetProducts(hInstall), 0u);
  ExpectMask(0x80000000u);
  EXPECT_EQ(LogLines().at(7), "OV VRIN : InstallSetRegValue -> " + kProductsTrace + " = -2147483648");
}

TEST_F(ProductsTest, NumbersOutOfRangeReadAndWriteNothing) {
  // "4294967297" would wrap to product 1 in a 32-bit scan.
  for (const std::string products : {"33", "-1", "4294967297", "99999999999999999999999", "-4294967295"}) {
    MSIHANDLE hInstall = Open(products);
    EXPECT_EQ(VrinNTSetProducts(hInstall), 0u) << products;
    EXPECT_EQ(VrinNTUnSetProducts(hInstall), 0u) << products;
    EXPECT_EQ(LocalRegistry().Find(kProduct), nullptr) << products;
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "OV VRIN : VrinNTSetProducts ->",
                              "OV VRIN : InstallGetProperty -> PRODUCTS",
                              "OV VRIN : InstallGetProperty <- (" + products + ")",
                              "OV VRIN : VrinNTSetProducts <- [0]",
                              "OV VRIN : VrinNTUnSetProducts ->",
                              "OV VRIN : InstallGetProperty -> PRODUCTS",
                              "OV VRIN : InstallGetProperty <- (" + products + ")",
                              "OV VRIN : VrinNTUnSetProducts <- [0]",
                          }));
    Session().Close();
  }
}

TEST_F(ProductsTest, ZeroOrNoNumberWritesTheMaskUnchanged) {
  for (const std::string products : {"0", "x", "-0", "+"}) {
    MSIHANDLE hInstall = Open(products);
    LocalRegistry().DeleteTree(kProduct);
    LocalRegistry().SetDword(kOld, "Products", 0x14);
    EXPECT_EQ(VrinNTSetProducts(hInstall), 0u) << products;
    ExpectMask(0x14);
    LocalRegistry().SetDword(kProduct, "Products", 0x3);
    EXPECT_EQ(VrinNTSetProducts(hInstall), 0u) << products;
    ExpectMask(0x3);
    Session().Close();
  }
}

TEST_F(ProductsTest, NumberIsScannedLikeADecimalField) {
  // Leading blanks and a sign are read; whatever follows the digits is not.
  for (const std::string products : {" 3", "+3", "3abc", "03", "\t3 4"}) {
    MSIHANDLE hInstall = Open(products);
    LocalRegistry().SetDword(kProduct, "Products", 0x1);
    EXPECT_EQ(VrinNTSetProducts(hInstall), 0u) << products;
    ExpectMask(0x5);
    Session().Close();
  }
}

TEST_F(ProductsTest, EmptyProductsFailsTheInstallation) {
  MSIHANDLE hInstall = Open("");
  LocalRegistry().SetDword(kOld, "Products", 0x2);
  EXPECT_EQ(VrinNTSetProducts(hInstall), 1603u);
  EXPECT_EQ(LocalRegistry().Find(kProduct), nullptr);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "OV VRIN : VrinNTSetProducts ->",
                            "OV VRIN : InstallGetProperty -> PRODUCTS",
                            "OV VRIN : InstallGetProperty <- ()",
                            "ERR: OV VRIN : VrinNTSetProducts : 25003\r\n\r\nCONTEXT = VrinNTSetProducts : "
                            "InstallGetProperty",
                            "OV VRIN : VrinNTSetProducts <- [1603]",
                        }));
}

TEST_F(ProductsTest, RefusedWriteFailsTheInstallationAndKeepsTheMask) {
  MSIHANDLE hInstall = Open("3");
  LocalRegistry().SetDword(kProduct, "Products", 0x1);
  LocalRegistry().Deny(kProduct, KEY_SET_VALUE);
  EXPECT_EQ(VrinNTSetProducts(hInstall), 1603u);
  ExpectMask(0x1);
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[6], "OV VRIN : InstallSetRegValue <- 5");
  EXPECT_EQ(lines[7],
            "ERR: OV VRIN : VrinNTSetProducts : 5\r\n\r\nCONTEXT = VrinNTSetProducts : InstallSetRegValue\r\n"
            "DESCRIPTION = Access is denied.\r\n");
  EXPECT_EQ(lines[8], "OV VRIN : VrinNTSetProducts <- [1603]");
}

TEST_F(ProductsTest, PropertyThatCannotBeReadFailsTheAction) {
  MSIHANDLE hInstall = Open("3");
  Faults::Instance().Fail("MsiGetProperty", ERROR_FUNCTION_FAILED, 1, "PRODUCTS");
  EXPECT_EQ(VrinNTSetProducts(hInstall), 1603u);
  EXPECT_EQ(LogLines().at(2),
            "ERR: OV VRIN : VrinNTSetProducts : 1627\r\n\r\nCONTEXT = MsiGetSourcePath\r\n"
            "DESCRIPTION = Function failed during execution.\r\n");
  Faults::Instance().Fail(host::kAllocationFunction, ERROR_OUTOFMEMORY, 1);
  EXPECT_EQ(VrinNTLastAgentUninstall(hInstall), 1603u);
  EXPECT_EQ(LogLines().at(LogLines().size() - 2),
            "ERR: OV VRIN : VrinNTLastAgentUninstall : 14\r\n\r\nCONTEXT = ret\r\n"
            "DESCRIPTION = Not enough memory resources are available to complete this operation.\r\n");
}

// --- Clearing a product's bit -----------------------------------------------

TEST_F(ProductsTest, UnSetClearsOnlyTheProductsBit) {
  MSIHANDLE hInstall = Open("2");
  LocalRegistry().SetDword(kProduct, "Products", 0x7);
  EXPECT_EQ(VrinNTUnSetProducts(hInstall), 0u);
  ExpectMask(0x5);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "OV VRIN : VrinNTUnSetProducts ->",
                            "OV VRIN : InstallGetProperty -> PRODUCTS",
                            "OV VRIN : InstallGetProperty <- (2)",
                            "OV VRIN : InstallGetRegValue -> " + kProductsTrace + " [0]",
                            "OV VRIN : InstallGetRegValue <- 7",
                            "OV VRIN : InstallSetRegValue -> " + kProductsTrace + " = 5",
                            "OV VRIN : InstallSetRegValue <- 0",
                            "OV VRIN : VrinNTUnSetProducts <- [0]",
                        }));
}

TEST_F(ProductsTest, ClearingTheLastBitStoresZero) {
  MSIHANDLE hInstall = Open("32");
  LocalRegistry().SetDword(kProduct, "Products", 0x80000000u);
  EXPECT_EQ(VrinNTUnSetProducts(hInstall), 0u);
  ExpectMask(0);
  // Again over the stored 0: it stays, as 0.
  EXPECT_EQ(VrinNTUnSetProducts(hInstall), 0u);
  ExpectMask(0);
}

TEST_F(ProductsTest, UnSetNeverReadsTheOldKey) {
  MSIHANDLE hInstall = Open("5");
  LocalRegistry().SetDword(kOld, "Products", 0x11);
  EXPECT_EQ(VrinNTUnSetProducts(hInstall), 0u);
  ExpectMask(0);
  EXPECT_EQ(LocalRegistry().Dword(kOld, "Products"), 0x11u);
}

TEST_F(ProductsTest, UnSetWithoutProductsFails) {
  MSIHANDLE hInstall = Open("");
  EXPECT_EQ(VrinNTUnSetProducts(hInstall), 1603u);
  EXPECT_EQ(LogLines().at(3),
            "ERR: OV VRIN : VrinNTUnSetProducts : 25003\r\n\r\nCONTEXT = VrinNTUnSetProducts : InstallGetProperty");
}

// The stale bit keeps the component for the product that removes it: nothing
// is lost, so the removal goes on.
TEST_F(ProductsTest, UnSetWithARefusedWriteIsReportedAndTheRemovalGoesOn) {
  MSIHANDLE hInstall = Open("2");
  LocalRegistry().SetDword(kProduct, "Products", 0x6);
  LocalRegistry().Deny(kProduct, KEY_SET_VALUE);
  EXPECT_EQ(VrinNTUnSetProducts(hInstall), 0u);
  ExpectMask(0x6);
  std::vector<std::string> lines = LogLines();
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{
                "OV VRIN : InstallSetRegValue <- 5",
                "ERR: OV VRIN : VrinNTUnSetProducts : 5\r\n\r\nCONTEXT = VrinNTUnSetProducts : InstallSetRegValue\r\n"
                "DESCRIPTION = Access is denied.\r\n",
                "OV VRIN : VrinNTUnSetProducts <- [0]"}));
  EXPECT_EQ(VrinNTLastAgentUninstall(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("SKIPUNINSTALL"), "1");
}

// --- Whether other products keep the component ------------------------------

TEST_F(ProductsTest, LastAgentKeepsTheComponentOnlyForProductsOtherThanOne) {
  struct Case {
    uint32_t mask;
    bool skip;
  };
  for (const Case c : {Case{0x0, false}, Case{0x1, false}, Case{0x4, true}, Case{0x5, true}, Case{0x80000000u, true}}) {
    MSIHANDLE hInstall = Open("2");
    LocalRegistry().SetDword(kProduct, "Products", c.mask);
    EXPECT_EQ(VrinNTLastAgentUninstall(hInstall), 0u);
    EXPECT_EQ(Session().HasProperty("SKIPUNINSTALL"), c.skip) << c.mask;
    if (c.skip) {
      EXPECT_EQ(Session().GetProperty("SKIPUNINSTALL"), "1");
      std::vector<std::string> lines = LogLines();
      ASSERT_EQ(lines.size(), 7u);
      EXPECT_EQ(lines[5], "OV VRIN : Setting SKIPUNINSTALL");
    }
    EXPECT_EQ(LocalRegistry().Dword(kProduct, "Products"), c.mask) << "the mask is only read";
    Session().Close();
  }
}

TEST_F(ProductsTest, ProductOneNeverSetsSkipUninstall) {
  MSIHANDLE hInstall = Open("1");
  LocalRegistry().SetDword(kProduct, "Products", 0xFFFFFFFFu);
  EXPECT_EQ(VrinNTLastAgentUninstall(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("SKIPUNINSTALL"));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "OV VRIN : VrinNTLastAgentUninstall ->",
                            "OV VRIN : InstallGetProperty -> PRODUCTS",
                            "OV VRIN : InstallGetProperty <- (1)",
                            "OV VRIN : VrinNTLastAgentUninstall <- [0]",
                        }));
}

TEST_F(ProductsTest, LastAgentWithoutProductsIsNoFailure) {
  MSIHANDLE hInstall = Open("");
  LocalRegistry().SetDword(kProduct, "Products", 0x6);
  EXPECT_EQ(VrinNTLastAgentUninstall(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("SKIPUNINSTALL"));
  EXPECT_EQ(LogLines().size(), 4u);
}

TEST_F(ProductsTest, LastAgentTestsTheMaskForAnyNumberButOne) {
  for (const std::string products : {"0", "x", "33", "-1"}) {
    MSIHANDLE hInstall = Open(products);
    LocalRegistry().SetDword(kProduct, "Products", 0x2);
    EXPECT_EQ(VrinNTLastAgentUninstall(hInstall), 0u);
    EXPECT_EQ(Session().GetProperty("SKIPUNINSTALL"), "1") << products;
    Session().Close();
  }
}

TEST_F(ProductsTest, RefusedSkipUninstallFailsTheRemoval) {
  MSIHANDLE hInstall = Open("2");
  LocalRegistry().SetDword(kProduct, "Products", 0x4);
  Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 1, "SKIPUNINSTALL");
  EXPECT_EQ(VrinNTLastAgentUninstall(hInstall), 1603u);
  EXPECT_FALSE(Session().HasProperty("SKIPUNINSTALL"));
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[6],
            "ERR: OV VRIN : VrinNTLastAgentUninstall : 1627\r\n\r\nCONTEXT = VrinNTLastAgentUninstall : "
            "MsiSetProperty\r\nDESCRIPTION = Function failed during execution.\r\n");
}

TEST_F(ProductsTest, RemovalOfOneProductKeepsTheComponentForAnother) {
  // Products 2 and 3 registered; product 2 removes the server.
  MSIHANDLE hInstall = Open("2");
  EXPECT_EQ(VrinNTSetProducts(hInstall), 0u);
  Session().SetProperty("PRODUCTS", "3");
  EXPECT_EQ(VrinNTSetProducts(hInstall), 0u);
  ExpectMask(0x6);
  Session().SetProperty("PRODUCTS", "2");
  EXPECT_EQ(VrinNTUnSetProducts(hInstall), 0u);
  EXPECT_EQ(VrinNTLastAgentUninstall(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("SKIPUNINSTALL"), "1");
  ExpectMask(0x4);

  // Then product 3, the last one, removes it too.
  Session().SetProperty("SKIPUNINSTALL", "");
  Session().SetProperty("PRODUCTS", "3");
  EXPECT_EQ(VrinNTUnSetProducts(hInstall), 0u);
  EXPECT_EQ(VrinNTLastAgentUninstall(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("SKIPUNINSTALL"));
  ExpectMask(0);
}

// --- Missing session ---------------------------------------------------------

TEST_F(ProductsTest, MissingSessionIsRefusedWithOneSixtyAndFailsTheInstallation) {
  OpenSession();
  LocalRegistry().SetDword(kProduct, "Products", 0x1);
  TakeStdout();
  EXPECT_EQ(VrinNTSetProducts(0), 1603u);
  EXPECT_EQ(VrinNTUnSetProducts(0), 1603u);
  EXPECT_EQ(VrinNTLastAgentUninstall(0), 1603u);
  ExpectMask(0x1);
  std::vector<std::string> lines = TakeStdoutLines();
  std::vector<std::string> expected;
  for (const std::string name : {"VrinNTSetProducts", "VrinNTUnSetProducts", "VrinNTLastAgentUninstall"}) {
    expected.push_back("OV VRIN : " + name + " ->");
    expected.push_back("OV VRIN : " + name + " : 160");
    expected.push_back("");
    expected.push_back("CONTEXT = " + name + " : hInstall");
    expected.push_back("DESCRIPTION = One or more arguments are not correct.");
    expected.push_back("");
    expected.push_back("OV VRIN : " + name + " <- [1603]");
  }
  EXPECT_EQ(lines, expected);
  EXPECT_TRUE(LogLines().empty());
}

}  // namespace
