#include "datafiles/records.h"

#include <algorithm>

namespace datafiles {

std::array<char, UserRecord::kKeyLength> UserRecord::key(int client,
                                                         std::string_view encodedName) {
  UserRecord r;
  r.setClient(client);
  r.setEncodedName(encodedName);
  std::array<char, kKeyLength> k{};
  std::copy_n(r.data(), kKeyLength, k.begin());
  return k;
}

std::array<char, MenuRecord::kKeyLength> MenuRecord::key(int menu, int entry) {
  MenuRecord r;
  r.setKey(menu, entry);
  std::array<char, kKeyLength> k{};
  std::copy_n(r.data(), kKeyLength, k.begin());
  return k;
}

std::array<char, PermissionRecord::kKeyLength> PermissionRecord::key(
    int client, std::string_view userName, std::string_view program) {
  PermissionRecord r;
  r.setKey(client, userName, program);
  std::array<char, kKeyLength> k{};
  std::copy_n(r.data(), kKeyLength, k.begin());
  return k;
}

std::array<char, InstallationRecord::kKeyLength> InstallationRecord::key(char type, int client,
                                                                         int application) {
  InstallationRecord r;
  r.setKey(type, client, application);
  std::array<char, kKeyLength> k{};
  std::copy_n(r.data(), kKeyLength, k.begin());
  return k;
}

}  // namespace datafiles
