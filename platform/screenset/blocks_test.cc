#include "platform/screenset/blocks.h"

#include <gtest/gtest.h>

#include <random>

#include "abi/screen_control_block.h"
#include "abi/screen_data_block.h"
#include "encoding/field.h"

namespace screenset {
namespace {

using D = pxabi::ScreenDataBlock;
using C = pxabi::ScreenControlBlock;

struct Blocks {
  C control;
  D data;
  Blocks() {
    control.setDataBlockVersion(76);
    control.setInterfaceVersion(2);
    control.setSetCommand('N');
    control.setSetName("MPX01");
  }
  Request read() const { return readRequest(control.bytes(), data.bytes()); }
};

TEST(Blocks, ReadsEveryShownFieldAtItsOffset) {
  Blocks b;
  // Raw offsets on purpose: a wrong named field must not pass.
  struct Case {
    std::size_t offset;
    std::string bytes;
  };
  const Case cases[] = {
      {3178, "A n w e n d u n g e n"}, {7202, "  System f\x81r Normalbenutzer gesperrt!"},
      {7242, "12 Positionen"},          {2951, "ABC123 001 - Version"},
      {2984, "PX01 - 013"},            {3041, "07.12.26"},
      {2868, "Turnverein M\x81nchen"},  {2911, "Men\x81text"},
      {3040, "J"},                     {2908, "007"},
      {2852, "ABC123"},                {2512, "00001234"},
      {7182, "0003"},                  {7186, "0002"},
      {7194, "0001"},                  {3218, "Erste Zeile"},
      {3258, "Zweite \x84nderung"},    {3298, "Dritte"},
      {3338, "Vierte, nicht gez\x84hlt"}, {2792 + 6, " Info "},
      {2792 + 48, "Neun"},             {3057, "Wollen Sie das System verlassen?"},
      {3127, "FX01"},                  {3132, "OPEN"},
      {3136, "9A"},                    {7300, "Hilfe"},
      {7340, "Zeile eins"},            {7418, "Zeile zwei"},
      {10460, "02"},                   {10470, "vorgabe"},
      {10548, "J"},
  };
  for (const Case& c : cases) std::copy(c.bytes.begin(), c.bytes.end(), b.data.data() + c.offset);
  const Request r = b.read();
  const MenuFields& m = r.menu;
  EXPECT_EQ(m.title, "A n w e n d u n g e n");
  EXPECT_EQ(m.banner, "  System f\x81r Normalbenutzer gesperrt!");
  EXPECT_EQ(m.status, "12 Positionen");
  EXPECT_EQ(m.header, "ABC123 001 - Version");
  EXPECT_EQ(m.module, "PX01 - 013");
  EXPECT_EQ(m.date, "07.12.26");
  EXPECT_EQ(m.club, "Turnverein M\x81nchen");
  EXPECT_EQ(m.menuText, "Men\x81text");
  EXPECT_EQ(m.permission, "J");
  EXPECT_EQ(m.client, "007");
  EXPECT_EQ(m.identification, "ABC123");
  EXPECT_EQ(m.menuValue, "00001234");
  EXPECT_EQ(m.count, 3);
  EXPECT_EQ(m.selection, 2);
  EXPECT_EQ(m.position, 1);
  ASSERT_EQ(m.rows.size(), 3u);  // the fourth row is beyond the count
  EXPECT_EQ(m.rows[1], "Zweite \x84nderung");
  EXPECT_EQ(m.captions[0], "");
  EXPECT_EQ(m.captions[1], " Info");
  EXPECT_EQ(m.captions[8], "Neun");
  EXPECT_EQ(r.box.text, "Wollen Sie das System verlassen?");
  EXPECT_EQ(r.box.file, "FX01");
  EXPECT_EQ(r.box.operation, "OPEN");
  EXPECT_EQ(r.box.statusCode, "9/065");
  EXPECT_EQ(r.page.title, "Hilfe");
  ASSERT_EQ(r.page.lines.size(), 2u);
  EXPECT_EQ(r.page.lines[1], "Zeile zwei");
  EXPECT_EQ(r.input.prompt, r.box.text);
  EXPECT_EQ(r.input.preset, "vorgabe");
  EXPECT_TRUE(r.input.hidden);
}

TEST(Blocks, ReadsTheListAndTheFormAtTheirOffsets) {
  Blocks b;
  struct Case {
    std::size_t offset;
    std::string bytes;
  };
  const Case cases[] = {
      {10560, "Pflege der Men\x81" "datei"}, {10620, " Nr.  Text"},
      {10698, "Hilfe"},                     {10698 + 12, "\x8Endern"},
      {10698 + 108, "Zehn"},                {10818, "0002"},
      {10822, "0002"},                      {10826, "0001"},
      {10840, "  10  Erste"},               {10840 + 78, "  20  Zweite"},
      {10840 + 156, "  30  nicht gez\x84hlt"}, {42040, "Eintrag \x84ndern"},
      {42100, "03"},                        {42102, "02"},
      {42104, "Text"},                      {42104 + 30, "40"},
      {42104 + 32, "Alter Text"},           {42104 + 72, "Programm"},
      {42104 + 102, "04"},                  {42104 + 104, "PX03 und mehr"},
      {42104 + 144, "Klasse"},              {42104 + 174, "xx"},
      {42104 + 176, "M"},
  };
  for (const Case& c : cases) std::copy(c.bytes.begin(), c.bytes.end(), b.data.data() + c.offset);
  const Request r = b.read();
  const ListFields& l = r.list;
  EXPECT_TRUE(l.filled());
  EXPECT_EQ(l.title, "Pflege der Men\x81" "datei");
  EXPECT_EQ(l.header, " Nr.  Text");
  EXPECT_EQ(l.keys[0], "Hilfe");
  EXPECT_EQ(l.keys[1], "\x8Endern");
  EXPECT_EQ(l.keys[9], "Zehn");
  EXPECT_EQ(l.count, 2);
  EXPECT_EQ(l.selection, 2);
  EXPECT_EQ(l.top, 1);
  EXPECT_EQ(l.rows, (std::vector<std::string_view>{"  10  Erste", "  20  Zweite"}));
  const FormFields& f = r.form;
  EXPECT_EQ(f.title, "Eintrag \x84ndern");
  ASSERT_EQ(f.fields.size(), 3u);
  EXPECT_EQ(f.fields[0].label, "Text");
  EXPECT_EQ(f.fields[0].width, 40);
  EXPECT_EQ(f.fields[0].value, "Alter Text");
  EXPECT_EQ(f.fields[1].width, 4);
  EXPECT_EQ(f.fields[1].value, "PX03");  // cut to the field's width
  EXPECT_EQ(f.fields[2].width, 40);      // not digits: the widest
  EXPECT_EQ(f.focus, 1);
  // A block that never had a list (the launcher's) shows none.
  EXPECT_FALSE(Blocks().read().list.filled());
  EXPECT_TRUE(Blocks().read().form.fields.empty());
}

TEST(Blocks, FormValuesGoIntoTheirFieldsWithinTheirWidths) {
  Blocks b;
  encoding::putRaw(b.data.formCount(), "02");
  encoding::putRaw(b.data.formWidth(1), "04");
  encoding::putRaw(b.data.formValue(1), "alt und mehr");
  encoding::putRaw(b.data.formWidth(2), "40");
  encoding::putRaw(b.data.formValue(3), "bleibt");  // beyond the count
  Result r;
  r.formValues = std::vector<std::string>{"PX031234", "Neu", "nie"};
  writeResult(r, b.control.bytes(), b.data.bytes());
  EXPECT_EQ(encoding::view(b.data.formValue(1)), "PX03und mehr" + std::string(28, ' '));
  EXPECT_EQ(encoding::trimmed(b.data.formValue(2)), "Neu");
  EXPECT_EQ(encoding::trimmed(b.data.formValue(3)), "bleibt");
}

TEST(Blocks, CountsOutOfRangeOrNotDigitsListNoMoreThanTheBlockHolds) {
  const struct {
    const char* count;
    std::optional<int> parsed;
    std::size_t rows;
  } cases[] = {{"0000", 0, 0}, {"0099", 99, 99}, {"0150", 150, 99}, {"    ", std::nullopt, 0},
               {"00x1", std::nullopt, 0}};
  for (const auto& c : cases) {
    Blocks b;
    encoding::putRaw(b.data.entryCount(), c.count);
    const Request r = b.read();
    EXPECT_EQ(r.menu.count, c.parsed) << c.count;
    EXPECT_EQ(r.menu.rows.size(), c.rows) << c.count;
  }
  Blocks b;
  encoding::putRaw(b.data.pageUsed(), "99");
  EXPECT_EQ(b.read().page.lines.size(), 40u);
}

TEST(Blocks, StatusCodeIsShownAsPeopleReadIt) {
  const struct {
    char a, b;
    const char* shown;
  } cases[] = {{' ', ' ', ""}, {'0', '0', "00"}, {'2', '3', "23"}, {'9', 65, "9/065"},
               {'9', '\0', "9/000"}, {'9', static_cast<char>(213), "9/213"}, {'3', '5', "35"}};
  for (const auto& c : cases) EXPECT_EQ(formatStatus(c.a, c.b), c.shown);
}

TEST(Blocks, ProcedureNames) {
  const struct {
    const char* name;
    Procedure p;
  } cases[] = {{"", Procedure::kStart},
               {"NEUSTART", Procedure::kMenu},
               {"SETZEN-DESKTOP-WINDOW", Procedure::kDesktop},
               {"BOX-FRAGE", Procedure::kQuestion},
               {"BOX-FEHLER-OK", Procedure::kErrorOk},
               {"BOX-FEHLER-RC", Procedure::kErrorRetry},
               {"BOX-WARNUNG", Procedure::kWarning},
               {"BOX-INFO", Procedure::kInfo},
               {"TEXT-ANZEIGEN", Procedure::kTextPage},
               {"EINGABE", Procedure::kInput},
               {"neustart", Procedure::kUnknown},
               {"BOX", Procedure::kUnknown}};
  for (const auto& c : cases) {
    Blocks b;
    b.control.setProcedure(c.name);
    EXPECT_EQ(b.read().control.procedure, c.p) << c.name;
  }
}

TEST(Blocks, ControlBlockMustMatchVersionsAndSet) {
  Blocks good;
  EXPECT_FALSE(checkControl(good.read().control));
  Blocks v;
  v.control.setDataBlockVersion(75);
  const auto f = checkControl(v.read().control);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->code, kWrongVersion);
  EXPECT_EQ(f->detail1, 75);
  EXPECT_EQ(f->detail2, 2);
  Blocks s;
  s.control.setSetName("MPX02");
  ASSERT_TRUE(checkControl(s.read().control));
  EXPECT_EQ(checkControl(s.read().control)->code, kWrongSetName);
}

// Every byte outside the fields a caller reads back stays as it was.
TEST(Blocks, WritesBackOnlyTheFieldsACallerReads) {
  std::mt19937 rng(7);
  Blocks b;
  for (char& c : b.control.bytes()) c = static_cast<char>(rng());
  for (char& c : b.data.bytes()) c = static_cast<char>(rng());
  const Blocks before = b;

  Result r;
  r.event = 0x1230;
  r.chosenRow = 7;
  r.selection = 7;
  r.position = 3;
  r.reply = 'C';
  r.menuValue = "12345678";
  r.input = "Eingabe";
  r.listChosen = 12;
  r.listSelection = 12;
  r.listTop = 5;
  r.failure = {9101, 2, 0x0304, "x"};
  writeResult(r, b.control.bytes(), b.data.bytes());

  struct Written {
    std::size_t offset;
    std::string bytes;
  };
  const Written data[] = {{2790, std::string("\x12\x30", 2)},
                          {7190, "0007"},
                          {7186, "0007"},
                          {7194, "0003"},
                          {3157, "C"},
                          {2512, "12345678"},
                          {10470, "Eingabe" + std::string(71, ' ')},
                          {10830, "0012"},
                          {10822, "0012"},
                          {10826, "0005"}};
  std::vector<bool> touched(D::kSize);
  for (const Written& w : data) {
    EXPECT_EQ(std::string(b.data.data() + w.offset, w.bytes.size()), w.bytes) << w.offset;
    for (std::size_t i = 0; i < w.bytes.size(); ++i) touched[w.offset + i] = true;
  }
  for (std::size_t i = 0; i < D::kSize; ++i) {
    if (!touched[i]) {
      ASSERT_EQ(b.data.data()[i], before.data.data()[i]) << "data byte " << i;
    }
  }
  EXPECT_EQ(std::string(b.control.data() + 6, 6), std::string("\x23\x8d\x00\x02\x03\x04", 6));
  for (std::size_t i = 0; i < C::kSize; ++i) {
    if (i < 6 || i >= 12) {
      ASSERT_EQ(b.control.data()[i], before.control.data()[i]) << i;
    }
  }

  // An empty answer changes nothing but the error code, which becomes 0.
  Blocks quiet = before;
  writeResult(Result{}, quiet.control.bytes(), quiet.data.bytes());
  EXPECT_EQ(quiet.data, before.data);
  EXPECT_EQ(quiet.control.errorCode(), 0);
  EXPECT_EQ(quiet.control.errorDetail1(), 0);
}

}  // namespace
}  // namespace screenset
