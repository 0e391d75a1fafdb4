#include "platform/screenset/blocks.h"

#include <algorithm>

#include "abi/message_area.h"
#include "abi/screen_control_block.h"
#include "abi/screen_data_block.h"
#include "datafiles/status.h"
#include "encoding/field.h"

namespace screenset {
namespace {

using pxabi::ScreenDataBlock;
using pxabi::ScreenControlBlock;
using encoding::Field;

static_assert(ScreenDataBlock::kSize == kDataSize);
static_assert(ScreenControlBlock::kSize == kControlSize);

template <Field F>
std::span<const char, F.width> at(std::span<const char> block) {
  return std::span<const char, F.width>(block.data() + F.offset, F.width);
}
template <Field F>
std::span<char, F.width> at(std::span<char> block) {
  return std::span<char, F.width>(block.data() + F.offset, F.width);
}
template <Field F>
std::string_view text(std::span<const char> block) {
  return encoding::trimmed(at<F>(block));
}
std::optional<int> digits(std::span<const char> field) {
  const auto v = encoding::getDigits(field);
  if (!v) return std::nullopt;
  return static_cast<int>(*v);
}
int clamp(std::optional<int> v, int hi) { return v ? std::min(std::max(*v, 0), hi) : 0; }

// The width of one form field (label, width, value): 1..40, else 40.
int formFieldWidth(std::span<const char> field) {
  const int width = digits(field.subspan(ScreenDataBlock::kFormLabelWidth, 2)).value_or(0);
  return width < 1 || width > FormFields::kMaxWidth ? FormFields::kMaxWidth : width;
}

// The message field holds the 82-character message area first.
constexpr std::size_t kMessageAt = ScreenDataBlock::kMessage.offset;
constexpr Field kMessageText{kMessageAt + pxabi::MessageArea::kText.offset,
                             pxabi::MessageArea::kText.width};
constexpr Field kMessageFile{kMessageAt + pxabi::MessageArea::kFileCode.offset,
                             pxabi::MessageArea::kFileCode.width};
constexpr Field kMessageOperation{kMessageAt + pxabi::MessageArea::kOperation.offset,
                                  pxabi::MessageArea::kOperation.width};
constexpr Field kMessageStatus{kMessageAt + pxabi::MessageArea::kStatus.offset,
                               pxabi::MessageArea::kStatus.width};
static_assert(kMessageStatus.end() <= ScreenDataBlock::kMessage.end());

}  // namespace

Procedure procedureFromName(std::string_view name) {
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  struct Named {
    std::string_view name;
    Procedure procedure;
  };
  static constexpr Named kNames[] = {
      {"", Procedure::kStart},
      {"NEUSTART", Procedure::kMenu},
      {"SETZEN-DESKTOP-WINDOW", Procedure::kDesktop},
      {"BOX-FRAGE", Procedure::kQuestion},
      {"BOX-FEHLER-OK", Procedure::kErrorOk},
      {"BOX-FEHLER-RC", Procedure::kErrorRetry},
      {"BOX-WARNUNG", Procedure::kWarning},
      {"BOX-INFO", Procedure::kInfo},
      {"TEXT-ANZEIGEN", Procedure::kTextPage},
      {"EINGABE", Procedure::kInput},
      {"LISTE", Procedure::kList},
      {"MASKE", Procedure::kForm},
  };
  for (const Named& n : kNames)
    if (n.name == name) return n.procedure;
  return Procedure::kUnknown;
}

bool isBox(Procedure p) {
  return p == Procedure::kQuestion || p == Procedure::kErrorOk || p == Procedure::kErrorRetry ||
         p == Procedure::kWarning || p == Procedure::kInfo;
}

std::string formatStatus(char first, char second) {
  if (first == ' ' && second == ' ') return "";
  return datafiles::FileStatus(first, second).toString();
}

Request readRequest(ConstControlBytes control, ConstDataBytes data) {
  using C = ScreenControlBlock;
  using D = ScreenDataBlock;
  Request r;
  r.control.command = at<C::kSetCommand>(control)[0];
  r.control.procedureName = text<C::kProcedure>(control);
  r.control.setName = text<C::kSetName>(control);
  r.control.dataVersion = encoding::getBigEndian(at<C::kDataBlockVersion>(control));
  r.control.interfaceVersion =
      static_cast<std::uint8_t>(encoding::getBigEndian(at<C::kInterfaceVersion>(control)));
  r.control.procedure = procedureFromName(r.control.procedureName);

  MenuFields& m = r.menu;
  m.title = text<D::kTitle>(data);
  m.banner = text<D::kBanner>(data);
  m.status = text<D::kStatusLine>(data);
  m.header = text<D::kHeaderLine>(data);
  m.module = text<D::kModuleId>(data);
  m.date = text<D::kDate>(data);
  m.club = text<D::kClubText>(data);
  m.client = text<D::kClient>(data);
  m.menuText = text<D::kMenuText>(data);
  m.permission = text<D::kPermissionFlag>(data);
  m.identification = text<D::kIdentification>(data);
  m.menuValue = std::string(encoding::view(at<D::kMenuValue>(data)));
  const auto captions = at<D::kCaptions>(data);
  for (std::size_t k = 0; k < m.captions.size(); ++k)
    m.captions[k] = encoding::trimmed(captions.subspan(k * D::kCaptionWidth, D::kCaptionWidth));
  m.count = digits(at<D::kEntryCount>(data));
  m.selection = digits(at<D::kSelection>(data));
  m.position = digits(at<D::kListPosition>(data));
  const auto rows = at<D::kRowTexts>(data);
  const int n = clamp(m.count, MenuFields::kMaxRows);
  for (int i = 0; i < n; ++i)
    m.rows.push_back(encoding::trimmed(rows.subspan(i * D::kRowWidth, D::kRowWidth)));

  r.box.text = text<kMessageText>(data);
  r.box.file = text<kMessageFile>(data);
  r.box.operation = text<kMessageOperation>(data);
  const auto status = at<kMessageStatus>(data);
  r.box.statusCode = formatStatus(status[0], status[1]);

  r.page.title = text<D::kPageTitle>(data);
  const auto lines = at<D::kPageLines>(data);
  const int used = clamp(digits(at<D::kPageUsed>(data)), D::kPageLineCount);
  for (int i = 0; i < used; ++i)
    r.page.lines.push_back(
        encoding::trimmed(lines.subspan(i * D::kPageLineWidth, D::kPageLineWidth)));

  r.input.prompt = r.box.text;
  r.input.preset = std::string(text<D::kInputText>(data));
  r.input.hidden = at<D::kInputHidden>(data)[0] == 'J';

  ListFields& l = r.list;
  l.title = text<D::kListTitle>(data);
  l.header = text<D::kListHeader>(data);
  const auto keys = at<D::kListKeys>(data);
  for (std::size_t k = 0; k < l.keys.size(); ++k)
    l.keys[k] = encoding::trimmed(keys.subspan(k * D::kListKeyWidth, D::kListKeyWidth));
  l.count = digits(at<D::kListCount>(data));
  l.selection = digits(at<D::kListSelection>(data));
  l.top = digits(at<D::kListTop>(data));
  const auto listRows = at<D::kListRows>(data);
  const int listed = clamp(l.count, ListFields::kMaxRows);
  for (int i = 0; i < listed; ++i)
    l.rows.push_back(
        encoding::trimmed(listRows.subspan(i * D::kListRowWidth, D::kListRowWidth)));

  FormFields& f = r.form;
  f.title = text<D::kFormTitle>(data);
  const auto fields = at<D::kFormFields>(data);
  const int fieldCount = clamp(digits(at<D::kFormCount>(data)), FormFields::kMaxFields);
  for (int i = 0; i < fieldCount; ++i) {
    const auto field = fields.subspan(i * D::kFormFieldWidth, D::kFormFieldWidth);
    const int width = formFieldWidth(field);
    const auto value = field.subspan(D::kFormLabelWidth + 2, static_cast<std::size_t>(width));
    f.fields.push_back({encoding::trimmed(field.first(D::kFormLabelWidth)), width,
                        std::string(encoding::trimmed(value))});
  }
  f.focus = std::clamp(digits(at<D::kFormFocus>(data)).value_or(1) - 1, 0,
                       std::max(0, fieldCount - 1));
  return r;
}

std::optional<Failure> checkControl(const ControlFields& c) {
  if (c.dataVersion != ScreenControlBlock::kVersion76 ||
      c.interfaceVersion != ScreenControlBlock::kVersion2)
    return Failure{kWrongVersion, static_cast<std::uint16_t>(std::min<std::uint32_t>(c.dataVersion, 9999)),
                   c.interfaceVersion,
                   "control block versions " + std::to_string(c.dataVersion) + "/" +
                       std::to_string(c.interfaceVersion) + ", expected 76/2"};
  if (c.setName != ScreenControlBlock::kSetMPX01)
    return Failure{kWrongSetName, 0, 0, "unknown screen set \"" + std::string(c.setName) + "\""};
  return std::nullopt;
}

void writeFailure(const Failure& f, ControlBytes control) {
  using C = ScreenControlBlock;
  const std::span<char> c(control);
  encoding::putBigEndian(at<C::kErrorCode>(c), f.code);
  encoding::putBigEndian(at<C::kErrorDetail1>(c), f.detail1);
  encoding::putBigEndian(at<C::kErrorDetail2>(c), f.detail2);
}

void writeResult(const Result& r, ControlBytes control, DataBytes data) {
  using D = ScreenDataBlock;
  writeFailure(r.failure, control);
  const std::span<char> d(data);
  if (r.event) encoding::putBigEndian(at<D::kEventCode>(d), *r.event);
  auto putRow = [](std::span<char, 4> field, std::optional<int> v) {
    if (v) (void)encoding::putDigits(field, std::min(std::max(*v, 0), 9999));
  };
  putRow(at<D::kChosenRow>(d), r.chosenRow);
  putRow(at<D::kSelection>(d), r.selection);
  putRow(at<D::kListPosition>(d), r.position);
  if (r.reply) at<D::kReply>(d)[0] = *r.reply;
  if (r.menuValue) encoding::putRaw(at<D::kMenuValue>(d), *r.menuValue);
  if (r.input) encoding::putRaw(at<D::kInputText>(d), *r.input);
  putRow(at<D::kListChosen>(d), r.listChosen);
  putRow(at<D::kListSelection>(d), r.listSelection);
  putRow(at<D::kListTop>(d), r.listTop);
  if (r.formValues) {
    // Each value within its field's width; the rest of the value field and
    // the fields beyond stay as the caller left them.
    const auto fields = at<D::kFormFields>(d);
    const int used =
        clamp(digits(at<D::kFormCount>(std::span<const char>(data))), FormFields::kMaxFields);
    for (int i = 0; i < used && i < static_cast<int>(r.formValues->size()); ++i) {
      const auto field = fields.subspan(i * D::kFormFieldWidth, D::kFormFieldWidth);
      const int width = formFieldWidth(field);
      encoding::putRaw(field.subspan(D::kFormLabelWidth + 2, static_cast<std::size_t>(width)),
                       (*r.formValues)[static_cast<std::size_t>(i)]);
    }
  }
}

}  // namespace screenset
