// Benchmark: renames a lookup table through a posted RL_LookupTables row in
// metafiles of two shapes, each at two sizes: views beside tables that have
// a trigger, and views whose only trigger is an INSTEAD OF INSERT. None of
// them reads the table, so every rename goes through, each after the check
// has compiled them all before and after it. Prints the best of three renames
// and how much longer the larger metafile takes.
#include <string>

#include "BenchSupport.h"

namespace {

const int kRounds = 3;

std::string lookup_table() {
  return "CREATE TABLE LT([PKey] integer NOT NULL PRIMARY KEY, [Code] varchar(10));"
         "INSERT INTO LT(Code) VALUES ('a'), ('b');"
         "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (2, 'LT', 2);"
         "CREATE TABLE Other(Code);";
}

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

bool rename_to(int smf, const char* name) {
  int pkey = 0;
  return Qb_Edit(smf, "RL_LookupTables", 2) == 0 && Qb_SetFieldByName(smf, "RL_LookupTables", "TableName", name) == 0 &&
         Qb_Post(smf, "RL_LookupTables", &pkey) == 0;
}

// The best of three renames, back and forth; negative when one fails.
double best_rename(const std::string& sql) {
  BenchMetafile metafile(sql);
  double best = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    if (!rename_to(metafile.handle(), round % 2 == 0 ? "LT2" : "LT")) return -1;
    double taken = seconds_since(start);
    best = taken < best ? taken : best;
  }
  return best;
}

void measure(const char* shape, std::string (*make)(int), int count) {
  double small = best_rename(make(count)), large = best_rename(make(2 * count));
  if (small < 0 || large < 0) {
    printf("%s: a rename FAILED\n", shape);
    return;
  }
  printf("%s: %d of them %.3f s, %d of them %.3f s (%.2f times)\n", shape, count, small, 2 * count, large,
         large / small);
}

}  // namespace

int main() {
  measure("views and tables with a trigger", views_and_triggers, 1500);
  measure("views with only an INSTEAD OF INSERT trigger", insert_only_views, 600);
  return 0;
}
