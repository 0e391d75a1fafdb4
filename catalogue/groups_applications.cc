// The groups that add whole applications to the top-level menu. Data only:
// one row per menu entry, in the order the run writes them.
#include "catalogue/group_tables.h"

namespace catalogue {
namespace {
using namespace rows;

// Task-management group (application 17).
constexpr Entry kTaskManagement[] = {
    {0, 17, "Aufgabenverwaltung", "", 'N', N},
    {17, 10, "Aufgabenliste", "PA64", 'N', N},
    {17, 20, "Erfassung der erledigten Aufgaben", "PA63", 'N', N},
    {17, 30, "Pflege der Aufgabendatei", "PA62", 'N', N},
    {17, 40, "Aufgaben aus Daueraufgaben erstellen", "PA61", 'N', N},
    {17, 50, "Pflege der Daueraufgabendatei", "PA60", 'N', N},
    {17, 70, "Aufgaben als EXCEL-Datei ausgeben", "PA65", 'N', N},
    {17, 75, "Daueraufgaben als EXCEL-Datei ausgeben", "PA67", 'N', N},
    {17, 80, "Löschen erledigte Aufgaben aus Vorjahren", "PA66", 'N', N},
    {17, 90, "Reorg der Aufgabendatei", "PA68", 'N', N},
    {17, 92, "Reorg der Daueraufgabendatei", "PA69", 'N', N},
};

// Events group (application 12). "FRAKTO" registers participants with "PV6V".
constexpr Entry kEvents[] = {
    {0, 12, "Veranstaltungen", "", 'N', N},
    {12, 10, "Pflege der Veranstaltungsdatei", "PV60", 'N', N},
    {12, 20, "Erfassung der Veranstaltungsteilnehmer", "PV61", 'N', N, editionProgram("FRAKTO", "PV6V")},
    {12, 30, "Teilnehmerliste", "PV62", 'N', N},
    {12, 40, "Teilnehmerstatistik", "PV6S", 'N', N},
    {12, 600, "Geheime Wahlen bearbeiten", "", 'N', N},
    {12, 900, "Reorg der Veranstaltungsdateien", "PV69", 'N', N},
    {600, 10, "Pflege der Wahlgangsdateidatei", "PV65", 'N', N},
    {600, 12, "Kandidatenliste Wahlgang", "PV6B", 'N', N},
    {600, 15, "Teilnehmerliste Wahlgang", "PV6W", 'N', N},
    {600, 20, "Drucken der Stimmzettel", "PV66", 'N', N},
    {600, 30, "Drucken Wahlergebnisblatt", "PV67", 'N', N},
    {600, 40, "Eingabe der Stimmzahlen", "PV63", 'N', N},
    {600, 50, "Drucken Ergebnisliste", "PV64", 'N', N},
};

// Hall-management group (application 18): installations "30005", "00003", "99998". The run removes
// 510/30 between 510/126 and 510/300.
constexpr Entry kHallManagement[] = {
    {0, 18, "Hallenverwaltung", "", 'N', N},
    {18, 502, "Auswertungen", "", 'N', N},
    {502, 10, "Hallenbelegungsplan", "PH15", 'N', blank},
    {502, 20, "Belegungsübersicht aus Plandatei", "PH17", 'N', blank},
    {502, 22, "Belegungsübersicht aus Dauerplandatei", "PH13", 'N', blank},
    {502, 30, "Hallenbelegungsstatistik", "PH60", 'N', blank},
    {502, 31, "Hallenbelegungsstatistik Sonderzeiten", "PH62", 'N', blank, installation("30005")},
    {502, 32, "Meldung Bezirksregierung", "PH61", 'N', blank, installation("30005")},
    {502, 35, "Nutzungsübersicht", "PH63", 'N', blank, installation("30005")},
    {502, 50, "Adressauswahl über Plandatei", "PH70", 'N', blank},
    {18, 505, "Bearbeiten der Plandaten", "", 'N', N},
    {18, 510, "Bearbeiten der Abrechnungsdaten", "", 'N', N},
    {18, 515, "Bearbeiten der Abrechnungsvorlagen", "", 'N', N},
    {18, 518, "Bearbeiten der Hallendatei", "", 'N', N},
    {18, 520, "Bearbeiten der Platzdatei", "", 'N', N},
    {18, 525, "Bearbeiten der Dauerplandatei", "", 'N', N},
    {18, 530, "Bearbeiten der Sperrdatei", "", 'N', N},
    {505, 5, "Ist-Datenerfassung Plandatei", "PH21", 'N', blank},
    {505, 10, "Pflege der Plandatei", "PH12", 'N', blank},
    {505, 15, "Hallenbelegungsplan", "PH15", 'N', blank},
    {505, 17, "Hallenbelegungsübersicht", "PH17", 'N', blank},
    {505, 20, "Erstellen Plansätze aus Dauerplandatei", "PH14", 'N', blank},
    {505, 50, "Adressauswahl über Plandatei", "PH70", 'N', blank},
    {505, 800, "Löschen Plansätze aus Vorjahren", "PH41", 'H', blank},
    {505, 900, "Reorg der Plandatei", "PH18", 'N', blank},
    {510, 5, "Erstellen Abrechnungssätze aus Plandatei", "PH26", 'N', blank},
    {510, 10, "Pflege der Abrechnungsdatei", "PH20", 'N', blank},
    {510, 20, "Erstellen Rechnungssätze", "PH22", 'N', blank},
    {510, 22, "Erstellen Jahresrechnungssätze", "PH22", 'N', blank},
    {510, 100, "Pflege der Rechnungsdatei", "PM44", 'N', N},
    {510, 126, "Verarbeiten der Rechnungsdatei", "", 'N', N},
    {510, 300, "Anzeige erledigte Abrechnungssätze", "PH24", 'N', blank},
    {510, 800, "Löschen Abrechnungssätze aus Vorjahren", "PH40", 'H', blank},
    {510, 900, "Reorg der Abrechnungsdatei", "PH49", 'N', blank},
    {515, 10, "Pflege der Abrechnungsvorlagendatei", "PH01", 'N', blank},
    {515, 90, "Reorg der Abrechnungsvorlagendatei", "PH98", 'N', blank},
    {518, 10, "Pflege der Hallendatei", "PH05", 'N', blank},
    {518, 900, "Reorg der Hallendatei", "PH97", 'N', blank},
    {520, 10, "Pflege der Platzdatei", "PH10", 'N', blank},
    {520, 90, "Reorg der Platzdatei", "PH99", 'N', blank},
    {525, 10, "Pflege der Dauerplandatei", "PH16", 'N', blank},
    {525, 20, "Belegungsübersicht aus Dauerplandatei", "PH13", 'N', blank},
    {525, 900, "Reorg der Dauerplandatei", "PH19", 'N', blank},
    {530, 10, "Pflege der Sperrdatei", "PH04", 'N', blank},
    {530, 800, "Löschen Sperrsätze aus Vorjahren", "PH44", 'H', blank},
    {530, 900, "Reorg der Sperrdatei", "PH96", 'N', blank},
    {18, 900, "Einstellungen", "PH00", 'N', blank},
};

// Order-management group (application 15): "VESKAN" or installation "99999".
constexpr Entry kOrderManagement[] = {
    {0, 15, "Auftragsverwaltung", "", 'N', N},
    {15, 5, "Pflege der Adressdatei", "PM01", 'N', N},
    {15, 10, "Auftragsbearbeitung", "PA22", 'N', N},
    {15, 355, "Bearbeiten der Kostenarten", "", 'N', N},
    {15, 360, "Auswertungen", "", 'N', N},
    {15, 900, "Löschen erledigte Aufträge", "PA80", 'N', N},
    {15, 990, "Reorg der Auftragsdatei", "PA90", 'N', N},
    {360, 10, "Auftragsbestand als EXCEL-Datei ausgeben", "PA25", 'N', N},
};

}  // namespace

constinit const std::span<const Entry> kTaskManagementRows{kTaskManagement};
constinit const std::span<const Entry> kEventsRows{kEvents};
constinit const std::span<const Entry> kHallManagementRows{kHallManagement};
constinit const std::span<const Entry> kOrderManagementRows{kOrderManagement};

}  // namespace catalogue
