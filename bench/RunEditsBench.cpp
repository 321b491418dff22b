// Benchmark: runs a realistic edit set (200 fields, 300 edits of mixed logic
// compiled by the engine) over 200,000 fixed-width records of 1,000 bytes and
// prints records per second, nanoseconds per edit and heap allocations per
// record in steady state. Run by hand: build/release/bench/run_edits [records].
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

const int kFields = 200;
const int kEdits = 300;
const int kRecordLength = 1000;
const int kDistinctRecords = 256;

// Logic of edit i, in the proportions of a real edit set: mostly short
// checks with arithmetic and nested conditions, some with character
// variables, one in ten with a loop and one in ten calling a user function.
// One edit in a hundred fails, as on mostly clean data.
std::string edit_logic(int i) {
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

void exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    fprintf(stderr, "setup failed: %s\n", error);
    exit(1);
  }
}

void build_metafile(const std::string& path) {
  if (Edit_CreateNewMetafile(path.c_str()) != 0) exit(1);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  exec(db, "BEGIN; INSERT INTO RL_Layouts(PKey,LayoutTag,LayoutName) VALUES (1,'REC','Record');"
           "INSERT INTO RL_EditSets(PKey,EditSetTag,EditSetName) VALUES (1,'ALL','All edits');"
           "INSERT INTO RL_Messages(PKey,MessageNumber,Message) VALUES (2,10,'Field %F1 holds %V1');");
  for (int f = 1; f <= kFields; ++f) {
    std::string number = std::to_string(f);
    exec(db, "INSERT INTO RL_Fields(PKey,FieldNumber,FieldName,LocalName,FieldLength) VALUES (" + number + "," +
                 number + ",'Field" + number + "','F" + number + "',5);"
                 "INSERT INTO RL_LayoutFieldsPivot(LayoutPKey,FieldPKey,StartPos) VALUES (1," + number + "," +
                 std::to_string((f - 1) * 5 + 1) + ");");
  }
  for (int e = 1; e <= kEdits; ++e) {
    std::string key = std::to_string(e);
    char* logic = sqlite3_mprintf("%Q", edit_logic(e).c_str());
    exec(db, "INSERT INTO RL_Edits(PKey,EditTag,EditName,MessagePKey,EditLogic) VALUES (" + key + ",'E" + key +
                 "','Edit " + key + "',2," + logic + ");"
                 "INSERT INTO RL_EditSetEditsPivot(EditSetPKey,EditPKey) VALUES (1," + key + ");");
    sqlite3_free(logic);
  }
  exec(db, "COMMIT;");
  sqlite3_close(db);
  int smf = -1, compare = 0;
  char message[256];
  if (Edit_Initialize(&smf, path.c_str(), message, sizeof message, &compare) != 0) exit(1);
  for (int e = 1; e <= kEdits; ++e) {
    int result = Edit_RecompileEditLogic(smf, ("E" + std::to_string(e)).c_str());
    if (result != 0 && result != -3) {
      fprintf(stderr, "edit E%d does not compile (%d)\n", e, result);
      exit(1);
    }
  }
  Edit_Exit(smf);
  // Each edit checks one to three fields (after compiling, which rebuilds the field rows).
  sqlite3_open(path.c_str(), &db);
  exec(db, "BEGIN;");
  for (int e = 1; e <= kEdits; ++e)
    for (int k = 0; k <= e % 3; ++k)
      exec(db, "INSERT INTO RL_EditFieldsPivot(EditPKey,FieldPKey,FieldOrder) VALUES (" + std::to_string(e) + "," +
                   std::to_string((e * 7 + k * 13) % kFields + 1) + "," + std::to_string(k + 1) + ");");
  exec(db, "UPDATE RL_Edits SET IsMultiField = 1 WHERE PKey % 3 <> 0; COMMIT;");
  sqlite3_close(db);
}

std::vector<std::string> make_records() {
  std::vector<std::string> records;
  unsigned seed = 12345;
  for (int r = 0; r < kDistinctRecords; ++r) {
    std::string record(kRecordLength, ' ');
    for (char& c : record) {
      seed = seed * 1103515245u + 12345u;
      if ((seed >> 16) % 10 != 0) c = static_cast<char>('0' + (seed >> 20) % 10);
    }
    records.push_back(record);
  }
  return records;
}

int count_message(void* owner, const char*, const char*, const char*, const char*, const char*) {
  ++*static_cast<long*>(owner);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  long records = argc > 1 ? atol(argv[1]) : 200000;
  char dir[] = "/tmp/quelt-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  std::string path = std::string(dir) + "/bench.smf";
  build_metafile(path);
  std::vector<std::string> data = make_records();

  int smf = -1, compare = 0, failed = 0;
  char message[256];
  if (Edit_Initialize(&smf, path.c_str(), message, sizeof message, &compare) != 0) return 1;
  long messages = 0;
  auto run = [&](long r) {
    const std::string& record = data[r % kDistinctRecords];
    if (Edit_RunEdits(smf, "ALL", "REC", record.c_str(), 0, &failed, &messages, reinterpret_cast<void*>(count_message)) != 0) {
      fprintf(stderr, "run failed at record %ld\n", r);
      exit(1);
    }
  };
  for (long r = 0; r < kDistinctRecords; ++r) run(r);  // warm-up: edit set loaded, logic read

  messages = 0;
  long allocationsBefore = allocations.load();
  auto start = std::chrono::steady_clock::now();
  for (long r = 0; r < records; ++r) run(r);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  long allocated = allocations.load() - allocationsBefore;

  printf("records:                 %ld of %d bytes, %d edits, %d fields\n", records, kRecordLength, kEdits, kFields);
  printf("messages delivered:      %ld (%.2f per record)\n", messages, static_cast<double>(messages) / records);
  printf("records per second:      %.0f\n", records / seconds);
  printf("ns per edit:             %.1f\n", seconds * 1e9 / (static_cast<double>(records) * kEdits));
  printf("heap allocations/record: %.3f\n", static_cast<double>(allocated) / records);
  Edit_Exit(smf);
  remove(path.c_str());
  rmdir(dir);
  return 0;
}
