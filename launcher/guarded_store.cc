#include "launcher/guarded_store.h"

#include "platform/terminal.h"

namespace launcher {
namespace {

using Guard = platform::EndSignalHold;

class GuardedFile : public datafiles::KeyedFile {
 public:
  explicit GuardedFile(std::unique_ptr<datafiles::KeyedFile> inner) : inner_(std::move(inner)) {}
  datafiles::FileStatus open(datafiles::OpenMode mode) override {
    Guard g;
    return inner_->open(mode);
  }
  datafiles::FileStatus close() override {
    Guard g;
    return inner_->close();
  }
  bool isOpen() const override { return inner_->isOpen(); }
  datafiles::FileStatus read(std::span<char> r) override {
    Guard g;
    return inner_->read(r);
  }
  datafiles::FileStatus start(datafiles::StartMode m, std::span<const char> r,
                              std::size_t n) override {
    Guard g;
    return inner_->start(m, r, n);
  }
  datafiles::FileStatus readNext(std::span<char> r) override {
    Guard g;
    return inner_->readNext(r);
  }
  datafiles::FileStatus write(std::span<const char> r) override {
    Guard g;
    return inner_->write(r);
  }
  datafiles::FileStatus rewrite(std::span<const char> r) override {
    Guard g;
    return inner_->rewrite(r);
  }
  datafiles::FileStatus remove(std::span<const char> r) override {
    Guard g;
    return inner_->remove(r);
  }
  datafiles::FileStatus unlock() override {
    Guard g;
    return inner_->unlock();
  }
  datafiles::FileStatus begin() override {
    Guard g;
    return inner_->begin();
  }
  datafiles::FileStatus commit() override {
    Guard g;
    return inner_->commit();
  }
  datafiles::FileStatus rollback() override {
    Guard g;
    return inner_->rollback();
  }
  const datafiles::FileSpec& spec() const override { return inner_->spec(); }

 private:
  std::unique_ptr<datafiles::KeyedFile> inner_;
};

class GuardedStore : public datafiles::FileStore {
 public:
  explicit GuardedStore(datafiles::FileStore& inner) : inner_(inner) {}
  std::unique_ptr<datafiles::KeyedFile> file(const datafiles::FileSpec& spec,
                                             std::string_view directory) override {
    return std::make_unique<GuardedFile>(inner_.file(spec, directory));
  }
  datafiles::FileStatus create(const datafiles::FileSpec& spec,
                               std::string_view directory) override {
    Guard g;
    return inner_.create(spec, directory);
  }

 private:
  datafiles::FileStore& inner_;
};

}  // namespace

std::unique_ptr<datafiles::FileStore> guardedStore(datafiles::FileStore& inner) {
  return std::make_unique<GuardedStore>(inner);
}

}  // namespace launcher
