// gen_copybooks DIR CHECK: writes the COBOL copybooks of the shared records
// (PXCOMMON.cpy, FT00REC.cpy, FX00REC.cpy, FX01REC.cpy, FX02REC.cpy) into DIR
// and the program CHECK (TCOPY.cob), which reports the offset and length of
// every field as the COBOL compiler laid it out, so that a test can hold
// them against the C++ tables they were made from.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "cobol/copybook_fields.h"

namespace {

using cobol::CobolField;
using cobol::CobolRecord;
using cobol::Form;

std::string line(int level, int indent, std::string_view name, const std::string& clauses);

std::string picture(const CobolField& f) {
  const std::size_t w =
      f.occurs > 0 ? f.field.width / static_cast<std::size_t>(f.occurs) : f.field.width;
  std::string pic;
  switch (f.form) {
    case Form::kText:
    case Form::kBytes:
      pic = "PIC X(" + std::to_string(w) + ")";
      break;
    case Form::kDigits:
      pic = "PIC 9(" + std::to_string(w) + ")";
      break;
    case Form::kPacked3:
      pic = "PIC S9(3) COMP-3";
      break;
    case Form::kBinary:
      pic = "PIC X(" + std::to_string(w) + ") COMP-X";
      break;
  }
  if (f.occurs > 0) pic += " OCCURS " + std::to_string(f.occurs);
  return pic;
}

// A field, or for a repeated one the group and its elements.
std::string fieldLines(const CobolField& f, int level, int indent) {
  if (f.occurs == 0) return line(level, indent, f.name, picture(f));
  return line(level, indent, f.name, "") + line(level + 5, indent + 4, f.element, picture(f));
}

// One fixed-form line: code from column 8, name padded so that the clauses
// line up, never past column 72.
std::string line(int level, int indent, std::string_view name, const std::string& clauses) {
  std::string s(7 + static_cast<std::size_t>(indent), ' ');
  s += (level < 10 ? "0" : "") + std::to_string(level) + "  " + std::string(name);
  if (!clauses.empty()) {
    if (s.size() < 44)
      s.resize(44, ' ');
    else
      s += ' ';
    s += clauses;
  }
  s += ".";
  if (s.size() > 72) {
    std::fprintf(stderr, "gen_copybooks: line too long for fixed form: %s\n", s.c_str());
    std::exit(1);
  }
  return s + "\n";
}

std::string copybookText(const CobolRecord& r) {
  std::ostringstream o;
  o << "      * " << r.copybook << ".cpy, " << r.size << " bytes:\n"
    << "      * " << r.comment << ".\n"
    << "      * Made from the C++ field tables at build time; do not edit.\n"
    << line(1, 0, r.name, "");
  const bool keyed = r.keyLength > 0;
  if (keyed) o << line(5, 4, r.keyName, "");
  std::size_t end = 0;
  for (const CobolField& f : r.fields) {
    const bool inKey = keyed && f.field.end() <= r.keyLength;
    o << fieldLines(f, inKey ? 10 : 5, inKey ? 8 : 4);
    end = f.field.end();
  }
  if (!r.control.empty()) {
    const std::string body = std::string(r.name.substr(0, 4)) + "-BODY";
    o << line(5, 4, body, "PIC X(" + std::to_string(r.size - end) + ")");
    for (auto [group, fields] :
         {std::pair{"-CONTROL", r.control}, std::pair{"-APPL", r.application}}) {
      o << line(5, 4, std::string(r.name.substr(0, 4)) + group, "REDEFINES " + body);
      for (const CobolField& f : fields) o << fieldLines(f, 10, 8);
    }
  }
  return o.str();
}

// Every field of every record in the order the test expects them: the
// record itself, then its fields (key, body, control, application).
template <typename F>
void forEachItem(F&& f) {
  for (const CobolRecord& r : cobol::kRecords) {
    f(r, r.name);
    for (const CobolField& x : r.fields) f(r, x.name);
    for (const CobolField& x : r.control) f(r, x.name);
    for (const CobolField& x : r.application) f(r, x.name);
  }
}

std::string checkProgram() {
  std::size_t count = 0;
  forEachItem([&](const CobolRecord&, std::string_view) { ++count; });
  std::ostringstream o;
  o << "      * TCOPY: offset and length of every field of the copybooks,\n"
    << "      * as the compiler laid them out. Made by gen_copybooks.\n"
    << "       IDENTIFICATION DIVISION.\n"
    << "       PROGRAM-ID. TCOPY.\n"
    << "       DATA DIVISION.\n"
    << "       WORKING-STORAGE SECTION.\n";
  for (const CobolRecord& r : cobol::kRecords) o << "       COPY \"" << r.copybook << ".cpy\".\n";
  o << "       01  P-BASE                      USAGE POINTER.\n"
    << "       01  P-BASE-N REDEFINES P-BASE   PIC S9(18) COMP-5.\n"
    << "       01  P-ITEM                      USAGE POINTER.\n"
    << "       01  P-ITEM-N REDEFINES P-ITEM   PIC S9(18) COMP-5.\n"
    << "       LINKAGE SECTION.\n"
    << "       01  LK-COUNT                    PIC S9(9) COMP-5.\n"
    << "       01  LK-ITEMS.\n"
    << "           05  LK-ITEM OCCURS " << count << ".\n"
    << "               10  LK-OFFSET           PIC S9(9) COMP-5.\n"
    << "               10  LK-LENGTH           PIC S9(9) COMP-5.\n"
    << "       PROCEDURE DIVISION USING LK-COUNT LK-ITEMS.\n"
    << "           MOVE " << count << " TO LK-COUNT\n";
  std::size_t i = 0;
  forEachItem([&](const CobolRecord& r, std::string_view item) {
    ++i;
    if (item == r.name) o << "           SET P-BASE TO ADDRESS OF " << r.name << "\n";
    o << "           SET P-ITEM TO ADDRESS OF " << item << "\n"
      << "           COMPUTE LK-OFFSET(" << i << ") = P-ITEM-N - P-BASE-N\n"
      << "           MOVE LENGTH OF " << item << " TO LK-LENGTH(" << i << ")\n";
  });
  o << "           GOBACK.\n";
  return o.str();
}

bool writeIfChanged(const std::string& path, const std::string& text) {
  {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream old;
    old << in.rdbuf();
    if (in && old.str() == text) return true;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: gen_copybooks DIR CHECK-PROGRAM\n");
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = true;
  for (const CobolRecord& r : cobol::kRecords)
    ok = writeIfChanged(dir + "/" + std::string(r.copybook) + ".cpy", copybookText(r)) && ok;
  ok = writeIfChanged(argv[2], checkProgram()) && ok;
  if (!ok) std::fprintf(stderr, "gen_copybooks: cannot write into %s\n", dir.c_str());
  return ok ? 0 : 1;
}
