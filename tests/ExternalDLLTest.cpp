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

  // The engine errors of the failed run of the call, in the edit of tag.
  Rows failure(const std::string& call) {
    EXPECT_EQ(-1, run_edit("int n;\nn = " + call + ";\nreturn PASS;").result);
    return engine_errors(smf());
  }
};

std::string lib_error(const std::string& message) { return "TLibFuncs::call_externaldll\xBB" + message; }

// The entry that names the edit whose logic failed.
std::string edit_error(const std::string& tag) {
  return "TRunEdits::process_edit\xBB" "Edit: Edit " + tag + " [Tag: " + tag + "]";
}

bool is_loaded(const char* file) {
  void* handle = dlopen(file, RTLD_LAZY | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

TEST_F(ExternalLibraries, EachArgumentIsOneWord) {
  // Signed numbers, expressions, variables and named constants; words left
  // out are 0; the call's value is what the library returns.
  EXPECT_EQ((Rows{"last=3", "n=42", "sum=53"}),
            values_after("int sum, last, n;\nn = 42;\nsum = externaldll(\"queltprobe\", 1, -5, 7, n, 2 * 3, true, dt_max);\n"
                         "last = externaldll(\"QueltProbe\", 2, 1, 2, 3);\nreturn PASS;"));
  // Texts are passed as the addresses of their characters: a literal, a
  // field of the record, a character variable's own buffer.
  EXPECT_EQ((Rows{"age=3", "buffer=ok!", "literal=4", "n=0"}),
            values_after("char buffer[5];\nint literal, age, n;\nliteral = externaldll(\"queltprobe\", 3, \"abcd\");\n"
                         "age = externaldll(\"queltprobe\", 3, #S\"Age\");\nn = externaldll(\"queltprobe\", 4, buffer);\n"
                         "return PASS;",
                         "M045"));
}

TEST_F(ExternalLibraries, VariablesArePassedAsTheCallFindsThem) {
  // A later argument moves the variable's buffer: the library reads and
  // writes the buffer the variable has when it is called.
  EXPECT_EQ((Rows{"city=Springfield", "found=1", "n=11"}),
            values_after("char city[1];\nint n, found;\n"
                         "n = externaldll(\"queltprobe\", 3, city, found = lookup(\"1\", \"CITIES.CODE\"));\nreturn PASS;"));
  EXPECT_EQ((Rows{"city=ok!", "n=0"}),
            values_after("char city[1];\nint n;\n"
                         "n = externaldll(\"queltprobe\", 4, city, lookup(\"1\", \"CITIES.CODE\"));\nreturn PASS;"));
}

TEST_F(ExternalLibraries, AtMostTenExtraWordsArePassed) {
  EXPECT_EQ((Rows{"eleven=10", "ten=10"}),
            values_after("int ten, eleven;\nten = externaldll(\"queltprobe\", 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1);\n"
                         "eleven = externaldll(\"queltprobe\", 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1);\nreturn PASS;"));
}

TEST_F(ExternalLibraries, LibrariesAreRegisteredByTheirLowerCasedName) {
  EXPECT_EQ(0, run_edit("int n;\nn = externaldll(\"QueltProbe\", 1);\nn = externaldll(\"queltprobe\", 1);\n"
                        "n = externaldll(\"QueltProbe.SO\", 1);\nreturn PASS;")
                   .result);
  RLt_ExternalDLL* probe = GetExternalDLL("queltprobe");
  RLt_ExternalDLL* probeSo = GetExternalDLL("queltprobe.so");
  ASSERT_NE(nullptr, probe);
  ASSERT_NE(nullptr, probeSo);
  EXPECT_NE(probe, probeSo);
  EXPECT_EQ(probe->Handle, probeSo->Handle);
  EXPECT_EQ(dlsym(probe->Handle, "QueltInterface"), probe->Entry);
  EXPECT_EQ(nullptr, GetExternalDLL("QueltProbe"));
  // Unloading empties the registry; a later call loads the library again.
  ClearExternalDLLs();
  EXPECT_EQ(nullptr, GetExternalDLL("queltprobe"));
  EXPECT_FALSE(is_loaded("libqueltprobe.so"));
  EXPECT_EQ(0, run_edit("int n;\nn = externaldll(\"queltprobe\", 1);\nreturn PASS;").result);
  EXPECT_NE(nullptr, GetExternalDLL("queltprobe"));
}

TEST_F(ExternalLibraries, TheRegistryStaysBounded) {
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

TEST_F(ExternalLibraries, LibrariesThatCannotBeCalledFailTheRun) {
  EXPECT_EQ((Rows{lib_error("syntax error: expected comma between first and second parameters"), edit_error("T1")}),
            failure("externaldll(\"queltprobe\")"));
  EXPECT_EQ((Rows{lib_error("liba.b.so: cannot open shared object file: No such file or directoryliba.b.so"),
                  edit_error("T2")}),
            failure("externaldll(\"A.b.c\", 1)"));
  // A library without the entry point is closed again, every time.
  for (const char* tag : {"T3", "T4"}) {
    EXPECT_EQ((Rows{lib_error("Cannot find QueltInterface function in external dll: queltnoentry.dll"), edit_error(tag)}),
              failure("externaldll(\"QueltNoEntry.dll\", 1)"));
    EXPECT_FALSE(is_loaded("libqueltnoentry.so"));
    EXPECT_EQ(nullptr, GetExternalDLL("queltnoentry.dll"));
  }
  // The name is a file name only: the platform's search decides what loads.
  EXPECT_EQ((Rows{lib_error("External dll name must not contain \"/\": external/queltprobe"), edit_error("T5")}),
            failure("externaldll(\"external/queltprobe\", 1)"));
}

TEST_F(ExternalLibraries, FailuresInsideTheLibraryAreRecorded) {
  EXPECT_EQ((Rows{lib_error("probe refused"), edit_error("T1")}), failure("externaldll(\"queltprobe\", 5)"));
  EXPECT_EQ((Rows{lib_error("failure in call to external dll"), edit_error("T2")}),
            failure("externaldll(\"queltprobe\", 6)"));
}

}  // namespace
