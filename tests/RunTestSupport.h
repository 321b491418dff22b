// Helpers of the run-time tests: a metafile with a data dictionary, a record
// layout, messages and an edit set whose edits the engine compiles, and runs
// of records whose messages are collected as whole texts.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "ApiTestSupport.h"

// Fields (number name length type start): 1 Sex 1 "S " at 1, 2 Age 3 "S " at 2,
// 3 "Birth Date" 8 "D1" at 5, 4 Site 4 "S " at 13, 5 Notes 6 "S " at 17
// (a 22-character record holds them all); field 6 Extra is in no layout.
// Layout "L1" ("Main layout"); layout "L2" ("Short layout") holds only Sex
// and Age at the same places. Messages (number text): 100 "Age %V1 is out of
// range for %F1", 101 "Check the site", 102 "Birth %V3 is %D1 today", plus the
// default row 0. Agency 2 has admin code "NAACCR".
extern const char* const kRunSetup;

// An engine error of the built-in library.
inline std::string lib(const std::string& method, const std::string& message = "") {
  return "TLibFuncs::" + method + "\xBB" + message;
}

// One message as the callback saw it: "tag|name|admin|type|text".
inline int (*const collect_message)(void*, const char*, const char*, const char*, const char*, const char*) =
    collect<const char*, const char*, const char*, const char*, const char*>;

// The run-time's entries that name the failed edit ("...\xBB" "Edit: <name> [Tag: <tag>]")
// cut to "...\xBB" "Edit", whichever edit it is, as kEditEntry shows the closing one.
extern const char* const kEditEntry;
Rows edit_entries_cut(Rows errors);

struct RunResult {
  int result = 0;
  int failed = -1;
  Rows messages;
};

// The metafile of kRunSetup, changed further by moreSetup before it is opened.
class RunTest : public MetafileTest {
 protected:
  explicit RunTest(const std::string& moreSetup = "") : MetafileTest(kRunSetup + moreSetup) {}

  // Adds an edit owned by agency 2 with the default message of that number
  // (0 for none), compiles its logic with the engine and gives it the fields
  // (numbers, in FieldOrder); an edit with more than one is multi-field.
  void add_edit(const std::string& tag, const std::string& name, const std::string& logic,
                const std::vector<int>& fields = {}, int messageNumber = 0);
  // Puts the edit into the edit set of that tag, made when new.
  void add_to_set(const std::string& setTag, const std::string& editTag);
  // Replaces an edit's compiled logic behind the compiler's back.
  void set_compiled(const std::string& tag, const std::string& compiled);

  // Runs the set "ES1" (or another) over the layout "L1" and collects the messages.
  RunResult run(const std::string& record, int options = 0, const std::string& setTag = "ES1",
                const std::string& layoutTag = "L1");
  // Debugs the logic over the record and gives the variables' values after the
  // last line that ran, as "name=value" in name order; "<failed>" and the
  // engine errors when the debugging run fails.
  Rows values_after(const std::string& logic, const std::string& record = "");
  // Logic and what it gives: the variables after it, or its engine errors.
  struct LogicCase {
    std::string logic;
    Rows rows;
  };
  // The variables after each logic, as values_after gives them.
  void expect_variables(std::initializer_list<LogicCase> cases, const std::string& record = "") {
    for (const LogicCase& c : cases) EXPECT_EQ(c.rows, values_after(c.logic + "\nreturn PASS;", record)) << c.logic;
  }
  // Runs one edit alone in a set of its own.
  RunResult run_edit(const std::string& logic, const std::string& record = "", const std::vector<int>& fields = {},
                     int messageNumber = 0);

 private:
  int Edits = 0;
};
