#include "datafiles/sign_on_failures.h"

#include "datafiles/audit_trail.h"

namespace datafiles {

long signOnFailures(FileStore& store, std::string_view directory, int client,
                    std::string_view user) {
  auto f = store.file(kAuditFile, directory);
  if (!f->open(OpenMode::kInput).ok()) return 0;
  SignOnFailureRecord r;
  r.setKey(client, user);
  const FileStatus s = f->read(r.bytes());
  (void)f->close();
  if (!s.ok()) return 0;
  return static_cast<long>(encoding::getDigits(r.failures()).value_or(0));
}

std::optional<long> noteSignOnFailure(FileStore& store, std::string_view directory, int client,
                                      std::string_view user, AuditTime now) {
  std::unique_ptr<KeyedFile> f;
  if (!openAuditFile(store, directory, OpenMode::kInputOutput, /*noWait=*/true, f).ok())
    return std::nullopt;
  SignOnFailureRecord r;
  r.setKey(client, user);
  FileStatus s = f->read(r.bytes());
  long count = 1;
  if (s.ok()) {
    count = static_cast<long>(encoding::getDigits(r.failures()).value_or(0)) + 1;
    (void)encoding::putDigits(r.failures(), std::min(count, 999999L));
    encoding::putRaw(r.last(), auditTimeText(now));
    s = f->rewrite(r.bytes());
  } else if (s.invalidKey()) {
    (void)encoding::putDigits(r.failures(), count);
    encoding::putRaw(r.last(), auditTimeText(now));
    s = f->write(r.bytes());
  }
  (void)f->close();
  if (!s.ok()) return std::nullopt;
  return count;
}

void clearSignOnFailures(FileStore& store, std::string_view directory, int client,
                         std::string_view user) {
  if (signOnFailures(store, directory, client, user) == 0) return;  // the usual case: one read
  auto f = store.file(kAuditFile, directory);
  f->setNoWait();
  if (!f->open(OpenMode::kInputOutput).ok()) return;
  SignOnFailureRecord r;
  r.setKey(client, user);
  (void)f->remove(r.bytes());
  (void)f->close();
}

}  // namespace datafiles
