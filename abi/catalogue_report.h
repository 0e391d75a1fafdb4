// What the catalogue run PX07 leaves in the common area for a caller that
// runs it by name: 23 bytes at offset 1250, in a range that belongs to called
// programs. Outcome (1 character: "0" built, "1" a file could not be opened,
// "2" not committed, "3" the screen set failed; blank: PX07 did not run),
// then the counts as digits: new entries (5), rewritten entries (5), kept
// entries (5), permission records written (7).
#pragma once

#include <optional>

#include "abi/common_area.h"
#include "encoding/field.h"

namespace pxabi {

class CatalogueReport : public encoding::FixedRecord<23> {
 public:
  using Field = encoding::Field;
  static constexpr Field kOutcome{0, 1}, kNewEntries{1, 5}, kRewritten{6, 5}, kKept{11, 5},
      kPermissions{16, 7};
  static_assert(encoding::tiles({kOutcome, kNewEntries, kRewritten, kKept, kPermissions}, kSize));
  static_assert(kSize == CommonArea::kCatalogueReport.width);

  CatalogueReport() = default;  // blank: no report
  // The report range of `area`, and back.
  static CatalogueReport from(const CommonArea& area) {
    CatalogueReport r;
    encoding::putRaw(r.bytes(), encoding::view(area.catalogueReport()));
    return r;
  }
  void storeIn(CommonArea& area) const { encoding::putRaw(area.catalogueReport(), view()); }

  char outcome() const { return at<kOutcome>()[0]; }
  void setOutcome(char c) { at<kOutcome>()[0] = c; }
  PX_FIELD(newEntries, kNewEntries)
  PX_FIELD(rewritten, kRewritten)
  PX_FIELD(kept, kKept)
  PX_FIELD(permissions, kPermissions)
};

}  // namespace pxabi
