#include "programs/password.h"

#include <crypt.h>
#include <string.h>

#include <memory>

namespace programs::password {
namespace {

// crypt_data is large (tens of kilobytes): keep it off the stack.
struct Scratch {
  crypt_data data;
  Scratch() { ::explicit_bzero(&data, sizeof data); }
  ~Scratch() { ::explicit_bzero(&data, sizeof data); }
};

}  // namespace

void wipe(std::string& s) {
  if (!s.empty()) ::explicit_bzero(s.data(), s.size());
  s.clear();
}

std::optional<std::string> hash(std::string_view phrase) {
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  if (::crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting) == nullptr)
    return std::nullopt;
  std::string plain(phrase);
  auto scratch = std::make_unique<Scratch>();
  const char* out = ::crypt_rn(plain.c_str(), setting, &scratch->data, sizeof scratch->data);
  wipe(plain);
  if (out == nullptr || out[0] == '*') return std::nullopt;
  return std::string(out);
}

bool verify(std::string_view phrase, std::string_view storedHash) {
  if (storedHash.empty() || storedHash.size() >= CRYPT_OUTPUT_SIZE) return false;
  std::string plain(phrase);
  const std::string setting(storedHash);
  auto scratch = std::make_unique<Scratch>();
  const char* out = ::crypt_rn(plain.c_str(), setting.c_str(), &scratch->data,
                               sizeof scratch->data);
  wipe(plain);
  if (out == nullptr || out[0] == '*') return false;
  const std::string_view got(out);
  if (got.size() != storedHash.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < got.size(); ++i)
    diff |= static_cast<unsigned char>(got[i] ^ storedHash[i]);
  return diff == 0;
}

}  // namespace programs::password
