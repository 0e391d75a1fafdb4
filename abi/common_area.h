// The common area: the 2,129-byte record that the launcher owns for the whole
// run and hands by reference to every program it calls. Its layout is shared
// with separately built programs; offsets and widths are fixed. The gaps
// between the listed fields belong to the called programs.
#pragma once

#include <string_view>

#include "encoding/field.h"
#include "encoding/packed.h"

namespace pxabi {

class CommonArea : public encoding::FixedRecord<2129> {
 public:
  using Field = encoding::Field;
  static constexpr Field kIdentification{0, 6};   // edition, e.g. "GILDAX"
  static constexpr Field kClient{6, 2};           // packed, 3 digits
  static constexpr Field kUserName{8, 10};
  static constexpr Field kSecondWord{18, 5};      // second command-line word
  static constexpr Field kHeaderNumber{23, 3};    // digits
  static constexpr Field kClubText{26, 40};
  static constexpr Field kWindowTitle{66, 40};
  static constexpr Field kGap1{106, 8};
  static constexpr Field kEditionOption1{114, 1};
  static constexpr Field kEditionOption2{115, 1};
  static constexpr Field kGap2{116, 2};
  static constexpr Field kPermissionFlag{118, 1};
  static constexpr Field kPermissionText{119, 10};
  static constexpr Field kGap3{129, 125};
  static constexpr Field kStatusValue{254, 6};    // digits
  static constexpr Field kStatusText{260, 15};
  static constexpr Field kDataDirectory{275, 250};
  static constexpr Field kUserClass{525, 1};      // "M", "H", other
  static constexpr Field kGap4{526, 236};
  static constexpr Field kNextProgram1{762, 10};
  static constexpr Field kNextProgram2{772, 10};
  static constexpr Field kGap5{782, 4};
  static constexpr Field kWorkingDate{786, 6};    // digits, YYMMDD
  static constexpr Field kGap6{792, 101};
  static constexpr Field kFunctionKeys{893, 10};  // F1..F10, one binary byte each
  static constexpr Field kGap7{903, 24};
  static constexpr Field kCalendarStart{927, 9};  // digits
  static constexpr Field kPositionsCount{936, 2}; // big-endian binary
  static constexpr Field kGap8{938, 11};
  static constexpr Field kHelpText{949, 40};
  static constexpr Field kHelpTopic{989, 4};
  static constexpr Field kHelpMode{993, 1};       // "1" program help, "I" entry information
  static constexpr Field kInstallationNumber{994, 5};
  static constexpr Field kScreenValueB{999, 4};   // copied to the screen data block at 2786
  static constexpr Field kMenuValue{1003, 8};     // digits
  static constexpr Field kScreenValueA{1011, 4};  // copied to the screen data block at 2502
  static constexpr Field kGap9{1015, 79};
  static constexpr Field kEntryFlag{1094, 1};
  static constexpr Field kCheckValue{1095, 8};    // digits
  static constexpr Field kGap10{1103, 5};
  static constexpr Field kRegionCode{1108, 3};
  static constexpr Field kGap11{1111, 139};
  // Belongs to called programs; PX07 leaves its report here (catalogue_report.h).
  static constexpr Field kCatalogueReport{1250, 23};
  static constexpr Field kVersionText{1273, 19};
  static constexpr Field kCallName{1292, 256};
  static constexpr Field kGap12{1548, 18};
  static constexpr Field kAddressesCount{1566, 4};  // big-endian binary
  static constexpr Field kGap13{1570, 11};
  static constexpr Field kMenuText{1581, 40};
  static constexpr Field kSavedControlBlock{1621, 400};
  static constexpr Field kSavedControlTail{2021, 100};
  static constexpr Field kCarriedValues{2121, 8};
  static_assert(encoding::tiles(
      {kIdentification, kClient, kUserName, kSecondWord, kHeaderNumber, kClubText, kWindowTitle,
       kGap1, kEditionOption1, kEditionOption2, kGap2, kPermissionFlag, kPermissionText, kGap3,
       kStatusValue, kStatusText, kDataDirectory, kUserClass, kGap4, kNextProgram1, kNextProgram2,
       kGap5, kWorkingDate, kGap6, kFunctionKeys, kGap7, kCalendarStart, kPositionsCount, kGap8,
       kHelpText, kHelpTopic, kHelpMode, kInstallationNumber, kScreenValueB, kMenuValue,
       kScreenValueA, kGap9, kEntryFlag, kCheckValue, kGap10, kRegionCode, kGap11, kCatalogueReport,
       kVersionText, kCallName, kGap12, kAddressesCount, kGap13, kMenuText, kSavedControlBlock,
       kSavedControlTail, kCarriedValues},
      kSize));

  // The launcher's version text constant: "034 - 13.12.2022" followed by "019".
  static constexpr std::string_view kVersionConstant = "034 - 13.12.2022019";
  static_assert(kVersionConstant.size() == kVersionText.width);

  // Every text blank, every number zero.
  CommonArea() { reset(); }
  void reset();

  // The fields by name. One-character fields read and set as a character.
  PX_FIELD(identification, kIdentification)
  PX_FIELD(userName, kUserName)
  PX_FIELD(secondWord, kSecondWord)
  PX_FIELD(headerNumber, kHeaderNumber)
  PX_FIELD(clubText, kClubText)
  PX_FIELD(windowTitle, kWindowTitle)
  PX_FIELD(permissionText, kPermissionText)
  PX_FIELD(statusValue, kStatusValue)
  PX_FIELD(statusText, kStatusText)
  PX_FIELD(dataDirectory, kDataDirectory)
  PX_FIELD(nextProgram1, kNextProgram1)
  PX_FIELD(nextProgram2, kNextProgram2)
  PX_FIELD(workingDate, kWorkingDate)
  PX_FIELD(calendarStart, kCalendarStart)
  PX_FIELD(positionsCount, kPositionsCount)
  PX_FIELD(helpText, kHelpText)
  PX_FIELD(helpTopic, kHelpTopic)
  PX_FIELD(installationNumber, kInstallationNumber)
  PX_FIELD(screenValueB, kScreenValueB)
  PX_FIELD(menuValue, kMenuValue)
  PX_FIELD(screenValueA, kScreenValueA)
  PX_FIELD(checkValue, kCheckValue)
  PX_FIELD(regionCode, kRegionCode)
  PX_FIELD(catalogueReport, kCatalogueReport)
  PX_FIELD(versionText, kVersionText)
  PX_FIELD(callName, kCallName)
  PX_FIELD(addressesCount, kAddressesCount)
  PX_FIELD(menuText, kMenuText)
  PX_FIELD(savedControlBlock, kSavedControlBlock)
  PX_FIELD(savedControlTail, kSavedControlTail)
  PX_FIELD(carriedValues, kCarriedValues)
  char editionOption1() const { return at<kEditionOption1>()[0]; }
  void setEditionOption1(char c) { at<kEditionOption1>()[0] = c; }
  char editionOption2() const { return at<kEditionOption2>()[0]; }
  void setEditionOption2(char c) { at<kEditionOption2>()[0] = c; }
  char permissionFlag() const { return at<kPermissionFlag>()[0]; }
  void setPermissionFlag(char c) { at<kPermissionFlag>()[0] = c; }
  char userClass() const { return at<kUserClass>()[0]; }
  void setUserClass(char c) { at<kUserClass>()[0] = c; }
  char helpMode() const { return at<kHelpMode>()[0]; }
  void setHelpMode(char c) { at<kHelpMode>()[0] = c; }
  char entryFlag() const { return at<kEntryFlag>()[0]; }
  void setEntryFlag(char c) { at<kEntryFlag>()[0] = c; }

  int client() const;  // 0 when the field is not a valid packed number
  void setClient(int n) { encoding::packed3::encode(n, at<kClient>()); }
  // Action assigned to function key F1..F10 (1-based).
  unsigned char functionKeyAction(int key) const {
    return static_cast<unsigned char>(at<kFunctionKeys>()[key - 1]);
  }
  void setFunctionKeyAction(int key, unsigned char action) {
    at<kFunctionKeys>()[key - 1] = static_cast<char>(action);
  }
};

}  // namespace pxabi
