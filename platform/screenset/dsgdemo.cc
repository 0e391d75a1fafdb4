// dsgdemo: shows the screen set "MPX01" with a sample menu, through DSGRUN
// loaded by name as the launcher loads it.
//
//   dsgdemo                       a small interactive tour (Esc, then Ja, ends it)
//   dsgdemo [--result FILE] STEP...
//
// Each STEP is one call: menu, frage, fehler-ok, fehler-rc, warnung, info,
// text, eingabe, verdeckt (hidden input), desktop, liste, maske, and fremd, which is no call
// but plays a program that writes to the terminal behind the screen set's
// back and leaves it in line mode. After the last step the set
// is ended with "Q" and one line per step is written to FILE (or stdout):
//   NEUSTART error=0/0/0 event=48 row=0003 selection=0003 position=0001 reply=_ input=
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "abi/screen_control_block.h"
#include "abi/screen_data_block.h"
#include "encoding/cp850.h"
#include "encoding/field.h"
#include "platform/dl_program_loader.h"

namespace {

using D = pxabi::ScreenDataBlock;
using C = pxabi::ScreenControlBlock;

const char* const kRows[] = {
    "Mitgliederverwaltung",        "Beiträge und Lastschriften", "Finanzbuchhaltung",
    "Ehrungen",                    "Veranstaltungen",            "Geheime Wahlen",
    "Hallenbelegung",              "Aufgabenliste",              "Inventar",
    "Radsportverband",             "Reisegruppen",               "Übungsleiter",
    "Prüfungen und Gürtelfarben",  "Größenliste Vereinskleidung", "Auswertungen",
    "Pflege der Menüdatei",        "Reorg der Mitgliederdatei",  "Logdatei anzeigen",
    "Abteilungen",                 "Adressen",                   "Zahlungsverkehr",
    "Spendenbescheinigungen",      "Jubiläen",                   "Schlüsselverwaltung",
};

class Demo {
 public:
  Demo() : loader_(platform::defaultProgramPath()) {
    control_.identifyMPX01();
    control_.setSetCommand(C::kStart);
    encoding::putText(data_.clubText(), "Turn- und Sportverein Grünwald e.V.");
    encoding::putText(data_.headerLine(), "DEMO01 001 - Version 2026.1");
    encoding::putText(data_.moduleId(), "PX01 - 013");
    encoding::putText(data_.date(), "07.12.26");
    encoding::putText(data_.menuText(), "Hauptmenü");
    data_.setPermissionFlag('J');
    encoding::putText(data_.statusLine(), "1234 Adressen");
    encoding::putText(data_.title(), "A n w e n d u n g e n");
    const char* captions[] = {"", " Info ", "Sperre", "Rechn.", "", "Kalend", "", "", ""};
    for (int k = 0; k < 9; ++k) encoding::putText(data_.caption(k + 1), captions[k]);
    for (std::size_t i = 0; i < std::size(kRows); ++i)
      encoding::putText(data_.row(i + 1), kRows[i]);
    (void)encoding::putDigits(data_.entryCount(), static_cast<long long>(std::size(kRows)));
    (void)encoding::putDigits(data_.selection(), 1);
    (void)encoding::putDigits(data_.listPosition(), 1);
    encoding::putText(data_.pageTitle(), "Hilfe zum Hauptmenü");
    const char* page[] = {"Pfeiltasten, Bild auf/ab, Pos1 und Ende bewegen die Auswahl.",
                          "Enter wählt die Zeile, Esc geht eine Ebene zurück.",
                          "Buchstaben springen zur nächsten Zeile, die so beginnt.",
                          "F2 zeigt Informationen zur gewählten Zeile."};
    for (std::size_t i = 0; i < std::size(page); ++i)
      encoding::putText(data_.pageLine(i + 1), page[i]);
    (void)encoding::putDigits(data_.pageUsed(), static_cast<long long>(std::size(page)));
    encoding::putText(data_.listTitle(), "Pflege der Menüdatei - Systemverwaltung");
    encoding::putText(data_.listHeader(), " Nr.  Text                                      Prog Kl Fl K");
    const char* keys[] = {"Hilfe", "Ändern", "Neu", "Löschen", "Rechte", "", "Warum?", "", "", ""};
    for (int k = 0; k < 10; ++k) encoding::putText(data_.listKey(k + 1), keys[k]);
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
      char number[32], program[64];
      std::snprintf(number, sizeof number, "%4zu  ", (i + 1) * 10);
      std::snprintf(program, sizeof program, "  P%03zu N  _  %s", i, i % 3 == 0 ? "*" : "");
      const std::string text = kRows[i];
      const std::size_t pad = 40 - std::min<std::size_t>(40, encoding::cp850::lengthOf(text));
      encoding::putText(data_.listRow(i + 1), number + text + std::string(pad, ' ') + program);
    }
    (void)encoding::putDigits(data_.listCount(), static_cast<long long>(std::size(kRows)));
    (void)encoding::putDigits(data_.listSelection(), 1);
    (void)encoding::putDigits(data_.listTop(), 1);
    encoding::putText(data_.formTitle(), "Eintrag 99/10 ändern");
    const char* labels[] = {"Text", "Programm", "Zugriffsklasse (M, H, N)"};
    const char* presets[] = {"Pflege der Menüdatei", "PX03", "M"};
    const int widths[] = {40, 4, 1};
    for (int f = 0; f < 3; ++f) {
      encoding::putText(data_.formLabel(f + 1), labels[f]);
      (void)encoding::putDigits(data_.formWidth(f + 1), widths[f]);
      encoding::putText(data_.formValue(f + 1), presets[f]);
    }
    (void)encoding::putDigits(data_.formCount(), 3);
    (void)encoding::putDigits(data_.formFocus(), 1);
  }

  // One call; false when DSGRUN could not be loaded.
  bool call(const std::string& procedure) {
    control_.setProcedure(procedure);
    const auto out = loader_.call("DSGRUN", control_.data(), data_.data());
    if (!out.loaded) {
      std::fprintf(stderr, "dsgdemo: DSGRUN: %s\n", loader_.lastError().c_str());
      return false;
    }
    control_.setProcedure("");
    return true;
  }
  bool failed() const { return control_.errorCode() != 0; }

  void message(const char* text, const char* file = "", const char* op = "",
               const char status[2] = "  ") {
    encoding::putText(data_.message(), text);
    encoding::putRaw(data_.message().subspan(70, 5), file);
    encoding::putRaw(data_.message().subspan(75, 4), op);
    data_.message()[79] = status[0];
    data_.message()[80] = status[1];
    data_.setReply(' ');
  }

  std::string report(const std::string& procedure) const {
    char line[256];
    if (procedure == "LISTE") {
      std::snprintf(line, sizeof line,
                    "LISTE error=%u/%u/%u event=%u row=%.4s selection=%.4s position=%.4s",
                    control_.errorCode(), control_.errorDetail1(), control_.errorDetail2(),
                    data_.eventCode(), data_.listChosen().data(), data_.listSelection().data(),
                    data_.listTop().data());
      return line;
    }
    if (procedure == "MASKE") {
      std::snprintf(line, sizeof line, "MASKE error=%u/%u/%u reply=%c values=",
                    control_.errorCode(), control_.errorDetail1(), control_.errorDetail2(),
                    data_.reply() == ' ' ? '_' : data_.reply());
      std::string out = line;
      for (int f = 1; f <= 3; ++f)
        out += (f > 1 ? "|" : "") + encoding::getText(data_.formValue(f));
      return out;
    }
    std::snprintf(
        line, sizeof line,
        "%s error=%u/%u/%u event=%u row=%.4s selection=%.4s position=%.4s reply=%c input=",
        procedure.c_str(), control_.errorCode(), control_.errorDetail1(), control_.errorDetail2(),
        data_.eventCode(), data_.chosenRow().data(), data_.selection().data(),
        data_.listPosition().data(), data_.reply() == ' ' ? '_' : data_.reply());
    return line + encoding::getText(data_.inputText());
  }

  // The procedure of a step, after filling what it shows.
  std::string prepare(const std::string& step) {
    if (step == "menu") {
      data_.setEventCode(99);
      return "NEUSTART";
    }
    if (step == "frage") return message("Wollen Sie das System verlassen?"), "BOX-FRAGE";
    if (step == "fehler-ok") return message("Fehler", "FX01", "OPEN", "35"), "BOX-FEHLER-OK";
    if (step == "fehler-rc")
      return message("Datei zur Zeit gesperrt - bitte warten!", "FX02", "OPEN", "9A"),
             "BOX-FEHLER-RC";
    if (step == "warnung") return message("Sie sind nicht berechtigt!"), "BOX-WARNUNG";
    if (step == "info")
      return message("Programmaufruf durch Administrator z.Z. gesperrt."), "BOX-INFO";
    if (step == "text") return "TEXT-ANZEIGEN";
    if (step == "eingabe" || step == "verdeckt") {
      message(step == "eingabe" ? "Name des Mitglieds:" : "Kennwort:");
      encoding::putText(data_.inputText(), step == "eingabe" ? "Mül" : "");
      data_.setInputHidden(step == "verdeckt" ? 'J' : 'N');
      return "EINGABE";
    }
    if (step == "desktop") return "SETZEN-DESKTOP-WINDOW";
    if (step == "liste") {
      data_.setEventCode(99);
      message("* = überschreibt der Menükatalog beim nächsten Lauf");
      return "LISTE";
    }
    if (step == "maske") {
      message("");
      return "MASKE";
    }
    return "";
  }

  void end() {
    control_.setSetCommand(C::kEnd);
    call("");
  }

  D& data() { return data_; }

 private:
  platform::DlProgramLoader loader_;
  C control_;
  D data_;
};

// What a called program might do: write over the screen, leave line mode on.
void foreignOutput() {
  if (std::FILE* tty = std::fopen("/dev/tty", "w")) {
    std::fputs("\033[10;20HFREMDE AUSGABE", tty);
    std::fflush(tty);
    termios t{};
    if (::tcgetattr(fileno(tty), &t) == 0) {
      t.c_lflag |= ICANON | ECHO;
      ::tcsetattr(fileno(tty), TCSANOW, &t);
    }
    std::fclose(tty);
  }
}

int tour(Demo& demo) {
  if (!demo.call("") || demo.failed()) return 1;
  for (;;) {
    demo.prepare("menu");
    if (!demo.call("NEUSTART") || demo.failed()) return 1;
    const auto event = demo.data().eventCode();
    std::string step;
    if (event == 0) step = "frage";
    else if (event == 48) {
      const auto row = encoding::getDigits(demo.data().chosenRow()).value_or(0);
      const std::string text = row > 0 ? encoding::getText(demo.data().row(row)) : "";
      demo.message(("Gewählt: " + text).c_str());
      if (!demo.call("BOX-INFO")) return 1;
      continue;
    } else if (event == 1 || event == 10) step = "text";
    else if (event == 2) step = "warnung";
    else if (event == 3) step = "eingabe";
    else if (event == 4) step = "fehler-rc";
    else if (event == 6) step = "fehler-ok";
    else continue;
    if (!demo.call(demo.prepare(step)) || demo.failed()) return 1;
    if (step == "frage" && demo.data().reply() == 'J') break;
  }
  demo.end();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string resultFile;
  std::vector<std::string> steps;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--result") == 0 && i + 1 < argc) resultFile = argv[++i];
    else steps.push_back(argv[i]);
  }
  Demo demo;
  if (steps.empty()) return tour(demo);

  std::vector<std::string> lines;
  bool ok = demo.call("");
  lines.push_back(demo.report("START"));
  for (const std::string& step : steps) {
    if (!ok || demo.failed()) break;
    if (step == "fremd") {
      foreignOutput();
      lines.push_back("FREMD");
      continue;
    }
    const std::string procedure = demo.prepare(step);
    if (procedure.empty()) {
      std::fprintf(stderr, "dsgdemo: unknown step %s\n", step.c_str());
      ok = false;
      break;
    }
    ok = demo.call(procedure);
    lines.push_back(demo.report(procedure));
  }
  demo.end();
  std::ofstream file;
  if (!resultFile.empty()) file.open(resultFile);
  std::ostream& out = resultFile.empty() ? std::cout : file;
  for (const std::string& l : lines) out << l << '\n';
  return ok && !demo.failed() ? 0 : 2;
}
