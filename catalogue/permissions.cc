#include "catalogue/permissions.h"

#include <algorithm>

#include "abi/utility_blocks.h"
#include "datafiles/records.h"

namespace catalogue {
namespace {

// U001 function "E": the plain name for an encoded one, or nothing when
// U001 cannot be loaded.
std::optional<UserName> decodeName(platform::ProgramLoader& loader, std::string_view encoded) {
  pxabi::UserNameBlock block(pxabi::UserNameBlock::kDecode, encoded);
  if (!loader.call("U001", block.data()).loaded) return std::nullopt;
  UserName name;
  std::copy_n(block.name().begin(), name.size(), name.begin());
  return name;
}

}  // namespace

void NormalUsers::build(datafiles::KeyedFile& users, int client, platform::ProgramLoader& loader,
                        datafiles::LockWaitPolicy& waitForLocks) {
  built_ = true;
  names_.clear();
  datafiles::UserRecord probe;
  probe.setClient(client);
  encoding::zero(probe.encodedNameField());
  if (!users
           .start(datafiles::StartMode::kGreaterThan, probe.bytes(),
                  datafiles::UserRecord::kKeyLength)
           .ok())
    return;
  datafiles::UserRecord user;
  while (names_.size() < kMax) {
    const datafiles::FileStatus s =
        datafiles::runWaitingForLocks(waitForLocks, [&] { return users.readNext(user.bytes()); });
    if (!s.ok()) break;  // end of file, or a read that keeps failing
    if (user.client() != client) break;
    if (user.userClass() != 'N') continue;
    if (auto name = decodeName(loader, user.encodedName())) names_.push_back(*name);
  }
  if (!names_.empty()) loader.unload("U001");
}

bool fileCannotBeWritten(datafiles::FileStatus s) {
  return !s.ok() && !s.invalidKey() && s != datafiles::kRecordLocked;
}

int grantToAll(datafiles::KeyedFile& permissions, const std::vector<UserName>& users, int client,
               std::span<const char, 4> program, std::span<const char, 6> date, char flag,
               std::vector<std::string>* written, datafiles::FileStatus* failure) {
  datafiles::PermissionRecord p;
  p.setGrantDate({date.data(), date.size()});
  p.setLevel('1');
  p.setFlag(flag);
  p.setText("");
  const std::string_view prog(program.data(), program.size());
  int count = 0;
  for (const UserName& name : users) {
    p.setKey(client, {name.data(), name.size()}, prog);
    const datafiles::FileStatus s = permissions.write(p.bytes());
    if (s.ok()) {
      ++count;
      if (written != nullptr)
        written->emplace_back(p.view().substr(0, datafiles::PermissionRecord::kKeyLength));
    } else if (fileCannotBeWritten(s)) {
      if (failure != nullptr) *failure = s;
      break;
    }
  }
  return count;
}

}  // namespace catalogue
