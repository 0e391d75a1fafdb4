// A screen set for tests: records every call (procedure, set command and a
// copy of both blocks) and plays scripted answers in order. An answer applies
// to the next call in order when its procedure matches (empty: NEUSTART);
// calls without an answer get event 0 (Escape) and a blank reply ("MASKE":
// "C", cancelled).
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "abi/message_area.h"
#include "abi/screen_data_block.h"
#include "encoding/field.h"
#include "platform/screen_set.h"

namespace testing_support {

class FakeScreenSet : public platform::ScreenSet {
 public:
  struct Answer {
    std::string procedure;                 // "" = the next NEUSTART
    std::optional<std::uint16_t> event;    // the event code
    std::optional<int> row;                // chosen row and selection (4 digits)
    std::optional<char> reply;             // a box's reply
    std::optional<std::uint16_t> error;    // error code in the control block
    std::optional<std::string> menuValue;  // 8 digits
    std::optional<std::string> find;       // "LISTE": the first row containing this
                                           // code page 850 text is the chosen row
    std::optional<int> listRow;            // "LISTE": the chosen row
    std::map<int, std::string> fields;     // "MASKE": values (code page 850) by field from 1
    std::function<void(pxabi::ScreenControlBlock&, std::span<char, pxabi::kScreenDataSize>)>
        action;                            // anything else
  };
  struct Call {
    std::string procedure;
    char setCommand;
    pxabi::ScreenControlBlock control;
    std::vector<char> data;
    // What the caller filled, read by name.
    pxabi::ScreenDataBlock block() const {
      pxabi::ScreenDataBlock b;
      std::copy(data.begin(), data.end(), b.bytes().begin());
      return b;
    }
    pxabi::MessageArea messageArea() const {
      pxabi::MessageArea m;
      const std::size_t at = pxabi::ScreenDataBlock::kMessage.offset;
      std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), m.kSize, m.bytes().begin());
      return m;
    }
    // The rows of a "LISTE" call, code page 850, trailing blanks trimmed.
    std::vector<std::string> listRows() const {
      const pxabi::ScreenDataBlock b = block();
      std::vector<std::string> rows;
      const auto n = encoding::getDigits(b.listCount()).value_or(0);
      for (long long i = 1; i <= n && i <= 400; ++i)
        rows.emplace_back(encoding::trimmed(b.listRow(static_cast<std::size_t>(i))));
      return rows;
    }
    // The message text, code page 850, trailing blanks trimmed.
    std::string message() const { return std::string(encoding::trimmed(messageArea().text())); }
    // File code, operation word and the two status bytes behind the text.
    std::string detail() const {
      const pxabi::MessageArea m = messageArea();
      const auto status = m.status();
      return std::string(encoding::view(m.fileCode())) +
             std::string(encoding::view(m.operation())) + std::string(status.data(), status.size());
    }
  };

  FakeScreenSet& then(Answer a) {
    answers_.push_back(std::move(a));
    return *this;
  }
  FakeScreenSet& event(std::uint16_t e) {
    Answer a;
    a.event = e;
    return then(std::move(a));
  }
  FakeScreenSet& select(int row) {
    Answer a;
    a.event = 48;
    a.row = row;
    return then(std::move(a));
  }
  FakeScreenSet& reply(std::string procedure, char r) {
    Answer a;
    a.procedure = std::move(procedure);
    a.reply = r;
    return then(std::move(a));
  }

  std::int32_t call(pxabi::ScreenControlBlock& control,
                    std::span<char, pxabi::kScreenDataSize> data) override {
    const std::string proc(control.procedure());
    calls_.push_back({proc, control.setCommand(), control, std::vector<char>(data.begin(), data.end())});
    // Answers are taken strictly in order: the first one applies when it
    // names this procedure, or names none and this is NEUSTART.
    auto it = answers_.begin();
    if (it != answers_.end()) {
      const std::string& wanted = it->procedure.empty() ? std::string("NEUSTART") : it->procedure;
      if (wanted != proc) it = answers_.end();
    }
    using SDB = pxabi::ScreenDataBlock;
    const auto field = [&](encoding::Field f) { return data.subspan(f.offset, f.width); };
    field(SDB::kReply)[0] = proc == "MASKE" ? 'C' : ' ';
    const bool choice = proc == "NEUSTART" || proc == "LISTE";
    if (choice) encoding::putBigEndian(field(SDB::kEventCode), 0);
    if (proc == "LISTE") encoding::putRaw(field(SDB::kListChosen), encoding::view(field(SDB::kListSelection)));
    if (it == answers_.end()) {
      if (choice) exhaustedMenus_++;
      return 0;
    }
    const Answer a = *it;
    answers_.erase(it);
    if (a.event) encoding::putBigEndian(field(SDB::kEventCode), *a.event);
    if (a.row) {
      encoding::putDigits(field(SDB::kChosenRow), *a.row);
      encoding::putDigits(field(SDB::kSelection), *a.row);
    }
    if (a.reply) field(SDB::kReply)[0] = *a.reply;
    if (a.find || a.listRow) {
      int row = a.listRow.value_or(0);
      if (a.find) {
        const auto count = encoding::getDigits(field(SDB::kListCount)).value_or(0);
        for (long long i = 1; i <= count && row == 0; ++i)
          if (encoding::view(data.subspan(SDB::kListRows.offset + (i - 1) * SDB::kListRowWidth,
                                          SDB::kListRowWidth))
                  .find(*a.find) != std::string_view::npos)
            row = static_cast<int>(i);
        if (row == 0) misses_.push_back(*a.find);
      }
      encoding::putDigits(field(SDB::kListChosen), row);
      encoding::putDigits(field(SDB::kListSelection), row);
    }
    if (!a.fields.empty()) {
      if (!a.reply) field(SDB::kReply)[0] = 'J';
      for (const auto& [n, value] : a.fields)
        encoding::putRaw(data.subspan(SDB::kFormFields.offset + (n - 1) * SDB::kFormFieldWidth +
                                          SDB::kFormLabelWidth + 2,
                                      SDB::kFormValueWidth),
                         value);
    }
    if (a.menuValue) encoding::putRaw(field(SDB::kMenuValue), *a.menuValue);
    if (a.error) control.setError(*a.error, 1, 2);
    if (a.action) a.action(control, data);
    return 0;
  }

  const std::vector<Call>& calls() const { return calls_; }
  std::vector<std::string> procedures() const {
    std::vector<std::string> out;
    for (const auto& c : calls_) out.push_back(c.procedure);
    return out;
  }
  // Calls of one procedure, e.g. every "BOX-WARNUNG".
  std::vector<const Call*> callsOf(const std::string& procedure) const {
    std::vector<const Call*> out;
    for (const auto& c : calls_)
      if (c.procedure == procedure) out.push_back(&c);
    return out;
  }
  bool answersLeft() const { return !answers_.empty(); }
  // How often NEUSTART or LISTE ran with no answer left (a runaway loop
  // shows here).
  int exhaustedMenus() const { return exhaustedMenus_; }
  // The `find` texts that matched no row.
  const std::vector<std::string>& misses() const { return misses_; }

 private:
  std::deque<Answer> answers_;
  std::vector<Call> calls_;
  std::vector<std::string> misses_;
  int exhaustedMenus_ = 0;
};

}  // namespace testing_support
