// PXEXTFH: the external file handler behind every file operation of a COBOL
// program compiled with `cobc -m -fcallfh=PXEXTFH`. Indexed files the store
// can hold go to the keyed file store (the same files, record locks and
// statuses as the launcher and pxadmin); every other file (line sequential
// reports, sequential and relative files, indexed files with alternate keys)
// goes on to the run-time's own handler unchanged.
//
// Units: before a program's first COMMIT or ROLLBACK every change is
// permanent at once, as for the launcher. From then on, until the program's
// last file is closed, the changes gather in a unit per file that the next
// COMMIT makes permanent and the next ROLLBACK undoes; a file open I-O
// begins its unit at its first READ or change, so that the record locks it
// takes last until then too. What no COMMIT made permanent is undone when
// the file is closed (by CLOSE, by the run-time's CANCEL or STOP RUN) or the
// process dies.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "cobol/fcd.h"
#include "datafiles/keyed_file.h"

namespace cobol {

// Which store file a COBOL file name means. The four data files are known by
// their names with or without ".DAT", in any case; their layout is fixed.
struct FileChoice {
  std::string name;                            // file name in the store
  std::string directory;                       // empty: the current directory
  const datafiles::FileSpec* known = nullptr;  // one of the four data files, else null
};
FileChoice chooseFile(std::string_view fcdName);

class Handler {
 public:
  // Forwards an operation on a file that is not ours to the run-time's own
  // handler (libcob's EXTFH).
  using PassOn = std::function<int(unsigned char* opcode, FCD3* fcd)>;
  // The store an OPEN goes to: asked at every OPEN, so that the files of a
  // program follow the store its caller installed for the programs it calls.
  using StoreSource = std::function<datafiles::FileStore&()>;

  Handler(StoreSource store, PassOn passOn);
  ~Handler();
  Handler(const Handler&) = delete;
  Handler& operator=(const Handler&) = delete;

  // The entry point: sets fcd->fileStatus (two bytes, "9" + binary byte for
  // the store's own codes) and returns 0, or what the run-time's handler
  // returned for a file passed on.
  int operator()(unsigned char* opcode, FCD3* fcd);
  int call(unsigned op, FCD3* fcd);

  // COMMIT and ROLLBACK of the run unit: every file the handler holds.
  // Returns the first status that is not "00" (or "00").
  datafiles::FileStatus commitAll();
  datafiles::FileStatus rollbackAll();

  // The run-time's bookkeeping (see runtime_adapter.cc): the cob_file a
  // program's OPEN belongs to, so that its later close by the run-time can
  // be routed here.
  // `exclusive`: OPEN ... WITH LOCK or SHARING WITH NO OTHER, which
  // GnuCOBOL 3.1 passes to cob_extfh_open but not in the FCD.
  void setOpeningFile(void* cobFile, bool exclusive = false) {
    openingCobFile_ = cobFile;
    openingExclusive_ = exclusive;
  }
  struct Known {
    FCD3* fcd = nullptr;
    bool ours = false;  // false: passed on to the run-time's handler
    bool open = false;  // its OPEN succeeded and no CLOSE came since
  };
  // The FCD the run-time made for `cobFile`, if the handler has seen it
  // opened and not yet closed.
  std::optional<Known> byCobFile(const void* cobFile) const;
  bool holdsOpen(const void* cobFile) const;
  bool owns(const void* cobFile) const;

  // True while an operation is with the run-time's own handler: what it
  // calls of the run-time's file functions is its own business.
  bool passingOn() const { return passingOn_ > 0; }

  // The key definition block and file name buffer of the FCD that the last
  // CLOSE was about; the run-time frees the FCD after that CLOSE but not
  // these (see runtime_adapter.cc). Reset by every operation.
  struct FcdParts {
    KDB* kdb = nullptr;
    char* name = nullptr;
  };
  FcdParts takeClosedParts() { return std::exchange(closedParts_, FcdParts{}); }

  std::size_t openFiles() const;
  bool unitMode() const { return unitMode_; }

 private:
  struct File;
  datafiles::FileStatus open(unsigned op, FCD3* fcd, File& f);
  datafiles::FileStatus close(FCD3* fcd, File& f);
  datafiles::FileStatus read(unsigned op, FCD3* fcd, File& f);
  datafiles::FileStatus start(unsigned op, FCD3* fcd, File& f);
  datafiles::FileStatus change(unsigned op, FCD3* fcd, File& f);
  datafiles::FileStatus unlock(File& f);
  datafiles::FileStatus ensureUnit(File& f);
  datafiles::FileStatus endUnit(File& f, bool commit);
  bool decideOwnership(const FCD3& fcd, File& f, datafiles::FileStatus* refusal);

  StoreSource store_;
  PassOn passOn_;
  std::unordered_map<FCD3*, std::unique_ptr<File>> files_;
  void* openingCobFile_ = nullptr;
  bool openingExclusive_ = false;
  int passingOn_ = 0;
  FcdParts closedParts_;
  int passOn(unsigned char* opcode, FCD3* fcd);
  bool unitMode_ = false;
};

// The process's one handler (the COBOL run-time is one per process too),
// on the store of the programs called by name.
Handler& handler();

}  // namespace cobol
