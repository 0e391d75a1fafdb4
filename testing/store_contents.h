// Arranging and checking the records of a data file through the FileStore
// interface, so that a test works the same on every store. Each call opens
// the file for itself and closes it again.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "datafiles/keyed_file.h"

namespace testing_support {

// Stores `record`: written, or rewritten when its key exists. Fails the test
// when the store refuses.
void putRecord(datafiles::FileStore& store, std::string_view dir, const datafiles::FileSpec& spec,
               std::string_view record);
// The record with `key`, or nothing.
std::optional<std::string> getRecord(datafiles::FileStore& store, std::string_view dir,
                                     const datafiles::FileSpec& spec, std::span<const char> key);
// Removes the record with `key`, if there is one.
void removeRecord(datafiles::FileStore& store, std::string_view dir,
                  const datafiles::FileSpec& spec, std::span<const char> key);
// Every record, by key; empty when the file cannot be read.
std::map<std::string, std::string> allRecords(datafiles::FileStore& store, std::string_view dir,
                                              const datafiles::FileSpec& spec);
// Removes every record.
void clearRecords(datafiles::FileStore& store, std::string_view dir,
                  const datafiles::FileSpec& spec);

}  // namespace testing_support
