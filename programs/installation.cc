#include "programs/installation.h"

#include <algorithm>

namespace programs {

datafiles::FileStatus readMenuHeader(datafiles::FileStore& store, datafiles::MenuRecord& area) {
  datafiles::MenuRecord header;
  std::copy_n(area.bytes().begin(), datafiles::MenuRecord::kKeyLength, header.bytes().begin());
  auto file = store.file(datafiles::kMenuFile);
  datafiles::FileStatus status = file->open(datafiles::OpenMode::kInput);
  if (status.ok()) {
    status = file->read(header.bytes());
    (void)file->close();  // a reader's close has nothing to report
  }
  if (status.ok())
    area = header;
  else
    encoding::blank(area.versionStampField());
  return status;
}

datafiles::FileStatus setUpApplication(datafiles::FileStore& store,
                                       const pxabi::ApplicationImage& image) {
  using R = datafiles::ApplicationRecord;
  const auto client = image.client();
  const auto application = image.application();
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
    encoding::putRaw(record.nameField(), encoding::view(image.name()));
    status = exists ? file->rewrite(record.bytes()) : file->write(record.bytes());
    if (exists || !status.invalidKey()) break;
  }
  (void)file->close();
  return status;
}

}  // namespace programs
