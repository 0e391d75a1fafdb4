#include "datafiles/sessions.h"

namespace datafiles {

FileStatus LiveSession::begin(const Workstation& workstation, int client, std::string_view user,
                              AuditTime since) {
  end();
  encoding::putRaw(record_.host(), workstation.host);
  (void)encoding::putDigits(record_.pid(), workstation.pid);
  if (client >= 0) (void)encoding::putDigits(record_.client(), client);
  encoding::putRaw(record_.user(), user);
  encoding::putRaw(record_.since(), auditTimeText(since));
  auto fail = [&](FileStatus s) {
    if (file_) (void)file_->close();
    file_.reset();
    return s;
  };
  if (const FileStatus s =
          openAuditFile(store_, directory_, OpenMode::kInputOutput, /*noWait=*/true, file_);
      !s.ok())
    return fail(s);
  FileStatus s = file_->write(record_.bytes());
  if (s == kDuplicateKey) {
    // Left by a process of the same number on this host that died: ours now.
    SessionRecord old;
    encoding::putRaw(old.bytes().first<SessionRecord::kKeyLength>(),
                     record_.view().substr(0, SessionRecord::kKeyLength));
    s = file_->read(old.bytes());
    if (s.ok()) s = file_->rewrite(record_.bytes());
  }
  if (!s.ok()) return fail(s);
  // Read for update and left alone: the lock stays until end() or death.
  SessionRecord held = record_;
  if (s = file_->read(held.bytes()); !s.ok()) return fail(s);
  return kOk;
}

void LiveSession::end() {
  if (!file_) return;
  if (file_->isOpen()) {
    (void)file_->remove(record_.bytes());
    (void)file_->close();
  }
  file_.reset();
}

FileStatus listSessions(FileStore& store, std::string_view directory, std::vector<SessionInfo>& out,
                        bool removeStale) {
  out.clear();
  std::vector<SessionRecord> found;
  {
    auto in = store.file(kAuditFile, directory);
    if (const FileStatus s = in->open(OpenMode::kInput); !s.ok()) return s;
    SessionRecord r;
    FileStatus s = in->start(StartMode::kNotLessThan, r.bytes(), 1);
    while (s.ok() && (s = in->readNext(r.bytes())).ok() &&
           r.kind() == AuditRecordBase::kSessionKind)
      found.push_back(r);
    (void)in->close();
    if (!s.ok() && !s.atEnd() && !s.invalidKey()) return s;
  }
  if (found.empty()) return kOk;
  auto probe = store.file(kAuditFile, directory);
  probe->setNoWait();
  if (const FileStatus s = probe->open(OpenMode::kInputOutput); !s.ok()) return s;
  FileStatus result = kOk;
  for (SessionRecord& r : found) {
    SessionInfo info;
    info.host = std::string(encoding::trimmed(r.host()));
    info.pid = static_cast<long>(encoding::getDigits(r.pid()).value_or(0));
    info.client = static_cast<int>(encoding::getDigits(r.client()).value_or(-1));
    info.user = std::string(encoding::trimmed(r.user()));
    info.since = std::string(encoding::view(r.since()));
    const FileStatus s = probe->read(r.bytes());
    if (s == kRecordLocked) {
      info.live = true;
    } else if (s.ok()) {
      // Nobody holds it: its launcher is gone.
      if (removeStale) (void)probe->remove(r.bytes());
    } else if (s.invalidKey()) {
      continue;  // ended meanwhile
    } else {
      result = s;
      break;
    }
    out.push_back(std::move(info));
  }
  (void)probe->close();
  return result;
}

}  // namespace datafiles
