#include "programs/settings_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace programs {
namespace {

constexpr std::string_view kMagic = "PXSET01\n";
constexpr std::size_t kStoredWidth = pxabi::SettingsBlock::kStored.width;

void appendSafe(std::string& out, std::string_view raw) {
  raw = encoding::trimmed({raw.data(), raw.size()});
  if (raw.empty()) out += '_';
  for (char c : raw) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) {
      out += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", b);
      out += hex;
    }
  }
}

bool writeAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace

std::string SettingsStore::defaultDirectory() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/px01";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && home[0] != '\0' ? home : ".") + "/.config/px01";
}

std::string SettingsStore::fileFor(const pxabi::SettingsBlock& block) const {
  std::string name;
  appendSafe(name, encoding::view(block.identification()));
  name += '-';
  appendSafe(name, encoding::view(block.client()));
  name += '-';
  appendSafe(name, encoding::view(block.module()));
  return directory_ + "/" + name + ".set";
}

bool SettingsStore::load(pxabi::SettingsBlock& block) const {
  const std::string path = fileFor(block);
  char buffer[kMagic.size() + kStoredWidth + 1];
  std::size_t got = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    for (;;) {
      const ssize_t r = ::read(fd, buffer + got, sizeof buffer - got);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
      if (got == sizeof buffer) break;
    }
    ::close(fd);
  }
  // Only a whole file counts; anything else reads as "nothing stored".
  if (fd < 0 || got != kMagic.size() + kStoredWidth ||
      std::string_view(buffer, kMagic.size()) != kMagic) {
    encoding::blank(block.menuValue());
    encoding::blank(block.checkValue());
    return false;
  }
  std::memcpy(block.stored().data(), buffer + kMagic.size(), kStoredWidth);
  return true;
}

bool SettingsStore::save(const pxabi::SettingsBlock& block) const {
  std::error_code ec;
  std::filesystem::create_directories(directory_, ec);
  const std::string path = fileFor(block);
  // One temporary name per process: two launchers of one user may save at once.
  const std::string temp = path + ".tmp." + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::string content(kMagic);
  content.append(block.stored().data(), kStoredWidth);
  const bool written = writeAll(fd, content.data(), content.size()) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable.
  const int dir = ::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool SettingsStore::apply(pxabi::SettingsBlock& block) const {
  switch (block.function()) {
    case pxabi::SettingsBlock::kLoad:
      return load(block);
    case pxabi::SettingsBlock::kSave:
      return save(block);
    default: return false;
  }
}

}  // namespace programs
