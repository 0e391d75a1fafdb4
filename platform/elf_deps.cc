#include "platform/elf_deps.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

namespace platform {
namespace {

// A read-only view of the whole file; sections are checked against its size
// before they are touched, so a truncated or hostile file is "not valid".
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      void* p =
          ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
      if (p != MAP_FAILED) {
        data_ = static_cast<const unsigned char*>(p);
        size_ = static_cast<std::size_t>(st.st_size);
      }
    }
    ::close(fd);
  }
  ~MappedFile() {
    if (data_ != nullptr) ::munmap(const_cast<unsigned char*>(data_), size_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  bool holds(std::uint64_t offset, std::uint64_t length) const {
    return data_ != nullptr && offset <= size_ && length <= size_ - offset;
  }
  template <typename T>
  const T* at(std::uint64_t offset) const {
    return holds(offset, sizeof(T)) ? reinterpret_cast<const T*>(data_ + offset) : nullptr;
  }
  // A NUL-terminated string inside [base, base + limit).
  std::string_view string(std::uint64_t base, std::uint64_t limit, std::uint64_t index) const {
    if (index >= limit || !holds(base, limit)) return {};
    const char* s = reinterpret_cast<const char*>(data_ + base + index);
    const std::size_t n = ::strnlen(s, limit - index);
    return n < limit - index ? std::string_view(s, n) : std::string_view();
  }

 private:
  const unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace

ElfDependencies readElfDependencies(const std::string& path) {
  ElfDependencies out;
  MappedFile file(path);
  const auto* eh = file.at<Elf64_Ehdr>(0);
  if (eh == nullptr || std::memcmp(eh->e_ident, ELFMAG, SELFMAG) != 0 ||
      eh->e_ident[EI_CLASS] != ELFCLASS64 || eh->e_ident[EI_DATA] != ELFDATA2LSB ||
      eh->e_type != ET_DYN || eh->e_shentsize != sizeof(Elf64_Shdr))
    return out;
  const std::uint64_t shoff = eh->e_shoff;
  const std::uint64_t shnum = eh->e_shnum;
  if (!file.holds(shoff, shnum * sizeof(Elf64_Shdr))) return out;
  auto section = [&](std::uint64_t i) {
    return file.at<Elf64_Shdr>(shoff + i * sizeof(Elf64_Shdr));
  };

  for (std::uint64_t i = 0; i < shnum; ++i) {
    const Elf64_Shdr* sh = section(i);
    if (sh->sh_type != SHT_DYNAMIC && sh->sh_type != SHT_DYNSYM) continue;
    if (sh->sh_link >= shnum) return out;
    const Elf64_Shdr* strtab = section(sh->sh_link);
    if (!file.holds(sh->sh_offset, sh->sh_size)) return out;
    if (sh->sh_type == SHT_DYNAMIC) {
      for (std::uint64_t off = 0; off + sizeof(Elf64_Dyn) <= sh->sh_size;
           off += sizeof(Elf64_Dyn)) {
        const auto* d = file.at<Elf64_Dyn>(sh->sh_offset + off);
        if (d->d_tag == DT_NULL) break;
        if (d->d_tag == DT_NEEDED) {
          const auto name = file.string(strtab->sh_offset, strtab->sh_size, d->d_un.d_val);
          if (!name.empty()) out.needed.emplace_back(name);
        }
      }
    } else {
      for (std::uint64_t off = sizeof(Elf64_Sym); off + sizeof(Elf64_Sym) <= sh->sh_size;
           off += sizeof(Elf64_Sym)) {
        const auto* s = file.at<Elf64_Sym>(sh->sh_offset + off);
        if (s->st_shndx != SHN_UNDEF) continue;
        const auto name = file.string(strtab->sh_offset, strtab->sh_size, s->st_name);
        if (!name.empty()) out.undefined.emplace_back(name);
      }
    }
  }
  out.valid = true;
  return out;
}

bool isCobolModule(const ElfDependencies& deps) {
  if (!deps.valid) return false;
  bool needsLibcob = false;
  for (const std::string& n : deps.needed)
    if (n.rfind("libcob.so", 0) == 0) needsLibcob = true;
  if (!needsLibcob) return false;
  for (const std::string& s : deps.undefined)
    if (s == "cob_module_global_enter" || s == "cob_module_enter") return true;
  return false;
}

bool isCobolModule(const std::string& path) { return isCobolModule(readElfDependencies(path)); }

}  // namespace platform
