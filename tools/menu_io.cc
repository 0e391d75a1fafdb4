#include "tools/menu_io.h"

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "encoding/cp850.h"
#include "encoding/packed.h"
#include "tools/csv.h"
#include "tools/i18n.h"
#include "tools/text.h"

namespace tools {
namespace {

using R = datafiles::MenuRecord;

struct Row {
  int set, menu, entry;
  std::string flag, text, program, access, stamp;  // UTF-8; stamp as hex
};

std::string hex(std::string_view bytes) {
  std::string out;
  char buf[3];
  for (char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(c));
    out += buf;
  }
  return out;
}

std::optional<std::string> unhex(std::string_view h) {
  if (h.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < h.size(); i += 2) {
    unsigned v = 0;
    for (char c : h.substr(i, 2)) {
      v <<= 4;
      if (c >= '0' && c <= '9') v |= c - '0';
      else if (c >= 'a' && c <= 'f') v |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') v |= c - 'A' + 10;
      else return std::nullopt;
    }
    out += static_cast<char>(v);
  }
  return out;
}

// A key part with sign nibble C decodes and encodes to the same bytes.
std::optional<int> exactPart(std::span<const char, 2> f) {
  if ((static_cast<unsigned char>(f[1]) & 0x0F) != 0x0C) return std::nullopt;
  return encoding::packed3::decode(f);
}

std::optional<Row> toRow(const R& r) {
  const auto set = exactPart(r.menuSetField());
  const auto menu = exactPart(r.menuField());
  const auto entry = exactPart(r.entryField());
  if (!set || !menu || !entry) return std::nullopt;
  return Row{*set,
             *menu,
             *entry,
             shown(r.entryFlagField()),
             shown(r.textField()),
             shown(r.programField()),
             shown(r.accessClassField()),
             hex(encoding::view(r.versionStampField()))};
}

std::optional<R> fromRow(const Row& row, std::string* error) {
  auto fits = [](const std::string& utf8, std::size_t width) {
    return encoding::cp850::lengthOf(utf8) <= width;
  };
  if (row.set < 0 || row.set > 999 || row.menu < 0 || row.menu > 999 || row.entry < 0 ||
      row.entry > 999) {
    *error = _("key numbers must be 0-999");
    return std::nullopt;
  }
  if (!fits(row.flag, 1) || !fits(row.text, 40) || !fits(row.program, 4) || !fits(row.access, 1)) {
    *error = _("a field is longer than its width (flag 1, text 40, program 4, access 1)");
    return std::nullopt;
  }
  const auto stamp = unhex(row.stamp);
  if (!stamp || stamp->size() > 6) {
    *error = _("stamp must be up to 12 hex digits");
    return std::nullopt;
  }
  R r;
  encoding::packed3::encode(row.set, r.menuSetField());
  encoding::packed3::encode(row.menu, r.menuField());
  encoding::packed3::encode(row.entry, r.entryField());
  encoding::putRaw(r.versionStampField(), *stamp);
  putShown(r.entryFlagField(), row.flag);
  putShown(r.textField(), row.text);
  putShown(r.programField(), row.program);
  putShown(r.accessClassField(), row.access);
  return r;
}

constexpr const char* kCsvHeader = "set,menu,entry,flag,text,program,access,stamp";

std::optional<int> numberOf(const std::string& s) {
  if (s.empty() || s.size() > 3) return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace

std::optional<std::string> exportMenu(const std::vector<datafiles::MenuRecord>& records,
                                      MenuFormat format, std::string* error) {
  std::vector<Row> rows;
  for (const auto& r : records) {
    auto row = toRow(r);
    if (!row) {
      *error = textf(_("a record's key is not three packed numbers with sign C (key %s); see "
                       "'pxadmin dump'"),
                     hex(r.view().substr(0, R::kKeyLength)).c_str());
      return std::nullopt;
    }
    rows.push_back(std::move(*row));
  }
  if (format == MenuFormat::kJson) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const Row& r : rows)
      out.push_back({{"set", r.set}, {"menu", r.menu}, {"entry", r.entry}, {"flag", r.flag},
                     {"text", r.text}, {"program", r.program}, {"access", r.access},
                     {"stamp", r.stamp}});
    return out.dump(1) + "\n";
  }
  std::ostringstream out;
  out << kCsvHeader << "\n";
  for (const Row& r : rows)
    out << r.set << ',' << r.menu << ',' << r.entry << ',' << csvField(r.flag) << ','
        << csvField(r.text) << ',' << csvField(r.program) << ',' << csvField(r.access) << ','
        << r.stamp << "\n";
  return out.str();
}

namespace {

// A number of a JSON entry; one out of the key's range comes back as -1, so
// that the range check refuses it instead of cutting it to an int.
std::optional<int> jsonNumber(const nlohmann::json& e, const char* k) {
  if (!e.contains(k)) return std::nullopt;
  const auto& v = e[k];
  if (v.is_number_unsigned()) {
    const auto u = v.get<std::uint64_t>();
    return u <= 999 ? static_cast<int>(u) : -1;
  }
  if (v.is_number_integer()) return -1;  // negative
  return std::nullopt;
}

std::optional<std::vector<Row>> jsonRows(std::istream& in, std::string* error) {
  std::string text;
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    text.append(buf, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxJsonBytes) {
      *error = textf(_("a JSON import is at most %zu MiB; use CSV for more"),
                     static_cast<std::size_t>(kMaxJsonBytes >> 20));
      return std::nullopt;
    }
  }
  const auto doc = nlohmann::json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_array()) {
    *error = _("not a JSON array of menu entries");
    return std::nullopt;
  }
  std::vector<Row> rows;
  std::size_t i = 0;
  for (const auto& e : doc) {
    ++i;
    auto str = [&](const char* k) -> std::optional<std::string> {
      if (!e.contains(k)) return std::string();
      if (!e[k].is_string()) return std::nullopt;
      return e[k].get<std::string>();
    };
    const auto set = e.contains("set") ? jsonNumber(e, "set") : std::optional<int>(0);
    const auto menu = jsonNumber(e, "menu"), entry = jsonNumber(e, "entry");
    const auto flag = str("flag"), txt = str("text"), program = str("program"),
               access = str("access"), stamp = str("stamp");
    if (!e.is_object() || !set || !menu || !entry || !flag || !txt || !program || !access ||
        !stamp) {
      *error = textf(_("entry %zu: needs numbers menu and entry, strings elsewhere"), i);
      return std::nullopt;
    }
    rows.push_back({*set, *menu, *entry, *flag, *txt, *program, *access, *stamp});
  }
  return rows;
}

}  // namespace

std::optional<std::vector<datafiles::MenuRecord>> importMenu(std::istream& in, MenuFormat format,
                                                             std::string* error) {
  std::vector<datafiles::MenuRecord> out;
  auto take = [&](const Row& row, std::size_t number) {
    std::string why;
    auto r = fromRow(row, &why);
    if (!r) {
      *error = textf(_("record %zu: %s"), number, why.c_str());
      return false;
    }
    out.push_back(*r);
    return true;
  };
  if (format == MenuFormat::kJson) {
    const auto rows = jsonRows(in, error);
    if (!rows) return std::nullopt;
    for (std::size_t i = 0; i < rows->size(); ++i)
      if (!take((*rows)[i], i + 1)) return std::nullopt;
    return out;
  }
  CsvReader reader(in);
  std::vector<std::string> f;
  if (!reader.next(f)) {
    *error = reader.error().empty() ? std::string(_("empty file")) : reader.error();
    return std::nullopt;
  }
  std::string header;
  for (std::size_t i = 0; i < f.size(); ++i) header += (i ? "," : "") + f[i];
  if (header != kCsvHeader) {
    *error = textf(_("the first line must be: %s"), kCsvHeader);
    return std::nullopt;
  }
  // Blank lines count only when a record follows them; at the end they are
  // dropped.
  std::size_t number = 0, firstBlank = 0;
  while (reader.next(f)) {
    ++number;
    if (f.size() == 1 && f[0].empty()) {
      if (firstBlank == 0) firstBlank = number;
      continue;
    }
    const std::size_t at = firstBlank != 0 ? firstBlank : number;
    const auto set = f.size() == 8 && firstBlank == 0 ? numberOf(f[0]) : std::nullopt;
    const auto menu = f.size() == 8 ? numberOf(f[1]) : std::nullopt;
    const auto entry = f.size() == 8 ? numberOf(f[2]) : std::nullopt;
    if (!set || !menu || !entry) {
      *error = textf(_("record %zu: needs 8 fields; set, menu and entry are numbers 0-999"), at);
      return std::nullopt;
    }
    if (!take({*set, *menu, *entry, f[3], f[4], f[5], f[6], f[7]}, number)) return std::nullopt;
  }
  if (!reader.error().empty()) {
    *error = reader.error();
    return std::nullopt;
  }
  return out;
}

std::optional<std::vector<datafiles::MenuRecord>> importMenu(const std::string& text,
                                                             MenuFormat format,
                                                             std::string* error) {
  std::istringstream in(text);
  return importMenu(in, format, error);
}

}  // namespace tools
