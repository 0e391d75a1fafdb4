#include "datafiles/store_config.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "datafiles/pg_store.h"
#include "datafiles/sqlite_store.h"

namespace datafiles {
namespace {

// Far more than any connection string needs; a larger file is not ours.
constexpr std::size_t kMaxConfigSize = 64 * 1024;

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// The store of a data directory whose px-store.conf cannot be used.
class RefusingStore final : public InstallationStore {
 public:
  explicit RefusingStore(std::string why) : why_(std::move(why)) {}
  std::unique_ptr<KeyedFile> file(const FileSpec& spec, std::string_view) override {
    return std::make_unique<RefusedFile>(spec);
  }
  FileStatus create(const FileSpec&, std::string_view) override { return kPermanentError; }
  FileStatus copyTo(const FileSpec&, std::string_view, const std::string&) override {
    return kPermanentError;
  }
  FileStatus checkIntegrity(const FileSpec&, std::string_view,
                            std::vector<std::string>* problems) override {
    if (problems != nullptr) problems->push_back(why_);
    return kPermanentError;
  }
  FileStatus replaceFiles(std::span<const FileSpec* const>, std::string_view, std::string_view,
                          std::vector<Replacement>*, std::string*) override {
    return kPermanentError;
  }
  std::string location(std::string_view directory) const override {
    return directory.empty() ? std::string(".") : std::string(directory);
  }
  std::string lastError() const override { return why_; }

 private:
  class RefusedFile final : public KeyedFile {
   public:
    explicit RefusedFile(const FileSpec& spec) : spec_(spec) {}
    FileStatus open(OpenMode) override { return kPermanentError; }
    FileStatus close() override { return kNotOpen; }
    bool isOpen() const override { return false; }
    FileStatus read(std::span<char>) override { return kNotOpen; }
    FileStatus start(StartMode, std::span<const char>, std::size_t) override { return kNotOpen; }
    FileStatus readNext(std::span<char>) override { return kNotOpen; }
    FileStatus write(std::span<const char>) override { return kNotOpen; }
    FileStatus rewrite(std::span<const char>) override { return kNotOpen; }
    FileStatus remove(std::span<const char>) override { return kNotOpen; }
    FileStatus unlock() override { return kNotOpen; }
    FileStatus begin() override { return kNotOpen; }
    FileStatus commit() override { return kNotOpen; }
    FileStatus rollback() override { return kNotOpen; }
    const FileSpec& spec() const override { return spec_; }

   private:
    FileSpec spec_;
  };
  std::string why_;
};

StoreChoice invalid(std::string why) {
  StoreChoice c;
  c.kind = StoreChoice::Kind::kInvalid;
  c.error = std::string(kStoreConfigName) + ": " + std::move(why);
  return c;
}

}  // namespace

StoreChoice parseStoreConfig(std::string_view text, bool readableByOthers) {
  std::string_view found;
  std::size_t lines = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (++lines > 1) return invalid("more than one connection string");
    found = line;
  }
  if (lines == 0) return invalid("no connection string");
  const std::string conninfo(found);
  if (conninfo.find('\0') != std::string::npos)
    return invalid("a NUL byte in the connection string");
  char* err = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &err);
  if (options == nullptr) {
    std::string why = err != nullptr ? err : "cannot be read (out of memory)";
    PQfreemem(err);
    while (!why.empty() && why.back() == '\n') why.pop_back();
    return invalid("not a connection string: " + why);
  }
  bool secret = false;
  for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    if (o->val == nullptr || *o->val == '\0') continue;
    if (std::strcmp(o->keyword, "password") == 0 || std::strcmp(o->keyword, "sslpassword") == 0)
      secret = true;
  }
  PQconninfoFree(options);
  if (secret && readableByOthers)
    return invalid(
        "holds a password but others may read it: keep the password in ~/.pgpass (or the "
        "file PGPASSFILE names) instead, or make px-store.conf readable by its owner only");
  StoreChoice c;
  c.kind = StoreChoice::Kind::kServer;
  c.conninfo = conninfo;
  return c;
}

StoreChoice chooseStore(std::string_view directory) {
  const std::string path = SqliteStore::pathOf(kStoreConfigName, directory);
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == ENOENT) return StoreChoice{};
    return invalid(std::string("cannot be read: ") + std::strerror(errno));
  }
  struct stat st {};
  std::string text;
  std::string failure;
  if (::fstat(fd, &st) != 0) {
    failure = std::string("cannot be read: ") + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    failure = "is not a file";
  } else if (static_cast<std::size_t>(st.st_size) > kMaxConfigSize) {
    failure = "is too large for a connection string";
  } else {
    char buf[4096];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        failure = std::string("cannot be read: ") + std::strerror(errno);
        break;
      }
      if (n == 0) break;
      text.append(buf, static_cast<std::size_t>(n));
      if (text.size() > kMaxConfigSize) {
        failure = "is too large for a connection string";
        break;
      }
    }
  }
  ::close(fd);
  if (!failure.empty()) return invalid(failure);
  return parseStoreConfig(text, (st.st_mode & (S_IRGRP | S_IROTH)) != 0);
}

std::unique_ptr<InstallationStore> openStore(std::string_view directory, std::string* error) {
  if (error != nullptr) error->clear();
  StoreChoice c = chooseStore(directory);
  switch (c.kind) {
    case StoreChoice::Kind::kEmbedded:
      return std::make_unique<SqliteStore>();
    case StoreChoice::Kind::kServer:
      return std::make_unique<PgStore>(std::move(c.conninfo));
    case StoreChoice::Kind::kInvalid:
      break;
  }
  if (error != nullptr) *error = c.error;
  return std::make_unique<RefusingStore>(c.error);
}

}  // namespace datafiles
