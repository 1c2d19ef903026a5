// The product sub-type: an open PRODUCTSUBTYPE ("-1") filled in from the
// product key, and the sub-type recorded by product 1 always and by other
// products only when none is stored, never as a missing or unknown number.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "host/faults.h"
#include "host/registry.h"
#include "sequencing/product_subtype.h"
#include "tests/support/session_fixture.h"

namespace {

using host::Faults;
using host::LocalRegistry;
using Lines = std::vector<std::string>;

const std::string kProduct = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
const std::string kOld = "HKEY_LOCAL_MACHINE\\Software\\Orvannic\\OV VRIN\\CurrentVersion";
const std::string kStored = "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion\\ProdSubType";

std::string Trace(const std::string& text) { return "OV VRIN : " + text; }
std::string Warning(const std::string& text) { return "WARN: OV VRIN : " + text; }
std::string Report(const std::string& name, int error, const std::string& context, const std::string& description) {
  return "ERR: OV VRIN : " + name + " : " + std::to_string(error) + "\r\n\r\nCONTEXT = " + context +
         "\r\nDESCRIPTION = " + description + "\r\n";
}

class ProductSubTypeTest : public vrintest::SessionTest {
 protected:
  MSIHANDLE Open(const std::string& subType, const std::string& products = "") {
    MSIHANDLE hInstall = OpenSession(vrintest::RowMarkersSql());
    if (!subType.empty()) Session().SetProperty("PRODUCTSUBTYPE", subType);
    if (!products.empty()) Session().SetProperty("PRODUCTS", products);
    return hInstall;
  }

  void TearDown() override {
    EXPECT_EQ(host::OpenRegistryKeyCount(), 0) << "a key was left open";
    EXPECT_EQ(OpenHandles(), 0);
    SessionTest::TearDown();
  }

  static void Store(uint32_t subType) { LocalRegistry().SetDword(kProduct, "ProdSubType", subType); }
  static std::optional<uint32_t> Stored() { return LocalRegistry().Dword(kProduct, "ProdSubType"); }
  static std::optional<uint32_t> StoredType() {
    auto value = LocalRegistry().Value(kProduct, "ProdSubType");
    return value ? std::optional<uint32_t>(value->type) : std::nullopt;
  }
};

// --- VrinSetProductSubType ---

TEST_F(ProductSubTypeTest, OpenSubTypeIsTakenFromTheProductKey) {
  MSIHANDLE hInstall = Open("-1");
  Store(3);
  EXPECT_EQ(VrinSetProductSubType(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("PRODUCTSUBTYPE"), "3");
  EXPECT_EQ(Session().GetProperty("PRODSUBTYPE"), "3");
  // Standard output: in the installation log Windows Installer reads "[-1]"
  // as a property reference and drops it.
  EXPECT_EQ(TakeStdoutLines(),
            (Lines{Trace("VrinSetProductSubType ->"), Trace("InstallGetProperty -> PRODUCTSUBTYPE"),
                   Trace("InstallGetProperty <- (-1)"), Trace("InstallGetRegValue -> " + kStored + " [-1]"),
                   Trace("InstallGetRegValue <- 3"), Trace("InstallSetProperty -> PRODUCTSUBTYPE = 3"),
                   Trace("InstallSetProperty <-"), Trace("InstallSetProperty -> PRODSUBTYPE = 3"),
                   Trace("InstallSetProperty <-"), Trace("VrinSetProductSubType <- [0]")}));
}

TEST_F(ProductSubTypeTest, OpenSubTypeWithNothingStoredStaysOpenInBothProperties) {
  MSIHANDLE hInstall = Open("-1");
  EXPECT_EQ(VrinSetProductSubType(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("PRODUCTSUBTYPE"), "-1");
  EXPECT_EQ(Session().GetProperty("PRODSUBTYPE"), "-1");
  EXPECT_FALSE(LocalRegistry().Find(kProduct)) << "reading creates no key";
}

TEST_F(ProductSubTypeTest, StoredZeroIsCopiedAsIs) {
  MSIHANDLE hInstall = Open("-1");
  Store(0);
  EXPECT_EQ(VrinSetProductSubType(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("PRODUCTSUBTYPE"), "0");
  EXPECT_EQ(Session().GetProperty("PRODSUBTYPE"), "0");
}

TEST_F(ProductSubTypeTest, PreviousGenerationsKeyIsNotConsulted) {
  MSIHANDLE hInstall = Open("-1");
  LocalRegistry().SetDword(kOld, "ProdSubType", 4);
  EXPECT_EQ(VrinSetProductSubType(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("PRODSUBTYPE"), "-1");
}

TEST_F(ProductSubTypeTest, AnyOtherValueLeavesBothPropertiesAndTheRegistryAlone) {
  for (std::string value : {"2", "-1 ", " -1", "-10", "x", ""}) {
    MSIHANDLE hInstall = Open(value);
    Store(7);
    EXPECT_EQ(VrinSetProductSubType(hInstall), 0u) << value;
    EXPECT_EQ(Session().GetProperty("PRODUCTSUBTYPE"), value);
    EXPECT_FALSE(Session().HasProperty("PRODSUBTYPE")) << value;
    EXPECT_EQ(LogLines(),
              (Lines{Trace("VrinSetProductSubType ->"), Trace("InstallGetProperty -> PRODUCTSUBTYPE"),
                     Trace("InstallGetProperty <- (" + value + ")"), Trace("VrinSetProductSubType <- [0]")}));
  }
}

TEST_F(ProductSubTypeTest, RefusedPropertyIsReportedAndTheActionStillSucceeds) {
  MSIHANDLE hInstall = Open("-1");
  Store(3);
  Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 1, "PRODSUBTYPE");
  EXPECT_EQ(VrinSetProductSubType(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("PRODUCTSUBTYPE"), "3");
  Lines lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], Report("VrinSetProductSubType", 1627, "InstallSetProperty : MsiSetProperty",
                                            "Function failed during execution."));
  EXPECT_EQ(lines.back(), Trace("VrinSetProductSubType <- [0]"));
}

TEST_F(ProductSubTypeTest, SetRefusesAMissingSession) {
  OpenSession();
  TakeStdout();
  EXPECT_EQ(VrinSetProductSubType(0), 0u);
  EXPECT_EQ(TakeStdout(),
            "OV VRIN : VrinSetProductSubType ->\r\n"
            "OV VRIN : VrinSetProductSubType : 160\r\n\r\nCONTEXT = VrinSetProductSubType : hInstall\r\n"
            "DESCRIPTION = One or more arguments are not correct.\r\n\r\n"
            "OV VRIN : VrinSetProductSubType <- [0]\r\n");
}

// --- VrinWriteProductSubType ---

TEST_F(ProductSubTypeTest, WithoutProductsNothingIsReadOrWritten) {
  MSIHANDLE hInstall = Open("3");
  EXPECT_EQ(VrinWriteProductSubType(hInstall), 0u);
  EXPECT_FALSE(LocalRegistry().Find(kProduct));
  EXPECT_EQ(LogLines(), (Lines{Trace("VrinWriteProductSubType ->"), Trace("InstallGetProperty -> PRODUCTS"),
                               Trace("InstallGetProperty <- ()"), Trace("VrinWriteProductSubType <- [0]")}));
}

TEST_F(ProductSubTypeTest, ProductOneAlwaysOverwritesTheStoredSubType) {
  MSIHANDLE hInstall = Open("3", "1");
  Store(5);
  EXPECT_EQ(VrinWriteProductSubType(hInstall), 0u);
  EXPECT_EQ(Stored(), 3u);
  EXPECT_EQ(StoredType(), static_cast<uint32_t>(REG_DWORD));
  EXPECT_EQ(LogLines(), (Lines{Trace("VrinWriteProductSubType ->"), Trace("InstallGetProperty -> PRODUCTS"),
                               Trace("InstallGetProperty <- (1)"), Trace("InstallGetProperty -> PRODUCTSUBTYPE"),
                               Trace("InstallGetProperty <- (3)"), Trace("InstallSetRegValue -> " + kStored + " = 3"),
                               Trace("InstallSetRegValue <- 0"), Trace("VrinWriteProductSubType <- [0]")}));
}

TEST_F(ProductSubTypeTest, OtherProductKeepsAStoredSubType) {
  MSIHANDLE hInstall = Open("3", "2");
  Store(5);
  EXPECT_EQ(VrinWriteProductSubType(hInstall), 0u);
  EXPECT_EQ(Stored(), 5u);
  EXPECT_EQ(LogLines(), (Lines{Trace("VrinWriteProductSubType ->"), Trace("InstallGetProperty -> PRODUCTS"),
                               Trace("InstallGetProperty <- (2)"), Trace("InstallGetRegValue -> " + kStored + " [0]"),
                               Trace("InstallGetRegValue <- 5"), Trace("VrinWriteProductSubType <- [0]")}));
}

TEST_F(ProductSubTypeTest, OtherProductRecordsWhenNoneIsStored) {
  // Missing key, a stored 0 (missing) and a stored -1 (never a sub-type).
  for (std::optional<uint32_t> stored :
       {std::optional<uint32_t>(), std::optional<uint32_t>(0u), std::optional<uint32_t>(0xFFFFFFFFu)}) {
    MSIHANDLE hInstall = Open("6", "4");
    if (stored) Store(*stored);
    EXPECT_EQ(VrinWriteProductSubType(hInstall), 0u);
    EXPECT_EQ(Stored(), 6u) << (stored ? std::to_string(*stored) : "missing");
    EXPECT_EQ(StoredType(), static_cast<uint32_t>(REG_DWORD));
  }
}

TEST_F(ProductSubTypeTest, ProductsIsReadAsTheNumberItStartsWith) {
  struct Case {
    const char* products;
    bool productOne;
  };
  for (const Case& c : {Case{"1", true}, Case{"01", true}, Case{" +1", true}, Case{"1;4", true}, Case{"10", false},
                        Case{"x1", false}, Case{"-1", false}, Case{"4294967297", false}}) {
    MSIHANDLE hInstall = Open("3", c.products);
    Store(5);
    EXPECT_EQ(VrinWriteProductSubType(hInstall), 0u);
    EXPECT_EQ(Stored(), c.productOne ? 3u : 5u) << c.products;
  }
}

TEST_F(ProductSubTypeTest, SubTypeIsTheNumberItsTextStartsWith) {
  MSIHANDLE hInstall = Open("12 (Enterprise)", "1");
  EXPECT_EQ(VrinWriteProductSubType(hInstall), 0u);
  EXPECT_EQ(Stored(), 12u);
}

TEST_F(ProductSubTypeTest, MissingOrUnknownSubTypeNeverReplacesARecordedOne) {
  for (std::string subType : {"", "-1", "0", "abc", "99999999999"}) {
    MSIHANDLE hInstall = Open(subType, "1");
    Store(5);
    EXPECT_EQ(VrinWriteProductSubType(hInstall), 0u);
    EXPECT_EQ(Stored(), 5u) << subType;
    Lines lines = LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], Warning("No product sub-type to write (" + subType + ")"));
  }
}

TEST_F(ProductSubTypeTest, UnknownSubTypeCreatesNoValueForOtherProducts) {
  MSIHANDLE hInstall = Open("-1", "3");
  EXPECT_EQ(VrinWriteProductSubType(hInstall), 0u);
  EXPECT_FALSE(LocalRegistry().Find(kProduct)) << "a stored -1 would block the next product";
}

TEST_F(ProductSubTypeTest, RefusedWriteIsReportedNotPassedOverInSilence) {
  MSIHANDLE hInstall = Open("3", "1");
  Store(5);
  Faults::Instance().Fail("RegSetValueEx", ERROR_ACCESS_DENIED);
  EXPECT_EQ(VrinWriteProductSubType(hInstall), 0u);
  EXPECT_EQ(Stored(), 5u);
  Lines lines = LogLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], Trace("InstallSetRegValue <- 5"));
  EXPECT_EQ(lines[lines.size() - 2],
            Report("VrinWriteProductSubType", 5, "VrinWriteProductSubType : InstallSetRegValue", "Access is denied."));
  EXPECT_EQ(lines.back(), Trace("VrinWriteProductSubType <- [0]"));
}

TEST_F(ProductSubTypeTest, UnreadableProductsIsReportedAndNothingWritten) {
  MSIHANDLE hInstall = Open("3", "1");
  Faults::Instance().Fail("MsiGetProperty", ERROR_FUNCTION_FAILED, 1, "PRODUCTS");
  EXPECT_EQ(VrinWriteProductSubType(hInstall), 0u);
  EXPECT_FALSE(LocalRegistry().Find(kProduct));
  EXPECT_EQ(LogLines(),
            (Lines{Trace("VrinWriteProductSubType ->"), Trace("InstallGetProperty -> PRODUCTS"),
                   Report("VrinWriteProductSubType", 1627, "MsiGetSourcePath", "Function failed during execution."),
                   Trace("VrinWriteProductSubType <- [0]")}));
}

TEST_F(ProductSubTypeTest, WriteRefusesAMissingSession) {
  OpenSession();
  TakeStdout();
  EXPECT_EQ(VrinWriteProductSubType(0), 0u);
  EXPECT_EQ(TakeStdout(),
            "OV VRIN : VrinWriteProductSubType ->\r\n"
            "OV VRIN : VrinWriteProductSubType : 160\r\n\r\nCONTEXT = VrinWriteProductSubType : hInstall\r\n"
            "DESCRIPTION = One or more arguments are not correct.\r\n\r\n"
            "OV VRIN : VrinWriteProductSubType <- [0]\r\n");
  EXPECT_FALSE(LocalRegistry().Find(kProduct));
}

}  // namespace
