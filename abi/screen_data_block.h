// The screen data block: the 48,938-byte record that the launcher and the
// catalogue run hand to the screen-set runtime with every call. It carries
// what the main menu window and the message boxes show and brings back the
// event, the chosen row and a box's reply. Binary numbers are big-endian,
// digit fields hold decimal digits, texts are code page 850. Bytes not named
// here belong to the screen set.
#pragma once

#include <cstdint>
#include <string_view>

#include "encoding/field.h"

namespace pxabi {

inline constexpr std::size_t kScreenDataSize = 48938;

class ScreenDataBlock : public encoding::FixedRecord<kScreenDataSize> {
 public:
  using Field = encoding::Field;
  static constexpr std::size_t kRows = 99, kRowWidth = 40, kCaptionCount = 9, kCaptionWidth = 6;

  static constexpr Field kSet1{0, 883};
  static constexpr Field kCarriedValues{883, 8};  // travel through every called program
  static constexpr Field kSet2{891, 1611};
  static constexpr Field kScreenValueA{2502, 4};  // common area offset 1011
  static constexpr Field kSet3{2506, 6};
  static constexpr Field kMenuValue{2512, 8};     // in and out
  static constexpr Field kSet4{2520, 266};
  static constexpr Field kScreenValueB{2786, 4};  // common area offset 999
  static constexpr Field kEventCode{2790, 2};     // binary, out; low byte decides
  static constexpr Field kCaptions{2792, 54};     // F1..F9, 6 characters each
  static constexpr Field kSet5{2846, 6};
  static constexpr Field kIdentification{2852, 6};
  static constexpr Field kSet6{2858, 10};
  static constexpr Field kClubText{2868, 40};
  static constexpr Field kClient{2908, 3};        // digits
  static constexpr Field kMenuText{2911, 40};
  static constexpr Field kHeaderLine{2951, 30};
  static constexpr Field kSet7{2981, 3};
  static constexpr Field kModuleId{2984, 11};     // "PX01 - 013"
  static constexpr Field kModuleName{2995, 5};
  static constexpr Field kSet8{3000, 40};
  static constexpr Field kPermissionFlag{3040, 1};
  static constexpr Field kDate{3041, 8};          // DD.MM.YY
  static constexpr Field kSet9{3049, 8};
  static constexpr Field kMessage{3057, 100};     // message area + 18 blanks
  static constexpr Field kReply{3157, 1};         // out: "J" yes, "C" cancel
  static constexpr Field kSet10{3158, 20};
  static constexpr Field kTitle{3178, 40};
  static constexpr Field kRowTexts{3218, 3960};   // 99 x 40
  static constexpr Field kSet11{7178, 4};
  static constexpr Field kEntryCount{7182, 4};    // digits
  static constexpr Field kSelection{7186, 4};     // digits, in and out; "0000" = none
  static constexpr Field kChosenRow{7190, 4};     // digits, out
  static constexpr Field kListPosition{7194, 4};  // digits, in and out
  static constexpr Field kSet12{7198, 4};
  static constexpr Field kBanner{7202, 40};
  static constexpr Field kStatusLine{7242, 20};
  static constexpr Field kSet13{7262, 38};
  // Our screen set's own fields for procedures of its own: "TEXT-ANZEIGEN"
  // shows a page of text lines, "EINGABE" reads one line of input.
  static constexpr std::size_t kPageLineCount = 40, kPageLineWidth = 78;
  static constexpr Field kPageTitle{7300, 40};
  static constexpr Field kPageLines{7340, 3120};  // 40 x 78
  static constexpr Field kPageUsed{10460, 2};     // digits: lines filled
  static constexpr Field kSet14{10462, 8};
  static constexpr Field kInputText{10470, 78};   // in: preset, out: what was typed
  static constexpr Field kInputHidden{10548, 1};  // "J": do not echo
  static constexpr Field kSet15{10549, 11};
  // "LISTE": a list of rows to pick from, with a column header and a key bar;
  // gives back the event and the row.
  static constexpr std::size_t kListRowCount = 400, kListRowWidth = 78, kListKeyCount = 10,
                               kListKeyWidth = 12;
  static constexpr Field kListTitle{10560, 60};
  static constexpr Field kListHeader{10620, 78};     // the column header line
  static constexpr Field kListKeys{10698, 120};      // F1..F10, 12 characters each
  static constexpr Field kListCount{10818, 4};       // digits: rows filled
  static constexpr Field kListSelection{10822, 4};   // digits, in and out
  static constexpr Field kListTop{10826, 4};         // digits, in and out: first row in view
  static constexpr Field kListChosen{10830, 4};      // digits, out: the row of the event
  static constexpr Field kSet16{10834, 6};
  static constexpr Field kListRows{10840, 31200};    // 400 x 78
  // "MASKE": a small form of up to 8 fields, each a label and a value of up
  // to 40 characters; gives back the values and the reply.
  static constexpr std::size_t kFormFieldCount = 8, kFormLabelWidth = 30, kFormValueWidth = 40,
                               kFormFieldWidth = 72;  // label, width (2 digits), value
  static constexpr Field kFormTitle{42040, 60};
  static constexpr Field kFormCount{42100, 2};       // digits: fields used
  static constexpr Field kFormFocus{42102, 2};       // digits: the field the cursor starts in
  static constexpr Field kFormFields{42104, 576};    // 8 x 72
  static constexpr Field kSet17{42680, 6258};
  static_assert(encoding::tiles(
      {kSet1,       kCarriedValues, kSet2,      kScreenValueA,   kSet3,       kMenuValue,
       kSet4,       kScreenValueB,  kEventCode, kCaptions,       kSet5,       kIdentification,
       kSet6,       kClubText,      kClient,    kMenuText,       kHeaderLine, kSet7,
       kModuleId,   kModuleName,    kSet8,      kPermissionFlag, kDate,       kSet9,
       kMessage,    kReply,         kSet10,     kTitle,          kRowTexts,   kSet11,
       kEntryCount, kSelection,     kChosenRow, kListPosition,   kSet12,      kBanner,
       kStatusLine, kSet13,         kPageTitle, kPageLines,      kPageUsed,   kSet14,
       kInputText,  kInputHidden,   kSet15,     kListTitle,      kListHeader, kListKeys,
       kListCount,  kListSelection, kListTop,   kListChosen,     kSet16,      kListRows,
       kFormTitle,  kFormCount,     kFormFocus, kFormFields,     kSet17},
      kSize));
  static_assert(kListRows.width == kListRowCount * kListRowWidth);
  static_assert(kListKeys.width == kListKeyCount * kListKeyWidth);
  static_assert(kFormFields.width == kFormFieldCount * kFormFieldWidth &&
                kFormFieldWidth == kFormLabelWidth + 2 + kFormValueWidth);
  static_assert(kRowTexts.width == kRows * kRowWidth);
  static_assert(kCaptions.width == kCaptionCount * kCaptionWidth);
  static_assert(kPageLines.width == kPageLineCount * kPageLineWidth);

  // Event codes.
  static constexpr std::uint8_t kEventEscape = 0, kEventEnter = 48, kEventClick = 27,
                                kEventF11 = 91, kEventF12 = 92, kEventNone = 99;

  ScreenDataBlock() { reset(); }
  // Every text blank, every number zero.
  void reset();

  // The fields by name.
  PX_FIELD(carriedValues, kCarriedValues)
  PX_FIELD(screenValueA, kScreenValueA)
  PX_FIELD(menuValue, kMenuValue)
  PX_FIELD(screenValueB, kScreenValueB)
  PX_FIELD(identification, kIdentification)
  PX_FIELD(clubText, kClubText)
  PX_FIELD(client, kClient)
  PX_FIELD(menuText, kMenuText)
  PX_FIELD(headerLine, kHeaderLine)
  PX_FIELD(moduleId, kModuleId)
  PX_FIELD(moduleName, kModuleName)
  PX_FIELD(date, kDate)
  PX_FIELD(message, kMessage)
  PX_FIELD(title, kTitle)
  PX_FIELD(rowTexts, kRowTexts)
  PX_FIELD(entryCount, kEntryCount)
  PX_FIELD(selection, kSelection)
  PX_FIELD(chosenRow, kChosenRow)
  PX_FIELD(listPosition, kListPosition)
  PX_FIELD(banner, kBanner)
  PX_FIELD(statusLine, kStatusLine)
  PX_FIELD(pageTitle, kPageTitle)
  PX_FIELD(pageLines, kPageLines)
  PX_FIELD(pageUsed, kPageUsed)
  PX_FIELD(inputText, kInputText)
  PX_FIELD(listTitle, kListTitle)
  PX_FIELD(listHeader, kListHeader)
  PX_FIELD(listKeys, kListKeys)
  PX_FIELD(listCount, kListCount)
  PX_FIELD(listSelection, kListSelection)
  PX_FIELD(listTop, kListTop)
  PX_FIELD(listChosen, kListChosen)
  PX_FIELD(listRows, kListRows)
  PX_FIELD(formTitle, kFormTitle)
  PX_FIELD(formCount, kFormCount)
  PX_FIELD(formFocus, kFormFocus)
  PX_FIELD(formFields, kFormFields)
  char permissionFlag() const { return at<kPermissionFlag>()[0]; }
  void setPermissionFlag(char c) { at<kPermissionFlag>()[0] = c; }
  char reply() const { return at<kReply>()[0]; }
  void setReply(char c) { at<kReply>()[0] = c; }
  char inputHidden() const { return at<kInputHidden>()[0]; }
  void setInputHidden(char c) { at<kInputHidden>()[0] = c; }

  std::uint16_t eventCode() const {
    return static_cast<std::uint16_t>(encoding::getBigEndian(at<kEventCode>()));
  }
  void setEventCode(std::uint16_t code) { encoding::putBigEndian(at<kEventCode>(), code); }
  std::span<char, kRowWidth> row(std::size_t oneBased) {
    return std::span<char, kRowWidth>(at<kRowTexts>().data() + (oneBased - 1) * kRowWidth,
                                      kRowWidth);
  }
  std::span<const char, kRowWidth> row(std::size_t oneBased) const {
    return std::span<const char, kRowWidth>(
        at<kRowTexts>().data() + (oneBased - 1) * kRowWidth, kRowWidth);
  }
  std::span<char, kPageLineWidth> pageLine(std::size_t oneBased) {
    return std::span<char, kPageLineWidth>(
        at<kPageLines>().data() + (oneBased - 1) * kPageLineWidth, kPageLineWidth);
  }
  std::span<char, kListRowWidth> listRow(std::size_t oneBased) {
    return std::span<char, kListRowWidth>(
        at<kListRows>().data() + (oneBased - 1) * kListRowWidth, kListRowWidth);
  }
  std::span<const char, kListRowWidth> listRow(std::size_t oneBased) const {
    return std::span<const char, kListRowWidth>(
        at<kListRows>().data() + (oneBased - 1) * kListRowWidth, kListRowWidth);
  }
  std::span<char, kListKeyWidth> listKey(std::size_t key) {  // F1 = 1
    return std::span<char, kListKeyWidth>(
        at<kListKeys>().data() + (key - 1) * kListKeyWidth, kListKeyWidth);
  }
  // Field `n` of the form (from 1): its label, its width (2 digits, 1..40)
  // and its value.
  std::span<char, kFormLabelWidth> formLabel(std::size_t n) {
    return std::span<char, kFormLabelWidth>(formField(n), kFormLabelWidth);
  }
  std::span<char, 2> formWidth(std::size_t n) {
    return std::span<char, 2>(formField(n) + kFormLabelWidth, 2);
  }
  std::span<char, kFormValueWidth> formValue(std::size_t n) {
    return std::span<char, kFormValueWidth>(formField(n) + kFormLabelWidth + 2, kFormValueWidth);
  }
  std::span<const char, kFormValueWidth> formValue(std::size_t n) const {
    return std::span<const char, kFormValueWidth>(
        at<kFormFields>().data() + (n - 1) * kFormFieldWidth + kFormLabelWidth + 2,
        kFormValueWidth);
  }
  std::span<char, kCaptionWidth> caption(std::size_t key) {  // F1 = 1
    return std::span<char, kCaptionWidth>(at<kCaptions>().data() + (key - 1) * kCaptionWidth,
                                          kCaptionWidth);
  }
  std::span<const char, kCaptionWidth> caption(std::size_t key) const {
    return std::span<const char, kCaptionWidth>(
        at<kCaptions>().data() + (key - 1) * kCaptionWidth, kCaptionWidth);
  }

 private:
  char* formField(std::size_t n) { return at<kFormFields>().data() + (n - 1) * kFormFieldWidth; }
};

}  // namespace pxabi
