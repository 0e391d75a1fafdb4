// The copybooks made from the C++ field tables, compiled by cobc in TCOPY:
// every field's offset and length as the COBOL compiler laid it out equals
// the C++ layout it was made from.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "cobol/copybook_fields.h"
#include "platform/dl_program_loader.h"
#include "testing/cobol_support.h"

namespace {

struct Item {
  std::int32_t offset, length;
};

TEST(Copybooks, CompiledLayoutEqualsTheCxxTables) {
  std::vector<std::pair<std::string, Item>> expected;
  for (const cobol::CobolRecord& r : cobol::kRecords) {
    expected.push_back({std::string(r.name), {0, static_cast<std::int32_t>(r.size)}});
    for (auto fields : {r.fields, r.control, r.application})
      for (const cobol::CobolField& f : fields)
        expected.push_back({std::string(f.name),
                            {static_cast<std::int32_t>(f.field.offset),
                             static_cast<std::int32_t>(f.field.width)}});
  }
  platform::DlProgramLoader loader(testing_support::cobolProgramPath(),
                                   testing_support::cobolHandler());
  std::int32_t count = 0;
  std::vector<Item> items(expected.size() + 1, Item{-1, -1});
  const auto out = loader.call("TCOPY", &count, items.data());
  ASSERT_TRUE(out.loaded) << loader.lastError();
  ASSERT_EQ(count, static_cast<std::int32_t>(expected.size()));
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].first);
    EXPECT_EQ(items[i].offset, expected[i].second.offset);
    EXPECT_EQ(items[i].length, expected[i].second.length);
  }
  // A few fixed points of the shared interface, independent of the tables.
  EXPECT_EQ(items[0].length, 2129);
  loader.unload("TCOPY");
}

}  // namespace
