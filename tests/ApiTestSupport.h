// Helpers of the tests that drive the library through its public header: metafiles opened by
// handle in a temporary directory, callbacks that collect, engine errors read back as whole texts.
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "quelt.h"

using Rows = std::vector<std::string>;

// Tables a host may add to a metafile, read like any other: Shades is
// declared WITHOUT ROWID, and the name of Who? holds a "?" (so does the name
// of its index); both are registered lookup tables.
const char* const kHostTables =
    "CREATE TABLE Shades([PKey] integer NOT NULL PRIMARY KEY, [Name] varchar(10) NOT NULL, [Code] char(2))"
    " WITHOUT ROWID;"
    "INSERT INTO Shades VALUES (1, 'red', 'R1'), (2, 'blue', 'B2');"
    "CREATE TABLE [Who?]([PKey] integer NOT NULL PRIMARY KEY, [Name] varchar(10), [Code] char(2));"
    "CREATE INDEX [xWho?_Name] ON [Who?] ([Name]);"
    "INSERT INTO [Who?] VALUES (1, 'ann', 'A1'), (2, 'bob', 'B2');"
    "INSERT INTO RL_LookupTables(PKey, TableName, RecCount) VALUES (1, 'Shades', 2), (2, 'Who?', 2);";

// A callback function as the exports take it.
template <typename Function>
void* fn(Function* function) {
  return reinterpret_cast<void*>(function);
}

// Appends the parts, joined by "|", to the Rows that a callback's owner points to.
inline std::string part(const char* text) { return text; }
inline std::string part(int number) { return std::to_string(number); }
template <typename... Parts>
int collect(void* owner, Parts... parts) {
  std::string row;
  bool first = true;
  ((row += (first ? "" : "|") + part(parts), first = false), ...);
  static_cast<Rows*>(owner)->push_back(row);
  return 0;
}

// A callback of the shape Callback (one of the header's) that collects its
// arguments after the owner, as collect does.
template <typename Callback>
struct Collector;
template <typename... Args>
struct Collector<int (*)(void*, Args...)> {
  static int call(void* owner, Args... args) { return collect(owner, args...); }
};
template <typename Callback>
void* collector() {
  return fn(&Collector<Callback>::call);
}

// The int that an export stores through its last parameter, or -99 when the export fails.
template <typename Function, typename... Args>
int out_int(Function function, Args... args) {
  int value = -99;
  return function(args..., &value) == 0 ? value : -99;
}

// One engine error of class TSMF as Edit_GetEngineErrorByIndex renders it.
inline std::string tsmf_error(const std::string& method, const std::string& message) {
  return "TSMF::" + method + '\xBB' + message;
}

// The refusal of a row key that the exports' int cannot hold.
inline std::string key_refusal(const std::string& key, const std::string& table) {
  return "PKey \"" + key + "\" of table \"" + table + "\" is not a whole number from -2147483648 to 2147483647";
}

// Every engine error that the last call on the handle recorded.
inline Rows engine_errors(int smf) {
  int count = -1;
  if (Edit_GetEngineErrorsCount(smf, &count) != 0) return {"<no error list>"};
  Rows errors;
  for (int i = 1; i <= count; ++i) {
    char text[512];
    Edit_GetEngineErrorByIndex(smf, i, text, sizeof text);
    errors.emplace_back(text, strnlen(text, sizeof text));
  }
  return errors;
}

// A call's result followed by every engine error it left.
inline Rows outcome(int smf, int result) {
  Rows all = engine_errors(smf);
  all.insert(all.begin(), std::to_string(result));
  return all;
}

// Calls that pass a null for the parameter they are named by ("Method:parameter"): each answers -1 with
// "Parameter "parameter" must not be NULL" under its method.
using NullCalls = std::initializer_list<std::pair<const char*, std::function<int()>>>;
inline void expect_null_refusals(int smf, NullCalls calls) {
  for (const auto& [name, call] : calls) {
    std::string method(name), parameter = method.substr(method.find(':') + 1);
    method.resize(method.find(':'));
    const std::string refusal = "Parameter \"" + parameter + "\" must not be NULL";
    EXPECT_EQ((Rows{"-1", tsmf_error(method, refusal)}), outcome(smf, call())) << name;
  }
}

// The handle of the metafile at path, opened with a check that it opens; -1 when it does not.
inline int open_metafile(const std::string& path) {
  char message[200] = "";
  int versionCompare = 0;
  int handle = -1;
  EXPECT_EQ(0, Edit_Initialize(&handle, path.c_str(), message, sizeof message, &versionCompare)) << message;
  return handle;
}

// Another handle on a metafile, as another process or another part of the
// host would hold it; closed at the end of its scope.
class OtherHandle {
 public:
  explicit OtherHandle(const std::string& path) : Handle(open_metafile(path)) {}
  ~OtherHandle() { Edit_Exit(Handle); }
  OtherHandle(const OtherHandle&) = delete;
  OtherHandle& operator=(const OtherHandle&) = delete;

  int handle() const { return Handle; }

 private:
  int Handle;
};

// A new metafile, changed by setupSQL, opened by handle; closed at the end of the test.
class OpenMetafile {
 public:
  explicit OpenMetafile(const std::string& setupSQL = "")
      : Path(other("test.smf", setupSQL)), Handle(open_metafile(Path)) {}
  ~OpenMetafile() { Edit_Exit(Handle); }
  OpenMetafile(const OpenMetafile&) = delete;
  OpenMetafile& operator=(const OpenMetafile&) = delete;

  int handle() const { return Handle; }
  const std::string& path() const { return Path; }
  std::string file(const std::string& name) const { return Dir.file(name); }
  // A new metafile of that name beside this one, changed by setupSQL.
  std::string other(const std::string& name, const std::string& setupSQL = "") const {
    std::string path = file(name);
    EXPECT_EQ(0, Edit_CreateNewMetafile(path.c_str()));
    EXPECT_EQ(SQLITE_OK, setupSQL.empty() ? SQLITE_OK : RawDB(path).exec(setupSQL)) << setupSQL;
    return path;
  }

 private:
  TempDir Dir;
  std::string Path;
  int Handle;
};

// A fixture on a new metafile changed by setupSQL, with readers of its file.
class MetafileTest : public ::testing::Test {
 protected:
  explicit MetafileTest(const std::string& setupSQL = "") : File(setupSQL) {}
  int h() const { return File.handle(); }
  const std::string& path() const { return File.path(); }
  Rows rows(const std::string& sql) { return RawDB(path()).rows(sql); }
  std::string value(const std::string& sql) { return RawDB(path()).value(sql); }
  void exec(const std::string& sql) { ASSERT_EQ(SQLITE_OK, RawDB(path()).exec(sql)) << sql; }
  // A call that answered -1 and left exactly these engine errors.
  void refused(int result, Rows errors) {
    errors.insert(errors.begin(), "-1");
    EXPECT_EQ(errors, outcome(h(), result));
  }

  OpenMetafile File;
};
