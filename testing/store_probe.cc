// store_probe DIR FILE RECLEN KEYLEN MODE KEYHEX: one thing done on a store
// file from another process, for the lock tests, on the store DIR asks for. Prints the status (and
// for "count" the number of records) on one line.
//   read-update  open for input-output, read the key, close
//   hold         open for input-output, read the key, print, keep the lock
//                until a line arrives on standard input
//   count        open for input, count the records
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "datafiles/store_config.h"

int main(int argc, char** argv) {
  if (argc != 7) return 2;
  const std::string dir = argv[1], name = argv[2], mode = argv[5], keyHex = argv[6];
  const datafiles::FileSpec spec{name, std::stoul(argv[3]), std::stoul(argv[4])};
  const auto store = datafiles::openStore(dir, nullptr);
  auto f = store->file(spec, dir);
  std::vector<char> rec(spec.recordLength, ' ');
  for (std::size_t i = 0; i + 1 < keyHex.size() && i / 2 < rec.size(); i += 2)
    rec[i / 2] = static_cast<char>(std::stoi(keyHex.substr(i, 2), nullptr, 16));
  datafiles::FileStatus s =
      f->open(mode == "count" ? datafiles::OpenMode::kInput : datafiles::OpenMode::kInputOutput);
  if (!s.ok()) {
    std::printf("%s\n", s.toString().c_str());
    return 1;
  }
  if (mode == "count") {
    std::vector<char> low(spec.recordLength, '\0');
    int n = 0;
    if (f->start(datafiles::StartMode::kNotLessThan, low, spec.keyLength).ok())
      while (f->readNext(rec).ok()) ++n;
    std::printf("00 %d\n", n);
    return 0;
  }
  s = f->read(rec);
  std::printf("%s\n", s.toString().c_str());
  std::fflush(stdout);
  if (mode == "hold") {
    std::string line;
    std::getline(std::cin, line);
  }
  (void)f->close();
  return 0;
}
