#include "testing/memory_store.h"

#include <algorithm>
#include <cstring>

namespace testing_support {
namespace {

class MemoryFile : public datafiles::KeyedFile {
 public:
  MemoryFile(MemoryStore& store, const datafiles::FileSpec& spec) : store_(store), spec_(spec) {}

  datafiles::FileStatus open(datafiles::OpenMode mode) override {
    if (open_) return datafiles::kAlreadyOpen;
    if (!store_.exists(spec_.name)) return datafiles::kFileMissing;
    const auto& file = store_.contents(spec_.name);
    if (file.spec.recordLength != spec_.recordLength || file.spec.keyLength != spec_.keyLength)
      return datafiles::kAttributeMismatch;
    open_ = true;
    mode_ = mode;
    position_.reset();
    return datafiles::kOk;
  }
  datafiles::FileStatus close() override {
    if (!open_) return datafiles::kNotOpen;
    if (unit_ && store_.exists(spec_.name)) records() = std::move(*unit_);
    unit_.reset();
    open_ = false;
    return datafiles::kOk;
  }
  bool isOpen() const override { return open_; }

  datafiles::FileStatus read(std::span<char> record) override {
    if (!open_) return datafiles::kNotOpen;
    auto& recs = records();
    auto it = recs.find(keyOf(record));
    if (it == recs.end()) {
      position_.reset();
      return datafiles::kNotFound;
    }
    std::memcpy(record.data(), it->second.data(), spec_.recordLength);
    position_ = it->first;
    positionedBefore_ = false;
    return datafiles::kOk;
  }
  datafiles::FileStatus start(datafiles::StartMode mode, std::span<const char> record,
                              std::size_t keyLength) override {
    if (!open_) return datafiles::kNotOpen;
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
  datafiles::FileStatus readNext(std::span<char> record) override {
    if (!open_) return datafiles::kNotOpen;
    if (!position_) return datafiles::kNoPosition;
    auto& recs = records();
    auto it = positionedBefore_ ? recs.lower_bound(*position_) : recs.upper_bound(*position_);
    if (it == recs.end()) return datafiles::kEndOfFile;
    std::memcpy(record.data(), it->second.data(), spec_.recordLength);
    position_ = it->first;
    positionedBefore_ = false;
    return datafiles::kOk;
  }
  datafiles::FileStatus write(std::span<const char> record) override {
    if (!open_) return datafiles::kNotOpen;
    if (mode_ == datafiles::OpenMode::kInput) return datafiles::kNotOpenForOutput;
    auto [it, inserted] =
        records().emplace(keyOf(record), std::string(record.data(), spec_.recordLength));
    return inserted ? datafiles::kOk : datafiles::kDuplicateKey;
  }
  datafiles::FileStatus rewrite(std::span<const char> record) override {
    if (!open_) return datafiles::kNotOpen;
    if (mode_ == datafiles::OpenMode::kInput) return datafiles::kNotOpenForUpdate;
    auto it = records().find(keyOf(record));
    if (it == records().end()) return datafiles::kNotFound;
    it->second.assign(record.data(), spec_.recordLength);
    return datafiles::kOk;
  }
  datafiles::FileStatus remove(std::span<const char> record) override {
    if (!open_) return datafiles::kNotOpen;
    if (mode_ == datafiles::OpenMode::kInput) return datafiles::kNotOpenForUpdate;
    return records().erase(keyOf(record)) ? datafiles::kOk : datafiles::kNotFound;
  }
  // No record locks here: nothing to let go of.
  datafiles::FileStatus unlock() override {
    return open_ ? datafiles::kOk : datafiles::kNotOpen;
  }
  // A unit keeps a copy of the file to roll back to; closing inside a unit
  // rolls back, as the real store does. Input handles have no units.
  datafiles::FileStatus begin() override {
    if (!open_) return datafiles::kNotOpen;
    if (mode_ == datafiles::OpenMode::kInput) return datafiles::kNotOpenForOutput;
    if (unit_) return datafiles::kAlreadyOpen;
    unit_ = records();
    return datafiles::kOk;
  }
  datafiles::FileStatus commit() override {
    if (!open_) return datafiles::kNotOpen;
    if (mode_ == datafiles::OpenMode::kInput) return datafiles::kNotOpenForOutput;
    unit_.reset();
    return datafiles::kOk;
  }
  datafiles::FileStatus rollback() override {
    if (!open_) return datafiles::kNotOpen;
    if (mode_ == datafiles::OpenMode::kInput) return datafiles::kNotOpenForOutput;
    if (unit_) records() = std::move(*unit_);
    unit_.reset();
    return datafiles::kOk;
  }
  const datafiles::FileSpec& spec() const override { return spec_; }

 private:
  std::map<std::string, std::string>& records() { return store_.contents(spec_.name).records; }
  std::string keyOf(std::span<const char> record) const {
    return std::string(record.data(), spec_.keyLength);
  }

  MemoryStore& store_;
  datafiles::FileSpec spec_;
  bool open_ = false;
  datafiles::OpenMode mode_ = datafiles::OpenMode::kInput;
  std::optional<std::string> position_;
  bool positionedBefore_ = false;  // after start: read-next returns the record at position_
  std::optional<std::map<std::string, std::string>> unit_;  // the file before begin()
};

}  // namespace

std::unique_ptr<datafiles::KeyedFile> MemoryStore::file(const datafiles::FileSpec& spec,
                                                        std::string_view) {
  return std::make_unique<MemoryFile>(*this, spec);
}

datafiles::FileStatus MemoryStore::create(const datafiles::FileSpec& spec, std::string_view) {
  auto [it, inserted] = files_.emplace(std::string(spec.name), File{spec, {}});
  (void)it;
  return inserted ? datafiles::kOk : datafiles::kDuplicateKey;
}

MemoryStore::File& MemoryStore::contents(std::string_view name) {
  return files_.at(std::string(name));
}

void MemoryStore::put(std::string_view name, std::string_view record) {
  File& f = contents(name);
  f.records[std::string(record.substr(0, f.spec.keyLength))] = std::string(record);
}

}  // namespace testing_support
