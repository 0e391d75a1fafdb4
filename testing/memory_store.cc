#include "testing/memory_store.h"

#include <algorithm>
#include <cstring>

namespace testing_support {
namespace {

using datafiles::FileStatus;
using Records = std::map<std::string, std::string>;

class MemoryFile : public datafiles::KeyedFile {
 public:
  MemoryFile(std::shared_ptr<MemoryStore::State> state, const datafiles::FileSpec& spec)
      : state_(std::move(state)), spec_(spec) {}
  ~MemoryFile() override { (void)close(); }

  FileStatus open(datafiles::OpenMode mode) override {
    if (open_) return datafiles::kAlreadyOpen;
    const auto found = state_->files.find(std::string(spec_.name));
    if (found == state_->files.end()) return datafiles::kFileMissing;
    const auto& file = found->second;
    if (file.spec.recordLength != spec_.recordLength || file.spec.keyLength != spec_.keyLength)
      return datafiles::kAttributeMismatch;
    MemoryStore::Sharing& sh = sharing();
    if (sh.exclusive || (mode == datafiles::OpenMode::kExclusive && sh.opens > 0))
      return datafiles::kFileLocked;
    ++sh.opens;
    sh.exclusive = mode == datafiles::OpenMode::kExclusive;
    open_ = true;
    mode_ = mode;
    position_.reset();
    return datafiles::kOk;
  }
  FileStatus close() override {
    if (!open_) return datafiles::kNotOpen;
    endUnit();  // an unfinished unit is rolled back
    releaseLocks();
    MemoryStore::Sharing& sh = sharing();
    --sh.opens;
    if (mode_ == datafiles::OpenMode::kExclusive) sh.exclusive = false;
    open_ = false;
    return datafiles::kOk;
  }
  bool isOpen() const override { return open_; }

  FileStatus read(std::span<char> record) override {
    if (!open_) return datafiles::kNotOpen;
    const std::string key = keyOf(record);
    prologue(key);
    if (const FileStatus s = lock(key); !s.ok()) return s;
    auto& recs = records();
    auto it = recs.find(key);
    if (it == recs.end()) {
      position_.reset();
      dropIfNew(key);
      return datafiles::kNotFound;
    }
    std::memcpy(record.data(), it->second.data(), spec_.recordLength);
    position_ = it->first;
    positionedBefore_ = false;
    return datafiles::kOk;
  }
  FileStatus start(datafiles::StartMode mode, std::span<const char> record,
                   std::size_t keyLength) override {
    if (!open_) return datafiles::kNotOpen;
    prologue({});
    const std::string k(record.data(), std::min(keyLength, spec_.keyLength));
    auto& recs = records();
    auto prefix = [&](const std::string& key) { return key.substr(0, k.size()); };
    auto it = recs.begin();
    for (; it != recs.end(); ++it) {
      const std::string p = prefix(it->first);
      if (mode == datafiles::StartMode::kNotLessThan && p >= k) break;
      if (mode == datafiles::StartMode::kGreaterThan && p > k) break;
      if (mode == datafiles::StartMode::kEqual && p >= k) break;
    }
    if (it == recs.end() || (mode == datafiles::StartMode::kEqual && prefix(it->first) != k)) {
      position_.reset();
      return datafiles::kNotFound;
    }
    position_ = it->first;
    positionedBefore_ = true;
    return datafiles::kOk;
  }
  FileStatus readNext(std::span<char> record) override {
    if (!open_) return datafiles::kNotOpen;
    prologue({});
    if (!position_) return datafiles::kNoPosition;
    auto& recs = records();
    auto it = positionedBefore_ ? recs.lower_bound(*position_) : recs.upper_bound(*position_);
    if (it == recs.end()) return datafiles::kEndOfFile;
    if (const FileStatus s = lock(it->first); !s.ok()) {
      // The next read-next tries the same record again.
      position_ = it->first;
      positionedBefore_ = true;
      return s;
    }
    std::memcpy(record.data(), it->second.data(), spec_.recordLength);
    position_ = it->first;
    positionedBefore_ = false;
    return datafiles::kOk;
  }
  FileStatus write(std::span<const char> record) override {
    if (!open_) return datafiles::kNotOpen;
    prologue({});
    if (mode_ == datafiles::OpenMode::kInput) return datafiles::kNotOpenForOutput;
    if (unitElsewhere()) return datafiles::kFileLocked;
    auto [it, inserted] =
        records().emplace(keyOf(record), std::string(record.data(), spec_.recordLength));
    return inserted ? datafiles::kOk : datafiles::kDuplicateKey;
  }
  FileStatus rewrite(std::span<const char> record) override {
    return change(record, [&](Records& recs, Records::iterator it) {
      it->second.assign(record.data(), spec_.recordLength);
      (void)recs;
    });
  }
  FileStatus remove(std::span<const char> record) override {
    return change(record, [](Records& recs, Records::iterator it) { recs.erase(it); });
  }
  // Lets go of the record locks outside a unit; a unit keeps them.
  FileStatus unlock() override {
    if (!open_) return datafiles::kNotOpen;
    if (!unit_) releaseLocks();
    return datafiles::kOk;
  }
  // A unit works on its own copy of the file, which commit makes the file.
  // Input handles have no units.
  FileStatus begin() override {
    if (!open_) return datafiles::kNotOpen;
    prologue({});
    if (mode_ == datafiles::OpenMode::kInput) return datafiles::kNotOpenForOutput;
    if (unit_) return datafiles::kAlreadyOpen;
    if (unitElsewhere()) return datafiles::kFileLocked;
    unit_ = committed();
    sharing().unitOwner = this;
    return datafiles::kOk;
  }
  FileStatus commit() override {
    if (!open_) return datafiles::kNotOpen;
    if (mode_ == datafiles::OpenMode::kInput) return datafiles::kNotOpenForOutput;
    if (unit_ && state_->files.count(std::string(spec_.name)) != 0)
      committed() = std::move(*unit_);
    endUnit();
    releaseLocks();
    return datafiles::kOk;
  }
  FileStatus rollback() override {
    if (!open_) return datafiles::kNotOpen;
    if (mode_ == datafiles::OpenMode::kInput) return datafiles::kNotOpenForOutput;
    endUnit();
    releaseLocks();
    return datafiles::kOk;
  }
  const datafiles::FileSpec& spec() const override { return spec_; }

 private:
  MemoryStore::Sharing& sharing() { return state_->sharing[std::string(spec_.name)]; }
  Records& committed() { return state_->files.at(std::string(spec_.name)).records; }
  // What this handle sees: its unit's copy, or the file.
  Records& records() { return unit_ ? *unit_ : committed(); }
  std::string keyOf(std::span<const char> record) const {
    return std::string(record.data(), spec_.keyLength);
  }
  bool updating() const { return mode_ != datafiles::OpenMode::kInput; }
  bool unitElsewhere() {
    const void* owner = sharing().unitOwner;
    return owner != nullptr && owner != this;
  }

  // Outside a unit, a record lock ends with the handle's next operation;
  // the one on `key`, which that operation names, is kept.
  void prologue(const std::string& key) {
    if (unit_) return;
    for (auto it = held_.begin(); it != held_.end();) {
      if (*it == key) {
        ++it;
        continue;
      }
      sharing().recordLocks.erase(*it);
      it = held_.erase(it);
    }
  }
  // Input handles take no locks.
  FileStatus lock(const std::string& key) {
    if (!updating()) return datafiles::kOk;
    auto& locks = sharing().recordLocks;
    auto [it, inserted] = locks.emplace(key, this);
    if (!inserted && it->second != this) return datafiles::kRecordLocked;
    if (inserted) {
      held_.push_back(key);
      newlyLocked_ = key;
    } else {
      newlyLocked_.reset();
    }
    return datafiles::kOk;
  }
  // After a failed operation on `key`: its lock ends, unless a unit held it
  // before this operation.
  void dropIfNew(const std::string& key) {
    const auto it = std::find(held_.begin(), held_.end(), key);
    if (it == held_.end() || (unit_ && newlyLocked_ != key)) return;
    held_.erase(it);
    sharing().recordLocks.erase(key);
  }
  void releaseLocks() {
    for (const auto& k : held_) sharing().recordLocks.erase(k);
    held_.clear();
  }
  void endUnit() {
    unit_.reset();
    if (sharing().unitOwner == this) sharing().unitOwner = nullptr;
  }
  template <class Apply>
  FileStatus change(std::span<const char> record, Apply apply) {
    if (!open_) return datafiles::kNotOpen;
    const std::string key = keyOf(record);
    prologue(key);
    if (mode_ == datafiles::OpenMode::kInput) return datafiles::kNotOpenForUpdate;
    if (const FileStatus s = lock(key); !s.ok()) return s;
    if (unitElsewhere()) {
      dropIfNew(key);
      return datafiles::kFileLocked;
    }
    auto& recs = records();
    auto it = recs.find(key);
    if (it == recs.end()) {
      dropIfNew(key);
      return datafiles::kNotFound;
    }
    apply(recs, it);
    if (!unit_) releaseLocks();
    return datafiles::kOk;
  }

  std::shared_ptr<MemoryStore::State> state_;
  datafiles::FileSpec spec_;
  bool open_ = false;
  datafiles::OpenMode mode_ = datafiles::OpenMode::kInput;
  std::optional<std::string> position_;
  bool positionedBefore_ = false;  // after start: read-next returns the record at position_
  std::optional<Records> unit_;    // the unit's copy of the file
  std::vector<std::string> held_;  // keys this handle holds locked
  std::optional<std::string> newlyLocked_;  // the lock the current operation took
};

}  // namespace

std::unique_ptr<datafiles::KeyedFile> MemoryStore::file(const datafiles::FileSpec& spec,
                                                        std::string_view) {
  return std::make_unique<MemoryFile>(state_, spec);
}

datafiles::FileStatus MemoryStore::create(const datafiles::FileSpec& spec, std::string_view) {
  auto [it, inserted] = state_->files.emplace(std::string(spec.name), File{spec, {}});
  (void)it;
  return inserted ? datafiles::kOk : datafiles::kDuplicateKey;
}

void MemoryStore::put(std::string_view name, std::string_view record) {
  File& f = contents(name);
  f.records[std::string(record.substr(0, f.spec.keyLength))] = std::string(record);
}

}  // namespace testing_support
