#include "testing/fault_store.h"

namespace testing_support {
namespace {

const char* opName(Op op) {
  switch (op) {
    case Op::kOpen:
      return "open";
    case Op::kClose:
      return "close";
    case Op::kRead:
      return "read";
    case Op::kStart:
      return "start";
    case Op::kReadNext:
      return "readNext";
    case Op::kWrite:
      return "write";
    case Op::kRewrite:
      return "rewrite";
    case Op::kRemove:
      return "remove";
    case Op::kUnlock:
      return "unlock";
    case Op::kBegin:
      return "begin";
    case Op::kCommit:
      return "commit";
    case Op::kRollback:
      return "rollback";
  }
  return "?";
}

class FaultFile final : public datafiles::KeyedFile {
 public:
  FaultFile(FaultStore& store, std::unique_ptr<datafiles::KeyedFile> inner)
      : store_(store), inner_(std::move(inner)) {}

  datafiles::FileStatus open(datafiles::OpenMode mode) override {
    return run(Op::kOpen, [&] { return inner_->open(mode); });
  }
  datafiles::FileStatus close() override {
    return run(Op::kClose, [&] { return inner_->close(); });
  }
  bool isOpen() const override { return inner_->isOpen(); }
  datafiles::FileStatus read(std::span<char> r) override {
    return run(Op::kRead, [&] { return inner_->read(r); });
  }
  datafiles::FileStatus start(datafiles::StartMode m, std::span<const char> r,
                              std::size_t n) override {
    return run(Op::kStart, [&] { return inner_->start(m, r, n); });
  }
  datafiles::FileStatus readNext(std::span<char> r) override {
    return run(Op::kReadNext, [&] { return inner_->readNext(r); });
  }
  datafiles::FileStatus write(std::span<const char> r) override {
    return run(Op::kWrite, [&] { return inner_->write(r); });
  }
  datafiles::FileStatus rewrite(std::span<const char> r) override {
    return run(Op::kRewrite, [&] { return inner_->rewrite(r); });
  }
  datafiles::FileStatus remove(std::span<const char> r) override {
    return run(Op::kRemove, [&] { return inner_->remove(r); });
  }
  datafiles::FileStatus unlock() override {
    return run(Op::kUnlock, [&] { return inner_->unlock(); });
  }
  datafiles::FileStatus begin() override {
    return run(Op::kBegin, [&] { return inner_->begin(); });
  }
  datafiles::FileStatus commit() override {
    return run(Op::kCommit, [&] { return inner_->commit(); });
  }
  datafiles::FileStatus rollback() override {
    return run(Op::kRollback, [&] { return inner_->rollback(); });
  }
  const datafiles::FileSpec& spec() const override { return inner_->spec(); }
  void setNoWait() override { inner_->setNoWait(); }

 private:
  template <class Call>
  datafiles::FileStatus run(Op op, Call call) {
    if (auto fault = store_.intercept(inner_->spec().name, op)) return *fault;
    return call();
  }

  FaultStore& store_;
  std::unique_ptr<datafiles::KeyedFile> inner_;
};

}  // namespace

std::unique_ptr<datafiles::KeyedFile> FaultStore::file(const datafiles::FileSpec& spec,
                                                       std::string_view directory) {
  return std::make_unique<FaultFile>(*this,
                                     inner_.file(spec, directory.empty() ? directory_ : directory));
}

datafiles::FileStatus FaultStore::create(const datafiles::FileSpec& spec,
                                         std::string_view directory) {
  return inner_.create(spec, directory.empty() ? directory_ : directory);
}

void FaultStore::fail(std::string_view name, Op op, datafiles::FileStatus status, int times,
                      int after) {
  faults_.push_back({std::string(name), op, status, times, after});
}

int FaultStore::calls(std::string_view name, Op op) const {
  auto it = calls_.find({std::string(name), op});
  return it == calls_.end() ? 0 : it->second;
}

std::optional<datafiles::FileStatus> FaultStore::intercept(std::string_view name, Op op) {
  ++calls_[{std::string(name), op}];
  log_.push_back(std::string(name.substr(0, 4)) + " " + opName(op));
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->name != name || it->op != op) continue;
    if (it->after > 0) {
      --it->after;
      continue;
    }
    const datafiles::FileStatus s = it->status;
    if (it->times > 0 && --it->times == 0) faults_.erase(it);
    return s;
  }
  return std::nullopt;
}

}  // namespace testing_support
