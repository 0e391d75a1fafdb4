#include "datafiles/lock_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
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
  held_.clear();
  allowWide_ = wide_ = false;
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

bool LockFile::holdsRecord(std::span<const char> key) const {
  return wide_ || std::binary_search(held_.begin(), held_.end(), recordByte(key));
}

LockFile::Result LockFile::lockRecord(std::span<const char> key) {
  if (wide_) return Result::kOk;
  const std::int64_t byte = recordByte(key);
  const auto at = std::lower_bound(held_.begin(), held_.end(), byte);
  if (at != held_.end() && *at == byte) return Result::kOk;  // ours already: no one else can hold it
  const Result r = set(byte, kWrite);
  if (r == Result::kOk) {
    held_.insert(at, byte);
    // Tried again after every further kWideAfter locks while others hold one.
    if (allowWide_ && held_.size() % kWideAfter == 0) widen();
  }
  return r;
}

void LockFile::widen() {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kFileByte + 1;
  fl.l_len = 0;  // to the end: every record byte
  int rc;
  do {
    rc = ::fcntl(fd_, F_OFD_SETLK, &fl);
  } while (rc < 0 && errno == EINTR);
  if (rc != 0) return;  // another handle holds a record: stay with single locks
  wide_ = true;
  held_.clear();  // one range now stands for them all
}

void LockFile::unlockRecord(std::span<const char> key) {
  if (wide_) return;  // kept until unlockRecords
  const std::int64_t byte = recordByte(key);
  const auto at = std::lower_bound(held_.begin(), held_.end(), byte);
  if (at == held_.end() || *at != byte) return;
  (void)set(byte, kUnlock);
  held_.erase(at);
}

void LockFile::unlockRecords() {
  if ((held_.empty() && !wide_) || fd_ < 0) return;
  wide_ = false;
  if (held_.size() == 1) {
    (void)set(held_.front(), kUnlock);
  } else {
    // One call for all: every record byte lies above the file byte.
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kFileByte + 1;
    fl.l_len = 0;  // to the end
    int rc;
    do {
      rc = ::fcntl(fd_, F_OFD_SETLK, &fl);
    } while (rc < 0 && errno == EINTR);
  }
  held_.clear();
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
