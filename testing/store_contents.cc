#include "testing/store_contents.h"

#include <gtest/gtest.h>

namespace testing_support {
namespace {

std::string keyed(const datafiles::FileSpec& spec, std::span<const char> key) {
  std::string record(spec.recordLength, ' ');
  record.replace(0, std::min(key.size(), spec.keyLength), key.data(),
                 std::min(key.size(), spec.keyLength));
  return record;
}

}  // namespace

void putRecord(datafiles::FileStore& store, std::string_view dir, const datafiles::FileSpec& spec,
               std::string_view record) {
  auto f = store.file(spec, dir);
  ASSERT_TRUE(f->open(datafiles::OpenMode::kInputOutput).ok()) << spec.name;
  datafiles::FileStatus s = f->write(record);
  if (s == datafiles::kDuplicateKey) s = f->rewrite(record);
  EXPECT_TRUE(s.ok()) << spec.name << " " << s.toString();
  (void)f->close();
}

std::optional<std::string> getRecord(datafiles::FileStore& store, std::string_view dir,
                                     const datafiles::FileSpec& spec, std::span<const char> key) {
  auto f = store.file(spec, dir);
  if (!f->open(datafiles::OpenMode::kInput).ok()) return std::nullopt;
  std::string record = keyed(spec, key);
  const datafiles::FileStatus s = f->read(record);
  (void)f->close();
  if (!s.ok()) return std::nullopt;
  return record;
}

void removeRecord(datafiles::FileStore& store, std::string_view dir,
                  const datafiles::FileSpec& spec, std::span<const char> key) {
  auto f = store.file(spec, dir);
  ASSERT_TRUE(f->open(datafiles::OpenMode::kInputOutput).ok()) << spec.name;
  (void)f->remove(keyed(spec, key));
  (void)f->close();
}

std::map<std::string, std::string> allRecords(datafiles::FileStore& store, std::string_view dir,
                                              const datafiles::FileSpec& spec) {
  std::map<std::string, std::string> out;
  auto f = store.file(spec, dir);
  if (!f->open(datafiles::OpenMode::kInput).ok()) return out;
  std::string record(spec.recordLength, '\0');
  if (f->start(datafiles::StartMode::kNotLessThan, record, spec.keyLength).ok())
    while (f->readNext(record).ok()) out[record.substr(0, spec.keyLength)] = record;
  (void)f->close();
  return out;
}

void clearRecords(datafiles::FileStore& store, std::string_view dir,
                  const datafiles::FileSpec& spec) {
  for (const auto& [key, record] : allRecords(store, dir, spec))
    removeRecord(store, dir, spec, key);
}

}  // namespace testing_support
