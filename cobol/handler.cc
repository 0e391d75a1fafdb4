#include "cobol/handler.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <span>
#include <vector>

namespace cobol {
namespace {

using datafiles::FileStatus;

constexpr FileStatus kOptionalMissing{'0', '5'};   // OPEN of an OPTIONAL file that is not there
constexpr FileStatus kSequenceError{'2', '1'};     // sequential key order broken
constexpr FileStatus kPermissionDenied{'3', '7'};  // OPEN OUTPUT of a data file
constexpr FileStatus kNoReadBefore{'4', '3'};      // sequential REWRITE/DELETE without a READ
constexpr FileStatus kRecordLength{'4', '4'};      // record of another length than the file's
// Operations the store cannot do (READ PREVIOUS, START backwards, DELETE
// FILE): a permanent error, never a silent success.
constexpr FileStatus kUnsupported = datafiles::kPermanentError;

const std::array<const datafiles::FileSpec*, 4> kDataFiles = {
    &datafiles::kInstallationFile, &datafiles::kUserFile, &datafiles::kMenuFile,
    &datafiles::kPermissionFile};

bool isOpenOp(unsigned op) { return op >= OP_OPEN_INPUT && op <= OP_OPEN_INPUT_REVERSED; }
bool isCloseOp(unsigned op) { return op >= OP_CLOSE && op <= OP_CLOSE_NOREWIND; }
unsigned openModeOf(unsigned op) {
  switch (op) {
    case OP_OPEN_OUTPUT:
    case OP_OPEN_OUTPUT_NOREWIND:
      return OPEN_OUTPUT;
    case OP_OPEN_IO:
      return OPEN_IO;
    case OP_OPEN_EXTEND:
      return OPEN_EXTEND;
    default:
      return OPEN_INPUT;
  }
}

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

void setStatus(FCD3* fcd, FileStatus s) {
  const auto raw = s.raw();
  fcd->fileStatus[0] = static_cast<unsigned char>(raw[0]);
  fcd->fileStatus[1] = static_cast<unsigned char>(raw[1]);
}

}  // namespace

FileChoice chooseFile(std::string_view fcdName) {
  FileChoice c;
  const auto slash = fcdName.rfind('/');
  std::string_view base = fcdName;
  if (slash != std::string_view::npos) {
    c.directory = std::string(fcdName.substr(0, slash == 0 ? 1 : slash));
    base = fcdName.substr(slash + 1);
  }
  if (base.empty()) return {};
  const std::string u = upper(base);
  for (const datafiles::FileSpec* spec : kDataFiles) {
    const std::string_view full = spec->name;                      // "FX01.DAT"
    const std::string_view stem = full.substr(0, full.find('.'));  // "FX01"
    if (u == full || u == stem) {
      c.name = std::string(full);
      c.known = spec;
      return c;
    }
  }
  c.name = std::string(base);
  return c;
}

struct Handler::File {
  bool ours = false;
  void* cobFile = nullptr;
  // Store files only:
  std::string name, directory;
  datafiles::FileSpec spec{};
  bool known = false;
  std::unique_ptr<datafiles::KeyedFile> handle;
  bool open = false;
  bool missingOptional = false;  // OPEN INPUT of an absent OPTIONAL file
  unsigned openMode = OPEN_INPUT;
  unsigned access = ACCESS_DYNAMIC;
  bool inUnit = false;
  bool placed = false;      // a START or READ gave READ NEXT its place
  bool lastReadOk = false;  // for REWRITE/DELETE in sequential access
  std::string lastReadKey;
  std::string lastWrittenKey;  // for WRITE in sequential access: ascending keys

  std::span<char> record(FCD3* fcd) const {
    return {reinterpret_cast<char*>(fcd->recPtr), spec.recordLength};
  }
  std::string_view keyOf(FCD3* fcd) const {
    return {reinterpret_cast<const char*>(fcd->recPtr), spec.keyLength};
  }
  bool updating() const { return openMode != OPEN_INPUT; }
};

Handler::Handler(StoreSource store, PassOn passOn)
    : store_(std::move(store)), passOn_(std::move(passOn)) {}
Handler::~Handler() = default;

int Handler::operator()(unsigned char* opcode, FCD3* fcd) { return call(get2(opcode), fcd); }

int Handler::call(unsigned op, FCD3* fcd) {
  unsigned char opcode[2] = {static_cast<unsigned char>(op >> 8), static_cast<unsigned char>(op)};
  closedParts_ = isCloseOp(op) ? FcdParts{fcd->kdbPtr, fcd->fnamePtr} : FcdParts{};
  auto it = files_.find(fcd);

  if (isOpenOp(op)) {
    if (it == files_.end()) it = files_.emplace(fcd, std::make_unique<File>()).first;
    File& f = *it->second;
    f.cobFile = openingCobFile_;
    if (f.ours && f.open) {
      setStatus(fcd, datafiles::kAlreadyOpen);
      return 0;
    }
    FileStatus refusal = datafiles::kOk;
    if (!decideOwnership(*fcd, f, &refusal)) {
      f.ours = false;
      const int r = passOn(opcode, fcd);
      f.open = fcd->fileStatus[0] == '0';
      return r;
    }
    const FileStatus s = refusal.ok() ? open(op, fcd, f) : refusal;
    if (!f.open) fcd->openMode = static_cast<unsigned char>(OPEN_NOT_OPEN | openModeOf(op));
    setStatus(fcd, s);
    return 0;
  }

  if (it == files_.end()) {
    // An operation on a closed file (the run-time made a new FCD for it):
    // a file of ours answers as the store does for a closed handle.
    File probe;
    FileStatus ignored;
    if (!decideOwnership(*fcd, probe, &ignored)) return passOn(opcode, fcd);
    setStatus(fcd, datafiles::kNotOpen);
    return 0;
  }
  File& f = *it->second;
  if (!f.ours) {
    const int r = passOn(opcode, fcd);
    if (isCloseOp(op)) files_.erase(it);  // the run-time frees this FCD now
    return r;
  }

  FileStatus s = datafiles::kOk;
  if (isCloseOp(op)) {
    s = close(fcd, f);
    files_.erase(it);
    if (openFiles() == 0) unitMode_ = false;
  } else if (readKind(op) != ReadKind::kNone) {
    s = read(op, fcd, f);
  } else {
    switch (op) {
      case OP_START_EQ:
      case OP_START_EQ_ANY:
      case OP_START_GT:
      case OP_START_GE:
      case OP_START_LT:
      case OP_START_LE:
      case OP_START_LA:
      case OP_START_FI:
        s = start(op, fcd, f);
        break;
      case OP_WRITE:
      case OP_REWRITE:
      case OP_DELETE:
        s = change(op, fcd, f);
        break;
      case OP_UNLOCK:
      case OP_UNLOCK_REC:
        s = f.open ? unlock(f) : datafiles::kNotOpen;
        break;
      case OP_COMMIT:
      case OP_ROLLBACK:
        s = f.open ? endUnit(f, op == OP_COMMIT) : datafiles::kNotOpen;
        break;
      case OP_FLUSH:
        s = f.open ? datafiles::kOk : datafiles::kNotOpen;
        break;
      case OP_DELETE_FILE:
        s = f.known ? kPermissionDenied : kUnsupported;
        break;
      default:
        s = kUnsupported;
        break;
    }
  }
  setStatus(fcd, s);
  return 0;
}

int Handler::passOn(unsigned char* opcode, FCD3* fcd) {
  ++passingOn_;
  const int r = passOn_(opcode, fcd);
  --passingOn_;
  return r;
}

bool Handler::decideOwnership(const FCD3& fcd, File& f, FileStatus* refusal) {
  if (fcd.fileOrg != ORG_INDEXED) return false;
  const FileChoice c = chooseFile(fileName(fcd));
  if (c.name.empty()) return false;
  const PrimeKey key = primeKey(fcd);
  const std::size_t maxLen = get4(fcd.maxRecLen);
  const std::size_t minLen = get4(fcd.minRecLen);
  const bool fixedSingleKey = key.present && key.storable && key.keyCount == 1 &&
                              minLen == maxLen && key.length > 0 && key.length <= maxLen;
  f.name = c.name;
  f.directory = c.directory;
  f.known = c.known != nullptr;
  if (c.known != nullptr) {
    // One of the four: its layout is the system's, a program that declares
    // another one gets the "attributes conflict" status and no access.
    f.spec = *c.known;
    if (!fixedSingleKey || maxLen != c.known->recordLength || key.length != c.known->keyLength)
      *refusal = datafiles::kAttributeMismatch;
  } else {
    // Any other indexed file that the store can hold, with the layout the
    // program declares; the rest stays with the run-time's own handler.
    if (!fixedSingleKey) return false;
    f.spec = datafiles::FileSpec{{}, maxLen, key.length};
  }
  f.spec.name = f.name;
  f.ours = true;
  return true;
}

FileStatus Handler::open(unsigned op, FCD3* fcd, File& f) {
  if (op == OP_OPEN_INPUT_REVERSED) return kUnsupported;
  const unsigned mode = openModeOf(op);
  const bool optional = (fcd->otherFlags & OTH_OPTIONAL) != 0;
  const bool exclusive = (fcd->lockMode & FCD_LOCK_EXCL_LOCK) != 0 || openingExclusive_;
  f.openMode = mode;
  f.access = fcd->accessFlags & ~ACCESS_USER_STAT;
  f.placed = f.lastReadOk = f.inUnit = f.missingOptional = false;
  f.lastReadKey.clear();
  f.lastWrittenKey.clear();

  datafiles::FileStore& store = store_();
  FileStatus created = datafiles::kOk;
  if (mode == OPEN_OUTPUT) {
    // Never empties one of the installation's data files.
    if (f.known) return kPermissionDenied;
    created = store.create(f.spec, f.directory);
    if (!created.ok() && created != datafiles::kDuplicateKey) return created;
  }
  auto handle = store.file(f.spec, f.directory);
  const datafiles::OpenMode om = exclusive            ? datafiles::OpenMode::kExclusive
                                 : mode == OPEN_INPUT ? datafiles::OpenMode::kInput
                                                      : datafiles::OpenMode::kInputOutput;
  FileStatus s = handle->open(om);
  FileStatus result = datafiles::kOk;
  if (s == datafiles::kFileMissing && optional && !f.known) {
    result = kOptionalMissing;
    if (mode == OPEN_INPUT) {
      f.missingOptional = f.open = true;
      fcd->openMode = static_cast<unsigned char>(mode);
      return result;
    }
    s = store.create(f.spec, f.directory);
    if (s.ok()) s = handle->open(om);
  }
  if (!s.ok()) return s;

  if (mode == OPEN_OUTPUT && created == datafiles::kDuplicateKey) {
    // OUTPUT on a file that exists: it starts empty, in one unit.
    std::vector<char> rec(f.spec.recordLength, '\0');
    s = handle->begin();
    if (s.ok()) {
      FileStatus p = handle->start(datafiles::StartMode::kNotLessThan, rec, f.spec.keyLength);
      if (p.ok()) {
        while ((p = handle->readNext(rec)).ok())
          if (!(p = handle->remove(rec)).ok()) break;
      }
      s = p.ok() || p.atEnd() || p.invalidKey() ? handle->commit() : p;
      if (!s.ok()) (void)handle->rollback();
    }
    if (!s.ok()) {
      (void)handle->close();
      return s;
    }
  }
  f.handle = std::move(handle);
  f.open = true;
  fcd->openMode = static_cast<unsigned char>(mode);
  fcd->fileHandle = &f;
  return result;
}

FileStatus Handler::close(FCD3* fcd, File& f) {
  fcd->openMode = OPEN_NOT_OPEN;
  fcd->fileHandle = nullptr;
  if (!f.open) return datafiles::kNotOpen;
  // An unfinished unit goes with the file, as for a process that died: only
  // COMMIT makes a unit's changes permanent.
  if (f.handle) {
    (void)f.handle->close();
    f.handle.reset();
  }
  f.open = f.inUnit = false;
  return datafiles::kOk;
}

FileStatus Handler::read(unsigned op, FCD3* fcd, File& f) {
  if (!f.open) return datafiles::kNotOpen;
  if (f.openMode == OPEN_OUTPUT || f.openMode == OPEN_EXTEND) return datafiles::kNotOpenForInput;
  const ReadKind kind = readKind(op);
  if (kind == ReadKind::kPrevious) return kUnsupported;
  f.lastReadOk = false;
  if (f.missingOptional)
    return kind == ReadKind::kRandom ? datafiles::kNotFound : datafiles::kEndOfFile;
  // In unit mode the unit begins before the first record is locked: that
  // lock, like those of the changes, then lasts until COMMIT or ROLLBACK.
  if (const FileStatus u = ensureUnit(f); !u.ok()) return u;
  const std::span<char> rec = f.record(fcd);
  FileStatus s;
  if (kind == ReadKind::kRandom) {
    s = f.handle->read(rec);
    f.placed = true;
  } else {
    if (!f.placed) {
      // Right after OPEN the file stands before its first record.
      std::vector<char> low(f.spec.recordLength, '\0');
      const FileStatus p =
          f.handle->start(datafiles::StartMode::kNotLessThan, low, f.spec.keyLength);
      f.placed = true;
      if (p.invalidKey()) return datafiles::kEndOfFile;
      if (!p.ok()) return p;
    }
    s = f.handle->readNext(rec);
  }
  if (s.ok()) {
    put4(fcd->curRecLen, static_cast<std::uint32_t>(f.spec.recordLength));
    f.lastReadOk = true;
    if (f.access == ACCESS_SEQ) f.lastReadKey.assign(f.keyOf(fcd));
  }
  return s;
}

FileStatus Handler::start(unsigned op, FCD3* fcd, File& f) {
  if (!f.open) return datafiles::kNotOpen;
  if (f.openMode == OPEN_OUTPUT || f.openMode == OPEN_EXTEND || f.access == ACCESS_RANDOM)
    return datafiles::kNotOpenForInput;
  f.lastReadOk = false;
  f.placed = true;
  if (get2(fcd->refKey) != 0) return kUnsupported;  // alternate keys: never ours
  if (f.missingOptional) return datafiles::kNotFound;
  std::size_t length = get2(fcd->effKeyLen);
  if (length == 0 || length > f.spec.keyLength) length = f.spec.keyLength;
  switch (op) {
    case OP_START_EQ:
    case OP_START_EQ_ANY:
      return f.handle->start(datafiles::StartMode::kEqual, f.record(fcd), length);
    case OP_START_GT:
      return f.handle->start(datafiles::StartMode::kGreaterThan, f.record(fcd), length);
    case OP_START_GE:
      return f.handle->start(datafiles::StartMode::kNotLessThan, f.record(fcd), length);
    case OP_START_FI: {
      std::vector<char> low(f.spec.recordLength, '\0');
      return f.handle->start(datafiles::StartMode::kNotLessThan, low, f.spec.keyLength);
    }
    default:  // <, <=, LAST: the store reads forward only
      return kUnsupported;
  }
}

FileStatus Handler::change(unsigned op, FCD3* fcd, File& f) {
  if (!f.open) return datafiles::kNotOpen;
  const bool sequential = f.access == ACCESS_SEQ;
  if (op == OP_WRITE) {
    if (f.openMode == OPEN_INPUT || (f.openMode == OPEN_IO && sequential))
      return datafiles::kNotOpenForOutput;
  } else if (f.openMode != OPEN_IO) {
    return datafiles::kNotOpenForUpdate;
  }
  if (op != OP_DELETE && get4(fcd->curRecLen) != f.spec.recordLength) return kRecordLength;
  const std::string_view key = f.keyOf(fcd);
  if (sequential) {
    if (op == OP_WRITE && !f.lastWrittenKey.empty() && key <= f.lastWrittenKey)
      return kSequenceError;
    if (op != OP_WRITE && !f.lastReadOk) return kNoReadBefore;
    if (op == OP_REWRITE && key != f.lastReadKey) return kSequenceError;
  }
  if (const FileStatus u = ensureUnit(f); !u.ok()) return u;
  const std::span<char> rec = f.record(fcd);
  FileStatus s;
  if (op == OP_WRITE)
    s = f.handle->write(rec);
  else if (op == OP_REWRITE)
    s = f.handle->rewrite(rec);
  else
    s = f.handle->remove(rec);
  if (op == OP_WRITE && s.ok() && sequential) f.lastWrittenKey.assign(key);
  f.lastReadOk = false;
  return s;
}

FileStatus Handler::unlock(File& f) {
  // Input handles hold no locks; inside a unit the store keeps them until
  // COMMIT or ROLLBACK.
  if (!f.handle || !f.updating()) return datafiles::kOk;
  return f.handle->unlock();
}

FileStatus Handler::ensureUnit(File& f) {
  if (!unitMode_ || f.inUnit || !f.handle || !f.updating()) return datafiles::kOk;
  const FileStatus s = f.handle->begin();
  if (s.ok()) f.inUnit = true;
  return s;
}

FileStatus Handler::endUnit(File& f, bool commit) {
  if (!f.handle) return datafiles::kOk;
  if (!f.inUnit) return unlock(f);
  FileStatus s = commit ? f.handle->commit() : f.handle->rollback();
  if (!s.ok() && commit) {
    // A unit that cannot be committed is undone, never left half open.
    (void)f.handle->rollback();
  }
  f.inUnit = false;
  return s;
}

FileStatus Handler::commitAll() {
  FileStatus first = datafiles::kOk;
  bool any = false;
  for (auto& [fcd, f] : files_) {
    if (!f->ours || !f->open) continue;
    any = true;
    const FileStatus s = endUnit(*f, true);
    if (first.ok() && !s.ok()) first = s;
  }
  if (any) unitMode_ = true;
  return first;
}

FileStatus Handler::rollbackAll() {
  FileStatus first = datafiles::kOk;
  bool any = false;
  for (auto& [fcd, f] : files_) {
    if (!f->ours || !f->open) continue;
    any = true;
    const FileStatus s = endUnit(*f, false);
    if (first.ok() && !s.ok()) first = s;
  }
  if (any) unitMode_ = true;
  return first;
}

std::optional<Handler::Known> Handler::byCobFile(const void* cobFile) const {
  for (const auto& [fcd, f] : files_)
    if (f->cobFile == cobFile) return Known{fcd, f->ours, f->open};
  return std::nullopt;
}

bool Handler::holdsOpen(const void* cobFile) const {
  const auto k = byCobFile(cobFile);
  return k && k->open;
}

bool Handler::owns(const void* cobFile) const {
  const auto k = byCobFile(cobFile);
  return k && k->ours;
}

std::size_t Handler::openFiles() const {
  return static_cast<std::size_t>(std::count_if(files_.begin(), files_.end(), [](const auto& e) {
    return e.second->ours && e.second->open;
  }));
}

}  // namespace cobol
