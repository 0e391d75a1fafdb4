// A PostgreSQL server for the tests (scripts/pg-test-server), listening only
// on a Unix socket in its folder. A test run under CTest shares the server
// that CTest started for the whole run (fixture PgServer, its folder recorded
// in the build tree); a test program run by hand starts one of its own and
// stops it when it ends (one left by a killed program is swept by the next
// start). Each test takes a schema of its own, so that tests never see each
// other's tables. When no server can be had, ok() is false and the tests
// fail: they never skip.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace testing_support {

class PgTestServer {
 public:
  // The server shared by the tests of this run.
  static PgTestServer& get();
  // A server of the caller's own, stopped when the object goes: for tests
  // that stop and start it, which the shared one must never see.
  static std::unique_ptr<PgTestServer> startOwn();
  ~PgTestServer();
  PgTestServer(const PgTestServer&) = delete;
  PgTestServer& operator=(const PgTestServer&) = delete;

  bool ok() const { return !folder_.empty(); }
  const std::string& error() const { return error_; }
  const std::string& folder() const { return folder_; }

  // A connection string to the server's database, with `schema` first on
  // the search path when given.
  std::string conninfo(std::string_view schema = {}) const;
  // A new, empty schema; returns the connection string that uses it (empty
  // when it could not be made).
  std::string freshSchema();

  // Runs SQL as the superuser; an empty string on success, else the message.
  std::string sql(const std::string& conninfo, const std::string& text) const;
  // One value of a query (or "ERROR: ..."), for checks.
  std::string value(const std::string& conninfo, const std::string& query) const;

  // Stops the server (every session ends) and starts it again; only a
  // server of one's own (startOwn).
  bool pause();
  bool resume();

  // The script that starts and stops servers.
  static std::string script();

 private:
  PgTestServer() = default;
  void start();
  void stop();
  std::string folder_;
  std::string error_;
  bool owned_ = false;
  int schemas_ = 0;
};

// End-to-end tests run on an installation of embedded files and on one on
// the shared test server.
enum class StoreKind { kFiles, kServer };

// The words `pxadmin init` needs to make the installation on a fresh schema
// of the shared server (" --server \"CONNINFO\""), or none for embedded
// files; the connection string in `conninfo`. Empty with `error` set when
// no server can be had.
std::string initStoreWords(StoreKind kind, std::string& conninfo, std::string& error);

// "Files" or "Server", for the names of parameterised tests.
inline std::string storeKindName(StoreKind kind) {
  return kind == StoreKind::kFiles ? "Files" : "Server";
}

}  // namespace testing_support
