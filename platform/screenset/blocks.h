// What DSGRUN reads from the screen control block and the screen data block,
// and the one place that writes its answer back. Both runtimes decode the
// blocks here, so they show and return the same fields; the writer touches
// only the fields a caller reads back (event, chosen row, selection, list
// position, menu value, reply, input text, the list's row, selection and
// top row, the form's values, error code and details).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/screenset/errors.h"

namespace screenset {

inline constexpr std::size_t kControlSize = 400, kDataSize = 48938;
using ControlBytes = std::span<char, kControlSize>;
using DataBytes = std::span<char, kDataSize>;
using ConstControlBytes = std::span<const char, kControlSize>;
using ConstDataBytes = std::span<const char, kDataSize>;

enum class Procedure {
  kStart,     // blank procedure: load the set (or nothing after "N" was seen)
  kMenu,      // "NEUSTART"
  kDesktop,   // "SETZEN-DESKTOP-WINDOW"
  kQuestion,  // "BOX-FRAGE"
  kErrorOk,   // "BOX-FEHLER-OK"
  kErrorRetry,  // "BOX-FEHLER-RC"
  kWarning,   // "BOX-WARNUNG"
  kInfo,      // "BOX-INFO"
  kTextPage,  // "TEXT-ANZEIGEN"
  kInput,     // "EINGABE"
  kList,      // "LISTE"
  kForm,      // "MASKE"
  kUnknown,
};
Procedure procedureFromName(std::string_view name);  // trailing blanks trimmed
bool isBox(Procedure p);

// Texts below are code page 850 views into the blocks, trailing blanks
// trimmed; they live as long as the blocks. Fields that the answer may
// overwrite are copies, so that they still show what the caller filled.
struct ControlFields {
  char command = ' ';          // "N" start, "Q" end
  std::string_view procedureName;
  std::string_view setName;
  std::uint32_t dataVersion = 0;
  std::uint8_t interfaceVersion = 0;
  Procedure procedure = Procedure::kUnknown;
};

struct MenuFields {
  static constexpr int kMaxRows = 99;
  std::string_view title, banner, status, header, module, date, club, client, menuText,
      permission, identification;
  std::string menuValue;  // 8 bytes, untrimmed
  std::array<std::string_view, 9> captions;
  std::optional<int> count, selection, position;  // nothing when not digits
  std::vector<std::string_view> rows;             // the first count (0..99) rows
};

struct BoxFields {
  std::string_view text, file, operation;  // message area: 70, 5, 4
  std::string statusCode;                  // "00", "23", "9/065"; "" when blank
};

struct PageFields {
  std::string_view title;
  std::vector<std::string_view> lines;  // the first kPageUsed (0..40) lines
};

struct InputFields {
  std::string_view prompt;  // the message text
  std::string preset;
  bool hidden = false;      // "J": do not echo
};

struct ListFields {
  static constexpr int kMaxRows = 400;
  std::string_view title, header;
  std::array<std::string_view, 10> keys;          // captions of F1..F10
  std::optional<int> count, selection, top;       // nothing when not digits
  std::vector<std::string_view> rows;             // the first count (0..400) rows
  // Whether the caller filled the list at all (its count is digits).
  bool filled() const { return count.has_value(); }
};

struct FormFields {
  static constexpr int kMaxFields = 8, kMaxWidth = 40;
  struct Field {
    std::string_view label;
    int width;          // 1..40 (a width that is not digits or out of range: 40)
    std::string value;  // the preset, cut to the width, trailing blanks trimmed
  };
  std::string_view title;
  std::vector<Field> fields;  // the first count (0..8)
  int focus = 0;              // 0-based, inside the fields
};

struct Request {
  ControlFields control;
  MenuFields menu;
  BoxFields box;
  PageFields page;
  InputFields input;
  ListFields list;
  FormFields form;
};

Request readRequest(ConstControlBytes control, ConstDataBytes data);

// A version or set name that does not match what this runtime was built for.
std::optional<Failure> checkControl(const ControlFields& control);

struct Result {
  std::optional<std::uint16_t> event;
  std::optional<int> chosenRow, selection, position;  // 0..9999
  std::optional<char> reply;
  std::optional<std::string> menuValue;  // 8 digits
  std::optional<std::string> input;      // code page 850, cut to 78
  std::optional<int> listChosen, listSelection, listTop;  // "LISTE": 0..9999
  std::optional<std::vector<std::string>> formValues;     // "MASKE": code page 850
  Failure failure;                       // code 0: success
  int endSignal = 0;  // not 0: the answer was given because this end signal came
};

inline Result failedWith(Failure f) {
  Result r;
  r.failure = std::move(f);
  return r;
}

// Writes the error code and details always, every other field only when set.
void writeResult(const Result& result, ControlBytes control, DataBytes data);
// Only the error code and details.
void writeFailure(const Failure& failure, ControlBytes control);

// The status code of the message area as people read it: "00", "23",
// "9/065"; "" when both bytes are blank.
std::string formatStatus(char first, char second);

}  // namespace screenset
