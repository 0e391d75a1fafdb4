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

// Control characters travel as their pictures and come back as the bytes;
// blank lines at the end are no records.
TEST(MenuExport, ControlCharactersTravelAsPictures) {
  MenuRecord r = entry(1, 2, "", "PX\x1b", 'N', '\x07');
  encoding::putRaw(r.textField(), "a\x1b[2Jb\x7f");
  std::string error;
  const auto text = exportMenu({r}, MenuFormat::kCsv, &error);
  ASSERT_TRUE(text) << error;
  EXPECT_EQ(text->find('\x1b'), std::string::npos) << *text;
  EXPECT_NE(text->find("a\u241b[2Jb\u2421"), std::string::npos) << *text;
  const auto back = importMenu(*text + "\n\n\r\n", MenuFormat::kCsv, &error);
  ASSERT_TRUE(back) << error;
  ASSERT_EQ(back->size(), 1u);
  EXPECT_EQ((*back)[0].view(), r.view());
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
      // Out of range, never cut to the low bits (2^32 + 5 is not 5).
      {MenuFormat::kJson, "[{\"menu\":4294967301,\"entry\":2}]", "0-999"},
      {MenuFormat::kJson, "[{\"menu\":18446744073709551615,\"entry\":2}]", "0-999"},
      {MenuFormat::kJson, "[{\"menu\":1,\"entry\":-4294967295}]", "0-999"},
      {MenuFormat::kJson, "[{\"menu\":1.0,\"entry\":2}]", "numbers"},
      // A blank line counts when a record follows it.
      {MenuFormat::kCsv, "set,menu,entry,flag,text,program,access,stamp\n\n0,1,1,,x,,N,\n",
       "record 1: needs 8 fields"},
      {MenuFormat::kCsv,
       "set,menu,entry,flag,text,program,access,stamp\n0,1,1,," + std::string(70000, 'x') + "\n",
       "longer than 65536 bytes"},
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
