// FXAU.DAT, the audit trail: who did what, when, from which workstation,
// and who is signed on now. One keyed file beside the others, through the
// same store, with three kinds of records told apart by their first byte:
//
//   "E" events, keyed by time (UTC, to the microsecond), workstation (host
//       name and process id) and a sequence number of that process, so that
//       key order is time order and two workstations never write one key;
//   "S" sessions, one per running launcher, keyed by its workstation; the
//       launcher holds its record locked for as long as it runs;
//   "T" refused passwords of one user, keyed by client and user name, for
//       the sign-on's growing wait.
//
// Texts are code page 850, blank-padded; numbers are digits. No record holds
// a password, a password hash or anything of a member's data.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "datafiles/keyed_file.h"
#include "encoding/field.h"

namespace datafiles {

inline constexpr FileSpec kAuditFile{"FXAU.DAT", 256, 69};

// The time of a record as it is stored: "YYYYMMDDHHMMSSuuuuuu", UTC.
using AuditTime = std::chrono::system_clock::time_point;
std::string auditTimeText(AuditTime t);
std::optional<AuditTime> parseAuditTime(std::string_view twentyDigits);

class AuditRecordBase : public encoding::FixedRecord<256> {
 public:
  static constexpr std::size_t kKeyLength = kAuditFile.keyLength;
  static constexpr char kEventKind = 'E', kSessionKind = 'S', kFailureKind = 'T';
  static constexpr encoding::Field kKind{0, 1};
  char kind() const { return at<kKind>()[0]; }
};

// "E": one event.
class AuditRecord : public AuditRecordBase {
 public:
  static constexpr encoding::Field kTime{1, 20}, kHost{21, 32}, kPid{53, 10}, kSequence{63, 6},
      // end of the key
      kClient{69, 3},    // digits; blank when the event concerns no client
      kUser{72, 10},     // who did it: the signed-on user, or the system account of pxadmin
      kSubject{82, 10},  // the user the event is about (a grant, a password), else blank
      kEvent{92, 8},     // event code, for example "CALL"
      kObject{100, 10},  // program or file the event is about
      kResult{110, 8},   // return code, status or outcome
      kOrigin{118, 8},   // the program that wrote the record: PX01, PX00, PX07, PXADMIN
      kLost{126, 6},     // records this process could not write just before this one
      kDetail{132, 80},  // a short text
      kReserved{212, 44};
  static_assert(encoding::tiles({kKind, kTime, kHost, kPid, kSequence, kClient, kUser, kSubject,
                                 kEvent, kObject, kResult, kOrigin, kLost, kDetail, kReserved},
                                kSize));
  static_assert(kSequence.end() == kKeyLength);

  AuditRecord() { at<kKind>()[0] = kEventKind; }
  PX_FIELD(time, kTime)
  PX_FIELD(host, kHost)
  PX_FIELD(pid, kPid)
  PX_FIELD(sequence, kSequence)
  PX_FIELD(client, kClient)
  PX_FIELD(user, kUser)
  PX_FIELD(subject, kSubject)
  PX_FIELD(event, kEvent)
  PX_FIELD(object, kObject)
  PX_FIELD(result, kResult)
  PX_FIELD(origin, kOrigin)
  PX_FIELD(lost, kLost)
  PX_FIELD(detail, kDetail)
};

// "S": a launcher at work. Its key is the workstation; the launcher reads it
// for update once and then leaves it alone, so that the record stays locked
// until the launcher ends or dies.
class SessionRecord : public AuditRecordBase {
 public:
  static constexpr encoding::Field kHost{1, 32}, kPid{33, 10}, kKeyRest{43, 26},
      // end of the key
      kClient{69, 3}, kUser{72, 10}, kSince{82, 20}, kReserved{102, 154};
  static_assert(encoding::tiles({kKind, kHost, kPid, kKeyRest, kClient, kUser, kSince, kReserved},
                                kSize));
  static_assert(kKeyRest.end() == kKeyLength);

  SessionRecord() { at<kKind>()[0] = kSessionKind; }
  PX_FIELD(host, kHost)
  PX_FIELD(pid, kPid)
  PX_FIELD(client, kClient)
  PX_FIELD(user, kUser)
  PX_FIELD(since, kSince)
};

// "T": the refused passwords of one user in a row, across sign-ons.
class SignOnFailureRecord : public AuditRecordBase {
 public:
  static constexpr encoding::Field kClient{1, 3}, kUser{4, 10}, kKeyRest{14, 55},
      // end of the key
      kFailures{69, 6}, kLast{75, 20}, kReserved{95, 161};
  static_assert(encoding::tiles({kKind, kClient, kUser, kKeyRest, kFailures, kLast, kReserved},
                                kSize));
  static_assert(kKeyRest.end() == kKeyLength);

  SignOnFailureRecord() { at<kKind>()[0] = kFailureKind; }
  // Key: client and the plain user name (code page 850).
  void setKey(int client, std::string_view user);
  PX_FIELD(client, kClient)
  PX_FIELD(user, kUser)
  PX_FIELD(failures, kFailures)
  PX_FIELD(last, kLast)
};

// How long the sign-on waits before a password attempt for a user whose
// passwords were refused `failures` times in a row: nothing for the first
// three, then 1, 2, 4, 8, 16 seconds, and 30 from then on.
std::chrono::seconds signOnDelay(long failures);

}  // namespace datafiles
