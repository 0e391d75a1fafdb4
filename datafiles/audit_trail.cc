#include "datafiles/audit_trail.h"

#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <mutex>

namespace datafiles {
namespace {

// Per process: the sequence that keeps the keys of one process's records
// apart within one microsecond, and the records it could not write.
std::atomic<unsigned> sequence{0};
std::atomic<long> unreported{0};
std::mutex failureMutex;
FileStatus lastFailure = kOk;

void noteFailure(FileStatus s) {
  unreported.fetch_add(1);
  std::lock_guard<std::mutex> g(failureMutex);
  lastFailure = s;
}

}  // namespace

Workstation Workstation::current() {
  char host[HOST_NAME_MAX + 1] = {};
  if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  return Workstation{host[0] != '\0' ? host : "localhost", static_cast<long>(::getpid())};
}

FileStatus openAuditFile(FileStore& store, std::string_view directory, OpenMode mode, bool noWait,
                         std::unique_ptr<KeyedFile>& out) {
  out = store.file(kAuditFile, directory);
  if (noWait) out->setNoWait();
  FileStatus s = out->open(mode);
  if (s != kFileMissing) return s;
  // Made before the trail existed: the trail is created at its first use.
  const FileStatus created = store.create(kAuditFile, directory);
  if (!created.ok() && created != kDuplicateKey) return created;
  return out->open(mode);
}

AuditTrail::AuditTrail(FileStore& store, std::string directory, std::string_view origin)
    : store_(store),
      directory_(std::move(directory)),
      origin_(origin),
      clock_([] { return std::chrono::system_clock::now(); }),
      workstation_(Workstation::current()) {}

void AuditTrail::close() {
  if (file_ && file_->isOpen()) (void)file_->close();
  file_.reset();
}

AuditRecord AuditTrail::compose(const AuditEvent& e) {
  AuditRecord r;
  encoding::putRaw(r.time(), auditTimeText(clock_()));
  encoding::putRaw(r.host(), workstation_.host);
  (void)encoding::putDigits(r.pid(), workstation_.pid);
  (void)encoding::putDigits(r.sequence(), sequence.fetch_add(1) % 1000000);
  if (e.client >= 0) (void)encoding::putDigits(r.client(), e.client);
  encoding::putRaw(r.user(), e.user);
  encoding::putRaw(r.subject(), e.subject);
  encoding::putRaw(r.event(), e.event);
  encoding::putRaw(r.object(), e.object);
  encoding::putRaw(r.result(), e.result);
  encoding::putRaw(r.origin(), origin_);
  (void)encoding::putDigits(r.lost(), std::min(unreported.load(), 999999L));
  encoding::putText(r.detail(), e.detail);
  return r;
}

void AuditTrail::recordWritten(const AuditRecord& r) {
  unreported.fetch_sub(static_cast<long>(encoding::getDigits(r.lost()).value_or(0)));
}

FileStatus AuditTrail::record(const AuditEvent& e) {
  const AuditRecord r = compose(e);
  FileStatus s = kOk;
  if (!file_ || !file_->isOpen()) {
    close();
    s = openAuditFile(store_, directory_, OpenMode::kInputOutput, /*noWait=*/true, file_);
  }
  if (s.ok()) s = file_->write(r.bytes());
  if (s.ok()) {
    recordWritten(r);
  } else {
    noteFailure(s);
    // A handle that failed may be in any state; the next record opens anew.
    if (!s.locked()) close();
  }
  return s;
}

void countAuditFailure(FileStatus s) { noteFailure(s); }

long unreportedAuditFailures() { return unreported.load(); }

FileStatus lastAuditFailure() {
  std::lock_guard<std::mutex> g(failureMutex);
  return lastFailure;
}

}  // namespace datafiles
