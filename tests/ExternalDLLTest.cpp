// externaldll run by the engine over logic its compiler wrote: the words an
// external rule library receives, the registry of loaded libraries, and every
// failure with its engine errors. The libraries are built with the tests
// (tests/external) into a directory on the tests' library path.
#include <dlfcn.h>

#include "RunTestSupport.h"
#include "library/ExternalDLLTracker.h"

namespace {

class ExternalLibraries : public RunTest {
 protected:
  // CITY is declared shorter than its text, so a lookup moves the buffer of
  // a character variable of that name to a larger one.
  ExternalLibraries()
      : RunTest("CREATE TABLE CITIES([PKey] integer not null primary key, [CODE] varchar(5), [CITY] varchar(2));"
                "INSERT INTO CITIES VALUES (1,'1','Springfield');"
                "INSERT INTO RL_LookupTables(TableName, RecCount) VALUES ('CITIES',1);") {}

  // The registry outlives every metafile: each test starts and ends with none loaded.
  void SetUp() override { ClearExternalDLLs(); }
  void TearDown() override { ClearExternalDLLs(); }
};

bool is_loaded(const char* file) {
  void* handle = dlopen(file, RTLD_LAZY | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

}  // namespace

TEST_F(ExternalLibraries, EachArgumentIsOneWord) {
  expect_variables({
      // Signed numbers, expressions, variables and named constants; words
      // left out are 0; the call's value is what the library returns.
      {"int sum, last, n;\nn = 42;\nsum = externaldll(\"queltprobe\", 1, -5, 7, n, 2 * 3, true, dt_max);\n"
       "last = externaldll(\"QueltProbe\", 2, 1, 2, 3);",
       {"last=3", "n=42", "sum=53"}},
      // At most ten extra words are passed.
      {"int ten, eleven;\nten = externaldll(\"queltprobe\", 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1);\n"
       "eleven = externaldll(\"queltprobe\", 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1);",
       {"eleven=10", "ten=10"}},
      // Texts are passed as the addresses of their characters: a literal, a
      // field of the record, a character variable's own buffer.
      {"char buffer[5];\nint literal, age, n;\nliteral = externaldll(\"queltprobe\", 3, \"abcd\");\n"
       "age = externaldll(\"queltprobe\", 3, #S\"Age\");\nn = externaldll(\"queltprobe\", 4, buffer);",
       {"age=3", "buffer=ok!", "literal=4", "n=0"}},
      // A later argument moves the variable's buffer: the library reads and
      // writes the buffer the variable has when it is called.
      {"char city[1];\nint n, found;\nn = externaldll(\"queltprobe\", 3, city, found = lookup(\"1\", \"CITIES.CODE\"));",
       {"city=Springfield", "found=1", "n=11"}},
      {"char city[1];\nint n;\nn = externaldll(\"queltprobe\", 4, city, lookup(\"1\", \"CITIES.CODE\"));",
       {"city=ok!", "n=0"}},
  }, "M045");
}

TEST_F(ExternalLibraries, LibrariesAreRegisteredByTheirLowerCasedNameInABoundedRegistry) {
  EXPECT_EQ(0, run_edit("int n;\nn = externaldll(\"QueltProbe\", 1);\nn = externaldll(\"queltprobe\", 1);\n"
                        "n = externaldll(\"QueltProbe.SO\", 1);\nreturn PASS;")
                   .result);
  EXPECT_NE(nullptr, GetExternalDLL("queltprobe"));
  EXPECT_NE(nullptr, GetExternalDLL("queltprobe.so"));
  EXPECT_EQ(nullptr, GetExternalDLL("QueltProbe"));
  // Unloading empties the registry; a later call loads the library again.
  ClearExternalDLLs();
  EXPECT_EQ(nullptr, GetExternalDLL("queltprobe"));
  EXPECT_FALSE(is_loaded("libqueltprobe.so"));
  // Names made at run time, all of one file: the registry is emptied when
  // full, and every call still reaches the library.
  EXPECT_EQ((Rows{"calls=100", "i=100", "name=queltprobe." + std::string(100, 'x')}),
            values_after("char name[120];\nint i, calls;\nstrcpy(name, \"queltprobe.\");\nwhile (i < 100) {\n"
                         "  strcat(name, \"x\");\n  calls = calls + externaldll(name, 2, 1);\n  i = i + 1;\n}\n"
                         "return PASS;"));
  int registered = 0;
  for (size_t length = 1; length <= 100; ++length)
    registered += GetExternalDLL("queltprobe." + std::string(length, 'x')) != nullptr;
  EXPECT_LT(0, registered);
  EXPECT_GE(kMaxExternalDLLs, registered);
  EXPECT_NE(nullptr, GetExternalDLL("queltprobe." + std::string(100, 'x')));
}

TEST_F(ExternalLibraries, CallsThatFailTheRun) {
  const struct {
    const char* call;
    std::string error;
  } cases[] = {
      {"externaldll(\"queltprobe\")", "syntax error: expected comma between first and second parameters"},
      {"externaldll(\"A.b.c\", 1)", "liba.b.so: cannot open shared object file: No such file or directoryliba.b.so"},
      // A library without the entry point is closed again, every time.
      {"externaldll(\"QueltNoEntry.dll\", 1)", "Cannot find QueltInterface function in external dll: queltnoentry.dll"},
      {"externaldll(\"QueltNoEntry.dll\", 1)", "Cannot find QueltInterface function in external dll: queltnoentry.dll"},
      // The name is a file name only: the platform's search decides what loads.
      {"externaldll(\"external/queltprobe\", 1)", "External dll name must not contain \"/\": external/queltprobe"},
      // Failures inside the library.
      {"externaldll(\"queltprobe\", 5)", "probe refused"},
      {"externaldll(\"queltprobe\", 6)", "failure in call to external dll"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(-1, run_edit(std::string("int n;\nn = ") + c.call + ";\nreturn PASS;").result) << c.call;
    EXPECT_EQ((Rows{lib("call_externaldll", c.error), kEditEntry}), edit_entries_cut(engine_errors(h())));
    EXPECT_FALSE(is_loaded("libqueltnoentry.so"));
    EXPECT_EQ(nullptr, GetExternalDLL("queltnoentry.dll"));
  }
}
