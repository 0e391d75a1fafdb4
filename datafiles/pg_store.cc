#include "datafiles/pg_store.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "datafiles/pg_connection.h"
#include "datafiles/sqlite_store.h"

namespace datafiles {

using pg::Batch;
using pg::Failure;
using pg::Param;
using pg::Result;
using pg::Statement;

namespace {

// The first number of the two-number advisory locks that stand for opens;
// the second is the table's object identifier. Record locks use the
// one-number form, a separate space on the server.
constexpr std::int32_t kFileLockSpace = 0x50580001;
// Serialises create() across sessions (two-number form, second number 0).
constexpr std::int32_t kCreateLockSpace = 0x50580002;

// Read-ahead sizes: the first batch after a start covers a menu; each batch
// after it doubles, up to the largest.
constexpr int kFirstBatch = 32;
constexpr int kMaxBatch = 4096;
// Writes of a unit queued before they are sent.
constexpr std::size_t kFlushRows = 8192;
// Rows per round trip when a whole file is read.
constexpr int kExportBatch = 10000;

std::string quoted(std::string_view identifier) {
  std::string q = "\"";
  for (char c : identifier) {
    if (c == '"') q += '"';
    q += c;
  }
  q += '"';
  return q;
}

// ---- statements -------------------------------------------------------------

const Statement kOpen{
    "px:open",
    "WITH c AS MATERIALIZED ("
    "  SELECT r.oid, r.relkind FROM pg_catalog.pg_class r"
    "  WHERE r.relname = $1"
    "    AND r.relnamespace = pg_catalog.to_regnamespace(pg_catalog.current_schema())),"
    " l AS MATERIALIZED ("
    "  SELECT CASE WHEN $2"
    "    THEN pg_catalog.pg_try_advisory_lock($3, (c.oid::int8 - 2147483648)::int4)"
    "    ELSE pg_catalog.pg_try_advisory_lock_shared($3, (c.oid::int8 - 2147483648)::int4)"
    "    END AS got FROM c WHERE c.relkind IN ('r', 'p'))"
    " SELECT c.oid::int8, c.relkind::text, (SELECT got FROM l),"
    "  (SELECT count(*) FROM pg_catalog.pg_attribute a"
    "    WHERE a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped),"
    "  EXISTS (SELECT 1 FROM pg_catalog.pg_attribute a WHERE a.attrelid = c.oid"
    "    AND a.attname = 'key' AND a.atttypid = 'pg_catalog.bytea'::pg_catalog.regtype"
    "    AND NOT a.attisdropped),"
    "  EXISTS (SELECT 1 FROM pg_catalog.pg_attribute a WHERE a.attrelid = c.oid"
    "    AND a.attname = 'data' AND a.atttypid = 'pg_catalog.bytea'::pg_catalog.regtype"
    "    AND NOT a.attisdropped),"
    "  EXISTS (SELECT 1 FROM pg_catalog.pg_index i JOIN pg_catalog.pg_attribute a"
    "    ON a.attrelid = i.indrelid AND a.attnum = i.indkey[0]"
    "    WHERE i.indrelid = c.oid AND i.indisunique AND i.indisvalid AND i.indnkeyatts = 1"
    "    AND i.indpred IS NULL AND i.indexprs IS NULL AND a.attname = 'key')"
    " FROM c",
    {pg::kTextOid, pg::kBoolOid, pg::kInt4Oid}};
enum OpenCol { kOid, kKind, kGot, kColumns, kKeyOk, kDataOk, kUniqueKey };

const Statement kUnlock{"px:unlock", "SELECT pg_catalog.pg_advisory_unlock($1)", {pg::kInt8Oid}};
const Statement kUnlockMany{"px:unlock-many",
                            "SELECT count(*) FROM pg_catalog.unnest($1::int8[]) AS k"
                            " WHERE pg_catalog.pg_advisory_unlock(k)",
                            {pg::kInt8ArrayOid}};
const Statement kUnlockAll{"px:unlock-all", "SELECT pg_catalog.pg_advisory_unlock_all()", {}};
// A handle that must never keep a user waiting (setNoWait) gives up on
// another session's lock almost at once; its connection is set back to the
// bounded wait before it goes to the pool.
const Statement kNoWait{"px:no-wait", "SELECT set_config('lock_timeout', '10ms', false)", {}};
const Statement kBoundedWait{"px:bounded-wait",
                             "SELECT set_config('lock_timeout', '1500ms', false)", {}};
const Statement kBegin{"px:begin", "BEGIN", {}};
const Statement kBeginSnapshot{
    "px:begin-snapshot", "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {}};
const Statement kCommit{"px:commit", "COMMIT", {}};
const Statement kRollback{"px:rollback", "ROLLBACK", {}};
// Outside a unit, a change first takes the record's lock for its
// transaction in a statement of its own that fails when the lock is held
// elsewhere, so that the change itself is never sent then: it would wait
// for a unit that holds the table before it could find out.
const Statement kLockOrFail{
    "px:lock-or-fail", "SELECT 1 / pg_catalog.pg_try_advisory_xact_lock($1)::int", {pg::kInt8Oid}};
constexpr const char* kLockOrFailRefused = "22012";
// What stands under a table's name in the current schema, taken exclusively
// when it is a table: its kind and whether the lock was had (true for other
// kinds, which no handle opens). No row: nothing of that name.
const Statement kTakeForReplace{
    "px:take-for-replace",
    "SELECT c.relkind::text, CASE WHEN c.relkind IN ('r', 'p')"
    "  THEN pg_catalog.pg_try_advisory_lock($2, (c.oid::int8 - 2147483648)::int4) ELSE true END"
    " FROM pg_catalog.pg_class c WHERE c.relname = $1"
    "  AND c.relnamespace = pg_catalog.to_regnamespace(pg_catalog.current_schema())",
    {pg::kTextOid, pg::kInt4Oid}};
const Statement kCreateLock{
    "px:create-lock", "SELECT pg_catalog.pg_advisory_xact_lock($1, 0)", {pg::kInt4Oid}};

// How an update, delete or locked read treats the record lock: held already
// (by this session, or by the batch's transaction), or to be taken for the
// session.
enum LockMode : std::int32_t { kHeld = 0, kSessionLock = 1 };
// Outcomes of the locked read's first statement.
enum LockedRead : std::int64_t { kBusy = 0, kLockedPresent = 1, kAbsent = 2 };

// The statements on one table, named after schema and table so that one
// connection can hold those of several tables.
struct TableStatements {
  Statement layout, read, seekGe, seekGt, insert, insertMany, update, remove, lockRead, checkNextGe,
      checkNextGt, keys, lockTable, create, createLayout, setLayout, exists, survey, dropTable,
      dropView;

  TableStatements(const std::string& schema, const std::string& table) {
    const std::string t = quoted(schema) + "." + quoted(table);
    const std::string layoutTable = quoted(schema) + ".px_layout";
    const std::string id = schema + "." + table;
    auto make = [&](std::string_view kind, std::string sql, std::vector<Oid> types) {
      return Statement{"px:" + std::string(kind) + ":" + id, std::move(sql), std::move(types)};
    };
    using namespace pg;
    const std::string lockExpr =
        "CASE $4 WHEN 0 THEN true ELSE pg_catalog.pg_try_advisory_lock($3) END";
    layout = make(
        "layout",
        "SELECT record_length::int8, key_length::int8 FROM " + layoutTable + " WHERE file = $1",
        {kTextOid});
    read = make("read", "SELECT data FROM " + t + " WHERE key = $1", {kByteaOid});
    seekGe =
        make("seek-ge", "SELECT key, data FROM " + t + " WHERE key >= $1 ORDER BY key LIMIT $2",
             {kByteaOid, kInt4Oid});
    seekGt = make("seek-gt", "SELECT key, data FROM " + t + " WHERE key > $1 ORDER BY key LIMIT $2",
                  {kByteaOid, kInt4Oid});
    insert = make("insert",
                  "INSERT INTO " + t + "(key, data) VALUES ($1, $2) ON CONFLICT (key) DO NOTHING",
                  {kByteaOid, kByteaOid});
    insertMany = make("insert-many",
                      "INSERT INTO " + t +
                          "(key, data) SELECT pg_catalog.substr(r, 1, $2), r"
                          " FROM pg_catalog.unnest($1::bytea[]) AS r",
                      {kByteaArrayOid, kInt4Oid});
    // The lock is taken first (a materialised CTE runs once, before the
    // change that depends on it); without it the change touches nothing
    // and so waits for nothing.
    update = make("update",
                  "WITH l AS MATERIALIZED (SELECT " + lockExpr +
                      " AS got),"
                      " u AS (UPDATE " +
                      t +
                      " SET data = $2 WHERE key = $1"
                      " AND (SELECT got FROM l) RETURNING 1)"
                      " SELECT (SELECT got FROM l), (SELECT count(*) FROM u)",
                  {kByteaOid, kByteaOid, kInt8Oid, kInt4Oid});
    remove = make("delete",
                  "WITH l AS MATERIALIZED (SELECT " +
                      std::string("CASE $3 WHEN 0 THEN true"
                                  " ELSE pg_catalog.pg_try_advisory_lock($2) END") +
                      " AS got),"
                      " d AS (DELETE FROM " +
                      t +
                      " WHERE key = $1"
                      " AND (SELECT got FROM l) RETURNING 1)"
                      " SELECT (SELECT got FROM l), (SELECT count(*) FROM d)",
                  {kByteaOid, kInt8Oid, kInt4Oid});
    // Takes the record lock, and gives it back at once when there is no
    // such record. The record itself is read by the next statement of the
    // batch, whose snapshot is taken after the lock.
    lockRead = make("lock-read",
                    "SELECT CASE WHEN (CASE $3 WHEN 0 THEN true"
                    "  ELSE pg_catalog.pg_try_advisory_lock($2) END)"
                    " THEN CASE WHEN EXISTS (SELECT 1 FROM " +
                        t +
                        " WHERE key = $1) THEN 1"
                        "  WHEN $3 = 0 THEN 2"
                        "  WHEN pg_catalog.pg_advisory_unlock($2) THEN 2 ELSE 2 END"
                        " ELSE 0 END",
                    {kByteaOid, kInt8Oid, kInt4Oid});
    // After locking the record that read-next means to return: the record,
    // and any key that came between it and the position meanwhile.
    checkNextGe = make("check-next-ge",
                       "SELECT (SELECT data FROM " + t +
                           " WHERE key = $2),"
                           " (SELECT key FROM " +
                           t +
                           " WHERE key >= $1 AND key < $2"
                           " ORDER BY key LIMIT 1)",
                       {kByteaOid, kByteaOid});
    checkNextGt = make("check-next-gt",
                       "SELECT (SELECT data FROM " + t +
                           " WHERE key = $2),"
                           " (SELECT key FROM " +
                           t +
                           " WHERE key > $1 AND key < $2"
                           " ORDER BY key LIMIT 1)",
                       {kByteaOid, kByteaOid});
    keys = make("keys", "SELECT key FROM " + t + " ORDER BY key", {});
    lockTable = make("lock-table", "LOCK TABLE " + t + " IN SHARE ROW EXCLUSIVE MODE", {});
    create =
        make("create", "CREATE TABLE " + t + "(key bytea PRIMARY KEY, data bytea NOT NULL)", {});
    createLayout = make("create-layout",
                        "CREATE TABLE IF NOT EXISTS " + layoutTable +
                            "(file text PRIMARY KEY, record_length integer NOT NULL,"
                            " key_length integer NOT NULL)",
                        {});
    setLayout = make("set-layout",
                     "INSERT INTO " + layoutTable +
                         "(file, record_length, key_length)"
                         " VALUES ($1, $2, $3) ON CONFLICT (file) DO UPDATE"
                         " SET record_length = excluded.record_length,"
                         " key_length = excluded.key_length",
                     {kTextOid, kInt4Oid, kInt4Oid});
    exists = make("exists", "SELECT pg_catalog.to_regclass($1) IS NOT NULL", {kTextOid});
    dropTable = make("drop-table", "DROP TABLE " + t, {});
    dropView = make("drop-view", "DROP VIEW " + t, {});
    survey = make("survey",
                  "SELECT count(*) FILTER (WHERE data IS NULL OR pg_catalog.length(data) <> $1),"
                  " count(*) FILTER (WHERE pg_catalog.length(key) <> $2),"
                  " count(*) FILTER (WHERE data IS NOT NULL"
                  "   AND pg_catalog.substr(data, 1, $2) <> key),"
                  " count(*) FROM " +
                      t,
                  {kInt4Oid, kInt4Oid});
  }
};

// ---- binary arrays ------------------------------------------------------------

void putU32(std::string& s, std::uint32_t v) {
  const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 8), static_cast<char>(v)};
  s.append(b, 4);
}

void setU32(std::string& s, std::size_t at, std::uint32_t v) {
  s[at] = static_cast<char>(v >> 24);
  s[at + 1] = static_cast<char>(v >> 16);
  s[at + 2] = static_cast<char>(v >> 8);
  s[at + 3] = static_cast<char>(v);
}

// A one-dimensional array in the server's binary form: the header is
// written with room for the count, which setArrayCount fills in.
constexpr std::size_t kArrayHeader = 20;
void startArray(std::string& s, Oid element) {
  s.clear();
  putU32(s, 1);  // dimensions
  putU32(s, 0);  // no nulls
  putU32(s, element);
  putU32(s, 0);  // count, set later
  putU32(s, 1);  // lower bound
}
void setArrayCount(std::string& s, std::size_t n) { setU32(s, 12, static_cast<std::uint32_t>(n)); }

// ---- status mapping -------------------------------------------------------------

FileStatus statusOf(const Failure& f) {
  if (f.connectionLost) return kPermanentError;
  const std::string& s = f.sqlstate;
  // Waited the bounded time for a lock (another workstation's unit), or was
  // chosen as the victim of a deadlock between two of them.
  if (s == "55P03" || s == "40P01" || s == "40001") return kFileLocked;
  // The server found damage in the table or its index.
  if (s == "XX001" || s == "XX002") return kIndexDamaged;
  // The table changed its shape under an open handle.
  if (s == "42703" || s == "42804" || s == "0A000") return kIndexMissing;
  return kPermanentError;
}

// Changes through this process, per table, so that rows read ahead are
// dropped by every change another handle makes. Keyed by connection string,
// schema and table; never shrinks (a process touches a handful of tables).
class Versions {
 public:
  std::shared_ptr<std::atomic<std::uint64_t>> of(const std::string& id) {
    std::lock_guard<std::mutex> g(mutex_);
    auto& v = map_[id];
    if (!v) v = std::make_shared<std::atomic<std::uint64_t>>(0);
    return v;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<std::atomic<std::uint64_t>>> map_;
};

Versions& versions() {
  static Versions* v = new Versions;  // handles may close during static destruction
  return *v;
}

// A 64-bit lock number for a record: FNV-1a over the table's identifier and
// the key, then a final mix.
std::int64_t recordLockKey(std::uint32_t oid, std::span<const char> key) {
  std::uint64_t h = 14695981039346656037ull;
  auto add = [&](unsigned char c) {
    h ^= c;
    h *= 1099511628211ull;
  };
  for (int i = 0; i < 4; ++i) add(static_cast<unsigned char>(oid >> (8 * i)));
  for (char c : key) add(static_cast<unsigned char>(c));
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return static_cast<std::int64_t>(h);
}

// The smallest byte string above every string that starts with `prefix`;
// false when there is none (all bytes 0xFF).
bool nextPrefix(std::string& prefix) {
  while (!prefix.empty()) {
    auto& last = reinterpret_cast<unsigned char&>(prefix.back());
    if (last != 0xFF) {
      ++last;
      return true;
    }
    prefix.pop_back();
  }
  return false;
}

// The keys of a table during a unit: read once from the server (sorted),
// plus the unit's own additions and removals.
class KeySet {
 public:
  explicit KeySet(std::size_t keyLength) : keyLength_(keyLength) {}
  void load(const Result& r) {
    sorted_.clear();
    sorted_.reserve(static_cast<std::size_t>(r.rows()) * keyLength_);
    for (int i = 0; i < r.rows(); ++i) {
      const std::string_view k = r.bytes(i, 0);
      // A key of another length equals no key this handle writes.
      if (k.size() == keyLength_) sorted_.append(k);
    }
  }
  bool contains(std::string_view key) const {
    const std::string k(key);
    if (added_.count(k) != 0) return true;
    if (removed_.count(k) != 0) return false;
    return inSorted(key);
  }
  void add(std::string_view key) {
    std::string k(key);
    if (removed_.erase(k) == 0) added_.insert(std::move(k));
  }
  void remove(std::string_view key) {
    std::string k(key);
    if (added_.erase(k) == 0) removed_.insert(std::move(k));
  }

 private:
  bool inSorted(std::string_view key) const {
    std::size_t lo = 0, hi = sorted_.size() / keyLength_;
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      const int c = std::memcmp(sorted_.data() + mid * keyLength_, key.data(), keyLength_);
      if (c == 0) return true;
      if (c < 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    return false;
  }
  std::size_t keyLength_;
  std::string sorted_;
  std::unordered_set<std::string> added_, removed_;
};

}  // namespace

// ---- shared by the store and its handles ----------------------------------------

struct PgStore::Shared {
  explicit Shared(std::string conninfo) : pool(std::move(conninfo)) {}
  pg::ConnectionPool pool;
  mutable std::mutex mutex;
  std::string lastError;
  std::map<std::string, std::shared_ptr<const TableStatements>> statements;

  // Kept on one line: libpq's messages continue on indented lines.
  void noteError(const std::string& message) {
    std::string line;
    for (char c : message) {
      if (c == '\n' || c == '\t') {
        if (!line.empty() && line.back() != ' ') line += ' ';
      } else {
        line += c;
      }
    }
    std::lock_guard<std::mutex> g(mutex);
    lastError = std::move(line);
  }
  std::shared_ptr<const TableStatements> statementsFor(const std::string& schema,
                                                       const std::string& table) {
    std::lock_guard<std::mutex> g(mutex);
    auto& s = statements[schema + "." + table];
    if (!s) s = std::make_shared<const TableStatements>(schema, table);
    return s;
  }
};

namespace {

// What open found, for handles and whole-file operations alike.
struct Opened {
  FileStatus status = kOk;
  std::uint32_t oid = 0;
  bool locked = false;  // the file lock is held (release it when status is not ok)
};

// The open's one round trip: the table's shape, its layout row and the file
// lock. On a parked connection that turns out to be dead, once more on a
// new one (nothing is held by then).
Opened openTable(PgStore::Shared& shared, std::unique_ptr<pg::Connection>& conn,
                 const FileSpec& spec, const std::string& table, bool exclusive,
                 std::shared_ptr<const TableStatements>* statementsOut) {
  Opened out;
  std::vector<Result> results;
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::string error;
    conn = attempt == 0 ? shared.pool.take(&error) : shared.pool.fresh(&error);
    if (!conn) {
      shared.noteError(error);
      out.status = kPermanentError;
      return out;
    }
    auto st = shared.statementsFor(conn->schema(), table);
    Batch b;
    b.add(kOpen, {Param::text(table), Param::boolean(exclusive), Param::int4(kFileLockSpace)});
    b.add(st->layout, {Param::text(table)});
    Failure failure;
    std::size_t failedAt = 0;
    const bool ran = conn->run(b, results, &failure, &failedAt);
    if (!ran && failure.connectionLost) {
      shared.noteError(failure.message);
      shared.pool.clear();
      conn.reset();
      if (attempt == 0) continue;
      out.status = kPermanentError;
      return out;
    }
    *statementsOut = st;
    if (!ran && failedAt == 0) {
      shared.noteError(failure.message);
      out.status = statusOf(failure);
      return out;
    }
    const Result& o = results[0];
    if (o.rows() == 0) {
      out.status = kFileMissing;
      return out;
    }
    out.oid = static_cast<std::uint32_t>(o.integer(0, kOid));
    const std::string_view kind = o.bytes(0, kKind);
    if (kind != "r" && kind != "p") {
      out.status = kIndexMissing;  // a view or something else of that name
      return out;
    }
    if (!o.boolean(0, kGot)) {
      out.status = kFileLocked;
      return out;
    }
    out.locked = true;
    if (o.integer(0, kColumns) != 2 || !o.boolean(0, kKeyOk) || !o.boolean(0, kDataOk) ||
        !o.boolean(0, kUniqueKey)) {
      out.status = kIndexMissing;
      return out;
    }
    if (!ran) {
      // No layout table, or one of another shape.
      shared.noteError(failure.message);
      const std::string& state = failure.sqlstate;
      const bool shape = state == "42P01" || state == "42703" || state == "42883" ||
                         state == "42804" || state.substr(0, 2) == "22";
      out.status = shape ? kIndexMissing : statusOf(failure);
      return out;
    }
    const Result& l = results[1];
    if (l.rows() != 1 || l.isNull(0, 0) || l.isNull(0, 1)) {
      out.status = kIndexMissing;
    } else if (static_cast<std::uint64_t>(l.integer(0, 0)) != spec.recordLength ||
               static_cast<std::uint64_t>(l.integer(0, 1)) != spec.keyLength) {
      out.status = kAttributeMismatch;
    }
    return out;
  }
  out.status = kPermanentError;
  return out;
}

// Gives back every session lock and parks the connection; a connection that
// cannot be cleaned is closed.
void release(PgStore::Shared& shared, std::unique_ptr<pg::Connection> conn, bool rollback,
             bool resetWait = false) {
  if (!conn || !conn->usable()) return;
  Batch b;
  if (rollback || conn->inTransaction()) b.add(kRollback, {});
  b.add(kUnlockAll, {});
  if (resetWait) b.add(kBoundedWait, {});
  std::vector<Result> results;
  Failure failure;
  if (conn->run(b, results, &failure)) shared.pool.park(std::move(conn));
}

bool recordIsWhole(std::string_view key, std::string_view data, const FileSpec& spec) {
  return data.size() == spec.recordLength && key.size() == spec.keyLength &&
         std::memcmp(key.data(), data.data(), spec.keyLength) == 0;
}

// ---- the handle -------------------------------------------------------------------

class PgFile final : public KeyedFile {
 public:
  PgFile(std::shared_ptr<PgStore::Shared> shared, const FileSpec& spec)
      : shared_(std::move(shared)),
        name_(spec.name),
        spec_{name_, spec.recordLength, spec.keyLength},
        table_(PgStore::tableName(spec.name)) {}
  PgFile(const PgFile&) = delete;
  PgFile& operator=(const PgFile&) = delete;
  ~PgFile() override { (void)close(); }

  FileStatus open(OpenMode mode) override;
  FileStatus close() override;
  bool isOpen() const override { return conn_ != nullptr; }
  FileStatus read(std::span<char> record) override;
  FileStatus start(StartMode mode, std::span<const char> record, std::size_t keyLength) override;
  FileStatus readNext(std::span<char> record) override;
  FileStatus write(std::span<const char> record) override;
  FileStatus rewrite(std::span<const char> record) override;
  FileStatus remove(std::span<const char> record) override;
  FileStatus unlock() override;
  FileStatus begin() override;
  FileStatus commit() override;
  FileStatus rollback() override;
  const FileSpec& spec() const override { return spec_; }
  void setNoWait() override {
    noWait_ = true;
    if (isOpen() && !unusable()) (void)setWait();
  }

 private:
  bool updating() const { return mode_ != OpenMode::kInput; }
  bool setWait() {
    Batch b;
    b.add(kNoWait, {});
    return run(b);
  }
  std::string_view keyOf(std::span<const char> record) const {
    return {record.data(), spec_.keyLength};
  }
  std::int64_t lockKey(std::string_view key) const {
    return recordLockKey(oid_, std::span<const char>(key.data(), key.size()));
  }
  // Runs the batch; false after a failure, which `failed` turns into the
  // status (and which ends a unit: the server rolled it back).
  bool run(const Batch& b) {
    failedAt_ = 0;
    if (conn_->run(b, results_, &failure_, &failedAt_)) return true;
    shared_->noteError(failure_.message);
    if (failure_.connectionLost) {
      broken_ = true;
      shared_->pool.clear();
    }
    if (inUnit_) unitLost_ = true;
    return false;
  }
  FileStatus failed() const { return statusOf(failure_); }
  // The unusable states every operation checks first.
  bool unusable() const { return broken_ || unitLost_; }

  // The record lock held outside a unit ends with the next operation: the
  // batch of that operation gives it back first.
  void addRelease(Batch& b) {
    if (!holding_) return;
    b.add(kUnlock, {Param::int8(heldLock_)});
    holding_ = false;
  }
  // An operation that ends early still ends the record lock held outside a
  // unit, as every operation does.
  FileStatus endingLock(FileStatus s) {
    if (!holding_ || inUnit_ || unusable()) return s;
    Batch b;
    addRelease(b);
    if (!run(b)) return failed();
    return s;
  }
  void hold(std::string_view key, std::int64_t lock) {
    holding_ = true;
    heldKey_.assign(key);
    heldLock_ = lock;
  }
  bool holds(std::int64_t lock) const { return holding_ && heldLock_ == lock; }

  // Queued writes of the unit go before anything that could see them.
  void addFlush(Batch& b) {
    if (pendingCount_ == 0) return;
    setArrayCount(pending_, pendingCount_);
    b.add(st_->insertMany,
          {Param::bytes(pending_), Param::int4(static_cast<int>(spec_.keyLength))});
    flushing_ = true;
  }
  void flushed() {
    if (!flushing_) return;
    flushing_ = false;
    pendingCount_ = 0;
    startArray(pending_, pg::kByteaOid);
  }
  FileStatus loadKeys();

  // Rows read ahead.
  void dropBatch() {
    batchRows_ = 0;
    batchNext_ = 0;
    batchToEnd_ = false;
    batchDamaged_ = false;
    batchKnown_ = false;
  }
  bool batchFresh() const {
    return batchKnown_ && version_->load(std::memory_order_acquire) == batchVersion_ &&
           std::chrono::steady_clock::now() - batchAt_ < PgStore::kFetchAheadLifetime;
  }
  std::string_view batchRow(std::size_t i) const {
    return {rows_.data() + i * spec_.recordLength, spec_.recordLength};
  }
  // Reads up to `limit` records from `from` on; `b` may hold statements to
  // run before (a release, queued writes).
  FileStatus fetch(Batch& b, std::string_view from, bool inclusive, int limit);
  void changed() { version_->fetch_add(1, std::memory_order_acq_rel); }
  FileStatus readNextLocked(std::span<char> record);
  FileStatus change(bool isDelete, std::span<const char> record);
  void endUnit() {
    inUnit_ = unitLost_ = false;
    keys_.reset();
    pendingCount_ = 0;
    flushing_ = false;
    startArray(pending_, pg::kByteaOid);
    unitLocks_.clear();
  }
  // The unit's record locks as an array parameter.
  Param unitLockArray() {
    startArray(lockArray_, pg::kInt8Oid);
    for (std::int64_t k : unitLocks_) {
      putU32(lockArray_, 8);
      const auto u = static_cast<std::uint64_t>(k);
      putU32(lockArray_, static_cast<std::uint32_t>(u >> 32));
      putU32(lockArray_, static_cast<std::uint32_t>(u));
    }
    setArrayCount(lockArray_, unitLocks_.size());
    return Param::bytes(lockArray_);
  }

  std::shared_ptr<PgStore::Shared> shared_;
  std::string name_;
  FileSpec spec_;
  std::string table_;
  std::unique_ptr<pg::Connection> conn_;
  std::shared_ptr<const TableStatements> st_;
  std::shared_ptr<std::atomic<std::uint64_t>> version_;
  OpenMode mode_ = OpenMode::kInput;
  std::uint32_t oid_ = 0;
  bool broken_ = false;  // the connection failed; only close helps
  bool noWait_ = false;  // lock waits end almost at once

  std::vector<Result> results_;
  Failure failure_;
  std::size_t failedAt_ = 0;

  // The record lock outside a unit.
  bool holding_ = false;
  std::string heldKey_;
  std::int64_t heldLock_ = 0;

  // The unit.
  bool inUnit_ = false;
  bool unitLost_ = false;
  std::optional<KeySet> keys_;
  std::string pending_;  // queued records, as an array parameter
  std::size_t pendingCount_ = 0;
  bool flushing_ = false;
  std::unordered_set<std::int64_t> unitLocks_;
  std::string lockArray_;

  // Position and records read ahead.
  std::string position_;
  bool hasPosition_ = false;
  bool positionedBefore_ = false;  // read-next returns the record at position_ itself
  std::string rows_;               // whole records, in key order
  std::size_t batchRows_ = 0, batchNext_ = 0;
  bool batchKnown_ = false;
  bool batchToEnd_ = false;    // no record follows the last one
  bool batchDamaged_ = false;  // a malformed record follows the last one
  int batchLimit_ = kFirstBatch;
  std::chrono::steady_clock::time_point batchAt_;
  std::uint64_t batchVersion_ = 0;
};

FileStatus PgFile::open(OpenMode mode) {
  if (isOpen()) return kAlreadyOpen;
  std::unique_ptr<pg::Connection> conn;
  std::shared_ptr<const TableStatements> st;
  const Opened o = openTable(*shared_, conn, spec_, table_, mode == OpenMode::kExclusive, &st);
  if (!o.status.ok()) {
    if (conn) release(*shared_, std::move(conn), false);
    return o.status;
  }
  conn_ = std::move(conn);
  st_ = std::move(st);
  oid_ = o.oid;
  version_ = versions().of(shared_->pool.conninfo() + "\n" + conn_->schema() + "." + table_);
  mode_ = mode;
  broken_ = false;
  holding_ = false;
  hasPosition_ = false;
  endUnit();
  dropBatch();
  if (noWait_ && !setWait()) {
    const FileStatus s = failed();
    (void)close();
    return s;
  }
  return kOk;
}

FileStatus PgFile::close() {
  if (!isOpen()) return kNotOpen;
  // An unfinished unit is rolled back, as if the process had died. A broken
  // connection is simply closed: the server let go of everything with it.
  if (!broken_) release(*shared_, std::move(conn_), inUnit_, noWait_);
  conn_.reset();
  broken_ = false;
  holding_ = false;
  hasPosition_ = false;
  endUnit();
  dropBatch();
  return kOk;
}

FileStatus PgFile::loadKeys() {
  Batch b;
  const std::size_t i = b.add(st_->keys, {});
  if (!run(b)) return failed();
  keys_.emplace(spec_.keyLength);
  keys_->load(results_[i]);
  return kOk;
}

FileStatus PgFile::fetch(Batch& b, std::string_view from, bool inclusive, int limit) {
  dropBatch();
  addFlush(b);
  const std::size_t i =
      b.add(inclusive ? st_->seekGe : st_->seekGt, {Param::bytes(from), Param::int4(limit)});
  const std::uint64_t version = version_->load(std::memory_order_acquire);
  const auto at = std::chrono::steady_clock::now();
  if (!run(b)) return failed();
  flushed();
  const Result& r = results_[i];
  rows_.clear();
  rows_.reserve(static_cast<std::size_t>(r.rows()) * spec_.recordLength);
  std::size_t good = 0;
  for (int row = 0; row < r.rows(); ++row) {
    if (r.isNull(row, 1) || !recordIsWhole(r.bytes(row, 0), r.bytes(row, 1), spec_)) {
      batchDamaged_ = true;
      break;
    }
    rows_.append(r.bytes(row, 1));
    ++good;
  }
  batchRows_ = good;
  batchNext_ = 0;
  batchToEnd_ = !batchDamaged_ && r.rows() < limit;
  batchKnown_ = true;
  batchAt_ = at;
  batchVersion_ = version;
  return kOk;
}

FileStatus PgFile::read(std::span<char> record) {
  if (!isOpen()) return kNotOpen;
  if (unusable()) return kPermanentError;
  if (record.size() < spec_.recordLength) return endingLock(kPermanentError);
  const std::string_view key = keyOf(record);
  dropBatch();
  hasPosition_ = false;
  Batch b;
  std::size_t lockAt = 0;
  bool lockTaken = false;
  const std::int64_t lock = lockKey(key);
  if (inUnit_) {
    // Unknown to the unit's key set: no such record, no lock to take.
    if (keys_ && !keys_->contains(key)) return kNotFound;
    addFlush(b);
    lockTaken = unitLocks_.count(lock) == 0;
    lockAt = b.add(st_->lockRead, {Param::bytes(key), Param::int8(lock),
                                   Param::int4(lockTaken ? kSessionLock : kHeld)});
  } else if (updating()) {
    const bool keep = holds(lock);
    if (!keep) addRelease(b);
    lockTaken = !keep;
    lockAt = b.add(st_->lockRead, {Param::bytes(key), Param::int8(lock),
                                   Param::int4(keep ? kHeld : kSessionLock)});
  }
  const std::size_t readAt = b.add(st_->read, {Param::bytes(key)});
  const bool ran = run(b);
  if (ran) flushed();
  // The lock's outcome counts even when a later statement failed.
  std::int64_t locked = kLockedPresent;
  if (updating() && (ran || failedAt_ > lockAt) && results_[lockAt].rows() == 1) {
    locked = results_[lockAt].integer(0, 0);
    if (locked == kLockedPresent && lockTaken) {
      if (inUnit_)
        unitLocks_.insert(lock);
      else
        hold(key, lock);
    }
  }
  if (!ran) return failed();
  if (locked == kBusy) return kRecordLocked;
  if (locked == kAbsent) return kNotFound;
  const Result& r = results_[readAt];
  if (r.rows() == 0) return kNotFound;
  const std::string_view data = r.isNull(0, 0) ? std::string_view() : r.bytes(0, 0);
  if (!recordIsWhole(key, data, spec_)) return kIndexDamaged;
  std::memcpy(record.data(), data.data(), spec_.recordLength);
  position_.assign(key);
  hasPosition_ = true;
  positionedBefore_ = false;
  return kOk;
}

FileStatus PgFile::start(StartMode mode, std::span<const char> record, std::size_t keyLength) {
  if (!isOpen()) return kNotOpen;
  if (unusable()) return kPermanentError;
  Batch b;
  if (!inUnit_) addRelease(b);
  const std::size_t n = std::min(keyLength, spec_.keyLength);
  if (record.size() < n) {
    if (!b.empty() && !run(b)) return failed();
    return kPermanentError;
  }
  hasPosition_ = false;
  std::string seek(record.data(), n);
  if (mode == StartMode::kGreaterThan && !nextPrefix(seek)) {
    dropBatch();
    if (!b.empty() && !run(b)) return failed();
    return kNotFound;
  }
  if (const FileStatus s = fetch(b, seek, true, kFirstBatch); !s.ok()) return s;
  batchLimit_ = kFirstBatch;
  if (batchRows_ == 0) {
    const bool damaged = batchDamaged_;
    dropBatch();
    return damaged ? kIndexDamaged : kNotFound;
  }
  const std::string_view found = batchRow(0).substr(0, spec_.keyLength);
  if (mode == StartMode::kEqual && std::memcmp(found.data(), record.data(), n) != 0) {
    dropBatch();
    return kNotFound;
  }
  position_.assign(found);
  hasPosition_ = true;
  positionedBefore_ = true;
  return kOk;
}

FileStatus PgFile::readNext(std::span<char> record) {
  if (!isOpen()) return kNotOpen;
  if (unusable()) return kPermanentError;
  if (record.size() < spec_.recordLength) return endingLock(kPermanentError);
  if (!hasPosition_) {
    dropBatch();
    return endingLock(kNoPosition);
  }
  // Read for update, record by record; a handle that holds the file
  // exclusively has nobody to lock against and reads ahead as an input
  // handle does (its own changes drop what it read ahead).
  if (mode_ == OpenMode::kInputOutput) return readNextLocked(record);
  bool justFetched = false;
  for (;;) {
    if (justFetched || batchFresh()) {
      if (batchNext_ < batchRows_) {
        const std::string_view row = batchRow(batchNext_++);
        std::memcpy(record.data(), row.data(), spec_.recordLength);
        position_.assign(row.data(), spec_.keyLength);
        positionedBefore_ = false;
        return kOk;
      }
      if (batchDamaged_) return kIndexDamaged;
      if (batchToEnd_ || justFetched) return kEndOfFile;
    }
    batchLimit_ = std::min(batchLimit_ * 2, kMaxBatch);
    Batch b;
    if (const FileStatus s = fetch(b, position_, positionedBefore_, batchLimit_); !s.ok()) return s;
    justFetched = true;
  }
}

// Read-next on an input-output handle: the next key (from the rows read
// ahead, or freshly read), locked, then the record read in a snapshot taken
// after the lock, together with any key that appeared between the position
// and it meanwhile. One round trip per record.
FileStatus PgFile::readNextLocked(std::span<char> record) {
  for (;;) {
    if (!batchKnown_ || batchNext_ >= batchRows_) {
      batchLimit_ = std::min(batchLimit_ * 2, kMaxBatch);
      Batch b;
      if (!inUnit_) addRelease(b);
      if (const FileStatus s = fetch(b, position_, positionedBefore_, batchLimit_); !s.ok())
        return s;
      if (batchRows_ == 0) return batchDamaged_ ? kIndexDamaged : kEndOfFile;
    }
    const std::string candidate(batchRow(batchNext_).substr(0, spec_.keyLength));
    const std::int64_t lock = lockKey(candidate);
    Batch b;
    bool lockTaken;
    if (inUnit_) {
      addFlush(b);
      lockTaken = unitLocks_.count(lock) == 0;
    } else {
      lockTaken = !holds(lock);
      if (lockTaken) addRelease(b);
    }
    const std::size_t lockAt =
        b.add(st_->lockRead, {Param::bytes(candidate), Param::int8(lock),
                              Param::int4(lockTaken ? kSessionLock : kHeld)});
    const std::size_t checkAt = b.add(positionedBefore_ ? st_->checkNextGe : st_->checkNextGt,
                                      {Param::bytes(position_), Param::bytes(candidate)});
    const bool ran = run(b);
    if (ran) flushed();
    std::int64_t locked = kBusy;
    if ((ran || failedAt_ > lockAt) && results_[lockAt].rows() == 1) {
      locked = results_[lockAt].integer(0, 0);
      if (locked == kLockedPresent && lockTaken) {
        if (inUnit_)
          unitLocks_.insert(lock);
        else
          hold(candidate, lock);
      }
    }
    if (!ran) return failed();
    const Result& c = results_[checkAt];
    if (!c.isNull(0, 1)) {
      // A record came in before the candidate: read ahead again from the
      // position. A lock taken on the candidate goes with the next batch.
      dropBatch();
      continue;
    }
    if (locked == kBusy) {
      // The next read-next tries the same record again.
      position_ = candidate;
      positionedBefore_ = true;
      return kRecordLocked;
    }
    position_ = candidate;
    positionedBefore_ = false;
    ++batchNext_;
    if (locked == kAbsent || c.isNull(0, 0)) continue;  // deleted meanwhile: go on after it
    const std::string_view data = c.bytes(0, 0);
    if (!recordIsWhole(candidate, data, spec_)) return kIndexDamaged;
    std::memcpy(record.data(), data.data(), spec_.recordLength);
    return kOk;
  }
}

FileStatus PgFile::write(std::span<const char> record) {
  if (!isOpen()) return kNotOpen;
  Batch b;
  if (!inUnit_ && !unusable()) addRelease(b);
  auto finish = [&](FileStatus s) {
    if (!b.empty() && !run(b)) return failed();
    return s;
  };
  if (!updating()) return finish(kNotOpenForOutput);
  if (unusable() || record.size() < spec_.recordLength) return finish(kPermanentError);
  const std::string_view key = keyOf(record);
  const std::string_view data(record.data(), spec_.recordLength);
  dropBatch();
  if (inUnit_) {
    if (!keys_) {
      if (const FileStatus s = loadKeys(); !s.ok()) return s;
    }
    if (keys_->contains(key)) return kDuplicateKey;
    keys_->add(key);
    putU32(pending_, static_cast<std::uint32_t>(spec_.recordLength));
    pending_.append(data);
    if (++pendingCount_ >= kFlushRows) {
      Batch flush;
      addFlush(flush);
      if (!run(flush)) return failed();
      flushed();
    }
    return kOk;
  }
  const std::size_t i = b.add(st_->insert, {Param::bytes(key), Param::bytes(data)});
  if (!run(b)) return failed();
  changed();
  return results_[i].changed() == 1 ? kOk : kDuplicateKey;
}

FileStatus PgFile::change(bool isDelete, std::span<const char> record) {
  const std::size_t need = isDelete ? spec_.keyLength : spec_.recordLength;
  if (!isOpen()) return kNotOpen;
  if (!updating() || unusable() || record.size() < need) {
    Batch b;
    if (!inUnit_ && !unusable() && holding_) {
      addRelease(b);
      if (!run(b)) return failed();
    }
    return !updating() ? kNotOpenForUpdate : kPermanentError;
  }
  const std::string_view key = keyOf(record);
  const std::int64_t lock = lockKey(key);
  dropBatch();
  Batch b;
  LockMode mode;
  bool keep = false;
  std::size_t lockAt = SIZE_MAX;
  if (inUnit_) {
    if (keys_ && !keys_->contains(key)) return kNotFound;
    addFlush(b);
    mode = unitLocks_.count(lock) != 0 ? kHeld : kSessionLock;
  } else {
    // Outside a unit the change holds the record for its own transaction
    // only; a lock held since the read is kept without a gap until then.
    keep = holds(lock);
    if (!keep) addRelease(b);
    lockAt = b.add(kLockOrFail, {Param::int8(lock)});
    mode = kHeld;
  }
  const std::size_t i =
      isDelete ? b.add(st_->remove, {Param::bytes(key), Param::int8(lock), Param::int4(mode)})
               : b.add(st_->update,
                       {Param::bytes(key), Param::bytes({record.data(), spec_.recordLength}),
                        Param::int8(lock), Param::int4(mode)});
  if (keep) addRelease(b);
  if (!run(b)) {
    if (failedAt_ == lockAt && failure_.sqlstate == kLockOrFailRefused) return kRecordLocked;
    return failed();
  }
  flushed();
  const Result& r = results_[i];
  if (!r.boolean(0, 0)) return kRecordLocked;
  if (inUnit_ && mode == kSessionLock) unitLocks_.insert(lock);
  if (r.integer(0, 1) == 0) return kNotFound;
  if (inUnit_) {
    if (isDelete && keys_) keys_->remove(key);
  } else {
    changed();
  }
  return kOk;
}

FileStatus PgFile::rewrite(std::span<const char> record) { return change(false, record); }

FileStatus PgFile::remove(std::span<const char> record) { return change(true, record); }

FileStatus PgFile::unlock() {
  if (!isOpen()) return kNotOpen;
  if (unusable()) return kPermanentError;
  // Inside a unit the records stay locked until it ends; the position and
  // the records read ahead stay as they are.
  if (inUnit_ || !holding_) return kOk;
  Batch b;
  addRelease(b);
  if (!run(b)) return failed();
  return kOk;
}

FileStatus PgFile::begin() {
  if (!isOpen()) return kNotOpen;
  if (unusable()) return kPermanentError;
  Batch b;
  if (!inUnit_) addRelease(b);
  if (!updating() || inUnit_) {
    if (!b.empty() && !run(b)) return failed();
    return !updating() ? kNotOpenForOutput : kAlreadyOpen;
  }
  dropBatch();
  b.add(kBegin, {});
  b.add(st_->lockTable, {});
  if (!run(b)) {
    const FileStatus s = failed();
    if (!broken_ && conn_->inTransaction()) {
      Batch r;
      r.add(kRollback, {});
      (void)run(r);
    }
    return s;
  }
  endUnit();
  inUnit_ = true;
  return kOk;
}

FileStatus PgFile::commit() {
  if (!isOpen()) return kNotOpen;
  if (!inUnit_) {
    if (unusable()) return kPermanentError;
    return endingLock(updating() ? kOk : kNotOpenForOutput);
  }
  dropBatch();
  if (broken_) {
    endUnit();
    return kPermanentError;
  }
  Batch b;
  addFlush(b);
  const std::size_t commitAt = b.add(kCommit, {});
  if (!unitLocks_.empty()) b.add(kUnlockMany, {unitLockArray()});
  const bool lost = unitLost_;
  if (lost || !run(b)) {
    // A unit that failed is rolled back whole, and its commit reports a
    // permanent error, never a lock status that would invite a retry of a
    // commit that can no longer happen.
    const bool committed = !lost && failedAt_ > commitAt;
    if (!broken_ && conn_->inTransaction()) {
      Batch r;
      r.add(kRollback, {});
      if (!unitLocks_.empty()) r.add(kUnlockMany, {unitLockArray()});
      (void)conn_->run(r, results_, &failure_);
    }
    endUnit();
    if (committed) {
      changed();
      return kOk;
    }
    return kPermanentError;
  }
  // A commit that the server turned into a rollback (it should not: every
  // failure inside the unit was seen) is a failure too.
  const char* tag = PQcmdStatus(results_[commitAt].get());
  const bool rolledBack = tag != nullptr && std::strcmp(tag, "ROLLBACK") == 0;
  endUnit();
  changed();
  return rolledBack ? kPermanentError : kOk;
}

FileStatus PgFile::rollback() {
  if (!isOpen()) return kNotOpen;
  if (!inUnit_) {
    if (unusable()) return kPermanentError;
    return endingLock(updating() ? kOk : kNotOpenForOutput);
  }
  dropBatch();
  if (!broken_) {
    Batch b;
    b.add(kRollback, {});
    if (!unitLocks_.empty()) b.add(kUnlockMany, {unitLockArray()});
    unitLost_ = false;
    (void)run(b);
  }
  endUnit();
  return kOk;
}

}  // namespace

// ---- the store ----------------------------------------------------------------------

PgStore::PgStore(std::string conninfo) : shared_(std::make_shared<Shared>(std::move(conninfo))) {}

PgStore::~PgStore() = default;

std::string PgStore::tableName(std::string_view fileName) {
  const std::size_t dot = fileName.rfind('.');
  if (dot != std::string_view::npos && dot > 0) fileName = fileName.substr(0, dot);
  std::string t(fileName);
  for (char& c : t)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return t;
}

std::unique_ptr<KeyedFile> PgStore::file(const FileSpec& spec, std::string_view) {
  return std::make_unique<PgFile>(shared_, spec);
}

std::string PgStore::lastError() const {
  std::lock_guard<std::mutex> g(shared_->mutex);
  return shared_->lastError;
}

FileStatus PgStore::create(const FileSpec& spec, std::string_view) {
  const std::string table = tableName(spec.name);
  if (table.empty()) return kPermanentError;
  std::string error;
  std::unique_ptr<pg::Connection> conn = shared_->pool.take(&error);
  if (!conn) {
    shared_->noteError(error);
    return kPermanentError;
  }
  if (conn->schema().empty()) {
    shared_->noteError("no schema to create the table in (check search_path)");
    shared_->pool.park(std::move(conn));
    return kPermanentError;
  }
  auto st = shared_->statementsFor(conn->schema(), table);
  std::vector<Result> results;
  Failure failure;
  // Creates are serialised, so that two of them never race for one table
  // or for the layout table.
  Batch b;
  b.add(kBegin, {});
  b.add(kCreateLock, {Param::int4(kCreateLockSpace)});
  b.add(st->createLayout, {});
  const std::string qualified = quoted(conn->schema()) + "." + quoted(table);
  const std::size_t existsAt = b.add(st->exists, {Param::text(qualified)});
  FileStatus s = kOk;
  if (!conn->run(b, results, &failure)) {
    shared_->noteError(failure.message);
    s = statusOf(failure) == kFileLocked ? kFileLocked : kPermanentError;
  } else if (results[existsAt].boolean(0, 0)) {
    s = kDuplicateKey;
  } else {
    Batch c;
    c.add(st->create, {});
    c.add(st->setLayout, {Param::text(table), Param::int4(static_cast<int>(spec.recordLength)),
                          Param::int4(static_cast<int>(spec.keyLength))});
    c.add(kCommit, {});
    if (!conn->run(c, results, &failure)) {
      shared_->noteError(failure.message);
      s = failure.sqlstate == "42P07" ? kDuplicateKey : kPermanentError;
    }
  }
  release(*shared_, std::move(conn), true);
  return s;
}

FileStatus PgStore::createFiles(const std::vector<FileContents>& files, bool replace,
                                std::string* failedFile) {
  auto refuse = [&](FileStatus s, std::string_view name) {
    if (failedFile != nullptr) *failedFile = std::string(name);
    return s;
  };
  std::string error;
  std::unique_ptr<pg::Connection> conn = shared_->pool.take(&error);
  if (!conn) {
    shared_->noteError(error);
    return kPermanentError;
  }
  if (conn->schema().empty()) {
    shared_->noteError("no schema to create the tables in (check search_path)");
    release(*shared_, std::move(conn), false);
    return kPermanentError;
  }
  const std::string schema = conn->schema();
  std::vector<std::shared_ptr<const TableStatements>> st;
  for (const FileContents& f : files) {
    const std::string table = tableName(f.spec.name);
    if (table.empty()) return refuse(kPermanentError, f.spec.name);
    st.push_back(shared_->statementsFor(conn->schema(), table));
  }
  std::vector<Result> results;
  Failure failure;
  std::size_t failedAt = 0;
  // Every failure rolls the whole back; the session's locks go with the
  // connection's release.
  auto failed = [&](std::string_view name) {
    shared_->noteError(failure.message);
    release(*shared_, std::move(conn), true);
    FileStatus s = statusOf(failure);
    if (failure.sqlstate == "23505") s = kDuplicateKey;  // a key twice in the records given
    return refuse(s, name);
  };

  // First what stands under the names now, each table taken exclusively:
  // with creates serialised, nobody can open one until the commit.
  Batch b;
  b.add(kBegin, {});
  b.add(kCreateLock, {Param::int4(kCreateLockSpace)});
  b.add(st[0]->createLayout, {});
  std::vector<std::string> tables;
  for (const FileContents& f : files) tables.push_back(tableName(f.spec.name));
  const std::size_t firstTake = b.size();
  for (const std::string& table : tables)
    b.add(kTakeForReplace, {Param::text(table), Param::int4(kFileLockSpace)});
  if (!conn->run(b, results, &failure, &failedAt))
    return failed(failedAt >= firstTake ? files[failedAt - firstTake].spec.name : "");
  Batch make;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const Result& r = results[firstTake + i];
    if (r.rows() == 1) {
      const std::string_view kind = r.bytes(0, 0);
      if (!replace) {
        release(*shared_, std::move(conn), true);
        return refuse(kDuplicateKey, files[i].spec.name);
      }
      if (!r.boolean(0, 1)) {
        release(*shared_, std::move(conn), true);
        return refuse(kFileLocked, files[i].spec.name);
      }
      if (kind == "r" || kind == "p") {
        make.add(st[i]->dropTable, {});
      } else if (kind == "v") {
        make.add(st[i]->dropView, {});
      } else {
        shared_->noteError("\"" + tables[i] + "\" is neither a table nor a view");
        release(*shared_, std::move(conn), true);
        return refuse(kPermanentError, files[i].spec.name);
      }
    }
    make.add(st[i]->create, {});
    make.add(st[i]->setLayout,
             {Param::text(tables[i]), Param::int4(static_cast<int>(files[i].spec.recordLength)),
              Param::int4(static_cast<int>(files[i].spec.keyLength))});
  }
  if (!conn->run(make, results, &failure)) return failed("");

  // The records, in batches of rows sent as one array each.
  std::string rows;
  std::size_t count = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileSpec& spec = files[i].spec;
    auto flush = [&]() {
      if (count == 0) return true;
      setArrayCount(rows, count);
      Batch insert;
      insert.add(st[i]->insertMany,
                 {Param::bytes(rows), Param::int4(static_cast<int>(spec.keyLength))});
      const bool ran = conn->run(insert, results, &failure);
      count = 0;
      startArray(rows, pg::kByteaOid);
      return ran;
    };
    startArray(rows, pg::kByteaOid);
    count = 0;
    bool sent = true;
    const FileStatus produced = files[i].records([&](std::string_view record) {
      if (record.size() != spec.recordLength) return kIndexDamaged;
      putU32(rows, static_cast<std::uint32_t>(record.size()));
      rows.append(record);
      if (++count >= kFlushRows && !(sent = flush())) return kPermanentError;
      return kOk;
    });
    if (sent && produced.ok()) sent = flush();
    if (!sent) return failed(spec.name);
    if (!produced.ok()) {
      release(*shared_, std::move(conn), true);
      return refuse(produced, spec.name);
    }
  }
  Batch commit;
  commit.add(kCommit, {});
  if (!conn->run(commit, results, &failure)) return failed("");
  release(*shared_, std::move(conn), false);
  // Rows read ahead by handles of this process are of the old tables.
  for (const std::string& table : tables)
    versions().of(shared_->pool.conninfo() + "\n" + schema + "." + table)->fetch_add(1);
  return kOk;
}

FileStatus PgStore::replaceFiles(std::span<const FileSpec* const> specs, std::string_view,
                                 std::string_view from, std::vector<Replacement>* done,
                                 std::string* failedName) {
  std::vector<Replacement> result;
  for (const FileSpec* spec : specs)
    result.push_back({std::string(spec->name), checkIntegrity(*spec, {}, nullptr), 0});
  SqliteStore backup;
  std::vector<FileContents> files;
  for (std::size_t i = 0; i < specs.size(); ++i) {
    const FileSpec& spec = *specs[i];
    std::size_t& count = result[i].records;
    files.push_back({spec, [&backup, &spec, &count, from](const RecordSink& put) {
                       auto f = backup.file(spec, from);
                       FileStatus s = f->open(OpenMode::kInput);
                       if (!s.ok()) return s;
                       std::string record(spec.recordLength, '\0');
                       s = f->start(StartMode::kNotLessThan, record, spec.keyLength);
                       while (s.ok() && (s = f->readNext(record)).ok()) {
                         s = put(record);
                         ++count;
                       }
                       (void)f->close();
                       return s.atEnd() || s.notFound() ? kOk : s;
                     }});
  }
  const FileStatus s = createFiles(files, true, failedName);
  if (s.ok() && done != nullptr) *done = std::move(result);
  return s;
}

FileStatus PgStore::exportRecords(const FileSpec& spec,
                                  const std::function<bool(std::string_view record)>& onRecord) {
  const std::string table = tableName(spec.name);
  std::unique_ptr<pg::Connection> conn;
  std::shared_ptr<const TableStatements> st;
  const Opened o = openTable(*shared_, conn, spec, table, false, &st);
  if (!o.status.ok()) {
    if (conn) release(*shared_, std::move(conn), false);
    return o.status;
  }
  std::vector<Result> results;
  Failure failure;
  FileStatus s = kOk;
  std::string from;
  bool first = true;
  Batch b;
  b.add(kBeginSnapshot, {});
  for (bool more = true; more && s.ok();) {
    const std::size_t i =
        b.add(first ? st->seekGe : st->seekGt, {Param::bytes(from), Param::int4(kExportBatch)});
    if (!conn->run(b, results, &failure)) {
      shared_->noteError(failure.message);
      s = statusOf(failure);
      break;
    }
    b.clear();
    first = false;
    const Result& r = results[i];
    more = r.rows() == kExportBatch;
    for (int row = 0; row < r.rows(); ++row) {
      if (r.isNull(row, 1) || !recordIsWhole(r.bytes(row, 0), r.bytes(row, 1), spec)) {
        s = kIndexDamaged;
        break;
      }
      if (!onRecord(r.bytes(row, 1))) {
        more = false;
        break;
      }
    }
    if (r.rows() > 0) from.assign(r.bytes(r.rows() - 1, 0));
  }
  release(*shared_, std::move(conn), true);
  return s;
}

FileStatus PgStore::copyTo(const FileSpec& spec, std::string_view, const std::string& targetPath) {
  return SqliteStore::buildFile(spec, targetPath, [&](KeyedFile& out) {
    FileStatus written = kOk;
    const FileStatus s = exportRecords(spec, [&](std::string_view record) {
      written = out.write(std::span<const char>(record.data(), record.size()));
      return written.ok();
    });
    return s.ok() ? written : s;
  });
}

std::string PgStore::location(std::string_view) const {
  // The parts that say where, never a password.
  std::string where;
  char* err = nullptr;
  PQconninfoOption* options = PQconninfoParse(shared_->pool.conninfo().c_str(), &err);
  PQfreemem(err);
  if (options != nullptr) {
    for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
      if (o->val == nullptr || *o->val == '\0') continue;
      for (const char* shown :
           {"service", "host", "hostaddr", "port", "dbname", "user", "options"}) {
        if (std::strcmp(o->keyword, shown) != 0) continue;
        where += where.empty() ? "" : ", ";
        where += std::string(o->keyword) + " " + o->val;
      }
    }
    PQconninfoFree(options);
  }
  return "the database server" + (where.empty() ? std::string() : " (" + where + ")");
}

FileStatus PgStore::checkIntegrity(const FileSpec& spec, std::string_view,
                                   std::vector<std::string>* problems) {
  const std::string table = tableName(spec.name);
  std::unique_ptr<pg::Connection> conn;
  std::shared_ptr<const TableStatements> st;
  const Opened o = openTable(*shared_, conn, spec, table, false, &st);
  auto note = [&](std::string text) {
    if (problems != nullptr) problems->push_back(std::move(text));
  };
  if (!o.status.ok()) {
    if (conn) release(*shared_, std::move(conn), false);
    note("cannot open table " + table + ": status " + o.status.toString() +
         (o.status == kIndexMissing ? " (no layout row in px_layout, or a table of another shape)"
          : o.status == kAttributeMismatch ? " (the layout row in px_layout differs)"
          : o.status == kPermanentError    ? " (" + lastError() + ")"
                                           : ""));
    return o.status;
  }
  Batch b;
  const std::size_t i = b.add(st->survey, {Param::int4(static_cast<int>(spec.recordLength)),
                                           Param::int4(static_cast<int>(spec.keyLength))});
  std::vector<Result> results;
  Failure failure;
  FileStatus s = kOk;
  if (!conn->run(b, results, &failure)) {
    shared_->noteError(failure.message);
    note("survey of " + table + " failed: " + failure.message);
    s = statusOf(failure) == kOk ? kPermanentError : statusOf(failure);
  } else {
    const Result& r = results[i];
    const std::int64_t wrongLength = r.integer(0, 0), wrongKeyLength = r.integer(0, 1),
                       keyDiffers = r.integer(0, 2);
    if (wrongLength != 0)
      note(std::to_string(wrongLength) + " records of the wrong length (not " +
           std::to_string(spec.recordLength) + " bytes)");
    if (wrongKeyLength != 0)
      note(std::to_string(wrongKeyLength) + " keys of the wrong length (not " +
           std::to_string(spec.keyLength) + " bytes)");
    if (keyDiffers != 0)
      note(std::to_string(keyDiffers) + " records whose key differs from the record's head");
    if (wrongLength != 0 || wrongKeyLength != 0 || keyDiffers != 0) s = kIndexDamaged;
  }
  release(*shared_, std::move(conn), false);
  return s;
}

}  // namespace datafiles
