// Live sessions: each running launcher holds the session record of its
// workstation in the audit trail (audit_records.h) locked, on a handle that
// reads it for update once and then does nothing more. The lock ends when
// the launcher ends it, or with the process (the system or the server drops
// a dead process's locks), so that whoever finds the record locked (9/068)
// knows a launcher is at work behind it, and whoever can take the lock knows
// the record is left over from one that died.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "datafiles/audit_records.h"
#include "datafiles/audit_trail.h"
#include "datafiles/keyed_file.h"

namespace datafiles {

struct SessionInfo {
  std::string host;
  long pid = 0;
  int client = -1;
  std::string user;   // code page 850
  std::string since;  // "YYYYMMDDHHMMSSuuuuuu", UTC
  bool live = false;
};

class LiveSession {
 public:
  LiveSession(FileStore& store, std::string directory)
      : store_(store), directory_(std::move(directory)) {}
  ~LiveSession() { end(); }
  LiveSession(const LiveSession&) = delete;
  LiveSession& operator=(const LiveSession&) = delete;

  // Marks this workstation's session (client, user) as live: the record is
  // written, or taken over when a process that died left it under the same
  // key, and then held. Nothing waits; the status says whether it worked.
  FileStatus begin(const Workstation& workstation, int client, std::string_view user,
                   AuditTime since);
  // Removes the record and lets it go. Does nothing when not begun.
  void end();
  bool live() const { return file_ != nullptr && file_->isOpen(); }

 private:
  FileStore& store_;
  std::string directory_;
  std::unique_ptr<KeyedFile> file_;
  SessionRecord record_;
};

// Every session record in the trail of `directory`, in key order, each
// tried for update: live when its launcher holds it. With `removeStale`,
// the records of launchers that died are removed. "00", or the status that
// stopped the listing; "35" when there is no trail.
FileStatus listSessions(FileStore& store, std::string_view directory, std::vector<SessionInfo>& out,
                        bool removeStale);

}  // namespace datafiles
