// The COBOL view of the system's shared records: every field of the C++
// layouts (the data files' records, the common area and the two records of
// a call of the screen set) with a COBOL name and its form. The
// offsets and widths are the C++ constants themselves, and each table must
// cover its record exactly (checked at compile time), so a copybook made
// from it cannot drift from the C++ layout.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "abi/common_area.h"
#include "abi/screen_control_block.h"
#include "abi/screen_data_block.h"
#include "datafiles/records.h"

namespace cobol {

enum class Form {
  kText,     // PIC X(n), code page 850
  kDigits,   // PIC 9(n), unsigned digits as characters
  kPacked3,  // PIC S9(3) COMP-3: 2 bytes, sign nibble C for positive values
  kBinary,   // PIC X(n) COMP-X: unsigned big-endian binary
  kBytes,    // PIC X(n): bytes the system does not interpret
};

struct CobolField {
  std::string_view name;
  encoding::Field field;
  Form form;
  std::size_t occurs = 0;  // > 0: the group NAME of `occurs` elements named `element`
  std::string_view element = {};
};

struct CobolRecord {
  std::string_view copybook;  // file name without ".cpy"
  std::string_view name;      // the 01 level
  std::string_view comment;
  std::size_t size;
  std::size_t keyLength;  // > 0: the first fields form the group NAME-KEY
  std::string_view keyName;
  std::span<const CobolField> fields;
  // Alternative layouts of the bytes behind the key (the installation
  // file's control and application records), as REDEFINES.
  std::span<const CobolField> control, application;
};

constexpr bool covers(std::span<const CobolField> fields, std::size_t from, std::size_t size) {
  std::size_t next = from;
  for (const CobolField& f : fields) {
    if (f.field.offset != next) return false;
    if (f.occurs > 0 && f.field.width % static_cast<std::size_t>(f.occurs) != 0) return false;
    next = f.field.end();
  }
  return next == size;
}

using U = datafiles::UserRecord;
inline constexpr CobolField kUserFields[] = {
    {"FX00-CLIENT", U::kClient, Form::kPacked3},
    {"FX00-ENCODED-NAME", U::kEncodedName, Form::kText},
    {"FX00-RESERVED-1", U::kReserved1, Form::kBytes},
    {"FX00-SIGN-ON-FLAG", U::kSignOnFlag, Form::kText},
    {"FX00-RESERVED-2", U::kReserved2, Form::kBytes},
    {"FX00-USER-CLASS", U::kUserClass, Form::kText},
    {"FX00-PASSWORD-HASH", U::kPasswordHash, Form::kText},
    {"FX00-RESERVED-3", U::kReserved3, Form::kBytes},
};
static_assert(covers(kUserFields, 0, U::kSize));

using M = datafiles::MenuRecord;
inline constexpr CobolField kMenuFields[] = {
    {"FX01-MENU-SET", M::kMenuSet, Form::kPacked3},
    {"FX01-MENU", M::kMenu, Form::kPacked3},
    {"FX01-ENTRY", M::kEntry, Form::kPacked3},
    {"FX01-VERSION-STAMP", M::kVersionStamp, Form::kText},
    {"FX01-ENTRY-FLAG", M::kEntryFlag, Form::kText},
    {"FX01-TEXT", M::kText, Form::kText},
    {"FX01-PROGRAM", M::kProgram, Form::kText},
    {"FX01-ACCESS-CLASS", M::kAccessClass, Form::kText},
};
static_assert(covers(kMenuFields, 0, M::kSize));

using P = datafiles::PermissionRecord;
inline constexpr CobolField kPermissionFields[] = {
    {"FX02-CLIENT", P::kClient, Form::kPacked3},
    {"FX02-USER-NAME", P::kUserName, Form::kText},
    {"FX02-PROGRAM", P::kProgram, Form::kText},
    {"FX02-KEY-BLANK", P::kKeyBlank, Form::kText},
    {"FX02-GRANT-DATE", P::kGrantDate, Form::kDigits},
    {"FX02-LEVEL", P::kLevel, Form::kText},
    {"FX02-FLAG", P::kFlag, Form::kText},
    {"FX02-TEXT", P::kText, Form::kText},
};
static_assert(covers(kPermissionFields, 0, P::kSize));

using C = datafiles::ControlRecord;
using A = datafiles::ApplicationRecord;
inline constexpr CobolField kInstallationKey[] = {
    {"FT00-TYPE", C::kType, Form::kText},
    {"FT00-CLIENT", C::kClient, Form::kPacked3},
    {"FT00-APPLICATION", C::kApplication, Form::kPacked3},
};
static_assert(covers(kInstallationKey, 0, datafiles::InstallationRecord::kKeyLength));
inline constexpr CobolField kControlFields[] = {
    {"FT00-IDENTIFICATION", C::kIdentification, Form::kText},
    {"FT00-CLUB-TEXT", C::kClubText, Form::kText},
    {"FT00-EDITION-OPTION-1", C::kEditionOption1, Form::kText},
    {"FT00-EDITION-OPTION-2", C::kEditionOption2, Form::kText},
    {"FT00-INSTALLATION-NUMBER", C::kInstallationNumber, Form::kDigits},
    {"FT00-REGION-CODE", C::kRegionCode, Form::kText},
    {"FT00-HEADER-NUMBER", C::kHeaderNumber, Form::kDigits},
    {"FT00-DEFAULT-CLIENT", C::kDefaultClient, Form::kPacked3},
    {"FT00-DATA-DIRECTORY", C::kDataDirectory, Form::kText},
    {"FT00-LOCK-FLAG", C::kLockFlag, Form::kText},
    {"FT00-CONTROL-RESERVED", C::kReserved, Form::kBytes},
};
static_assert(covers(kControlFields, datafiles::InstallationRecord::kKeyLength, C::kSize));
inline constexpr CobolField kApplicationFields[] = {
    {"FT00-APPL-RESERVED-1", A::kReserved1, Form::kBytes},
    {"FT00-APPL-NAME", A::kName, Form::kText},
    {"FT00-APPL-RESERVED-2", A::kReserved2, Form::kBytes},
};
static_assert(covers(kApplicationFields, datafiles::InstallationRecord::kKeyLength, A::kSize));

using CA = pxabi::CommonArea;
inline constexpr CobolField kCommonFields[] = {
    {"CA-IDENTIFICATION", CA::kIdentification, Form::kText},
    {"CA-CLIENT", CA::kClient, Form::kPacked3},
    {"CA-USER-NAME", CA::kUserName, Form::kText},
    {"CA-SECOND-WORD", CA::kSecondWord, Form::kText},
    {"CA-HEADER-NUMBER", CA::kHeaderNumber, Form::kDigits},
    {"CA-CLUB-TEXT", CA::kClubText, Form::kText},
    {"CA-WINDOW-TITLE", CA::kWindowTitle, Form::kText},
    {"CA-GAP-1", CA::kGap1, Form::kBytes},
    {"CA-EDITION-OPTION-1", CA::kEditionOption1, Form::kText},
    {"CA-EDITION-OPTION-2", CA::kEditionOption2, Form::kText},
    {"CA-GAP-2", CA::kGap2, Form::kBytes},
    {"CA-PERMISSION-FLAG", CA::kPermissionFlag, Form::kText},
    {"CA-PERMISSION-TEXT", CA::kPermissionText, Form::kText},
    {"CA-GAP-3", CA::kGap3, Form::kBytes},
    {"CA-STATUS-VALUE", CA::kStatusValue, Form::kDigits},
    {"CA-STATUS-TEXT", CA::kStatusText, Form::kText},
    {"CA-DATA-DIRECTORY", CA::kDataDirectory, Form::kText},
    {"CA-USER-CLASS", CA::kUserClass, Form::kText},
    {"CA-GAP-4", CA::kGap4, Form::kBytes},
    {"CA-NEXT-PROGRAM-1", CA::kNextProgram1, Form::kText},
    {"CA-NEXT-PROGRAM-2", CA::kNextProgram2, Form::kText},
    {"CA-GAP-5", CA::kGap5, Form::kBytes},
    {"CA-WORKING-DATE", CA::kWorkingDate, Form::kDigits},
    {"CA-GAP-6", CA::kGap6, Form::kBytes},
    {"CA-FUNCTION-KEYS", CA::kFunctionKeys, Form::kBinary, 10, "CA-FUNCTION-KEY"},
    {"CA-GAP-7", CA::kGap7, Form::kBytes},
    {"CA-CALENDAR-START", CA::kCalendarStart, Form::kDigits},
    {"CA-POSITIONS-COUNT", CA::kPositionsCount, Form::kBinary},
    {"CA-GAP-8", CA::kGap8, Form::kBytes},
    {"CA-HELP-TEXT", CA::kHelpText, Form::kText},
    {"CA-HELP-TOPIC", CA::kHelpTopic, Form::kText},
    {"CA-HELP-MODE", CA::kHelpMode, Form::kText},
    {"CA-INSTALLATION-NUMBER", CA::kInstallationNumber, Form::kText},
    {"CA-SCREEN-VALUE-B", CA::kScreenValueB, Form::kBytes},
    {"CA-MENU-VALUE", CA::kMenuValue, Form::kDigits},
    {"CA-SCREEN-VALUE-A", CA::kScreenValueA, Form::kBytes},
    {"CA-GAP-9", CA::kGap9, Form::kBytes},
    {"CA-ENTRY-FLAG", CA::kEntryFlag, Form::kText},
    {"CA-CHECK-VALUE", CA::kCheckValue, Form::kDigits},
    {"CA-GAP-10", CA::kGap10, Form::kBytes},
    {"CA-REGION-CODE", CA::kRegionCode, Form::kText},
    {"CA-GAP-11", CA::kGap11, Form::kBytes},
    {"CA-CATALOGUE-REPORT", CA::kCatalogueReport, Form::kBytes},
    {"CA-VERSION-TEXT", CA::kVersionText, Form::kText},
    {"CA-CALL-NAME", CA::kCallName, Form::kText},
    {"CA-GAP-12", CA::kGap12, Form::kBytes},
    {"CA-ADDRESSES-COUNT", CA::kAddressesCount, Form::kBinary},
    {"CA-GAP-13", CA::kGap13, Form::kBytes},
    {"CA-MENU-TEXT", CA::kMenuText, Form::kText},
    {"CA-SAVED-CONTROL-BLOCK", CA::kSavedControlBlock, Form::kBytes},
    {"CA-SAVED-CONTROL-TAIL", CA::kSavedControlTail, Form::kBytes},
    {"CA-CARRIED-VALUES", CA::kCarriedValues, Form::kBytes},
};
static_assert(covers(kCommonFields, 0, CA::kSize));

using SCB = pxabi::ScreenControlBlock;
inline constexpr CobolField kScreenControlFields[] = {
    {"SCB-DATA-BLOCK-VERSION", SCB::kDataBlockVersion, Form::kBinary},
    {"SCB-INTERFACE-VERSION", SCB::kInterfaceVersion, Form::kBinary},
    {"SCB-RUNTIME-1", SCB::kRuntime1, Form::kBytes},
    {"SCB-ERROR-CODE", SCB::kErrorCode, Form::kBinary},
    {"SCB-ERROR-DETAIL-1", SCB::kErrorDetail1, Form::kBinary},
    {"SCB-ERROR-DETAIL-2", SCB::kErrorDetail2, Form::kBinary},
    {"SCB-RUNTIME-2", SCB::kRuntime2, Form::kBytes},
    {"SCB-SET-COMMAND", SCB::kSetCommand, Form::kText},
    {"SCB-RUNTIME-3", SCB::kRuntime3, Form::kBytes},
    {"SCB-PROCEDURE", SCB::kProcedure, Form::kText},
    {"SCB-RUNTIME-4", SCB::kRuntime4, Form::kBytes},
    {"SCB-SET-NAME", SCB::kSetName, Form::kText},
};
static_assert(covers(kScreenControlFields, 0, SCB::kSize));

using SDB = pxabi::ScreenDataBlock;
inline constexpr CobolField kScreenDataFields[] = {
    {"SDB-SET-1", SDB::kSet1, Form::kBytes},
    {"SDB-CARRIED-VALUES", SDB::kCarriedValues, Form::kBytes},
    {"SDB-SET-2", SDB::kSet2, Form::kBytes},
    {"SDB-SCREEN-VALUE-A", SDB::kScreenValueA, Form::kBytes},
    {"SDB-SET-3", SDB::kSet3, Form::kBytes},
    {"SDB-MENU-VALUE", SDB::kMenuValue, Form::kDigits},
    {"SDB-SET-4", SDB::kSet4, Form::kBytes},
    {"SDB-SCREEN-VALUE-B", SDB::kScreenValueB, Form::kBytes},
    {"SDB-EVENT-CODE", SDB::kEventCode, Form::kBinary},
    {"SDB-CAPTIONS", SDB::kCaptions, Form::kText, SDB::kCaptionCount, "SDB-CAPTION"},
    {"SDB-SET-5", SDB::kSet5, Form::kBytes},
    {"SDB-IDENTIFICATION", SDB::kIdentification, Form::kText},
    {"SDB-SET-6", SDB::kSet6, Form::kBytes},
    {"SDB-CLUB-TEXT", SDB::kClubText, Form::kText},
    {"SDB-CLIENT", SDB::kClient, Form::kDigits},
    {"SDB-MENU-TEXT", SDB::kMenuText, Form::kText},
    {"SDB-HEADER-LINE", SDB::kHeaderLine, Form::kText},
    {"SDB-SET-7", SDB::kSet7, Form::kBytes},
    {"SDB-MODULE-ID", SDB::kModuleId, Form::kText},
    {"SDB-MODULE-NAME", SDB::kModuleName, Form::kText},
    {"SDB-SET-8", SDB::kSet8, Form::kBytes},
    {"SDB-PERMISSION-FLAG", SDB::kPermissionFlag, Form::kText},
    {"SDB-DATE", SDB::kDate, Form::kText},
    {"SDB-SET-9", SDB::kSet9, Form::kBytes},
    {"SDB-MESSAGE", SDB::kMessage, Form::kText},
    {"SDB-REPLY", SDB::kReply, Form::kText},
    {"SDB-SET-10", SDB::kSet10, Form::kBytes},
    {"SDB-TITLE", SDB::kTitle, Form::kText},
    {"SDB-ROW-TEXTS", SDB::kRowTexts, Form::kText, SDB::kRows, "SDB-ROW-TEXT"},
    {"SDB-SET-11", SDB::kSet11, Form::kBytes},
    {"SDB-ENTRY-COUNT", SDB::kEntryCount, Form::kDigits},
    {"SDB-SELECTION", SDB::kSelection, Form::kDigits},
    {"SDB-CHOSEN-ROW", SDB::kChosenRow, Form::kDigits},
    {"SDB-LIST-POSITION", SDB::kListPosition, Form::kDigits},
    {"SDB-SET-12", SDB::kSet12, Form::kBytes},
    {"SDB-BANNER", SDB::kBanner, Form::kText},
    {"SDB-STATUS-LINE", SDB::kStatusLine, Form::kText},
    {"SDB-SET-13", SDB::kSet13, Form::kBytes},
    {"SDB-PAGE-TITLE", SDB::kPageTitle, Form::kText},
    {"SDB-PAGE-LINES", SDB::kPageLines, Form::kText, SDB::kPageLineCount, "SDB-PAGE-LINE"},
    {"SDB-PAGE-USED", SDB::kPageUsed, Form::kDigits},
    {"SDB-SET-14", SDB::kSet14, Form::kBytes},
    {"SDB-INPUT-TEXT", SDB::kInputText, Form::kText},
    {"SDB-INPUT-HIDDEN", SDB::kInputHidden, Form::kText},
    {"SDB-SET-15", SDB::kSet15, Form::kBytes},
    {"SDB-LIST-TITLE", SDB::kListTitle, Form::kText},
    {"SDB-LIST-HEADER", SDB::kListHeader, Form::kText},
    {"SDB-LIST-KEYS", SDB::kListKeys, Form::kText, SDB::kListKeyCount, "SDB-LIST-KEY"},
    {"SDB-LIST-COUNT", SDB::kListCount, Form::kDigits},
    {"SDB-LIST-SELECTION", SDB::kListSelection, Form::kDigits},
    {"SDB-LIST-TOP", SDB::kListTop, Form::kDigits},
    {"SDB-LIST-CHOSEN", SDB::kListChosen, Form::kDigits},
    {"SDB-SET-16", SDB::kSet16, Form::kBytes},
    {"SDB-LIST-ROWS", SDB::kListRows, Form::kText, SDB::kListRowCount, "SDB-LIST-ROW"},
    {"SDB-FORM-TITLE", SDB::kFormTitle, Form::kText},
    {"SDB-FORM-COUNT", SDB::kFormCount, Form::kDigits},
    {"SDB-FORM-FOCUS", SDB::kFormFocus, Form::kDigits},
    // Each: label (30), value width (2 digits), value (40).
    {"SDB-FORM-FIELDS", SDB::kFormFields, Form::kText, SDB::kFormFieldCount, "SDB-FORM-FIELD"},
    {"SDB-SET-17", SDB::kSet17, Form::kBytes},
};
static_assert(covers(kScreenDataFields, 0, SDB::kSize));

inline constexpr CobolRecord kRecords[] = {
    {"PXCOMMON",
     "PX-COMMON-AREA",
     "the common area, handed to every called program",
     CA::kSize,
     0,
     {},
     kCommonFields,
     {},
     {}},
    {"FT00REC", "FT00-RECORD", "FT00.DAT installation file record", C::kSize,
     datafiles::InstallationRecord::kKeyLength, "FT00-KEY", kInstallationKey, kControlFields,
     kApplicationFields},
    {"FX00REC",
     "FX00-RECORD",
     "FX00.DAT user file record",
     U::kSize,
     U::kKeyLength,
     "FX00-KEY",
     kUserFields,
     {},
     {}},
    {"FX01REC",
     "FX01-RECORD",
     "FX01.DAT menu file record",
     M::kSize,
     M::kKeyLength,
     "FX01-KEY",
     kMenuFields,
     {},
     {}},
    {"FX02REC",
     "FX02-RECORD",
     "FX02.DAT permission file record",
     P::kSize,
     P::kKeyLength,
     "FX02-KEY",
     kPermissionFields,
     {},
     {}},
    {"PXSCB",
     "PX-SCREEN-CONTROL",
     "the screen control block of a call of DSGRUN",
     SCB::kSize,
     0,
     {},
     kScreenControlFields,
     {},
     {}},
    {"PXSDB",
     "PX-SCREEN-DATA",
     "the screen data block of a call of DSGRUN",
     SDB::kSize,
     0,
     {},
     kScreenDataFields,
     {},
     {}},
};

}  // namespace cobol
