#include "programs/installation.h"

#include <algorithm>

#include "datafiles/records.h"
#include "encoding/packed.h"

namespace programs {

datafiles::FileStatus readMenuHeader(datafiles::FileStore& store, std::span<char, 58> area) {
  datafiles::MenuRecord header;
  std::copy_n(area.begin(), datafiles::MenuRecord::kKeyLength, header.bytes().begin());
  auto file = store.file(datafiles::kMenuFile);
  datafiles::FileStatus status = file->open(datafiles::OpenMode::kInput);
  if (status.ok()) {
    status = file->read(header.bytes());
    (void)file->close();  // a reader's close has nothing to report
  }
  if (status.ok()) {
    std::copy(header.bytes().begin(), header.bytes().end(), area.begin());
  } else {
    encoding::blank(area.subspan<datafiles::MenuRecord::kVersionStamp.offset,
                            datafiles::MenuRecord::kVersionStamp.width>());
  }
  return status;
}

datafiles::FileStatus setUpApplication(datafiles::FileStore& store,
                                       std::span<const char, 200> image) {
  using R = datafiles::ApplicationRecord;
  const auto client =
      encoding::packed3::decode(image.subspan<R::kClient.offset, R::kClient.width>());
  const auto application =
      encoding::packed3::decode(image.subspan<R::kApplication.offset, R::kApplication.width>());
  if (!client || !application) return datafiles::kNotFound;  // no usable key: nothing to set up

  auto file = store.file(datafiles::kInstallationFile);
  datafiles::FileStatus status = file->open(datafiles::OpenMode::kInputOutput);
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
