// The component's own registration script, end to end.
#include <string>

#include "registrar_test_util.h"

namespace albummaker::testing {
namespace {

const char kScript[] =
    "HKCR\r\n"
    "{\r\n"
    "\tQuorrel.AlbumMaker.1 = s 'AlbumMaker Class'\r\n"
    "\t{\r\n"
    "\t\tCLSID = s '{111D7E37-5526-458D-849C-0BA0765813EB}'\r\n"
    "\t}\r\n"
    "\tQuorrel.AlbumMaker = s 'AlbumMaker Class'\r\n"
    "\t{\r\n"
    "\t\tCLSID = s '{111D7E37-5526-458D-849C-0BA0765813EB}'\r\n"
    "\t\tCurVer = s 'Quorrel.AlbumMaker.1'\r\n"
    "\t}\r\n"
    "\tNoRemove CLSID\r\n"
    "\t{\r\n"
    "\t\tForceRemove {111D7E37-5526-458D-849C-0BA0765813EB} = s 'AlbumMaker Class'\r\n"
    "\t\t{\r\n"
    "\t\t\tProgID = s 'Quorrel.AlbumMaker.1'\r\n"
    "\t\t\tVersionIndependentProgID = s 'Quorrel.AlbumMaker'\r\n"
    "\t\t\tForceRemove 'Programmable'\r\n"
    "\t\t\tInprocServer32 = s '%MODULE%'\r\n"
    "\t\t\t{\r\n"
    "\t\t\t\tval ThreadingModel = s 'Free'\r\n"
    "\t\t\t}\r\n"
    "\t\t\t'TypeLib' = s '{B4AF5139-BD8D-402B-939D-65FC70002BA6}'\r\n"
    "\t\t}\r\n"
    "\t}\r\n"
    "}\r\n";

const std::string kClassKey = "HKCR\\CLSID\\{111D7E37-5526-458D-849C-0BA0765813EB}";

class ComponentScript : public RegistrarTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(registrar.DefineReplacement(Wide("Module").c_str(),
                                          Wide("C:\\Program Files\\Album''s\\albummaker.dll").c_str()),
              S_OK);
  }
};

TEST_F(ComponentScript, RegistersExactlyTheDocumentedEntries) {
  registry.AddKey(kClassKey + "\\Leftover");
  registry.AddString(kClassKey, "Stale", "x");
  ASSERT_EQ(Register(kScript), S_OK);
  EXPECT_EQ(Text("HKCR\\Quorrel.AlbumMaker.1"), "AlbumMaker Class");
  EXPECT_EQ(Text("HKCR\\Quorrel.AlbumMaker.1\\CLSID"), "{111D7E37-5526-458D-849C-0BA0765813EB}");
  EXPECT_EQ(Text("HKCR\\Quorrel.AlbumMaker"), "AlbumMaker Class");
  EXPECT_EQ(Text("HKCR\\Quorrel.AlbumMaker\\CLSID"), "{111D7E37-5526-458D-849C-0BA0765813EB}");
  EXPECT_EQ(Text("HKCR\\Quorrel.AlbumMaker\\CurVer"), "Quorrel.AlbumMaker.1");
  EXPECT_EQ(Text(kClassKey), "AlbumMaker Class");
  EXPECT_EQ(registry.ValueCount(kClassKey), 1u);
  EXPECT_EQ(Text(kClassKey + "\\ProgID"), "Quorrel.AlbumMaker.1");
  EXPECT_EQ(Text(kClassKey + "\\VersionIndependentProgID"), "Quorrel.AlbumMaker");
  EXPECT_TRUE(registry.HasKey(kClassKey + "\\Programmable"));
  EXPECT_EQ(registry.ValueCount(kClassKey + "\\Programmable"), 0u);
  EXPECT_EQ(Text(kClassKey + "\\InprocServer32"), "C:\\Program Files\\Album's\\albummaker.dll");
  EXPECT_EQ(Text(kClassKey + "\\InprocServer32", "ThreadingModel"), "Free");
  EXPECT_EQ(Text(kClassKey + "\\TypeLib"), "{B4AF5139-BD8D-402B-939D-65FC70002BA6}");
  EXPECT_EQ(registry.SubKeys(kClassKey), (std::vector<std::string>{"InprocServer32", "ProgID", "Programmable",
                                                                   "TypeLib", "VersionIndependentProgID"}));
}

TEST_F(ComponentScript, UnregistrationRestoresTheRegistryAndKeepsClsid) {
  registry.AddKey("HKCR\\CLSID\\{00000000-0000-0000-0000-000000000001}\\InprocServer32");
  registry.AddKey("HKCR\\Other.Component");
  const std::string before = registry.Dump();
  ASSERT_EQ(Register(kScript), S_OK);
  ASSERT_EQ(Register(kScript), S_OK);
  ASSERT_EQ(Unregister(kScript), S_OK);
  EXPECT_EQ(registry.Dump(), before);
  ASSERT_EQ(Unregister(kScript), S_OK);
  EXPECT_EQ(registry.Dump(), before);
}

TEST_F(ComponentScript, UnregistrationOnAnEmptyRegistryLeavesAnEmptyClsid) {
  ASSERT_EQ(Register(kScript), S_OK);
  ASSERT_EQ(Unregister(kScript), S_OK);
  EXPECT_EQ(registry.SubKeys("HKCR"), std::vector<std::string>{"CLSID"});
  EXPECT_TRUE(registry.SubKeys("HKCR\\CLSID").empty());
}

}  // namespace
}  // namespace albummaker::testing
