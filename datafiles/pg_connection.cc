#include "datafiles/pg_connection.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace datafiles::pg {
namespace {

// Defaults the installation's connection string may override: a server that
// does not answer is given up after ten seconds, and a server machine that
// vanished from the network is noticed by the keepalives within a minute
// instead of never. The application name tells the administrator whose
// sessions these are.
constexpr std::array<const char*, 6> kDefaultKeys = {
    "connect_timeout",  "keepalives_idle",           "keepalives_interval",
    "keepalives_count", "fallback_application_name", "dbname"};
constexpr std::array<const char*, 5> kDefaultValues = {"10", "30", "10", "3", "px01"};

// Per session: a statement that meets a lock held by another session gives
// up after this long (the embedded store's bounded wait for a writer).
const Statement kSetUp{"px_setup",
                       "SELECT set_config('lock_timeout', '1500ms', false), "
                       "coalesce(current_schema()::text, '')",
                       {}};

std::atomic<std::uint64_t> sentBatches{0};

// Server messages are the store's to report, never libpq's to print: the
// launcher owns the terminal.
void ignoreNotice(void*, const char*) {}

std::string_view errorField(const PGresult* r, int field) {
  const char* v = r != nullptr ? PQresultErrorField(r, field) : nullptr;
  return v != nullptr ? std::string_view(v) : std::string_view();
}

std::string trimmed(const char* message) {
  std::string m = message != nullptr ? message : "";
  while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
  return m;
}

}  // namespace

Param Param::int8(std::int64_t v) {
  Param p;
  const auto u = static_cast<std::uint64_t>(v);
  for (int i = 0; i < 8; ++i) p.own_[i] = static_cast<char>(u >> (56 - 8 * i));
  p.length_ = 8;
  p.inline_ = true;
  return p;
}

Param Param::int4(std::int32_t v) {
  Param p;
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) p.own_[i] = static_cast<char>(u >> (24 - 8 * i));
  p.length_ = 4;
  p.inline_ = true;
  return p;
}

Param Param::boolean(bool v) {
  Param p;
  p.own_[0] = v ? 1 : 0;
  p.length_ = 1;
  p.inline_ = true;
  return p;
}

bool Result::ok() const {
  if (!res_) return false;
  const ExecStatusType s = PQresultStatus(res_.get());
  return s == PGRES_TUPLES_OK || s == PGRES_COMMAND_OK;
}

std::int64_t Result::integer(int row, int col) const {
  if (isNull(row, col)) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(PQgetvalue(res_.get(), row, col));
  const int n = PQgetlength(res_.get(), row, col);
  std::uint64_t u = 0;
  for (int i = 0; i < n; ++i) u = (u << 8) | p[i];
  // Sign-extend the two- and four-byte forms, except object identifiers,
  // which are unsigned.
  const bool isOid = PQftype(res_.get(), col) == 26;
  if (!isOid && n < 8 && n > 0 && (p[0] & 0x80) != 0) u |= ~std::uint64_t{0} << (8 * n);
  return static_cast<std::int64_t>(u);
}

bool Result::boolean(int row, int col) const {
  return !isNull(row, col) && PQgetlength(res_.get(), row, col) == 1 &&
         PQgetvalue(res_.get(), row, col)[0] != 0;
}

long Result::changed() const {
  const char* n = res_ ? PQcmdTuples(res_.get()) : nullptr;
  return n != nullptr && *n != '\0' ? std::strtol(n, nullptr, 10) : 0;
}

std::size_t Batch::add(const Statement& st, std::initializer_list<Param> params) {
  steps_.push_back(Step{&st, std::vector<Param>(params)});
  return steps_.size() - 1;
}

std::uint64_t roundTrips() { return sentBatches.load(std::memory_order_relaxed); }

bool isConnectionLoss(std::string_view sqlstate) {
  // Connection exceptions, and the server ending the session: shut down,
  // crashed, or not accepting connections yet.
  return sqlstate.empty() || sqlstate.substr(0, 2) == "08" || sqlstate == "57P01" ||
         sqlstate == "57P02" || sqlstate == "57P03";
}

Connection::Connection(PGconn* c) : conn_(c), pid_(::getpid()) {}

Connection::~Connection() {
  if (pid_ != ::getpid()) {
    // A forked child: the socket is shared with the parent, whose session it
    // is. Closing our copy of the descriptor first keeps libpq's goodbye
    // from ending that session.
    ::close(PQsocket(conn_));
  }
  PQfinish(conn_);
}

std::unique_ptr<Connection> Connection::connect(const std::string& conninfo, std::string* error) {
  std::array<const char*, kDefaultKeys.size() + 1> keys{};
  std::array<const char*, kDefaultKeys.size() + 1> values{};
  for (std::size_t i = 0; i < kDefaultKeys.size(); ++i) {
    keys[i] = kDefaultKeys[i];
    values[i] = i < kDefaultValues.size() ? kDefaultValues[i] : conninfo.c_str();
  }
  // dbname last and expanded: every setting of the connection string wins.
  PGconn* c = PQconnectdbParams(keys.data(), values.data(), 1);
  if (c == nullptr) {
    if (error != nullptr) *error = "out of memory";
    return nullptr;
  }
  if (PQstatus(c) != CONNECTION_OK) {
    if (error != nullptr) *error = trimmed(PQerrorMessage(c));
    PQfinish(c);
    return nullptr;
  }
  PQsetNoticeProcessor(c, ignoreNotice, nullptr);
  std::unique_ptr<Connection> conn(new Connection(c));
  if (PQenterPipelineMode(c) != 1) {
    if (error != nullptr) *error = trimmed(PQerrorMessage(c));
    return nullptr;
  }
  Batch setUp;
  setUp.add(kSetUp, {});
  std::vector<Result> results;
  Failure failure;
  if (!conn->run(setUp, results, &failure)) {
    if (error != nullptr) *error = failure.message;
    return nullptr;
  }
  conn->schema_ = std::string(results[0].bytes(0, 1));
  return conn;
}

bool Connection::run(const Batch& batch, std::vector<Result>& results, Failure* failure,
                     std::size_t* failedAt) {
  results.clear();
  results.resize(batch.steps_.size());
  if (batch.steps_.empty()) return true;
  auto fail = [&](std::size_t at, const PGresult* r) {
    if (failure != nullptr) {
      failure->sqlstate = std::string(errorField(r, PG_DIAG_SQLSTATE));
      failure->message =
          r != nullptr ? trimmed(PQresultErrorMessage(r)) : trimmed(PQerrorMessage(conn_));
      if (failure->message.empty()) failure->message = trimmed(PQerrorMessage(conn_));
      failure->connectionLost =
          PQstatus(conn_) != CONNECTION_OK || isConnectionLoss(failure->sqlstate);
      if (failure->connectionLost) broken_ = true;
    }
    if (failedAt != nullptr) *failedAt = at;
  };
  if (!usable()) {
    broken_ = true;
    fail(0, nullptr);
    if (failure != nullptr) failure->connectionLost = true;
    return false;
  }

  // What was sent, in order: a prepare (with the name it defines) or a
  // statement (with its index).
  struct Sent {
    bool prepare;
    std::size_t index;
  };
  std::vector<Sent> sent;
  sent.reserve(batch.steps_.size() * 2);
  std::vector<const std::string*> preparing;
  for (std::size_t i = 0; i < batch.steps_.size(); ++i) {
    const Batch::Step& step = batch.steps_[i];
    const Statement& st = *step.st;
    const bool known = prepared_.count(st.name) != 0 ||
                       std::find(preparing.begin(), preparing.end(), &st.name) != preparing.end();
    if (!known) {
      if (PQsendPrepare(conn_, st.name.c_str(), st.sql.c_str(), static_cast<int>(st.types.size()),
                        st.types.data()) != 1)
        break;
      preparing.push_back(&st.name);
      sent.push_back({true, i});
    }
    values_.clear();
    lengths_.clear();
    formats_.clear();
    for (const Param& p : step.params) {
      values_.push_back(p.data());
      lengths_.push_back(p.length());
      formats_.push_back(1);
    }
    if (PQsendQueryPrepared(conn_, st.name.c_str(), static_cast<int>(values_.size()),
                            values_.data(), lengths_.data(), formats_.data(), 1) != 1)
      break;
    sent.push_back({false, i});
  }
  const bool allSent =
      sent.size() > 0 && !sent.back().prepare && sent.back().index + 1 == batch.steps_.size();
  sentBatches.fetch_add(1, std::memory_order_relaxed);
  if (PQpipelineSync(conn_) != 1 || !allSent) {
    // Nothing sensible can follow a connection that refuses to send.
    broken_ = true;
    fail(0, nullptr);
    if (failure != nullptr) failure->connectionLost = true;
    return false;
  }

  bool okSoFar = true;
  for (const Sent& s : sent) {
    PGresult* r = PQgetResult(conn_);
    if (r == nullptr) {  // the connection ended mid-answer
      broken_ = true;
      if (okSoFar) fail(s.index, nullptr);
      if (failure != nullptr) failure->connectionLost = true;
      return false;
    }
    const ExecStatusType status = PQresultStatus(r);
    if (status == PGRES_FATAL_ERROR && okSoFar) {
      fail(s.index, r);
      okSoFar = false;
    }
    if (s.prepare) {
      if (status == PGRES_COMMAND_OK) prepared_.insert(batch.steps_[s.index].st->name);
      PQclear(r);
    } else {
      results[s.index] = Result(r);
    }
    // Each answer ends with a null result.
    while (PGresult* extra = PQgetResult(conn_)) PQclear(extra);
    if (PQstatus(conn_) != CONNECTION_OK) {
      broken_ = true;
      if (okSoFar) fail(s.index, nullptr);
      if (failure != nullptr) failure->connectionLost = true;
      return false;
    }
  }
  PGresult* sync = PQgetResult(conn_);
  const bool synced = sync != nullptr && PQresultStatus(sync) == PGRES_PIPELINE_SYNC;
  PQclear(sync);
  if (!synced) {
    broken_ = true;
    if (okSoFar) fail(sent.back().index, nullptr);
    if (failure != nullptr) failure->connectionLost = true;
    return false;
  }
  return okSoFar;
}

bool Connection::stillUsable() {
  if (!usable()) return false;
  if (PQconsumeInput(conn_) != 1 || PQstatus(conn_) != CONNECTION_OK) {
    broken_ = true;
    return false;
  }
  // An idle connection has nothing to say; anything it said (the server's
  // goodbye before a shutdown) makes it unusable.
  if (PQisBusy(conn_) != 0) {
    broken_ = true;
    return false;
  }
  if (PGnotify* n = PQnotifies(conn_)) PQfreemem(n);
  return PQtransactionStatus(conn_) == PQTRANS_IDLE;
}

bool Connection::inTransaction() const {
  const PGTransactionStatusType s = PQtransactionStatus(conn_);
  return s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
}

ConnectionPool::~ConnectionPool() { clear(); }

std::unique_ptr<Connection> ConnectionPool::take(std::string* error) {
  for (;;) {
    std::unique_ptr<Connection> c;
    {
      std::lock_guard<std::mutex> g(mutex_);
      if (parked_.empty()) break;
      c = std::move(parked_.back());
      parked_.pop_back();
    }
    if (c->owner() == ::getpid() && c->stillUsable()) return c;
    // Dead, or inherited from the parent process: dropped (see ~Connection).
  }
  return fresh(error);
}

std::unique_ptr<Connection> ConnectionPool::fresh(std::string* error) {
  return Connection::connect(conninfo_, error);
}

void ConnectionPool::park(std::unique_ptr<Connection> c) {
  if (!c || !c->usable() || c->inTransaction() || c->owner() != ::getpid()) return;
  std::unique_ptr<Connection> evicted;
  std::lock_guard<std::mutex> g(mutex_);
  if (parked_.size() >= kMaxParked) {
    evicted = std::move(parked_.front());
    parked_.erase(parked_.begin());
  }
  parked_.push_back(std::move(c));
}

void ConnectionPool::clear() {
  std::vector<std::unique_ptr<Connection>> all;
  {
    std::lock_guard<std::mutex> g(mutex_);
    all.swap(parked_);
  }
}

}  // namespace datafiles::pg
