// The compiler's built-in catalogue, the checks made on each built-in call,
// and the reference checks against the data dictionary, the table model and
// the symbol table.
#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "compiler/CompiledText.h"
#include "compiler/EditCompiler.h"
#include "storage/EngineErrorsPump.h"
#include "storage/SQLQuery.h"
#include "storage/TableStats.h"
#include "storage/Utility.h"

namespace {

const int kAnyCount = 99;
const int kNotTested = -1;

const TInternFuncDef intern_funclist[] = {
    {"at", 0x41, 'I', 2, 3, "HHI"},
    {"empty", 0x4B, 'I', 1, 1, "H"},
    {"error_msg", 0x4C, 'I', 1, 1, "I"},
    {"error_text", 0x4D, 'I', 1, 1, "H"},
    {"fmtstr", 0x4E, 'H', 3, 3, "HHI"},
    {"ilookup", 0x53, 'I', 2, 2, "HH"},
    {"inlist", 0x55, 'I', 2, 5, "HHHII"},
    {"justified", 0x56, 'I', 2, 2, "HI"},
    {"left", 0x57, 'H', 2, 2, "HI"},
    {"lookup", 0x58, 'I', 2, 2, "HH"},
    {"lower", 0x59, 'H', 1, 1, "H"},
    {"match", 0x5A, 'I', 2, 2, "HH"},
    {"nameexpr", 0x5D, 'H', 1, 1, "H"},
    {"right", 0x65, 'H', 2, 2, "HI"},
    {"rlookup", 0x66, 'I', 2, 2, "HH"},
    {"save_error_text", 0x67, 0, 1, kAnyCount, "I"},
    {"save_text", 0x68, 0, 1, kAnyCount, "H"},
    {"setvar", 0x6B, 0, 2, 3, "HHI"},
    {"strcat", 0x6D, 'H', 2, 3, "HHI"},
    {"strcmp", 0x6E, 'I', 2, 3, "HHI"},
    {"strcpy", 0x6F, 'H', 2, 3, "HHI"},
    {"strlen", 0x70, 'I', 1, 1, "H"},
    {"substr", 0x71, 'H', 2, 3, "HII"},
    {"trim", 0x73, 'H', 2, 2, "HI"},
    {"upper", 0x74, 'H', 1, 1, "H"},
    {"val", 0x80, 'I', 1, 1, "H"},
    {"set_warning", 0x84, 0, 1, kAnyCount, "I"},
    {"save_warning_text", 0x85, 0, 1, kAnyCount, "I"},
    {"externaldll", 0x87, 'I', kNotTested, kNotTested, ""},
    {"sqllookup", 0x7B, 'I', 3, 3, "HHH"},
    {"sqlrangelookup", 0x7D, 'I', 3, 3, "HHH"},
    {"date_day_iop", 0x88, 'I', 1, 1, "H"},
    {"date_month_iop", 0x89, 'I', 1, 1, "H"},
    {"date_year_iop", 0x8A, 'I', 1, 1, "H"},
    {"datecmp_iop", 0x8B, 'I', 3, 3, "HHI"},
    {"daydiff_iop", 0x8C, 'I', 3, 3, "HHI"},
    {"dayinterval_iop", 0x8D, 'I', 5, 5, "HHIII"},
    {"monthdiff_iop", 0x8E, 'I', 3, 3, "HHI"},
    {"monthinterval_iop", 0x8F, 'I', 5, 5, "HHIII"},
    {"valid_date_iop", 0x90, 'I', 1, 1, "H"},
    {"yeardiff_iop", 0x91, 'I', 3, 3, "HHI"},
    {"yearinterval_iop", 0x92, 'I', 5, 5, "HHIII"},
    {"allow_future_date_iop", 0x93, 0, 1, 1, "I"},
};

const TInternFuncDef* find_row(unsigned char code) {
  for (const TInternFuncDef& row : intern_funclist)
    if (row.Code == code) return &row;
  return nullptr;
}

bool is_message_builtin(unsigned char code) { return code == 0x4C || code == 0x84 || code == 0x85 || code == 0x67; }
bool is_lookup(unsigned char code) { return code == 0x53 || code == 0x58 || code == 0x66; }
bool is_sql_lookup(unsigned char code) { return code == 0x7B || code == 0x7D; }
bool is_one_date(unsigned char code) { return code >= 0x88 && code <= 0x90 && (code <= 0x8A || code == 0x90); }
bool is_two_dates(unsigned char code) { return code >= 0x8B && code <= 0x92 && code != 0x90; }

std::string type_name(int type) { return type == 'H' ? "CHAR[] (string)" : "INT or LONG"; }

bool is_white(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string TEditCompiler::get_intern_func_name(char code) const {
  const TInternFuncDef* row = find_row(static_cast<unsigned char>(code));
  return row == nullptr ? std::string() : row->Name;
}

char TEditCompiler::get_intern_func_code(const std::string& name) const {
  for (const TInternFuncDef& row : intern_funclist)
    if (name == row.Name) return static_cast<char>(row.Code);
  return ' ';
}

const TInternFuncDef* TEditCompiler::get_intern_func_def(char code) {
  const TInternFuncDef* row = find_row(static_cast<unsigned char>(code));
  if (row != nullptr) return row;
  FEnginePump->AddError("TEditCompiler", "get_intern_func_def",
                        std::string("Syntax checker cannot find QUELT Language Function coded '") + code + "'");
  throw std::runtime_error("Something bad has happened");
}

void TEditCompiler::check_params(unsigned char code, const std::string& text, size_t start) {
  std::string fname = uppercase_string(get_intern_func_name(static_cast<char>(code)));
  std::vector<std::string> params;
  if (!parse_params(text, start, params)) return;
  const TInternFuncDef* row = find_row(code);
  if (row == nullptr || row->MinParams == kNotTested) return;
  int count = static_cast<int>(params.size());
  if (verify_param_count(fname, count, row->MinParams, row->MaxParams)) {
    std::vector<bool> passed;
    size_t typeCount = std::string(row->Types).size();
    for (int i = 0; i < count; ++i) {
      passed.push_back(check_param_type(fname, params[i], i + 1, row->Types[std::min<size_t>(i, typeCount - 1)]));
      if (is_message_builtin(code)) message_number_is_valid(fname, params[i]);
    }
    check_further(code, fname, params, passed);
  }
  if (code == 0x85) comp_sntx_warn("save_warning_text is deprecated; set_warning is preferred (see documentation)");
}

// The tests of a call beyond the count and types of its parameters.
void TEditCompiler::check_further(unsigned char code, const std::string& fname,
                                  const std::vector<std::string>& params, const std::vector<bool>& passed) {
  auto string_param = [&](size_t i) { return passed[i] && is_string_token(params[i], 0); };
  if (is_lookup(code) && string_param(1)) find_table(fname, string_token_text(params[1], 0), ".DBF");
  if (is_sql_lookup(code) && string_param(0)) {
    TTableDef* table = find_sql_table(string_token_text(params[0], 0));
    if (table != nullptr && string_param(1)) find_sql_fields(table, string_token_text(params[1], 0));
  }
  if (code == 0x55) {
    int dashes = 0;
    for (char c : params[1]) {
      if (c == '-') ++dashes;
      if (c == ',' && dashes > 0) --dashes;
      if (dashes > 1) {
        comp_sntx_warn("ambiguous call to INLIST");
        break;
      }
    }
  }
  if (is_one_date(code) || is_two_dates(code)) check_date_type(fname, params[0]);
  if (is_two_dates(code)) check_date_type(fname, params[1]);
  if (code == 0x93 && !params[0].empty() && params[0][0] == '-')
    comp_sntx_err("allow_future_date_iop parameter must be >= 0");
}

// Splits the arguments that follow a call's '(' at text[start] on.
bool TEditCompiler::parse_params(const std::string& text, size_t start, std::vector<std::string>& params) {
  int depth = 1, nested = 0;
  size_t end = std::string::npos;
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] == 'M' && i + 2 < text.size() && text[i + 2] == '(') ++nested;
    if (text[i] == '(') ++depth;
    if (text[i] == ')' && --depth == 0) {
      end = i;
      break;
    }
  }
  if (end == std::string::npos) {
    comp_sntx_err("Function call without closing parenthesis");
    return false;
  }
  std::string args = text.substr(start, end - start);
  char endedOn = ',';
  for (size_t pos = 0; pos < args.size();) {
    if (!params.empty() && endedOn != ',') comp_sntx_err("Syntax error: review function parameters");
    size_t paramEnd;
    if (nested > 0 && args[pos] == 'M' && pos + 2 < args.size() && args[pos + 2] == '(') {
      int callDepth = 0;
      for (paramEnd = pos + 2; paramEnd < args.size(); ++paramEnd) {
        if (args[paramEnd] == '(') ++callDepth;
        if (args[paramEnd] == ')' && --callDepth == 0) break;
      }
      paramEnd = std::min(paramEnd + 1, args.size());
      --nested;
    } else if (args[pos] == '"') {
      if (args.size() - pos < 4) {
        comp_sntx_err("parse_params() encountered unexpected error parsing string parameter");
        break;
      }
      paramEnd = std::min(pos + 4 + string_token_text(args, pos).size(), args.size());
    } else {
      paramEnd = std::min(args.find(',', pos), args.size());
    }
    params.push_back(args.substr(pos, paramEnd - pos));
    endedOn = paramEnd < args.size() ? args[paramEnd] : ',';
    for (pos = paramEnd + 1; pos < args.size() && is_white(args[pos]);) ++pos;
  }
  return true;
}

bool TEditCompiler::verify_param_count(const std::string& fname, int count, int min, int max) {
  if (count < min) {
    comp_sntx_err(fname + " error: too few parameters");
    return false;
  }
  if (count > max && max < kAnyCount) {
    comp_sntx_err(fname + " error: too many parameters");
    return false;
  }
  return true;
}

bool TEditCompiler::check_param_type(const std::string& fname, const std::string& param, int paramNo, int type) {
  char kind = param.empty() ? '\0' : param[0];
  if (kind >= 'O' && kind <= 'T') return true;
  if (is_string_token(param, 0) && string_token_text(param, 0).empty()) return true;
  size_t header = kind == '#' ? 1 : 4;
  if (param.size() <= header) {
    comp_sntx_err("check_param_type error: Function-" + fname + ", Parameter-" + param);
    return false;
  }
  std::string operand = param.substr(header);
  if (kind == 'N') {
    std::string name = operand;
    for (const char* op : {"+", "-", "*", "/", "==", "!=", "<", "<=", ">", ">="}) {
      size_t cut = operand.find_first_of(op);
      if (cut == std::string::npos) continue;
      name = operand.substr(0, cut);
      break;
    }
    TVariableDef* variable = find_variable(name);
    if (variable == nullptr) {
      no_such_variable(paramNo, fname, name);
      return false;
    }
    if (variable->GetVarType() == type) return true;
    comp_sntx_err(fname + " error: Variable \"" + operand + "\" must be data type " + type_name(type));
    return false;
  }
  if (kind == 'M' && param[2] == '(') {
    check_params(static_cast<unsigned char>(param[1]), param, 3);
    return true;
  }
  if ((kind == '"' && type == 'I') || (kind == 'U' && type == 'H')) {
    comp_sntx_err(fname + " error: Parameter \"" + operand + "\" must be data type " + type_name(type));
    return false;
  }
  return true;
}

void TEditCompiler::no_such_variable(int paramNo, const std::string& fname, const std::string& varName) {
  comp_sntx_err(fname + " error: Parameter #" + intToString(paramNo) + " references undeclared variable \"" +
                varName + "\"");
}

bool TEditCompiler::message_number_is_valid(const std::string& fname, const std::string& param) {
  // A field, a named constant or another short parameter names no message.
  if (param.size() < 5) {
    comp_sntx_err("in function " + fname + ", parameter " + param + " is not a message number");
    return false;
  }
  int number = atoi(param.substr(4).c_str());
  TSQLQuery query(FSQLDB);
  query.OpenSelect("SELECT [PKey] FROM [RL_Messages] WHERE [MessageNumber] = " + intToString(number) + ";");
  // A key that is not usable names no message the exports could reach.
  TRowKey key = query.GetKeyFieldByNumber(0);
  if (key.Usable && key.Value > 0) return true;
  comp_sntx_err("in function " + fname + ", Message #" + intToString(number) + " does not exist");
  return false;
}

TVariableDef* TEditCompiler::find_variable(const std::string& name) const { return FVariables->GetVariable(name); }

void TEditCompiler::find_table(const std::string& functionName, std::string tableSpec, std::string extension) {
  std::string fname = uppercase_string(functionName);
  uppercase(tableSpec);
  uppercase(extension);
  size_t found = extension.empty() ? std::string::npos : tableSpec.rfind(extension);
  if (found != std::string::npos) tableSpec.erase(found, extension.size());
  std::string table = tableSpec, index;
  size_t dot = tableSpec.rfind('.');
  if (dot != std::string::npos) {
    index = tableSpec.substr(dot + 1);
    table = tableSpec.substr(0, dot);
  }
  if ((fname == "RLOOKUP" || fname == "ILOOKUP") && index.empty())
    comp_sntx_err(fname + " always returns FALSE if no index key is specified. See help for " + fname);
  TTableDef* def = FTablesList->GetTable(table);
  if (def == nullptr) {
    comp_sntx_err("Table " + table + " not found in this metafile");
    return;
  }
  if (index.empty() || find_index_name(def, index)) return;
  if (fname == "LOOKUP")
    comp_sntx_warn("Index name " + index + " does not exist. " +
                   "Performance will be improved by creating this index on table " + table);
  else
    comp_sntx_err("Index name " + index + " is not valid. " + " Open table " + table +
                  " in Table form to find correct index names.");
}

bool TEditCompiler::find_index_name(TTableDef* table, std::string name) const {
  uppercase(name);
  for (int i = 0; i < table->GetIndexCount(); ++i) {
    std::string text = table->GetIndex(i);
    size_t open = text.find("([");
    size_t close = text.find("])");
    if (open == std::string::npos || close == std::string::npos || close <= open + 2) continue;
    std::string columns = uppercase_string(text.substr(open + 2, close - open - 2));
    if (columns == name || columns == name + "], [PKEY") return true;
  }
  return false;
}

TTableDef* TEditCompiler::find_sql_table(const std::string& name) {
  TTableDef* table = FTablesList->GetTable(name);
  if (table == nullptr) comp_sntx_err("Table " + name + " not found in this metafile");
  return table;
}

void TEditCompiler::find_sql_fields(TTableDef* table, std::string columns) {
  columns.erase(std::remove(columns.begin(), columns.end(), ' '), columns.end());
  std::string tableName = table->GetTableName();
  size_t start = 0;
  while (true) {
    size_t comma = columns.find(',', start);
    std::string column = columns.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (table->GetColumn(column) == nullptr)
      comp_sntx_err("Table \"" + tableName + "\" has no column named \"" + column + "\"");
    else if (!find_index_name(table, column))
      comp_sntx_warn("Field \" " + column + "\" is not indexed. " +
                     "Performance will be improved by creating this index on table " + tableName);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
}

bool TEditCompiler::check_date_type(const std::string& fname, const std::string& param) {
  if (param.empty() || param[0] != '#') return true;
  size_t end = 1;
  while (end < param.size() && isdigit(static_cast<unsigned char>(param[end]))) ++end;
  // Without digits the field could not be resolved; that was reported already.
  if (end == 1) return true;
  std::string number = param.substr(1, end - 1);
  std::string sql = "SELECT FieldName, DataType FROM RL_Fields WHERE FieldNumber = " + number + ";";
  open_dictionary_query("check_date_type", sql);
  bool found = !FQuery->Eof();
  std::string name = FQuery->GetFieldByName("FieldName");
  std::string type = FQuery->GetFieldByName("DataType");
  FQuery->SetIsActive(false);
  if (!found) {
    comp_sntx_err("field number " + number + " is not in the data dictionary");
    return false;
  }
  if (type == "D1") return true;
  comp_sntx_err("Field \"" + name + "\" must be data type D1 for call to " + fname);
  return false;
}
