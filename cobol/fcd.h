// The File Control Description (FCD version 3) that GnuCOBOL hands to an
// external file handler, and the operation codes it uses. The structure is
// libcob's own (libcob/common.h); numbers in it are big-endian ("COMP-X").
#pragma once

#include <libcob.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace cobol {

inline unsigned get2(const unsigned char* p) { return (unsigned{p[0]} << 8) | p[1]; }
inline std::uint32_t get4(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}
inline std::uint32_t get4(const char* p) { return get4(reinterpret_cast<const unsigned char*>(p)); }
inline void put4(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

// Operation codes (libcob's OP_...) as GnuCOBOL 3.1 sends them: FA00-FA03
// OPEN INPUT/OUTPUT/I-O/EXTEND, FA80 CLOSE, FAF6 READ by key, FAF5 READ NEXT
// and sequential READ, FAF9 READ PREVIOUS, FAE8/FAEA/FAEB START =/>/>=,
// FAED START FIRST, FAF3 WRITE, FAF4 REWRITE, FAF7 DELETE, FAF8 DELETE FILE;
// FA0E UNLOCK, FADC COMMIT and FADD ROLLBACK come from our run-time adapter.

// The many READ opcodes (with and without lock, "kept lock", "step" and
// "direct") fall into three kinds.
enum class ReadKind { kNone, kRandom, kNext, kPrevious };
inline ReadKind readKind(unsigned op) {
  switch (op) {
    case OP_READ_RAN:
    case OP_READ_RAN_NO_LOCK:
    case OP_READ_RAN_LOCK:
    case OP_READ_RAN_KEPT_LOCK:
    case OP_READ_DIR:
    case OP_READ_DIR_NO_LOCK:
    case OP_READ_DIR_LOCK:
    case OP_READ_DIR_KEPT_LOCK:
      return ReadKind::kRandom;
    case OP_READ_SEQ:
    case OP_READ_SEQ_NO_LOCK:
    case OP_READ_SEQ_LOCK:
    case OP_READ_SEQ_KEPT_LOCK:
    case OP_STEP_NEXT:
    case OP_STEP_NEXT_NO_LOCK:
    case OP_STEP_NEXT_LOCK:
    case OP_STEP_NEXT_KEPT_LOCK:
      return ReadKind::kNext;
    case OP_READ_PREV:
    case OP_READ_PREV_NO_LOCK:
    case OP_READ_PREV_LOCK:
    case OP_READ_PREV_KEPT_LOCK:
      return ReadKind::kPrevious;
    default:
      return ReadKind::kNone;
  }
}

// The file name the FCD carries (after the run-time's name mapping: ASSIGN
// literal, DD_/dd_ variables, COB_FILE_PATH), without trailing blanks/NULs.
inline std::string_view fileName(const FCD3& fcd) {
  if (fcd.fnamePtr == nullptr) return {};
  std::string_view n(fcd.fnamePtr, get2(fcd.fnameLen));
  const auto nul = n.find('\0');
  if (nul != std::string_view::npos) n = n.substr(0, nul);
  while (!n.empty() && n.back() == ' ') n.remove_suffix(1);
  return n;
}

// The prime key as the FCD's key definition block gives it: one or more
// components. Only a key made of components that follow each other from
// byte 0 can be stored (the store's key is the head of the record).
struct PrimeKey {
  bool present = false;
  bool storable = false;   // contiguous from byte 0, no duplicates
  std::size_t length = 0;  // total length when storable
  unsigned keyCount = 0;   // keys the file declares (prime + alternates)
};

inline PrimeKey primeKey(const FCD3& fcd) {
  PrimeKey k;
  const KDB* kdb = fcd.kdbPtr;
  if (kdb == nullptr) return k;
  k.keyCount = get2(kdb->nkeys);
  if (k.keyCount == 0) return k;
  k.present = true;
  const KDB_KEY& key = kdb->key[0];
  const unsigned parts = get2(key.count);
  const auto* comp =
      reinterpret_cast<const EXTKEY*>(reinterpret_cast<const char*>(kdb) + get2(key.offset));
  std::size_t next = 0;
  for (unsigned i = 0; i < parts; ++i) {
    if (get4(comp[i].pos) != next) return k;
    next += get4(comp[i].len);
  }
  k.storable = parts > 0 && (key.keyFlags & KEY_DUPS) == 0;
  k.length = next;
  return k;
}

}  // namespace cobol
