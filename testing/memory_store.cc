#include "testing/memory_store.h"

#include <algorithm>
#include <cstring>

namespace testing_support {
namespace {

const char* opName(Op op) {
  switch (op) {
    case Op::kOpen: return "open";
    case Op::kClose: return "close";
    case Op::kRead: return "read";
    case Op::kStart: return "start";
    case Op::kReadNext: return "readNext";
    case Op::kWrite: return "write";
    case Op::kRewrite: return "rewrite";
    case Op::kRemove: return "remove";
  }
  return "?";
}

class MemoryFile : public fs::KeyedFile {
 public:
  MemoryFile(MemoryStore& store, const fs::FileSpec& spec) : store_(store), spec_(spec) {}

  fs::FileStatus open(fs::OpenMode mode) override {
    if (auto f = store_.intercept(spec_.name, Op::kOpen)) return *f;
    if (open_) return fs::kAlreadyOpen;
    if (!store_.exists(spec_.name)) return fs::kFileMissing;
    const auto& file = store_.contents(spec_.name);
    if (file.spec.recordLength != spec_.recordLength || file.spec.keyLength != spec_.keyLength)
      return fs::kAttributeMismatch;
    open_ = true;
    mode_ = mode;
    position_.reset();
    return fs::kOk;
  }
  fs::FileStatus close() override {
    if (auto f = store_.intercept(spec_.name, Op::kClose)) return *f;
    if (!open_) return fs::kNotOpen;
    if (unit_ && store_.exists(spec_.name)) records() = std::move(*unit_);
    unit_.reset();
    open_ = false;
    return fs::kOk;
  }
  bool isOpen() const override { return open_; }

  fs::FileStatus read(std::span<char> record) override {
    if (auto f = store_.intercept(spec_.name, Op::kRead)) return *f;
    if (!open_) return fs::kNotOpen;
    auto& recs = records();
    auto it = recs.find(keyOf(record));
    if (it == recs.end()) {
      position_.reset();
      return fs::kNotFound;
    }
    std::memcpy(record.data(), it->second.data(), spec_.recordLength);
    position_ = it->first;
    positionedBefore_ = false;
    return fs::kOk;
  }
  fs::FileStatus start(fs::StartMode mode, std::span<const char> record,
                       std::size_t keyLength) override {
    if (auto f = store_.intercept(spec_.name, Op::kStart)) return *f;
    if (!open_) return fs::kNotOpen;
    const std::string k(record.data(), std::min(keyLength, spec_.keyLength));
    auto& recs = records();
    auto prefix = [&](const std::string& key) { return key.substr(0, k.size()); };
    auto it = recs.begin();
    for (; it != recs.end(); ++it) {
      const std::string p = prefix(it->first);
      if (mode == fs::StartMode::kNotLessThan && p >= k) break;
      if (mode == fs::StartMode::kGreaterThan && p > k) break;
      if (mode == fs::StartMode::kEqual && p >= k) break;
    }
    if (it == recs.end() || (mode == fs::StartMode::kEqual && prefix(it->first) != k)) {
      position_.reset();
      return fs::kNotFound;
    }
    position_ = it->first;
    positionedBefore_ = true;
    return fs::kOk;
  }
  fs::FileStatus readNext(std::span<char> record) override {
    if (auto f = store_.intercept(spec_.name, Op::kReadNext)) return *f;
    if (!open_) return fs::kNotOpen;
    if (!position_) return fs::kNoPosition;
    auto& recs = records();
    auto it = positionedBefore_ ? recs.lower_bound(*position_) : recs.upper_bound(*position_);
    if (it == recs.end()) return fs::kEndOfFile;
    std::memcpy(record.data(), it->second.data(), spec_.recordLength);
    position_ = it->first;
    positionedBefore_ = false;
    return fs::kOk;
  }
  fs::FileStatus write(std::span<const char> record) override {
    if (auto f = store_.intercept(spec_.name, Op::kWrite)) return *f;
    if (!open_) return fs::kNotOpen;
    if (mode_ == fs::OpenMode::kInput) return fs::kNotOpenForOutput;
    auto [it, inserted] =
        records().emplace(keyOf(record), std::string(record.data(), spec_.recordLength));
    return inserted ? fs::kOk : fs::kDuplicateKey;
  }
  fs::FileStatus rewrite(std::span<const char> record) override {
    if (auto f = store_.intercept(spec_.name, Op::kRewrite)) return *f;
    if (!open_) return fs::kNotOpen;
    if (mode_ == fs::OpenMode::kInput) return fs::kNotOpenForUpdate;
    auto it = records().find(keyOf(record));
    if (it == records().end()) return fs::kNotFound;
    it->second.assign(record.data(), spec_.recordLength);
    return fs::kOk;
  }
  fs::FileStatus remove(std::span<const char> record) override {
    if (auto f = store_.intercept(spec_.name, Op::kRemove)) return *f;
    if (!open_) return fs::kNotOpen;
    if (mode_ == fs::OpenMode::kInput) return fs::kNotOpenForUpdate;
    return records().erase(keyOf(record)) ? fs::kOk : fs::kNotFound;
  }
  // A unit keeps a copy of the file to roll back to; closing inside a unit
  // rolls back, as the real store does. Input handles have no units.
  fs::FileStatus begin() override {
    if (!open_) return fs::kNotOpen;
    if (mode_ == fs::OpenMode::kInput) return fs::kNotOpenForOutput;
    if (unit_) return fs::kAlreadyOpen;
    unit_ = records();
    return fs::kOk;
  }
  fs::FileStatus commit() override {
    if (!open_) return fs::kNotOpen;
    if (mode_ == fs::OpenMode::kInput) return fs::kNotOpenForOutput;
    unit_.reset();
    return fs::kOk;
  }
  fs::FileStatus rollback() override {
    if (!open_) return fs::kNotOpen;
    if (mode_ == fs::OpenMode::kInput) return fs::kNotOpenForOutput;
    if (unit_) records() = std::move(*unit_);
    unit_.reset();
    return fs::kOk;
  }
  const fs::FileSpec& spec() const override { return spec_; }

 private:
  std::map<std::string, std::string>& records() { return store_.contents(spec_.name).records; }
  std::string keyOf(std::span<const char> record) const {
    return std::string(record.data(), spec_.keyLength);
  }

  MemoryStore& store_;
  fs::FileSpec spec_;
  bool open_ = false;
  fs::OpenMode mode_ = fs::OpenMode::kInput;
  std::optional<std::string> position_;
  bool positionedBefore_ = false;  // after start: read-next returns the record at position_
  std::optional<std::map<std::string, std::string>> unit_;  // the file before begin()
};

}  // namespace

std::unique_ptr<fs::KeyedFile> MemoryStore::file(const fs::FileSpec& spec, std::string_view) {
  return std::make_unique<MemoryFile>(*this, spec);
}

fs::FileStatus MemoryStore::create(const fs::FileSpec& spec, std::string_view) {
  auto [it, inserted] = files_.emplace(std::string(spec.name), File{spec, {}});
  (void)it;
  return inserted ? fs::kOk : fs::kDuplicateKey;
}

MemoryStore::File& MemoryStore::contents(std::string_view name) {
  return files_.at(std::string(name));
}

void MemoryStore::put(std::string_view name, std::string_view record) {
  File& f = contents(name);
  f.records[std::string(record.substr(0, f.spec.keyLength))] = std::string(record);
}

void MemoryStore::fail(std::string_view name, Op op, fs::FileStatus status, int times) {
  faults_.push_back({std::string(name), op, status, times});
}

int MemoryStore::calls(std::string_view name, Op op) const {
  auto it = calls_.find({std::string(name), op});
  return it == calls_.end() ? 0 : it->second;
}

std::optional<fs::FileStatus> MemoryStore::intercept(std::string_view name, Op op) {
  ++calls_[{std::string(name), op}];
  log_.push_back(std::string(name.substr(0, 4)) + " " + opName(op));
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->name != name || it->op != op) continue;
    const fs::FileStatus s = it->status;
    if (it->times > 0 && --it->times == 0) faults_.erase(it);
    return s;
  }
  return std::nullopt;
}

}  // namespace testing_support
