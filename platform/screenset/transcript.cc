#include "platform/screenset/transcript.h"

#include <cstdio>
#include <vector>

#include "encoding/cp850.h"
#include "encoding/field.h"

namespace screenset {
namespace {

class JsonObject {
 public:
  JsonObject() : out_(1, '{') {}
  JsonObject& text(const char* key, std::string_view cp850) {
    return utf8(key, encoding::cp850::toUtf8(cp850));
  }
  JsonObject& utf8(const char* key, std::string_view utf8) {
    this->key(key);
    quote(utf8);
    return *this;
  }
  JsonObject& texts(const char* key, auto const& cp850s) {
    this->key(key);
    out_ += '[';
    bool first = true;
    for (std::string_view s : cp850s) {
      if (!first) out_ += ',';
      first = false;
      quote(encoding::cp850::toUtf8(s));
    }
    out_ += ']';
    return *this;
  }
  template <class T>
  JsonObject& number(const char* key, const std::optional<T>& v) {
    this->key(key);
    out_ += v ? std::to_string(*v) : "null";
    return *this;
  }
  JsonObject& character(const char* key, std::optional<char> c) {
    if (!c) {
      this->key(key);
      out_ += "null";
      return *this;
    }
    const char one[1] = {*c};
    return text(key, std::string_view(one, *c == ' ' ? 0 : 1));
  }
  std::string done() {
    out_ += '}';
    return std::move(out_);
  }

 private:
  void key(const char* k) {
    if (out_.size() > 1) out_ += ',';
    quote(k);
    out_ += ':';
  }
  void quote(std::string_view s) {
    out_ += '"';
    for (char c : s) {
      const auto u = static_cast<unsigned char>(c);
      if (c == '"' || c == '\\') {
        out_ += '\\';
        out_ += c;
      } else if (u < 0x20 || u == 0x7F) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", u);
        out_ += buf;
      } else {
        out_ += c;
      }
    }
    out_ += '"';
  }
  std::string out_;
};

}  // namespace

std::string transcriptLine(int n, const Request& rq, const Result& rs) {
  const MenuFields& m = rq.menu;
  const Procedure p = rq.control.procedure;
  JsonObject j;
  j.number("n", std::optional<int>(n));
  j.character("command", rq.control.command);
  j.text("procedure", rq.control.procedureName).text("set", rq.control.setName);
  j.text("title", m.title).texts("rows", m.rows).number("count", m.count);
  j.number("selection", m.selection).number("position", m.position);
  j.text("banner", m.banner).text("status", m.status).texts("captions", m.captions);
  j.text("header", m.header).text("module", m.module).text("date", m.date);
  j.text("club", m.club).text("menutext", m.menuText).text("permission", m.permission);
  j.text("menuvalue", encoding::trimmed(m.menuValue));
  j.text("message", rq.box.text).text("file", rq.box.file).text("operation", rq.box.operation);
  j.utf8("status_code", rq.box.statusCode);
  if (p == Procedure::kTextPage) j.text("page_title", rq.page.title).texts("page", rq.page.lines);
  if (p == Procedure::kInput) {
    if (rs.input) j.text("input", *rs.input);
    else j.text("input", rq.input.preset);
  }
  if (p == Procedure::kList) {
    const ListFields& l = rq.list;
    j.text("list_title", l.title).text("list_header", l.header).texts("list_keys", l.keys);
    j.texts("list_rows", l.rows).number("list_count", l.count);
    j.number("list_selection", l.selection);
  }
  if (p == Procedure::kForm) {
    std::vector<std::string_view> labels, presets;
    for (const FormFields::Field& f : rq.form.fields) {
      labels.push_back(f.label);
      presets.push_back(f.value);
    }
    j.text("form_title", rq.form.title).texts("form_labels", labels).texts("form_values", presets);
    if (rs.formValues) j.texts("form_input", *rs.formValues);
    else j.texts("form_input", presets);
  }
  j.number("event", rs.event).number("row", rs.chosenRow ? rs.chosenRow : rs.listChosen);
  j.character("reply", rs.reply);
  j.number("error", std::optional<int>(rs.failure.code));
  if (rs.failure.failed()) j.utf8("reason", rs.failure.reason);
  if (rs.endSignal != 0) j.number("signal", std::optional<int>(rs.endSignal));
  return j.done();
}

}  // namespace screenset
