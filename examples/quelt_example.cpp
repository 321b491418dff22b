// Example host program: validates a file of fixed-width records with the edit
// set of a metafile and prints every failure and warning with its record
// number, then a summary of the run.
//
//   quelt_example METAFILE EDIT_SET_TAG LAYOUT_TAG RECORDS_FILE
//   quelt_example            (builds a sample metafile and records, then validates them)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include <sqlite3.h>

#include "quelt.h"

namespace {

const long kProgressEvery = 10000;

struct Run {
  long record = 0;
  long messages = 0;
};

int print_message(void* owner, const char* tag, const char* name, const char*, const char* type, const char* text) {
  Run* run = static_cast<Run*>(owner);
  ++run->messages;
  const char* kind = strcmp(type, "E") == 0 ? "error" : strcmp(type, "W") == 0 ? "warning" : "note";
  printf("record %6ld  %-7s %-8s %-28s %s\n", run->record, kind, tag, name, text);
  return 0;
}

int print_summary_row(void*, const char* tag, const char* name, const char*, int errors, int warnings, int skips,
                      int, int, int notInLayout, int suppressed, int notCompiled) {
  const char* flag = notCompiled ? "not compiled" : notInLayout ? "field not in layout" : suppressed ? "suppressed" : "";
  printf("  %-8s %-28s %7d %9d %6d%s%s\n", tag, name, errors, warnings, skips, *flag ? "  " : "", flag);
  return 0;
}

void print_engine_errors(int smf) {
  int count = 0;
  Edit_GetEngineErrorsCount(smf, &count);
  for (int i = 1; i <= count; ++i) {
    char text[1024];
    Edit_GetEngineErrorByIndex(smf, i, text, sizeof text);
    text[sizeof text - 1] = '\0';
    // The class and method end at one byte 0xBB.
    char* separator = strchr(text, '\xBB');
    if (separator != nullptr) *separator = '\0';
    fprintf(stderr, "  %s: %s\n", text, separator != nullptr ? separator + 1 : "");
  }
}

// Runs every line of the records file through the edit set; 0 on success.
int validate(const char* metafile, const char* editSet, const char* layout, const char* recordsPath) {
  int smf = -1, versionCompare = 0;
  char message[512] = "";
  if (Edit_Initialize(&smf, metafile, message, sizeof message, &versionCompare) != 0) {
    fprintf(stderr, "cannot open %s: %s\n", metafile, message);
    return 1;
  }
  FILE* records = fopen(recordsPath, "r");
  if (records == nullptr) {
    perror(recordsPath);
    Edit_Exit(smf);
    return 1;
  }
  if (Edit_LoadEditSet(smf, editSet, layout) != 0) {
    fprintf(stderr, "cannot load edit set %s with layout %s:\n", editSet, layout);
    print_engine_errors(smf);
    fclose(records);
    Edit_Exit(smf);
    return 1;
  }
  Run run;
  long failedRecords = 0;
  char* line = nullptr;
  size_t capacity = 0;
  int status = 0;
  for (ssize_t length; (length = getline(&line, &capacity, records)) >= 0;) {
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = '\0';
    ++run.record;
    int failed = 0;
    if (Edit_RunEdits(smf, editSet, layout, line, 0, &failed, &run, reinterpret_cast<void*>(print_message)) != 0) {
      fprintf(stderr, "record %ld: the run of edits failed:\n", run.record);
      print_engine_errors(smf);
      status = 1;
      break;
    }
    if (failed > 0) ++failedRecords;
    if (run.record % kProgressEvery == 0) fprintf(stderr, "\r%ld records validated", run.record);
  }
  if (run.record >= kProgressEvery) fprintf(stderr, "\n");
  free(line);
  fclose(records);

  int errors = 0, warnings = 0, skips = 0, errorMessages = 0, warningMessages = 0;
  printf("\n%ld records, %ld with messages, %ld messages\n", run.record, failedRecords, run.messages);
  printf("  %-8s %-28s %7s %9s %6s\n", "edit", "name", "errors", "warnings", "skips");
  Edit_GetRunEditsSummary(smf, editSet, layout, 1, &errors, &warnings, &skips, &errorMessages, &warningMessages,
                          &run, reinterpret_cast<void*>(print_summary_row));
  printf("  %-8s %-28s %7d %9d %6d\n", "total", "", errors, warnings, skips);
  Edit_Exit(smf);
  return status;
}

// ---- The sample: a small cancer-registry record and a few realistic edits.

const char* const kSampleSetup =
    "INSERT INTO RL_Agencies(PKey,AdminCode,OrgName) VALUES (2,'SAMPLE','Sample Registry');"
    "INSERT INTO RL_Fields(PKey,FieldNumber,FieldName,LocalName,FieldLength,DataType) VALUES"
    " (1,220,'Sex','Sex',1,'S '),(2,230,'Age at Diagnosis','Age',3,'S '),"
    " (3,240,'Date of Birth','Birth',8,'D1'),(4,390,'Date of Diagnosis','Diagnosis',8,'D1'),"
    " (5,400,'Primary Site','Site',4,'S '),(6,80,'State at Diagnosis','State',2,'S '),"
    " (7,100,'Postal Code','Postal',5,'S ');"
    "INSERT INTO RL_Layouts(PKey,LayoutTag,LayoutName) VALUES (1,'CASE','Case record');"
    "INSERT INTO RL_LayoutFieldsPivot(LayoutPKey,FieldPKey,StartPos) VALUES"
    " (1,1,1),(1,2,2),(1,3,5),(1,4,13),(1,5,21),(1,6,25),(1,7,27);"
    "INSERT INTO RL_Messages(PKey,MessageNumber,Message) VALUES"
    " (2,1001,'%F1 (%V1) is not a valid code'),(3,1002,'%F1 (%V1) is out of range'),"
    " (4,1003,'%F1 %V1 is %D1'),(5,1004,'%F2 is before %F1'),(6,1005,'%F1 (%V1) does not look like a site code'),"
    " (7,1006,'%F1 (%V1) is not a known state'),(8,1007,'%F1 (%V1) should hold five digits'),"
    " (9,1008,'%F1 does not agree with the dates');"
    "CREATE TABLE STATES([PKey] integer not null primary key, [CODE] varchar(2) not null, [NAME] varchar(30));"
    "CREATE INDEX xSTATES_CODE on STATES([CODE]);"
    "INSERT INTO STATES(CODE,NAME) VALUES ('NY','New York'),('NJ','New Jersey'),('CA','California'),"
    " ('TX','Texas'),('WA','Washington');"
    "INSERT INTO RL_LookupTables(TableName,RecCount) VALUES ('STATES',5);"
    "INSERT INTO RL_EditSets(PKey,AgencyPKey,EditSetTag,EditSetName) VALUES (1,2,'INCOMING','Incoming cases');";

struct SampleEdit {
  const char* tag;
  const char* name;
  int message;
  const char* logic;
};

const SampleEdit kSampleEdits[] = {
    {"SEX", "Sex code", 1001, "if (inlist(#S\"Sex\", \"1,2,9\")) return PASS;\nreturn FAIL;"},
    {"AGE", "Age at diagnosis range", 1002,
     "int age;\nif (empty(#S\"Age at Diagnosis\")) return PASS;\nage = val(#S\"Age at Diagnosis\");\n"
     "if (age < 0 || age > 120) return FAIL;\nreturn PASS;"},
    {"BIRTH", "Date of birth valid", 1003,
     "if (empty(#S\"Date of Birth\")) return PASS;\nif (valid_date_iop(#S\"Date of Birth\")) return PASS;\n"
     "return FAIL;"},
    {"DXDATE", "Date of diagnosis valid", 1003,
     "if (empty(#S\"Date of Diagnosis\")) return PASS;\nif (valid_date_iop(#S\"Date of Diagnosis\")) return PASS;\n"
     "return FAIL;"},
    {"ORDER", "Diagnosis after birth", 1004,
     "if (datecmp_iop(#S\"Date of Birth\", #S\"Date of Diagnosis\", dt_min) == 1) return FAIL;\nreturn PASS;"},
    {"SITE", "Primary site code", 1005, "if (match(#S\"Primary Site\", \"Cddd\")) return PASS;\nreturn FAIL;"},
    {"STATE", "State at diagnosis known", 1006,
     "if (lookup(#S\"State at Diagnosis\", \"STATES.CODE\")) return PASS;\nreturn FAIL;"},
    {"POSTAL", "Postal code digits", 1007,
     "if (match(#S\"Postal Code\", \"ddddd\")) return PASS;\nreturn WARN;"},
    {"AGEDATE", "Age agrees with dates", 1008,
     "int age, years;\nage = val(#S\"Age at Diagnosis\");\n"
     "years = yeardiff_iop(#S\"Date of Birth\", #S\"Date of Diagnosis\", dt_exact);\n"
     "if (years == dt_unknown || years == dt_empty || years == dt_error) return PASS;\n"
     "if (years - age > 1 || age - years > 1) return WARN;\nreturn PASS;"},
};

// The sample cases, field by field: sex, age, date of birth, date of
// diagnosis, primary site, state, postal code. Most are clean; the others
// show one problem each (and the last two, two).
struct SampleCase {
  const char* sex;
  const char* age;
  const char* birth;
  const char* diagnosis;
  const char* site;
  const char* state;
  const char* postal;
};

const SampleCase kSampleCases[] = {
    {"1", "062", "19580314", "20200611", "C509", "NY", "10001"},
    {"2", "045", "19750202", "20200715", "C180", "CA", "94105"},
    {"3", "062", "19580101", "20200601", "C619", "TX", "73301"},
    {"1", "030", "19900230", "20201201", "C349", "NJ", "07001"},
    {"2", "055", "19650719", "20200910", "C501", "ZZ", "98101"},
    {"1", "999", "19300101", "20200101", "C679", "WA", "98101"},
    {"2", "062", "19581231", "20210630", "C443", "NY", "1000A"},
    {"1", "035", "19850228", "20200910", "X123", "CA", "90001"},
    {"2", "081", "19391111", "20201111", "C259", "TX", "75001"},
    {"1", "   ", "        ", "        ", "C619", "NY", "10003"},
    {"1", "050", "19700704", "19650701", "C569", "NY", "10025"},
    {"4", "040", "19801301", "20200101", "C180", "ME", "04101"},
};

void run_sql(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    fprintf(stderr, "sample setup failed: %s\n", error);
    exit(1);
  }
}

// The sample's tables and rows are written with SQLite itself; the engine
// then compiles every edit's logic.
void build_sample(const std::string& metafile, const std::string& recordsPath) {
  if (Edit_CreateNewMetafile(metafile.c_str()) != 0) {
    fprintf(stderr, "cannot create %s\n", metafile.c_str());
    exit(1);
  }
  sqlite3* db = nullptr;
  if (sqlite3_open(metafile.c_str(), &db) != SQLITE_OK) exit(1);
  run_sql(db, kSampleSetup);
  for (const SampleEdit& edit : kSampleEdits) {
    char* insert = sqlite3_mprintf(
        "INSERT INTO RL_Edits(AgencyPKey,EditTag,EditName,MessagePKey,EditLogic) VALUES (2,%Q,%Q,"
        "(SELECT PKey FROM RL_Messages WHERE MessageNumber = %d),%Q);"
        "INSERT INTO RL_EditSetEditsPivot(EditSetPKey,EditPKey) SELECT 1, PKey FROM RL_Edits WHERE EditTag = %Q;",
        edit.tag, edit.name, edit.message, edit.logic, edit.tag);
    run_sql(db, insert);
    sqlite3_free(insert);
  }
  sqlite3_close(db);

  int smf = -1, versionCompare = 0;
  char message[512];
  if (Edit_Initialize(&smf, metafile.c_str(), message, sizeof message, &versionCompare) != 0) {
    fprintf(stderr, "cannot open %s: %s\n", metafile.c_str(), message);
    exit(1);
  }
  for (const SampleEdit& edit : kSampleEdits) {
    int result = Edit_RecompileEditLogic(smf, edit.tag);
    if (result == 0 || result == -3) continue;
    fprintf(stderr, "edit %s does not compile (%d):\n", edit.tag, result);
    char text[256];
    int line = 0;
    for (int i = 0; Qb_GetSyntaxError(smf, i, &line, text, sizeof text) == 0; ++i) fprintf(stderr, "  %s\n", text);
    print_engine_errors(smf);
    exit(1);
  }
  Edit_Exit(smf);

  FILE* records = fopen(recordsPath.c_str(), "w");
  if (records == nullptr) exit(1);
  for (const SampleCase& c : kSampleCases)
    fprintf(records, "%-1s%-3s%-8s%-8s%-4s%-2s%-5s\n", c.sex, c.age, c.birth, c.diagnosis, c.site, c.state, c.postal);
  fclose(records);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5) return validate(argv[1], argv[2], argv[3], argv[4]);
  if (argc != 1) {
    fprintf(stderr, "usage: %s [METAFILE EDIT_SET_TAG LAYOUT_TAG RECORDS_FILE]\n", argv[0]);
    return 2;
  }
  char dir[] = "/tmp/quelt-example-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    perror("mkdtemp");
    return 1;
  }
  std::string metafile = std::string(dir) + "/sample.smf", records = std::string(dir) + "/cases.txt";
  build_sample(metafile, records);
  printf("sample metafile %s, records %s\n\n", metafile.c_str(), records.c_str());
  int status = validate(metafile.c_str(), "INCOMING", "CASE", records.c_str());
  remove(metafile.c_str());
  remove(records.c_str());
  rmdir(dir);
  return status;
}
