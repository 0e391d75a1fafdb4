#include "datafiles/lock_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace datafiles {

LockFile::Result LockFile::open(const std::string& path) {
  close();
  do {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  } while (fd_ < 0 && errno == EINTR);
  return fd_ >= 0 ? Result::kOk : Result::kError;
}

void LockFile::close() {
  if (fd_ >= 0) ::close(fd_);  // drops every lock of this descriptor
  fd_ = -1;
  heldRecord_ = 0;
}

std::int64_t LockFile::recordByte(std::span<const char> key) {
  // FNV-1a, then a final mix so that keys differing in the last byte land
  // far apart.
  std::uint64_t h = 14695981039346656037ull;
  for (char c : key) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  return static_cast<std::int64_t>(h & ((std::uint64_t{1} << 62) - 1)) + 1;
}

LockFile::Result LockFile::lockRecord(std::span<const char> key) {
  const std::int64_t byte = recordByte(key);
  if (heldRecord_ == byte) return Result::kOk;  // ours already: no one else can hold it
  if (heldRecord_ != 0) unlockRecord();
  const Result r = set(byte, kWrite);
  if (r == Result::kOk) heldRecord_ = byte;
  return r;
}

void LockFile::unlockRecord() {
  if (heldRecord_ == 0) return;
  (void)set(heldRecord_, kUnlock);
  heldRecord_ = 0;
}

LockFile::Result LockFile::set(std::int64_t byte, Kind kind) {
  if (fd_ < 0) return Result::kError;
  struct flock fl {};
  fl.l_type = kind == kRead ? F_RDLCK : kind == kWrite ? F_WRLCK : F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  fl.l_pid = 0;  // required for open file description locks
  int rc;
  do {
    rc = ::fcntl(fd_, F_OFD_SETLK, &fl);
  } while (rc < 0 && errno == EINTR);
  if (rc == 0) return Result::kOk;
  return (errno == EAGAIN || errno == EACCES) ? Result::kBusy : Result::kError;
}

}  // namespace datafiles
