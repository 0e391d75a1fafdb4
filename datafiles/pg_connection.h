// One libpq connection to the server store, always in pipeline mode: an
// operation sends all its statements at once and reads every answer after
// one synchronisation point, so that it costs one round trip however many
// statements it needs. Without an explicit BEGIN the statements of one batch
// run as one implicit transaction, which ends at the synchronisation point.
//
// Statements are prepared on a connection the first time a batch uses them
// (in the same round trip) and stay prepared for as long as the connection
// lives, also while it is parked in the pool.
//
// All parameters and results travel in binary form.
#pragma once

#include <libpq-fe.h>
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace datafiles::pg {

// Type identifiers of the server's built-in types used here.
inline constexpr Oid kBoolOid = 16;
inline constexpr Oid kByteaOid = 17;
inline constexpr Oid kInt8Oid = 20;
inline constexpr Oid kInt4Oid = 23;
inline constexpr Oid kTextOid = 25;
inline constexpr Oid kByteaArrayOid = 1001;
inline constexpr Oid kInt8ArrayOid = 1016;

struct Statement {
  std::string name;  // unique on a connection
  std::string sql;
  std::vector<Oid> types;
};

// A parameter: bytes in the server's binary form, or SQL NULL. Bytes are
// referred to, not copied: they must outlive the batch's run. Numbers are
// kept inside.
class Param {
 public:
  static Param bytes(std::string_view b) {
    Param p;
    p.external_ = b.data() != nullptr ? b.data() : "";
    p.length_ = static_cast<int>(b.size());
    return p;
  }
  static Param text(std::string_view t) { return bytes(t); }
  static Param null() { return Param(); }
  static Param int8(std::int64_t v);
  static Param int4(std::int32_t v);
  static Param boolean(bool v);
  const char* data() const { return inline_ ? own_.data() : external_; }
  int length() const { return length_; }

 private:
  Param() = default;
  const char* external_ = nullptr;
  std::array<char, 8> own_{};
  int length_ = 0;
  bool inline_ = false;
};

// The answer to one statement of a batch.
class Result {
 public:
  Result() = default;
  explicit Result(PGresult* r) : res_(r) {}
  bool ok() const;
  int rows() const { return res_ ? PQntuples(res_.get()) : 0; }
  bool isNull(int row, int col) const { return PQgetisnull(res_.get(), row, col) != 0; }
  std::string_view bytes(int row, int col) const {
    return {PQgetvalue(res_.get(), row, col),
            static_cast<std::size_t>(PQgetlength(res_.get(), row, col))};
  }
  // Integers of any width (2, 4 or 8 bytes), unsigned object identifiers
  // included; 0 for NULL.
  std::int64_t integer(int row, int col) const;
  bool boolean(int row, int col) const;
  // Rows changed by an INSERT, UPDATE or DELETE.
  long changed() const;
  PGresult* get() const { return res_.get(); }

 private:
  struct Clear {
    void operator()(PGresult* r) const { PQclear(r); }
  };
  std::unique_ptr<PGresult, Clear> res_;
};

// What went wrong in a batch.
struct Failure {
  std::string sqlstate;  // empty when the connection itself failed
  std::string message;
  bool connectionLost = false;
};

class Batch {
 public:
  // Adds a statement; returns its index among the results.
  std::size_t add(const Statement& st, std::initializer_list<Param> params);
  std::size_t size() const { return steps_.size(); }
  bool empty() const { return steps_.empty(); }
  void clear() { steps_.clear(); }

 private:
  friend class Connection;
  struct Step {
    const Statement* st;
    std::vector<Param> params;
  };
  std::vector<Step> steps_;
};

class Connection {
 public:
  // Connects with `conninfo` (a URI or key=value string, as libpq takes it;
  // its settings override the store's defaults). Null on failure, with
  // libpq's message in `*error`.
  static std::unique_ptr<Connection> connect(const std::string& conninfo, std::string* error);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Sends the batch and reads every answer. True when every statement
  // succeeded; otherwise `failure` says what went wrong at which index
  // (`*failedAt`), and the statements after it were not run.
  bool run(const Batch& batch, std::vector<Result>& results, Failure* failure,
           std::size_t* failedAt = nullptr);

  // False once the connection failed: it can only be thrown away.
  bool usable() const { return !broken_ && PQstatus(conn_) == CONNECTION_OK; }
  // A cheap check without a round trip, for a connection that sat unused:
  // reads whatever the server sent meanwhile (a shutdown notice, an end of
  // file) without waiting.
  bool stillUsable();
  bool inTransaction() const;
  // The schema that unqualified names resolve to; empty when none exists.
  const std::string& schema() const { return schema_; }
  // The process that opened the connection. A forked child must never use
  // its parent's connections.
  pid_t owner() const { return pid_; }
  PGconn* raw() { return conn_; }

 private:
  explicit Connection(PGconn* c);
  void markBroken() { broken_ = true; }

  PGconn* conn_;
  pid_t pid_;
  bool broken_ = false;
  std::string schema_;
  std::unordered_set<std::string> prepared_;
  // Scratch space reused by run().
  std::vector<const char*> values_;
  std::vector<int> lengths_, formats_;
};

// Connections of closed handles, kept for the next open in this process.
// A parked connection holds no lock and no transaction. Every one of them
// is a session on the server (and counts against its max_connections): a
// workstation holds its open handles plus at most kMaxParked.
class ConnectionPool {
 public:
  static constexpr std::size_t kMaxParked = 8;
  explicit ConnectionPool(std::string conninfo) : conninfo_(std::move(conninfo)) {}
  ~ConnectionPool();
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // A parked connection, or a new one when none is left.
  std::unique_ptr<Connection> take(std::string* error);
  // A fresh connection, for when a parked one turned out to be dead.
  std::unique_ptr<Connection> fresh(std::string* error);
  void park(std::unique_ptr<Connection> c);
  // Closes every parked connection (the server went away, for one).
  void clear();
  const std::string& conninfo() const { return conninfo_; }

 private:
  std::string conninfo_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Connection>> parked_;
};

// Round trips made by every connection of this process so far (batches
// sent), for benchmarks and tests.
std::uint64_t roundTrips();

// Whether a SQLSTATE (or a failure without one) means the connection is gone.
bool isConnectionLoss(std::string_view sqlstate);

}  // namespace datafiles::pg
