// Helpers of the run-time tests.
#include "RunTestSupport.h"

#include "compiler/EditCompiler.h"
#include "storage/Utility.h"

const char* const kRunSetup =
    "INSERT INTO RL_Agencies(PKey,AdminCode,OrgName) VALUES (2,'NAACCR','Standards');"
    "INSERT INTO RL_Fields(PKey,FieldNumber,FieldName,LocalName,FieldLength,DataType) VALUES"
    " (1,1,'Sex','Sex',1,'S '),(2,2,'Age','Age',3,'S '),(3,3,'Birth Date','Birth Date',8,'D1'),"
    " (4,4,'Site','Site',4,'S '),(5,5,'Notes','Notes',6,'S '),(6,6,'Extra','Extra',2,'S ');"
    "INSERT INTO RL_Layouts(PKey,LayoutTag,LayoutName) VALUES (1,'L1','Main layout'),(2,'L2','Short layout');"
    "INSERT INTO RL_LayoutFieldsPivot(LayoutPKey,FieldPKey,StartPos) VALUES (1,1,1),(1,2,2),(1,3,5),(1,4,13),(1,5,17),"
    " (2,1,1),(2,2,2);"
    "INSERT INTO RL_Messages(PKey,MessageNumber,Message) VALUES (2,100,'Age %V1 is out of range for %F1'),"
    " (3,101,'Check the site'),(4,102,'Birth %V3 is %D1 today');";

const char* const kEditEntry = "TRunEdits::process_edit\xBB" "Edit";

Rows edit_entries_cut(Rows errors) {
  for (std::string& error : errors) {
    size_t at = error.find("\xBB" "Edit: ");
    if (at != std::string::npos) error.resize(at + 5);
  }
  return errors;
}

void RunTest::add_edit(const std::string& tag, const std::string& name, const std::string& logic,
                       const std::vector<int>& fields, int messageNumber) {
  int pkey = ++Edits + 100;
  exec("INSERT INTO RL_Edits(PKey,AgencyPKey,EditTag,EditName,MessagePKey,EditLogic) VALUES (" +
       std::to_string(pkey) + ",2,'" + quote_sql_value(tag) + "','" + quote_sql_value(name) +
       "',(SELECT PKey FROM RL_Messages WHERE MessageNumber = " + std::to_string(messageNumber) + "),'" +
       quote_sql_value(logic) + "');");
  int compiled = Edit_RecompileEditLogic(h(), tag.c_str());
  EXPECT_TRUE(compiled == 0 || compiled == -3) << logic << " gives " << compiled;
  // What the compiler writes without errors is what the run time reads.
  std::string text = rows("SELECT CompiledLogic FROM RL_Edits WHERE PKey = " + std::to_string(pkey)).at(0);
  EXPECT_EQ(TStructureFault::kNone, TEditCompiler::CheckStructure(text).Kind) << logic;
  exec("DELETE FROM RL_EditFieldsPivot WHERE EditPKey = " + std::to_string(pkey));
  for (size_t i = 0; i < fields.size(); ++i)
    exec("INSERT INTO RL_EditFieldsPivot(EditPKey,FieldPKey,FieldOrder) VALUES (" + std::to_string(pkey) +
         ",(SELECT PKey FROM RL_Fields WHERE FieldNumber = " + std::to_string(fields[i]) + ")," +
         std::to_string(i + 1) + ");");
  exec("UPDATE RL_Edits SET IsMultiField = " + std::string(fields.size() > 1 ? "1" : "0") +
       " WHERE PKey = " + std::to_string(pkey));
}

void RunTest::add_to_set(const std::string& setTag, const std::string& editTag) {
  exec("INSERT INTO RL_EditSets(EditSetTag,EditSetName) SELECT '" + setTag + "','Set " + setTag +
       "' WHERE NOT EXISTS (SELECT 1 FROM RL_EditSets WHERE EditSetTag = '" + setTag + "');");
  exec("INSERT INTO RL_EditSetEditsPivot(EditSetPKey,EditPKey) SELECT s.PKey, e.PKey FROM RL_EditSets s, "
       "RL_Edits e WHERE s.EditSetTag = '" + setTag + "' AND e.EditTag = '" + quote_sql_value(editTag) + "';");
}

void RunTest::set_compiled(const std::string& tag, const std::string& compiled) {
  exec("UPDATE RL_Edits SET CompiledLogic = '" + quote_sql_value(compiled) + "' WHERE EditTag = '" +
       quote_sql_value(tag) + "';");
}

RunResult RunTest::run(const std::string& record, int options, const std::string& setTag,
                       const std::string& layoutTag) {
  RunResult run;
  run.result = Edit_RunEdits(h(), setTag.c_str(), layoutTag.c_str(), record.c_str(), options, &run.failed, &run.messages,
                             fn(collect_message));
  return run;
}

RunResult RunTest::run_edit(const std::string& logic, const std::string& record, const std::vector<int>& fields,
                            int messageNumber) {
  std::string tag = "T" + std::to_string(Edits + 1);
  add_edit(tag, "Edit " + tag, logic, fields, messageNumber);
  add_to_set("S" + tag, tag);
  return run(record, 0, "S" + tag);
}

namespace {

int ignore_line(void*, int, int, const char*) { return 0; }

// Keeps each variable the trace shows as "line|name=value".
int capture_variable(void* owner, int line, int, const char* name, const char* value, int) {
  return collect(owner, line, (std::string(name) + "=" + value).c_str());
}

}  // namespace

Rows RunTest::values_after(const std::string& logic, const std::string& record) {
  std::string tag = "V" + std::to_string(Edits + 1);
  add_edit(tag, "Values " + tag, logic);
  Rows captures;
  if (Edit_DebugEdit(h(), tag.c_str(), "L1", record.c_str(), &captures, fn(ignore_line), fn(capture_variable),
                     nullptr, nullptr) != 0) {
    Rows failed = engine_errors(h());
    failed.insert(failed.begin(), "<failed>");
    return failed;
  }
  int last = 0;
  for (const std::string& capture : captures) last = std::max(last, std::stoi(capture));
  Rows values;
  for (const std::string& capture : captures)
    if (std::stoi(capture) == last) values.push_back(capture.substr(capture.find('|') + 1));
  return values;
}
