// Writing the audit trail (FXAU.DAT, audit_records.h). A record costs at most
// one store write and never waits: the trail's handle asks the store not to
// wait for another workstation's write, and whatever goes wrong (the file
// held by maintenance, a full disk, a lock) is counted and the caller goes
// on. The count of records this process could not write rides on the next
// record it does write (its "lost" field), where `pxadmin audit` and
// `pxadmin check` find it; a record costs no second write for it.
//
// The trail is the one file the programs create: an installation made
// before it gets it at its first use.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "datafiles/audit_records.h"
#include "datafiles/keyed_file.h"

namespace datafiles {

// Where a record comes from: the host name (up to 32 bytes are kept) and
// the process id.
struct Workstation {
  std::string host;
  long pid = 0;
  // This process.
  static Workstation current();
};

// One event. Names and codes are code page 850 as the records hold them;
// the detail is UTF-8. Built as AuditEvent("GRANT", user, 1).withSubject("HELGA").
struct AuditEvent {
  explicit AuditEvent(std::string_view eventCode, std::string_view byUser = {}, int ofClient = -1)
      : event(eventCode), user(byUser), client(ofClient) {}
  AuditEvent& withSubject(std::string_view s) {
    subject = s;
    return *this;
  }
  AuditEvent& withObject(std::string_view o) {
    object = o;
    return *this;
  }
  AuditEvent& withResult(std::string_view r) {
    result = r;
    return *this;
  }
  AuditEvent& withDetail(std::string d) {
    detail = std::move(d);
    return *this;
  }

  std::string_view event;    // "CALL", "SIGNON", ...
  std::string_view user;     // who did it
  int client = -1;           // -1: no client
  std::string_view subject;  // the user it is about, if any
  std::string_view object;   // program or file
  std::string_view result;   // return code, status, outcome
  std::string detail;
};

// Opens the trail in `directory` for `mode`, creating it when it is missing.
// With `noWait` the handle never waits for another workstation's write.
FileStatus openAuditFile(FileStore& store, std::string_view directory, OpenMode mode, bool noWait,
                         std::unique_ptr<KeyedFile>& out);

class AuditTrail {
 public:
  using Clock = std::function<AuditTime()>;

  // `origin`: the program that writes ("PX01", "PXADMIN").
  AuditTrail(FileStore& store, std::string directory, std::string_view origin);
  ~AuditTrail() { close(); }
  AuditTrail(const AuditTrail&) = delete;
  AuditTrail& operator=(const AuditTrail&) = delete;

  // Writes one record; its status ("00" written). Opens the file at the
  // first record and keeps it open: a handle that only writes holds no lock
  // and no read snapshot. A failure is counted, never waited on.
  FileStatus record(const AuditEvent& event);
  // The record `record` would write, for a caller that writes it on a
  // handle of its own (inside its unit, say); its "lost" field takes the
  // process's count, which the caller clears with recordWritten() once the
  // write worked.
  AuditRecord compose(const AuditEvent& event);
  static void recordWritten(const AuditRecord& record);
  void close();

  // For tests.
  void setClock(Clock clock) { clock_ = std::move(clock); }
  void setWorkstation(Workstation w) { workstation_ = std::move(w); }
  const Workstation& workstation() const { return workstation_; }

 private:
  FileStore& store_;
  std::string directory_;
  std::string origin_;
  std::unique_ptr<KeyedFile> file_;
  Clock clock_;
  Workstation workstation_;
};

// Records this process could not write since the last one it wrote; the
// next record written carries the number.
long unreportedAuditFailures();
// The status of this process's last failed audit write ("00": none failed).
FileStatus lastAuditFailure();
// Counts a failure of another use of the trail (a session that could not
// be marked) as a record not written.
void countAuditFailure(FileStatus s);

}  // namespace datafiles
