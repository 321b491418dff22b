// Benchmark: runs realistic edit sets (about 200 fields, 300 edits compiled
// by the engine) over 200,000 fixed-width records of 1,000 bytes: one set of
// plain logic, one that also calls built-ins (dates, masks, lists, strings and
// six lookups per record), and one of lookups alone. Prints records per
// second, nanoseconds per edit or per lookup and heap allocations per record
// in steady state. Run by hand: build/release/bench/run_edits [records].
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#include "quelt.h"

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* pointer, size_t size);

namespace {

std::atomic<long> allocations{0};

}  // namespace

// Every heap allocation of the process, the library's included, is counted.
extern "C" void* malloc(size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* pointer, size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(pointer, size);
}

namespace {

// 180 string fields of 5 characters, then 12 date fields: 996 bytes.
const int kStringFields = 180;
const int kDateFields = 12;
const int kFields = kStringFields + kDateFields;
const int kEdits = 300;
const int kRecordLength = 1000;
const int kDistinctRecords = 256;
const int kLookupRows = 10000;
const int kLookupsPerRecord = 6;

std::string string_field(int i) { return "#S\"Field" + std::to_string(i % kStringFields + 1) + "\""; }
std::string date_field(int i) { return "#S\"Field" + std::to_string(kStringFields + i % kDateFields + 1) + "\""; }

// Logic without built-ins, in the proportions of a real edit set: mostly
// short checks with arithmetic and nested conditions, some with character
// variables, one in ten with a loop and one in ten calling a user function.
// One edit in a hundred fails, as on mostly clean data.
std::string logic_only(int i) {
  std::string n = std::to_string(i % 97 + 3);
  std::string fails = i % 100 == 0 ? "1" : "0";
  switch (i % 10) {
    case 0:
    case 1:
      return "/* range check */\nint age, limit;\nage = " + n + ";\nlimit = 120 - age % 7;\n"
             "if (age < 0 || age > limit || " + fails + ") return FAIL;\nreturn PASS;\n";
    case 2:
    case 3:
      return "int code;\ncode = " + n + " % 10;\nif (code == 0 || code == 9) return PASS;\n"
             "if (code > 9 || " + fails + ") return FAIL;\nreturn PASS;\n";
    case 4:
      return "char flag;\nint k;\nflag = \"A\";\nk = " + n + ";\n"
             "if (k > 500 && k < 600) { if (k % 2 == 0) return WARN; }\nif (flag == 0 || " + fails +
             ") return FAIL;\nreturn PASS;\n";
    case 5:
      return "int a, b, c;\na = " + n + ";\nb = a * 2 - 1;\nc = (a + b) / 3;\n"
             "if (c > 400 && c % 5 == 0 || " + fails + ") return FAIL;\nif (b < a) return FAIL;\nreturn PASS;\n";
    case 6:
      return "if (" + n + " > 1000 || " + fails + ") return FAIL;\nreturn PASS;\n";
    case 7:
      return "int y, m;\ny = 2000 + " + n + " % 25;\nm = " + n + " % 12 + 1;\n"
             "if (y < 1900 || m < 1 || m > 12 || " + fails + ") return FAIL;\n"
             "if (y > 2024) return WARN;\nreturn PASS;\n";
    case 8:
      return "int i, sum;\nfor (i = 0; i < 4; i = i + 1) sum = sum + i * " + n + ";\n"
             "if (sum != 6 * " + n + " || " + fails + ") return FAIL;\nreturn PASS;\n";
    default:
      return "int x;\nx = " + n + ";\ncheck();\nif (x == " + n + " + 1 && !" + fails + ") return PASS;\n"
             "return FAIL;\nfunction check()\n{\n  x = x + 1;\n}\n";
  }
}

// A lookup of a field in the 10,000-row table CODES.
std::string lookup_logic(int i) {
  return "char name[20];\nif (lookup(" + string_field(i) + ", \"CODES.CODE\")) { if (strlen(name) > 0) return PASS; }\n"
         "return PASS;\n";
}

// Logic that reads fields through built-ins: about a third checks dates,
// masks or lists; the rest compares, converts and cuts field values or is
// plain logic as above.
std::string with_builtins(int i) {
  std::string f = string_field(i), g = string_field(i + 7), d = date_field(i), e = date_field(i + 5);
  switch (i % 9) {
    case 0:
      return "if (inlist(" + f + ", \"00000-49999,50000-99999\")) return PASS;\nif (empty(" + f +
             ")) return PASS;\nreturn FAIL;\n";
    case 1:
      return "if (match(" + f + ", \"ddddd\")) return PASS;\nif (empty(" + f + ")) return PASS;\nreturn FAIL;\n";
    case 2:
      return "if (empty(" + d + ")) return PASS;\nif (valid_date_iop(" + d + ")) return PASS;\nreturn FAIL;\n";
    case 3:
      return "int days;\ndays = daydiff_iop(" + d + ", " + e + ", dt_min);\n"
             "if (days == dt_error || days == dt_empty || days == dt_unknown) return PASS;\n"
             "if (days < -100000 || days > 100000) return WARN;\nreturn PASS;\n";
    case 4:
      return "int v;\nv = val(" + f + ");\nif (v < 0 || v > 99999) return FAIL;\nreturn PASS;\n";
    case 5:
      return "if (strcmp(" + f + ", " + g + ") == 0 && !empty(" + f + ")) return PASS;\n"
             "if (strcmp(substr(" + f + ", 1, 2), \"99\") > 0) return FAIL;\nreturn PASS;\n";
    case 6:
      return "char part[5];\nstrcpy(part, trim(left(" + f + ", 3), both));\n"
             "if (strlen(part) > 3) return FAIL;\nreturn PASS;\n";
    default:
      return logic_only(i);
  }
}

void exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    fprintf(stderr, "setup failed: %s\n", error);
    exit(1);
  }
}

struct TSet {
  const char* tag;
  int edits;
  std::string (*logic)(int);
};

const TSet kSets[] = {{"LOGIC", kEdits, logic_only}, {"MIXED", kEdits, with_builtins},
                      {"LOOKUPS", kLookupsPerRecord, lookup_logic}};

// Edits of the sets, in one table: the key of edit e of set s is s * 1000 + e.
void add_edits(sqlite3* db) {
  for (int s = 0; s < 3; ++s) {
    exec(db, "INSERT INTO RL_EditSets(PKey,EditSetTag,EditSetName) VALUES (" + std::to_string(s + 1) + ",'" +
                 kSets[s].tag + "','" + kSets[s].tag + "');");
    for (int e = 1; e <= kSets[s].edits; ++e) {
      int key = (s + 1) * 1000 + e;
      // The mixed set takes its six lookups in place of six of its edits.
      std::string text = s == 1 && e % 50 == 0 ? lookup_logic(e) : kSets[s].logic(e);
      // Plain logic reads no field, so its message names none.
      std::string message = s == 0 ? "3" : "2";
      char* logic = sqlite3_mprintf("%Q", text.c_str());
      exec(db, "INSERT INTO RL_Edits(PKey,EditTag,EditName,MessagePKey,EditLogic) VALUES (" + std::to_string(key) +
                   ",'E" + std::to_string(key) + "','Edit " + std::to_string(key) + "'," + message + "," + logic + ");"
                   "INSERT INTO RL_EditSetEditsPivot(EditSetPKey,EditPKey) VALUES (" + std::to_string(s + 1) + "," +
                   std::to_string(key) + ");");
      sqlite3_free(logic);
    }
  }
}

void build_metafile(const std::string& path) {
  if (Edit_CreateNewMetafile(path.c_str()) != 0) exit(1);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  exec(db, "BEGIN; INSERT INTO RL_Layouts(PKey,LayoutTag,LayoutName) VALUES (1,'REC','Record');"
           "INSERT INTO RL_Messages(PKey,MessageNumber,Message) VALUES (3,9,'Edit failed');"
           "INSERT INTO RL_Messages(PKey,MessageNumber,Message) VALUES (2,10,'Field %F1 holds %V1');"
           "CREATE TABLE CODES([PKey] integer not null primary key, [CODE] varchar(5) not null, [NAME] varchar(20));"
           "CREATE INDEX xCODES_CODE ON CODES([CODE]);"
           "INSERT INTO RL_LookupTables(TableName,RecCount) VALUES ('CODES'," + std::to_string(kLookupRows) + ");");
  for (int row = 0; row < kLookupRows; ++row) {
    char code[8];
    snprintf(code, sizeof code, "%05d", row * 10);
    exec(db, std::string("INSERT INTO CODES(CODE,NAME) VALUES ('") + code + "','Code " + code + "');");
  }
  for (int f = 1; f <= kFields; ++f) {
    bool date = f > kStringFields;
    std::string number = std::to_string(f);
    int start = date ? kStringFields * 5 + (f - kStringFields - 1) * 8 + 1 : (f - 1) * 5 + 1;
    exec(db, "INSERT INTO RL_Fields(PKey,FieldNumber,FieldName,LocalName,FieldLength,DataType) VALUES (" + number +
                 "," + number + ",'Field" + number + "','F" + number + "'," + (date ? "8,'D1'" : "5,'S '") + ");"
                 "INSERT INTO RL_LayoutFieldsPivot(LayoutPKey,FieldPKey,StartPos) VALUES (1," + number + "," +
                 std::to_string(start) + ");");
  }
  add_edits(db);
  exec(db, "COMMIT;");
  sqlite3_close(db);
  int smf = -1, compare = 0;
  char message[256];
  if (Edit_Initialize(&smf, path.c_str(), message, sizeof message, &compare) != 0) exit(1);
  for (int s = 0; s < 3; ++s) {
    for (int e = 1; e <= kSets[s].edits; ++e) {
      std::string tag = "E" + std::to_string((s + 1) * 1000 + e);
      int result = Edit_RecompileEditLogic(smf, tag.c_str());
      if (result != 0 && result != -3) {
        fprintf(stderr, "edit %s does not compile (%d)\n", tag.c_str(), result);
        exit(1);
      }
    }
  }
  Edit_Exit(smf);
}

// Digits in the string fields (one field in ten blank) and dates between 1950 and
// 2019 in the date fields (one in fifty blank).
std::vector<std::string> make_records() {
  std::vector<std::string> records;
  unsigned seed = 12345;
  auto next = [&seed](unsigned range) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % range;
  };
  for (int r = 0; r < kDistinctRecords; ++r) {
    std::string record(kRecordLength, ' ');
    for (int f = 0; f < kStringFields; ++f)
      if (next(10) != 0)
        for (int i = f * 5; i < f * 5 + 5; ++i) record[i] = static_cast<char>('0' + next(10));
    for (int d = 0; d < kDateFields; ++d) {
      if (next(50) == 0) continue;
      char date[9];
      snprintf(date, sizeof date, "%04u%02u%02u", 1950 + next(70), 1 + next(12), 1 + next(28));
      record.replace(kStringFields * 5 + d * 8, 8, date);
    }
    records.push_back(record);
  }
  return records;
}

int count_message(void* owner, const char*, const char*, const char*, const char*, const char*) {
  ++*static_cast<long*>(owner);
  return 0;
}

struct TTiming {
  double seconds;
  long messages;
  double allocations;
};

TTiming run_set(int smf, const char* set, const std::vector<std::string>& data, long records) {
  long messages = 0;
  int failed = 0;
  auto run = [&](long r) {
    const std::string& record = data[r % kDistinctRecords];
    if (Edit_RunEdits(smf, set, "REC", record.c_str(), 0, &failed, &messages,
                      reinterpret_cast<void*>(count_message)) != 0) {
      fprintf(stderr, "run of %s failed at record %ld\n", set, r);
      int count = 0;
      char error[512];
      Edit_GetEngineErrorsCount(smf, &count);
      for (int i = 1; i <= count; ++i)
        if (Edit_GetEngineErrorByIndex(smf, i, error, sizeof error) >= 0) fprintf(stderr, "  %s\n", error);
      exit(1);
    }
  };
  for (long r = 0; r < kDistinctRecords; ++r) run(r);  // warm-up: edit set loaded, logic read
  messages = 0;
  long allocationsBefore = allocations.load();
  auto start = std::chrono::steady_clock::now();
  for (long r = 0; r < records; ++r) run(r);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return {seconds, messages, static_cast<double>(allocations.load() - allocationsBefore) / records};
}

void report(const char* title, const TTiming& timing, long records, int edits) {
  printf("%s\n", title);
  printf("  records per second:      %.0f\n", records / timing.seconds);
  printf("  ns per edit:             %.1f\n", timing.seconds * 1e9 / (static_cast<double>(records) * edits));
  printf("  messages per record:     %.2f\n", static_cast<double>(timing.messages) / records);
  printf("  heap allocations/record: %.3f\n", timing.allocations);
}

}  // namespace

int main(int argc, char** argv) {
  long records = argc > 1 ? atol(argv[1]) : 200000;
  char dir[] = "/tmp/quelt-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  std::string path = std::string(dir) + "/bench.smf";
  build_metafile(path);
  std::vector<std::string> data = make_records();
  int smf = -1, compare = 0;
  char message[256];
  if (Edit_Initialize(&smf, path.c_str(), message, sizeof message, &compare) != 0) return 1;

  printf("%ld records of %d bytes, %d fields, edit sets of %d edits\n\n", records, kRecordLength, kFields, kEdits);
  report("logic without built-ins:", run_set(smf, "LOGIC", data, records), records, kEdits);
  report("with built-ins (dates, masks, lists, strings, 6 lookups per record):",
         run_set(smf, "MIXED", data, records), records, kEdits);
  TTiming lookups = run_set(smf, "LOOKUPS", data, records);
  double count = static_cast<double>(records) * kLookupsPerRecord;
  printf("lookups in a table of %d rows:\n", kLookupRows);
  printf("  lookups per second:      %.0f\n", count / lookups.seconds);
  printf("  ns per lookup:           %.1f\n", lookups.seconds * 1e9 / count);
  printf("  heap allocations/record: %.3f\n", lookups.allocations);
  Edit_Exit(smf);
  remove(path.c_str());
  rmdir(dir);
  return 0;
}
