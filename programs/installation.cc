#include "programs/installation.h"

#include <algorithm>

#include "datafiles/records.h"
#include "encoding/packed.h"

namespace programs {

fs::FileStatus readMenuHeader(fs::FileStore& store, std::span<char, 58> area) {
  rec::MenuRecord header;
  std::copy_n(area.begin(), rec::MenuRecord::kKeyLength, header.bytes().begin());
  auto file = store.file(fs::kMenuFile);
  fs::FileStatus status = file->open(fs::OpenMode::kInput);
  if (status.ok()) {
    status = file->read(header.bytes());
    (void)file->close();  // a reader's close has nothing to report
  }
  if (status.ok()) {
    std::copy(header.bytes().begin(), header.bytes().end(), area.begin());
  } else {
    encoding::blank(area.subspan<rec::MenuRecord::kVersionStamp.offset,
                            rec::MenuRecord::kVersionStamp.width>());
  }
  return status;
}

fs::FileStatus setUpApplication(fs::FileStore& store, std::span<const char, 200> image) {
  using R = rec::ApplicationRecord;
  const auto client =
      encoding::packed3::decode(image.subspan<R::kClient.offset, R::kClient.width>());
  const auto application =
      encoding::packed3::decode(image.subspan<R::kApplication.offset, R::kApplication.width>());
  if (!client || !application) return fs::kNotFound;  // no usable key: nothing to set up

  auto file = store.file(fs::kInstallationFile);
  fs::FileStatus status = file->open(fs::OpenMode::kInputOutput);
  if (!status.ok()) return status;
  R record;
  // Two rounds: another workstation may write the record between our read
  // and our write; the second round then rewrites what it wrote.
  for (int round = 0; round < 2; ++round) {
    record.setKey(R::kApplicationType, *client, *application);
    const bool exists = file->read(record.bytes()).ok();
    if (!exists) {
      encoding::blank(record.bytes());
      record.setKey(R::kApplicationType, *client, *application);
    }
    std::copy_n(image.begin() + R::kName.offset, R::kName.width,
                record.bytes().begin() + R::kName.offset);
    status = exists ? file->rewrite(record.bytes()) : file->write(record.bytes());
    if (exists || !status.invalidKey()) break;
  }
  (void)file->close();
  return status;
}

}  // namespace programs
