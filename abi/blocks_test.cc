#include <gtest/gtest.h>

#include "abi/common_area.h"
#include "abi/message_area.h"
#include "abi/screen_control_block.h"
#include "abi/screen_data_block.h"
#include "datafiles/status.h"

namespace pxabi {
namespace {

TEST(CommonArea, InitialContents) {
  CommonArea a;
  EXPECT_EQ(a.kSize, 2129u);
  EXPECT_TRUE(encoding::isBlank(a.userName()));
  EXPECT_EQ(a.client(), 0);
  EXPECT_EQ(encoding::view(a.menuValue()), "00000000");
  EXPECT_EQ(a.functionKeyAction(1), 0);
  EXPECT_EQ(encoding::getBigEndian(a.addressesCount()), 0u);
  EXPECT_EQ(CommonArea::kVersionConstant.substr(0, 6), "034 - ");
}

TEST(ScreenDataBlock, EventCodeIsBigEndian) {
  ScreenDataBlock d;
  EXPECT_EQ(d.kSize, 48938u);
  d.setEventCode(0x0130);
  EXPECT_EQ(d.bytes()[2790], 0x01);
  EXPECT_EQ(d.bytes()[2791], 0x30);
  EXPECT_EQ(encoding::view(d.selection()), "0000");
  encoding::putText(d.row(99), "last");
  EXPECT_EQ(d.bytes()[3218 + 98 * 40], 'l');
}

TEST(ScreenControlBlock, ErrorCodeAndProcedure) {
  ScreenControlBlock c;
  EXPECT_EQ(c.errorCode(), 0);
  c.setError(0x0102, 3, 4);
  EXPECT_EQ(c.bytes()[6], 0x01);
  EXPECT_EQ(c.bytes()[7], 0x02);
  c.setProcedure("NEUSTART");
  EXPECT_EQ(c.procedure(), "NEUSTART");
  EXPECT_EQ(c.view().substr(ScreenControlBlock::kProcedure.offset, 32),
            "NEUSTART" + std::string(24, ' '));
}

TEST(MessageArea, CarriesTheRawStatusBytes) {
  MessageArea m;
  m.setText("Fehler");
  m.setFileCode("FX01 ");
  m.setOperation("OPEN");
  m.setStatus(datafiles::kFileLocked.raw());
  EXPECT_EQ(m.bytes()[79], '9');
  EXPECT_EQ(m.bytes()[80], 65);
  EXPECT_EQ(m.status(), datafiles::kFileLocked.raw());
}

}  // namespace
}  // namespace pxabi
