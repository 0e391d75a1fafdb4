// UX07: the keys of the menu file that the catalogue's next run writes or
// takes away for the installation in the common area (identification code,
// edition options, installation number, region code), so that the menu
// maintenance can mark what the next release will replace. Records: the
// common area and the key block (pxabi::CatalogueKeysBlock), which it fills.
// Return value 0, or 2 without both records.
#include "abi/common_area.h"
#include "abi/program.h"
#include "abi/utility_blocks.h"
#include "catalogue/groups.h"
#include "programs/module.h"

PX_PROGRAM(UX07) {
  if (record2 == nullptr) return programs::kBadCall;
  return programs::withCommonArea(record1, [record2](pxabi::CommonArea& common) {
    const auto keys = catalogue::ownedKeys(catalogue::Installation::from(common));
    return programs::withRecord<pxabi::CatalogueKeysBlock>(
        record2, [&keys](pxabi::CatalogueKeysBlock& block) {
          block.clear();
          for (const catalogue::OwnedKey& k : keys)
            if (!block.add({k.menu, k.entry, static_cast<char>(k.what)})) break;
          return programs::kDone;
        });
  });
}
