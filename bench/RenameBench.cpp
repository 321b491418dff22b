// Benchmark: renames a lookup table through a posted RL_LookupTables row in
// metafiles of three shapes, each at two sizes: views beside tables that
// have a trigger, views whose only trigger is an INSTEAD OF INSERT, and the
// table's own triggers. None of them reads the table, so every rename goes
// through, each after the check has compiled them all before and after it.
// Then imports a lookup table with many triggers from a second metafile.
// Prints the best of three and how much longer the larger metafile takes.
#include <string>

#include "BenchSupport.h"

namespace {

const int kRounds = 3;

// `count` views and `count` tables, each with a trigger.
std::string views_and_triggers(int count) {
  std::string sql = lookup_table();
  for (int i = 0; i < count; ++i) {
    std::string n = std::to_string(i);
    sql += "CREATE VIEW V" + n + " AS SELECT Code FROM Other WHERE rowid = " + n + ";";
    sql += "CREATE TABLE T" + n + "(a);";
    sql += "CREATE TRIGGER R" + n + " AFTER INSERT ON T" + n + " BEGIN SELECT Code FROM Other; END;";
  }
  return sql;
}

// `count` views, each with only an INSTEAD OF INSERT trigger.
std::string insert_only_views(int count) {
  std::string sql = lookup_table();
  for (int i = 0; i < count; ++i) {
    std::string n = std::to_string(i);
    sql += "CREATE VIEW V" + n + " AS SELECT " + n + " AS a;";
    sql += "CREATE TRIGGER R" + n + " INSTEAD OF INSERT ON V" + n + " BEGIN SELECT Code FROM Other; END;";
  }
  return sql;
}

// `count` triggers of `table` itself, named as its renames and copies name them.
std::string own_triggers(const std::string& table, int count) {
  std::string sql;
  for (int i = 0; i < count; ++i)
    sql += "CREATE TRIGGER _" + table + "_" + std::to_string(i) + " AFTER UPDATE OF Code ON " + table +
           " BEGIN SELECT " + std::to_string(i) + "; END;";
  return sql;
}

std::string triggers_on_the_table(int count) { return lookup_table() + own_triggers("LT", count); }

// The best of three renames, back and forth; negative when one fails.
double best_rename(int count, std::string (*make)(int)) {
  BenchMetafile metafile(make(count));
  double best = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    if (!rename_to(metafile.handle(), round % 2 == 0 ? "LT2" : "LT")) return -1;
    double taken = seconds_since(start);
    best = taken < best ? taken : best;
  }
  return best;
}

// The best of three imports of a table with `count` triggers, each undone by
// the host's rollback; negative when one fails.
double best_import(int count, std::string (*)(int)) {
  BenchMetafile source("CREATE TABLE Zap([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(10));"
                       "INSERT INTO Zap(Code) VALUES ('a'), ('b');" + own_triggers("Zap", count));
  BenchMetafile target("");
  int smf = target.handle();
  if (Qb_OpenImportMetafile(smf, source.path().c_str()) != 0) return -1;
  double best = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    if (Qb_BeginTrans(smf) != 0) return -1;
    auto start = std::chrono::steady_clock::now();
    bool imported = Qb_ImportLookupTable(smf, "Zap") == 0;
    double taken = seconds_since(start);
    if (Qb_RollbackTrans(smf) != 0 || !imported) return -1;
    best = taken < best ? taken : best;
  }
  Qb_CloseImportMetafile(smf);
  return best;
}

void measure(const char* shape, double (*best)(int, std::string (*)(int)), std::string (*make)(int), int count) {
  double small = best(count, make), large = best(2 * count, make);
  if (small < 0 || large < 0) {
    printf("%s: FAILED\n", shape);
    return;
  }
  printf("%s: %d of them %.3f s, %d of them %.3f s (%.2f times)\n", shape, count, small, 2 * count, large,
         large / small);
}

}  // namespace

int main() {
  measure("rename beside views and tables with a trigger", best_rename, views_and_triggers, 1500);
  measure("rename beside views with only an INSTEAD OF INSERT trigger", best_rename, insert_only_views, 600);
  measure("rename of a table with triggers of its own", best_rename, triggers_on_the_table, 1000);
  measure("import of a table with triggers", best_import, nullptr, 1000);
  return 0;
}
