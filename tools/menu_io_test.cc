#include "tools/menu_io.h"

#include <gtest/gtest.h>

namespace {

using tools::exportMenu;
using tools::importMenu;
using tools::MenuFormat;
using datafiles::MenuRecord;

MenuRecord entry(int menu, int e, const char* text, const char* program, char access,
                 char flag = ' ') {
  MenuRecord r;
  r.setKey(menu, e);
  encoding::zero(r.versionStampField());
  r.setEntryFlag(flag);
  r.setText(text);
  r.setProgram(program);
  r.setAccessClass(access);
  return r;
}

std::vector<MenuRecord> awkwardRecords() {
  MenuRecord header;
  header.setKey(0, 0);
  header.setVersionStamp("034 - ");
  std::vector<MenuRecord> v{header,
                            entry(0, 19, "Vertragsverwaltung", "", 'N'),
                            entry(17, 10, "Aufgabenliste", "PA64", 'N', 'X'),
                            entry(226, 130, "Erstellen Outlookdatei     (OUTLOOK.CSV)", "PV32", 'N'),
                            entry(5, 1, "  \"Zitat\", mit Komma; Größe", "PM3S", 'H'),
                            entry(999, 999, "Erstellen ADRESSEN.DOC für AUFKLEBER.DOC", "PV30", 'M')};
  // Stamp bytes that are not text must come back too.
  v[2].versionStampField()[3] = '\xFF';
  return v;
}

TEST(MenuExport, CsvAndJsonRoundTripByteForByte) {
  const auto records = awkwardRecords();
  for (MenuFormat format : {MenuFormat::kCsv, MenuFormat::kJson}) {
    std::string error;
    const auto text = exportMenu(records, format, &error);
    ASSERT_TRUE(text) << error;
    const auto back = importMenu(*text, format, &error);
    ASSERT_TRUE(back) << error << "\n" << *text;
    ASSERT_EQ(back->size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
      EXPECT_EQ((*back)[i].view(), records[i].view()) << "record " << i << "\n" << *text;
  }
}

TEST(MenuExport, KeyThatWouldNotComeBackTheSameIsRefused) {
  auto records = awkwardRecords();
  records[1].entryField()[1] = 0x9F;  // sign F instead of C
  std::string error;
  EXPECT_FALSE(exportMenu(records, MenuFormat::kCsv, &error));
  EXPECT_NE(error.find("sign C"), std::string::npos);
}

TEST(MenuImport, BadInputIsRejectedWhole) {
  struct Case {
    MenuFormat format;
    std::string text, why;
  } cases[] = {
      {MenuFormat::kCsv, "menu,entry\n1,2\n", "first line"},
      {MenuFormat::kCsv, "set,menu,entry,flag,text,program,access,stamp\n0,1000,1,,x,,N,\n", "0-999"},
      {MenuFormat::kCsv, "set,menu,entry,flag,text,program,access,stamp\n0,1,1,,x,PROGRAM,N,\n",
       "longer"},
      {MenuFormat::kCsv, "set,menu,entry,flag,text,program,access,stamp\n0,1,1,,\"open,N,\n",
       "quote"},
      {MenuFormat::kCsv, "set,menu,entry,flag,text,program,access,stamp\n0,1,1,,x,,N,zz\n", "hex"},
      {MenuFormat::kJson, "{\"menu\":1}", "array"},
      {MenuFormat::kJson, "[{\"menu\":\"1\",\"entry\":2}]", "numbers"},
      {MenuFormat::kJson, "[{\"menu\":1,\"entry\":2,\"text\":\"" + std::string(41, 'x') + "\"}]",
       "longer"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(importMenu(c.text, c.format, &error)) << c.text;
    EXPECT_NE(error.find(c.why), std::string::npos) << error;
  }
}

}  // namespace
