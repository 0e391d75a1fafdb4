// The edition groups: written by identification code and edition options. Data only:
// one row per menu entry, in the order the run writes them.
#include "catalogue/group_tables.h"

namespace catalogue {
namespace {
using namespace rows;

// Member group: member-based installations. The selection group follows its first entry.
constexpr Entry kMember[] = {
    {5, 500, "Mitgliederstammblätter aus Auswahldatei", "", 'N', J},
    {930, 10, "Anzeige der Mitgliederhistorie", "PV40", 'H', none},
    {930, 12, "Änderungsprotokoll Mitgliederkopfdatei", "PMH1", 'H', none},
    {930, 14, "Änderungsprotokoll Mitgliederabt.Datei", "PMH2", 'H', none},
    {25, 10, "Mitgliederkonto und Storno", "PM70", 'N', N},
    {930, 510, "Löschen der Mitgliederhistorie", "PV42", 'H', none},
    {940, 10, "EXCEL-Datei Mitgliederkopfdaten", "PV35", 'H', none},
    {940, 20, "EXCEL-Datei Mitgliederabteilungsdaten", "PV36", 'H', none},
    {940, 30, "EXCEL-Datei Mitgliedertextdaten", "PV37", 'H', none},
    {940, 35, "EXCEL-Datei Mitgliederdaten nach Abt.", "PV49", 'N', blank},
};

// Selection group (menu 500): inside the member and address groups, after their first entry.
constexpr Entry kSelection[] = {
    {500, 10, "Auswahl der Adressen", "PM30", 'N', J},
    {500, 20, "manuelle Adressauswahl", "PM19", 'N', J},
    {500, 30, "Anzeige der ausgewählten Adressen", "PM3D", 'N', J},
    {500, 50, "Drucken Stammblätter", "PMM1", 'N', J},
};

// Address group: address-based installations. The selection group follows its first entry.
constexpr Entry kAddress[] = {
    {5, 500, "Adressstammblätter aus Auswahldatei", "", 'N', J},
    {930, 10, "Anzeige der Adresshistorie", "PV40", 'H', none},
    {930, 12, "Änderungsprotokoll Adresskopfdatei", "PMH1", 'H', none},
    {930, 14, "Änderungsprotokoll Adressabt. Datei", "PMH2", 'H', none},
    {25, 10, "OP-Konto und Storno", "PM70", 'N', N},
    {930, 510, "Löschen der Adresshistorie", "PV42", 'H', none},
    {940, 10, "EXCEL-Datei Adresskopfdaten", "PV35", 'H', none},
    {940, 20, "EXCEL-Datei Adressabteilungsdaten", "PV36", 'H', none},
    {940, 30, "EXCEL-Datei Adresstextdaten", "PV37", 'H', none},
};

// State-association group: "GILDAX" with second edition option "B".
constexpr Entry kStateAssociation[] = {
    {200, 10, "Formular Mitgliedermeldung", "PB7B", 'N', J},
    {200, 20, "Blankoformular Mitgliedermeldung", "PB7C", 'N', J},
    {205, 10, "Mitglieder", "PB7M", 'N', J},
    {206, 10, "Mitglieder", "PB7K", 'N', J},
    {940, 100, "Vereine und Mitglieder für Landesverb.", "PBB5", 'H', J},
    {202, 5, "GILDAX-Schnittstellendatei einlesen", "PB8J", 'N', J},
    {210, 40, "Preisliste für GILDAX-Schnittstelle", "PB82", 'N', J},
    {210, 50, "Preisdatei für GILDAX erstellen", "PB92", 'N', J},
};

// Cycling-federation group: "PEDRIX" with second edition option "V".
constexpr Entry kCyclingFederation[] = {
    {150, 114, "Serienmail aus Auswahldatei versenden", "PM3S", 'N', N},
    {170, 20, "Vereinsliste Internet", "PB50", 'N', J},
    {170, 30, "EXCEL-Datei aller Vereine mit Sparten", "PB14", 'N', J},
    {172, 114, "Serienmail aus Auswahldatei versenden", "PM3S", 'N', N},
    {202, 5, "PEDRIX-Schnittstellendatei einlesen", "PB8I", 'N', J},
    {210, 40, "Preisliste für PEDRIX-Schnittstelle", "PB82", 'N', J},
    {210, 50, "Preisdatei für PEDRIX Verein erstellen", "PB92", 'N', J},
    {215, 12, "Bearbeiten SEPA-Daten", "PM4U", 'N', J},
    {215, 15, "SEPA-Lastschriften", "PM55", 'N', J},
    {215, 16, "SEPA-Gutschriften", "PM55", 'N', J},
    {320, 114, "Serienmail aus Auswahldatei versenden", "PM3S", 'N', N},
    {940, 100, "Exportieren für PEDRIX für Bezirke", "PBB3", 'H', J},
    {202, 75, "Drucken Radsportpässe", "PB89", 'N', J},
    {203, 10, "Liste offene Bestellungen nach Eingang", "PB8O", 'N', J},
    {203, 20, "Liste offene Bestellungen nach Verein", "PB8O", 'N', J},
    {207, 30, "Einzelmitglieder nach Bezirk", "PB77", 'N', J},
    {207, 35, "EM-Wertungskarten nach Bezirk", "PB77", 'N', J},
    {207, 97, "LSB-Meldung Einzelmitglieder", "PB78", 'N', J},
    {205, 15, "Versicherungen", "PB72", 'N', J},
    {207, 15, "Versicherungen", "PB74", 'N', J},
    {940, 110, "Export WK-Inhaber nach EXPORT\\FL58.DAT", "PB93", 'N', J, notInstallation("02003")},
    {3, 400, "Mitgliederstatistik", "PB79", 'N', J, installation("20109")},
    {940, 200, "Vereinsdaten als EXCEL ausgeben", "PVVE", 'N', J, installation("20109")},
    {940, 210, "Mitgliederdaten als EXCEL ausgeben", "PVMI", 'N', J, installation("20109")},
};

// Travel group: "TOURAL".
constexpr Entry kTravel[] = {
    {25, 40, "Sammelkontoauszüge nach Reisezeitraum", "PM6S", 'N', N, installation("00168")},
    {55, 40, "Radverleih.xlsx ausgeben", "PD46", 'N', blank, installation("00168")},
    {55, 60, "Werkstattliste", "PD47", 'N', blank, installation("00168")},
    {714, 5, "Radverleih.xlsx ausgeben", "PD46", 'N', blank, installation("00168")},
    {55, 50, "Buchungen.xlsx ausgeben", "PD51", 'N', blank, installation("00168")},
    {714, 2, "Werkstattliste", "PD47", 'N', blank, installation("00168")},
    {711, 10, "Ankunftsliste", "PD49", 'N', blank, installation("00168")},
    {711, 40, "Rückflugliste neu", "PD48", 'N', blank, installation("00168")},
    {716, 3, "Transportübersicht", "PD50", 'N', blank, installation("00168")},
    {710, 90, "Pflege der Unterbringungsartendatei", "PD59", 'N', blank},
    {710, 65, "Pflege der Preisdatei Radverleih", "PD00", 'N', blank},
    {714, 40, "Verleihliste nach Rahmengröße", "PD31", 'N', blank},
    {715, 720, "Shopliste", "PD44", 'N', blank},
    {715, 760, "Geburtstagsliste Reiseteilnehmer", "PD64", 'N', blank},
    {716, 6, "Transferliste Werkstatt", "PD45", 'N', blank},
    {728, 100, "Adressaufkleber mit Hinflugdatum", "PD43", 'N', blank},
    {728, 112, "Massenmail aus Auswahldatei", "PM3M", 'N', blank},
    {715, 727, "Mahnung für Restzahlung", "PD41", 'N', J},
    {715, 730, "Reisegruppenübersicht", "PD42", 'N', J},
    {739, 7, "Reorg der Adressdateien", "PM10", 'N', J},
    {739, 65, "Reorg der Preisdatei Radverleih", "PD89", 'N', J},
    {739, 85, "Reorg der Unterbringungsartendatei", "PD69", 'N', J},
};

// Census group (menu 105): "GILDAX" with first edition option "N", installation not "00111".
constexpr Entry kCensus[] = {
    {105, 39, "Bestandserhebung als CSV-Datei", "PM6L", 'N', blank},
    {105, 38, "Bestandserhebung nach Jahrgang", "PM6J", 'N', blank},
    {105, 40, "Bestandserhebung nach Abteilung", "PM6B", 'N', blank},
    {105, 45, "Bestandserhebung nach Sparte (Excel)", "PM6K", 'N', blank},
};

// Cycling-club group: "GILDAX" with first edition option "N" and installation "00111"; "PEDRIX"
// with first edition option "N".
constexpr Entry kCyclingClub[] = {
    {20, 118, "BDR-Bestellungen berechnen (Mitglieder)", "PL36", 'N', blank},
    {60, 415, "BDR-Meldelisten", "", 'N', blank},
    {100, 40, "Pflege der Versicherungen", "PL28", 'N', blank},
    {105, 39, "Bestandserhebung als CSV-Datei", "PM6L", 'N', blank},
    {105, 38, "Bestandserhebung nach Jahrgang", "PM6J", 'N', blank},
    {105, 40, "Bestandserhebung nach Abteilung", "PM6B", 'N', blank},
    {105, 45, "Bestandserhebung nach Sparte (Excel)", "PM6K", 'N', blank},
    {410, 30, "Pflege der Bestelldatei", "PL30", 'N', blank},
    {410, 411, "Abrechnung", "", 'N', blank},
    {410, 700, "Löschen Abrechnungssätze aus Vorjahren", "PL40", 'N', blank},
    {410, 710, "Reorg der Abrechnungsdateien", "PL49", 'N', blank},
    {410, 800, "Verbandsrückmeldung verarbeiten (.CSV)", "PL37", 'N', blank},
    {411, 2, "Löschen der Rechnungsdatei", "PM49", 'N', J},
    {411, 10, "Bestellabrechnung", "PL34", 'N', blank},
    {411, 45, "Verarbeitung der Rechnungsdatei", "PM45", 'N', blank},
    {411, 46, "Rechnungsausgangsliste", "PM46", 'N', blank},
    {411, 55, "Datenträgeraustausch", "PM55", 'N', blank},
    {415, 10, "BDR-Meldelisten", "PR23", 'N', blank},
    {415, 20, "Pflege der Lizenznummern", "PM02", 'N', blank},
    {415, 30, "Pflege der Klassen", "PM06", 'N', blank},
    {60, 10, "Adressdatei für Verband ausgeben", "PL50", 'N', blank, region("BAY")},
};

// Honours group: "GILDAX" and "PEDRIX" with second edition option "V" or "B".
constexpr Entry kHonours[] = {
    {3, 307, "Ehrungen", "", 'N', N},
    {300, 500, "Dubletten ermitteln", "PRDU", 'N', N, notInstallation("02003")},
    {307, 10, "Anzeige der Ehrungshistorie", "PE02", 'N', N},
    {307, 30, "Ehrungsliste", "PE22", 'N', N},
    {307, 40, "Ehrungen als EXCEL-Datei ausgeben", "PE23", 'N', N},
    {307, 835, "Bearbeiten der Ehrungsschlüssel-Tabelle", "", 'N', N},
    {307, 900, "Reorg der Ehrungsdatei", "PE91", 'N', blank},
    {310, 40, "Geburtstagsliste", "PR33", 'N', J},
    {310, 50, "Jubiläumsliste", "PR34", 'N', J},
    {307, 20, "Anzeige der Ehrungshistorie Teilnehmer", "PE02", 'N', N},
};

// Donations group: every member- or address-based "GILDAX" and "PEDRIX"; "DONAMO".
constexpr Entry kDonations[] = {
    {925, 114, "Serienmail aus Auswahldatei versenden", "PM3S", 'N', N},
    {940, 50, "EXCEL-Datei Spenderdaten", "PV50", 'H', N},
    {940, 60, "EXCEL-Datei Spendendaten", "PV51", 'H', N},
};

// Sports-events group (application 60). An existing 0/60 keeps what it holds.
constexpr Entry kSportsEvents[] = {
    {0, 60, "Sportbetrieb", "", 'N', blank, kOnlyIfNew},
    {60, 450, "RTF-Veranstaltungen", "", 'N', blank},
    {450, 10, "Pflege der Veranstaltungsdatei", "PL51", 'N', blank},
    {450, 20, "Anmeldung mit Wertungskarte", "PL52", 'N', blank},
    {450, 30, "Anmeldung ohne Wertungskarte", "PL53", 'N', blank},
    {450, 40, "Ankunftsbearbeitung", "PL54", 'N', blank},
    {450, 451, "Auswertungen", "", 'N', blank},
    {451, 10, "Teilnehmerliste gesamt", "PL56", 'N', blank},
    {451, 11, "Teilnehmerliste angekommen", "PL56", 'N', blank},
    {451, 12, "Teilnehmerliste nicht angekommen", "PL56", 'N', blank},
    {451, 20, "Vereinswertung nach Anzahl Teilnehmer", "PL57", 'N', blank},
    {451, 21, "Vereinswertung nach Anzahl km", "PL57", 'N', blank},
    {451, 22, "Vereinswertung nach Anzahl Punkte", "PL57", 'N', blank},
    {450, 900, "Reorg der Veranstaltungsdatei", "PL59", 'N', blank},
    {450, 920, "Reorg der Vereinsdatei", "PL62", 'N', blank},
};

// State-import group: "PEDRIX" with second edition option "B".
constexpr Entry kStateImport[] = {
    {935, 10, "Daten vom Landesverband importieren", "PBB4", 'H', blank},
};

// Inventory group: the five editions.
constexpr Entry kInventory[] = {
    {773, 60, "Inventarverzeichnis", "PMA2", 'N', N},
    {773, 790, "Inventur", "", 'N', N},
    {790, 10, "Inventuren verwalten", "PMAI", 'H', N},
    {790, 20, "Inventuraufnahmeformular", "PMA8", 'N', N},
    {790, 30, "Inventurdatenerfassung", "PMA4", 'N', N},
    {790, 40, "Inventurliste", "PMA6", 'N', N},
    {790, 50, "Inventurdifferenzliste", "PMA7", 'N', N},
    {790, 90, "Reorg der Inventurdateien", "PMAR", 'N', N},
};

}  // namespace

constinit const std::span<const Entry> kMemberRows{kMember};
constinit const std::span<const Entry> kSelectionRows{kSelection};
constinit const std::span<const Entry> kAddressRows{kAddress};
constinit const std::span<const Entry> kStateAssociationRows{kStateAssociation};
constinit const std::span<const Entry> kCyclingFederationRows{kCyclingFederation};
constinit const std::span<const Entry> kTravelRows{kTravel};
constinit const std::span<const Entry> kCensusRows{kCensus};
constinit const std::span<const Entry> kCyclingClubRows{kCyclingClub};
constinit const std::span<const Entry> kHonoursRows{kHonours};
constinit const std::span<const Entry> kDonationsRows{kDonations};
constinit const std::span<const Entry> kSportsEventsRows{kSportsEvents};
constinit const std::span<const Entry> kStateImportRows{kStateImport};
constinit const std::span<const Entry> kInventoryRows{kInventory};

}  // namespace catalogue
