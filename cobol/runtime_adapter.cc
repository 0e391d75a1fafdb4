// The run-time adapter: GnuCOBOL 3.1 hands only part of a -fcallfh program's
// file work to the external handler, and its own bookkeeping of such files
// is wrong in ways that crash or leak. This library therefore defines a few
// of libcob's entry points itself; loaded with RTLD_GLOBAL before libcob
// (the loader does that), its definitions come first in the global scope, so
// that COBOL modules (and libcob's own calls) reach them. Each one calls the
// real function (RTLD_NEXT) and adds what is missing:
//
//  cob_extfh_open  - tells the handler which cob_file the FCD belongs to and
//                    whether the OPEN asks for the file alone (WITH LOCK);
//                    marks a file the handler did not open as closed (libcob
//                    judges the open by the file's previous status); and drops
//                    the FCD a failed OPEN left behind (stale file name).
//  cob_extfh_close - marks the file closed: libcob leaves its open mode as
//                    it was, so that the CANCEL below took it for open; and
//                    frees what libcob leaks of the FCD it frees.
//  cob_close       - what a module's CANCEL (and STOP RUN) calls for every
//                    file: libcob would run its own indexed close on a file
//                    it never opened (NULL dereference: the crash) and keep
//                    the FCD of a file the program left open (a leak, and a
//                    dangling cob_file pointer). A file the handler has seen
//                    is closed through cob_extfh_close instead.
//  cob_unlock_file, cob_commit, cob_rollback - never reach an external
//                    handler in libcob 3.1; they are passed to PXEXTFH.
//  cob_resolve_cobol, cob_call_field - a COBOL CALL of a program in another
//                    language is served by the launcher's loader: libcob's
//                    CANCEL never unloads such a program, so that it would
//                    keep its state after the launcher unloaded it by name.
#include <dlfcn.h>

#include <cstring>
#include <string_view>

#include "cobol/handler.h"
#include "cobol/pxextfh.h"

namespace cobol {
namespace {

using CallFh = int (*)(unsigned char*, FCD3*);

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

struct Real {
  void (*extfhOpen)(CallFh, cob_file*, int, int,
                    cob_field*) = next<decltype(extfhOpen)>("cob_extfh_open");
  void (*extfhClose)(CallFh, cob_file*, cob_field*, int,
                     int) = next<decltype(extfhClose)>("cob_extfh_close");
  void (*close)(cob_file*, cob_field*, int, int) = next<decltype(close)>("cob_close");
  void (*unlockFile)(cob_file*, cob_field*) = next<decltype(unlockFile)>("cob_unlock_file");
  void (*commit)() = next<decltype(commit)>("cob_commit");
  void (*rollback)() = next<decltype(rollback)>("cob_rollback");
  void* (*resolveCobol)(const char*, int, int) = next<decltype(resolveCobol)>("cob_resolve_cobol");
  void* (*callField)(const cob_field*, const cob_call_struct*, unsigned, int) =
      next<decltype(callField)>("cob_call_field");
  bool complete() const {
    return extfhOpen && extfhClose && close && unlockFile && commit && rollback && resolveCobol &&
           callField;
  }
};

// The loader's entry points of programs that are not COBOL (see
// PxExtfhResolveForeign), null until a loader registers.
struct Foreign {
  PxForeignResolver resolve = nullptr;
  void* context = nullptr;
};
Foreign foreign;

void* resolveForeign(std::string_view name) {
  if (foreign.resolve == nullptr || name.empty() || name.size() > 64) return nullptr;
  char buf[65];
  name.copy(buf, name.size());
  buf[name.size()] = '\0';
  return foreign.resolve(foreign.context, buf);
}

const Real& real() {
  static const Real r;
  return r;
}

bool isOurs(CallFh callfh) { return callfh == reinterpret_cast<CallFh>(&PXEXTFH); }

// libcob's cob_extfh_close, then what it leaks of the FCD it frees: the key
// definition block and the file name buffer (about 140 bytes per OPEN).
void closeAndFree(CallFh callfh, cob_file* f, cob_field* fnstatus, int opt, int remfil) {
  (void)handler().takeClosedParts();
  real().extfhClose(callfh, f, fnstatus, opt, remfil);
  const Handler::FcdParts parts = handler().takeClosedParts();
  cob_free(parts.kdb);
  cob_cache_free(parts.name);
}

// The status the handler gave, in the program's FILE STATUS and the file's.
void report(cob_file* f, cob_field* fnstatus, datafiles::FileStatus s) {
  const auto raw = s.raw();
  if (f->file_status != nullptr) std::memcpy(f->file_status, raw.data(), 2);
  if (fnstatus != nullptr && fnstatus->data != nullptr) std::memcpy(fnstatus->data, raw.data(), 2);
}

}  // namespace
}  // namespace cobol

using cobol::handler;
using cobol::real;

extern "C" {

void cob_extfh_open(cobol::CallFh callfh, cob_file* f, const int mode, const int sharing,
                    cob_field* fnstatus) {
  if (!cobol::isOurs(callfh) || handler().passingOn())
    return real().extfhOpen(callfh, f, mode, sharing, fnstatus);
  if (const auto k = handler().byCobFile(f); k && !k->open) {
    // An earlier OPEN of this file failed and left the run-time's FCD in
    // place, with the file name of then: a dynamic ASSIGN would be ignored.
    // Closing it frees that FCD, so the OPEN below makes a fresh one.
    cobol::closeAndFree(callfh, f, nullptr, COB_CLOSE_NORMAL, 0);
  }
  handler().setOpeningFile(f, (static_cast<unsigned>(sharing) & COB_LOCK_OPEN_EXCLUSIVE) != 0);
  real().extfhOpen(callfh, f, mode, sharing, fnstatus);
  handler().setOpeningFile(nullptr);
  if (handler().owns(f) && !handler().holdsOpen(f)) f->open_mode = COB_OPEN_CLOSED;
}

void cob_extfh_close(cobol::CallFh callfh, cob_file* f, cob_field* fnstatus, const int opt,
                     const int remfil) {
  if (!cobol::isOurs(callfh) || handler().passingOn())
    return real().extfhClose(callfh, f, fnstatus, opt, remfil);
  const bool owned = handler().owns(f);
  cobol::closeAndFree(callfh, f, fnstatus, opt, remfil);
  if (owned && !handler().holdsOpen(f)) f->open_mode = COB_OPEN_CLOSED;
}

void cob_close(cob_file* f, cob_field* fnstatus, const int opt, const int remfil) {
  if (!handler().passingOn() && handler().byCobFile(f)) {
    // Left open by the program (or its OPEN failed): close it the way its
    // own CLOSE would have, which also frees the run-time's FCD.
    cob_extfh_close(reinterpret_cast<cobol::CallFh>(&PXEXTFH), f, fnstatus, opt, 0);
  }
  // For a file of the run-time's own this is the real close; for ours the
  // file is closed by now and only the run-time's file list is tidied.
  real().close(f, fnstatus, opt, remfil);
}

void cob_unlock_file(cob_file* f, cob_field* fnstatus) {
  if (const auto k = handler().byCobFile(f); k && k->ours && !handler().passingOn()) {
    handler().call(OP_UNLOCK, k->fcd);
    const auto* st = k->fcd->fileStatus;
    cobol::report(f, fnstatus,
                  datafiles::FileStatus(static_cast<char>(st[0]), static_cast<char>(st[1])));
    return;
  }
  real().unlockFile(f, fnstatus);
}

void cob_commit(void) {
  if (!handler().passingOn()) (void)handler().commitAll();
  real().commit();
}

void cob_rollback(void) {
  if (!handler().passingOn()) (void)handler().rollbackAll();
  real().rollback();
}

void* cob_resolve_cobol(const char* name, const int fold_case, const int errind) {
  if (name != nullptr)
    if (void* entry = cobol::resolveForeign(name)) return entry;
  return real().resolveCobol(name, fold_case, errind);
}

void* cob_call_field(const cob_field* f, const cob_call_struct* cs, const unsigned int errind,
                     const int fold_case) {
  if (f != nullptr && f->data != nullptr) {
    std::string_view name(reinterpret_cast<const char*>(f->data), f->size);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.remove_suffix(1);
    bool contained = false;  // a program nested in the caller comes first
    for (const cob_call_struct* c = cs; c != nullptr && c->cob_cstr_name != nullptr; ++c)
      contained = contained || name == c->cob_cstr_name;
    if (!contained)
      if (void* entry = cobol::resolveForeign(name)) return entry;
  }
  return real().callField(f, cs, errind, fold_case);
}

void PxExtfhResolveForeign(PxForeignResolver resolve, void* context) {
  cobol::foreign = {resolve, context};
}

void PxExtfhForgetForeign(void* context) {
  if (cobol::foreign.context == context) cobol::foreign = {};
}

const char* PxExtfhAdapterProblem(void) {
  const char* version = libcob_version();
  if (version == nullptr || std::strncmp(version, "3.1", 3) != 0)
    return "libpxextfh.so supports the GnuCOBOL 3.1 run-time only";
  if (!real().complete()) return "libpxextfh.so: libcob's file functions not found";
  const struct {
    const char* name;
    void* ours;
  } wrapped[] = {
      {"cob_extfh_open", reinterpret_cast<void*>(&cob_extfh_open)},
      {"cob_extfh_close", reinterpret_cast<void*>(&cob_extfh_close)},
      {"cob_close", reinterpret_cast<void*>(&cob_close)},
      {"cob_unlock_file", reinterpret_cast<void*>(&cob_unlock_file)},
      {"cob_commit", reinterpret_cast<void*>(&cob_commit)},
      {"cob_rollback", reinterpret_cast<void*>(&cob_rollback)},
      {"cob_resolve_cobol", reinterpret_cast<void*>(&cob_resolve_cobol)},
      {"cob_call_field", reinterpret_cast<void*>(&cob_call_field)},
  };
  for (const auto& w : wrapped)
    if (::dlsym(RTLD_DEFAULT, w.name) != w.ours)
      return "libcob was loaded ahead of libpxextfh.so: COBOL programs cannot be unloaded safely";
  return nullptr;
}

}  // extern "C"
