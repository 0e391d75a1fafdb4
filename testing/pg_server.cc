#include "testing/pg_server.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <cstdlib>

#include "testing/test_files.h"

namespace testing_support {
namespace {

std::string shellQuoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// The folder of the server CTest started for this run, when it answers.
std::string recordedFolder() {
  const char* build = std::getenv("PX_BUILD_DIR");
  if (build == nullptr) return {};
  const std::string folder = trimmed(readFile(std::string(build) + "/pg-test-server.folder"));
  if (folder.empty() || folder.find('\'') != std::string::npos) return {};
  const std::string ping = "host='" + folder + "' user=postgres dbname=postgres";
  return PQping(ping.c_str()) == PQPING_OK ? folder : std::string();
}

}  // namespace

std::string PgTestServer::script() {
  const char* s = std::getenv("PX_PG_TEST_SERVER");
  return s != nullptr ? s : PX_PG_TEST_SERVER;
}

void PgTestServer::start() {
  const CommandResult r =
      runCommand(shellQuoted(script()) + " start --fast --owner " + std::to_string(::getpid()));
  const std::string out = trimmed(r.out);
  if (r.exitCode != 0 || out.empty() || out.find('\n') != std::string::npos) {
    error_ = "cannot start a PostgreSQL test server: " + out;
    return;
  }
  folder_ = out;
  owned_ = true;
}

void PgTestServer::stop() {
  if (!owned_ || folder_.empty()) return;
  // Only the process that started it: a forked child that ends must not.
  if (trimmed(readFile(folder_ + "/owner")) != std::to_string(::getpid())) return;
  (void)runCommand(shellQuoted(script()) + " stop " + shellQuoted(folder_));
  folder_.clear();
}

PgTestServer::~PgTestServer() { stop(); }

PgTestServer& PgTestServer::get() {
  static PgTestServer* server = [] {
    auto* s = new PgTestServer;  // never destroyed: stopped at exit instead
    s->folder_ = recordedFolder();
    if (s->folder_.empty()) {
      s->start();
      if (s->owned_) std::atexit([] { get().stop(); });
    }
    return s;
  }();
  return *server;
}

std::unique_ptr<PgTestServer> PgTestServer::startOwn() {
  std::unique_ptr<PgTestServer> s(new PgTestServer);
  s->start();
  return s;
}

std::string PgTestServer::conninfo(std::string_view schema) const {
  std::string c = "host='" + folder_ + "' user=postgres dbname=postgres";
  if (!schema.empty()) c += " options='-csearch_path=" + std::string(schema) + "'";
  return c;
}

std::string PgTestServer::freshSchema() {
  const std::string name = "t" + std::to_string(::getpid()) + "_" + std::to_string(++schemas_);
  if (!sql(conninfo(), "CREATE SCHEMA " + name).empty()) return {};
  return conninfo(name);
}

std::string PgTestServer::sql(const std::string& conninfo, const std::string& text) const {
  PGconn* c = PQconnectdb(conninfo.c_str());
  std::string err;
  if (PQstatus(c) != CONNECTION_OK) {
    err = PQerrorMessage(c);
  } else {
    PQsetNoticeProcessor(
        c, [](void*, const char*) {}, nullptr);
    PGresult* r = PQexec(c, text.c_str());
    const ExecStatusType s = PQresultStatus(r);
    if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK) err = PQresultErrorMessage(r);
    PQclear(r);
  }
  PQfinish(c);
  return err;
}

std::string PgTestServer::value(const std::string& conninfo, const std::string& query) const {
  PGconn* c = PQconnectdb(conninfo.c_str());
  std::string v;
  if (PQstatus(c) != CONNECTION_OK) {
    v = std::string("ERROR: ") + PQerrorMessage(c);
  } else {
    PGresult* r = PQexec(c, query.c_str());
    if (PQresultStatus(r) != PGRES_TUPLES_OK)
      v = std::string("ERROR: ") + PQresultErrorMessage(r);
    else if (PQntuples(r) > 0 && !PQgetisnull(r, 0, 0))
      v = PQgetvalue(r, 0, 0);
    PQclear(r);
  }
  PQfinish(c);
  return v;
}

bool PgTestServer::pause() {
  return owned_ &&
         runCommand(shellQuoted(script()) + " pause " + shellQuoted(folder_)).exitCode == 0;
}

bool PgTestServer::resume() {
  return owned_ &&
         runCommand(shellQuoted(script()) + " resume " + shellQuoted(folder_)).exitCode == 0;
}

std::string initStoreWords(StoreKind kind, std::string& conninfo, std::string& error) {
  conninfo.clear();
  error.clear();
  if (kind == StoreKind::kFiles) return {};
  PgTestServer& server = PgTestServer::get();
  if (!server.ok()) {
    error = "no test server: " + server.error();
    return {};
  }
  conninfo = server.freshSchema();
  if (conninfo.empty()) {
    error = "no fresh schema on the test server";
    return {};
  }
  return " --server \"" + conninfo + "\"";  // its words hold single quotes
}

}  // namespace testing_support
