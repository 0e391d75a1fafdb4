// Helpers of the tests that run on the server store: a store on a schema of
// the test's own, SQL in that schema as another tool would send it, and the
// wait for the locks of a killed process.
#pragma once

#include <chrono>
#include <cstdio>
#include <span>
#include <string>
#include <thread>

#include "datafiles/pg_store.h"
#include "datafiles/records.h"
#include "testing/pg_server.h"

namespace testing_support {

inline std::string hex(std::span<const char> bytes) {
  std::string h;
  char b[3];
  for (char c : bytes) {
    std::snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(c));
    h += b;
  }
  return h;
}

// The bytes as an SQL literal.
inline std::string byteaLiteral(std::span<const char> bytes) {
  return "'\\x" + hex(bytes) + "'::bytea";
}

// A server store on a new schema of its own, on the run's shared server
// (or on `own`, a server of the test's own).
class ServerFixture {
 public:
  explicit ServerFixture(PgTestServer& own = PgTestServer::get())
      : server(own),
        conninfo(server.ok() ? server.freshSchema() : std::string()),
        store(conninfo) {}
  // Runs SQL in the test's schema; an empty string on success.
  std::string sql(const std::string& text) { return server.sql(conninfo, text); }
  // One value of a query in the test's schema.
  std::string value(const std::string& query) { return server.value(conninfo, query); }
  PgTestServer& server;
  std::string conninfo;
  datafiles::PgStore store;
};

// The server notices a dead client's session a moment after the process
// ended; its locks go with the session. Retries `op` while it reports a
// lock status, for up to five seconds.
template <class Op>
datafiles::FileStatus onceReleased(Op op) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  datafiles::FileStatus s = op();
  while (s.locked() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    s = op();
  }
  return s;
}

}  // namespace testing_support
