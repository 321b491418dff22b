// Benchmark: how schema work grows with the schema. A rename of a lookup
// table beside views and tables whose one trigger each reads a table dropped
// before, a restructure beside views and tables with a trigger, and the
// opening of a metafile of many lookup tables, each with an index and a
// trigger; each at two sizes, best of three. During the largest rename
// another connection writes again and again: the longest of its waits shows
// how long the rename kept the write lock; the rename is timed without it.
#include <atomic>
#include <string>
#include <thread>

#include "BenchSupport.h"

namespace {

const int kRounds = 3;
const int kBusyWaitMs = 600000;

std::string count_text(int i) { return std::to_string(i); }

// `count` views and `count` tables whose one trigger reads a table that is gone.
std::string broken_triggers(int count) {
  std::string sql = lookup_table() + "CREATE TABLE Gone(a);";
  for (int i = 0; i < count; ++i) {
    std::string n = count_text(i);
    sql += "CREATE VIEW V" + n + " AS SELECT Code FROM Other WHERE rowid = " + n + ";";
    sql += "CREATE TABLE T" + n + "(a);";
    sql += "CREATE TRIGGER R" + n + " AFTER INSERT ON T" + n + " BEGIN SELECT a FROM Gone; END;";
  }
  return sql + "DROP TABLE Gone;";
}

// `count` views and `count` tables with a trigger that works.
std::string working_triggers(int count) {
  std::string sql = lookup_table();
  for (int i = 0; i < count; ++i) {
    std::string n = count_text(i);
    sql += "CREATE VIEW V" + n + " AS SELECT Code FROM Other WHERE rowid = " + n + ";";
    sql += "CREATE TABLE T" + n + "(a);";
    sql += "CREATE TRIGGER R" + n + " AFTER INSERT ON T" + n + " BEGIN SELECT Code FROM Other; END;";
  }
  return sql;
}

// `count` lookup tables, each with an index and a trigger.
std::string lookup_tables(int count) {
  std::string sql;
  for (int i = 0; i < count; ++i) {
    std::string n = count_text(i);
    sql += "CREATE TABLE L" + n + "([PKey] integer NOT NULL PRIMARY KEY, [Code] char(6) NOT NULL collate nocase "
           "default '' check([Code] in ('a', 'b')), [Up] varchar(1));";
    sql += "CREATE INDEX xL" + n + "_Code ON [L" + n + "] ([Code], [PKey]);";
    sql += "CREATE TRIGGER _L" + n + "_Up AFTER UPDATE ON L" + n + " BEGIN UPDATE L" + n +
           " SET [Up] = upper(NEW.Code) WHERE PKey = NEW.PKey; END;";
    sql += "INSERT INTO RL_LookupTables(TableName, RecCount) VALUES ('L" + n + "', 0);";
  }
  return sql;
}

bool restructure(int smf, const char*) {
  return Qb_DefineTableStructure(smf, "LT", 1) == 0 &&
         Qb_AddColumnDef(smf, "Code", "Code", 0, 10, 1, 0, nullptr, nullptr, nullptr, nullptr, 0) == 0 &&
         Qb_CreateTable(smf, nullptr) == 0;
}

// Another connection's writes, each timed, until `done`: the longest wait.
class TWriter {
 public:
  explicit TWriter(const std::string& path) {
    sqlite3_open(path.c_str(), &FDB);
    sqlite3_busy_timeout(FDB, kBusyWaitMs);
    FThread = std::thread([this] { run(); });
  }
  // Stops the writes; the longest wait in seconds, negative when a write failed.
  double Stop() {
    FDone = true;
    FThread.join();
    sqlite3_close(FDB);
    return FFailed ? -1 : FLongest;
  }

 private:
  void run() {
    while (!FDone) {
      auto start = std::chrono::steady_clock::now();
      if (sqlite3_exec(FDB, "INSERT INTO Other(Code) VALUES ('w');", nullptr, nullptr, nullptr) != SQLITE_OK)
        FFailed = true;
      double taken = seconds_since(start);
      FLongest = taken > FLongest ? taken : FLongest;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  sqlite3* FDB = nullptr;
  std::thread FThread;
  std::atomic<bool> FDone{false};
  bool FFailed = false;
  double FLongest = 0;
};

typedef bool (*TWork)(int smf, const char* name);

// The best of three calls of the work, renames back and forth; negative
// when one fails. With `wait`, three more calls while another connection
// writes, and the least of their longest waits for the write lock.
double best_of(int count, std::string (*make)(int), TWork work, double* wait = nullptr) {
  BenchMetafile metafile(make(count));
  double best = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    bool done = work(metafile.handle(), round % 2 == 0 ? "LT2" : "LT");
    double taken = seconds_since(start);
    if (!done) return -1;
    best = taken < best ? taken : best;
  }
  for (int round = 0; wait != nullptr && round < kRounds; ++round) {
    TWriter writer(metafile.path());
    bool done = work(metafile.handle(), round % 2 == 0 ? "LT" : "LT2");
    double waited = writer.Stop();
    if (!done || waited < 0) return -1;
    *wait = round == 0 || waited < *wait ? waited : *wait;
  }
  return best;
}

// The best of three openings of the metafile.
double best_open(int count) {
  BenchMetafile metafile(lookup_tables(count));
  double best = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    int smf = -1, versionCompare = 0;
    char message[256];
    auto start = std::chrono::steady_clock::now();
    int opened = Edit_Initialize(&smf, metafile.path().c_str(), message, sizeof message, &versionCompare);
    double taken = seconds_since(start);
    if (opened != 0) return -1;
    Edit_Exit(smf);
    best = taken < best ? taken : best;
  }
  return best;
}

bool report(const char* shape, int count, double small, double large) {
  if (small < 0 || large < 0) {
    printf("%s: FAILED\n", shape);
    return false;
  }
  printf("%s: %d: %.3f s, %d: %.3f s (%.2f times)\n", shape, count, small, 2 * count, large, large / small);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // A factor on the sizes, for a quick run.
  double scale = argc > 1 ? atof(argv[1]) : 1.0;
  int renames = static_cast<int>(1500 * scale), restructures = static_cast<int>(3000 * scale),
      opens = static_cast<int>(1000 * scale);
  double wait = 0;
  bool ok = report("rename beside views and tables whose trigger reads a table that is gone", renames,
                   best_of(renames, broken_triggers, rename_to),
                   best_of(2 * renames, broken_triggers, rename_to, &wait));
  if (ok) printf("  another connection's write waited at most %.3f s during the larger rename\n", wait);
  ok = report("restructure beside views and tables with a trigger", restructures,
              best_of(restructures, working_triggers, restructure),
              best_of(2 * restructures, working_triggers, restructure)) && ok;
  ok = report("opening of a metafile of lookup tables with an index and a trigger", opens, best_open(opens),
              best_open(2 * opens)) && ok;
  return ok ? 0 : 1;
}
