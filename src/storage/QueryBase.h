// What the two statement wrappers share: one SQL text and at most one prepared
// statement on a borrowed connection, its result-set state, fetching with the
// busy retry, column reads by number and the parameterized steps.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <stdexcept>
#include <string>

class TSQLDB;

// A fetch's reason once a rollback has ended the read.
extern const char* const kReadEndedText;

// A row key as the file holds it. The exports take and give keys as int, so a
// key is usable only where the file holds a whole number in that range: any
// other value would be cut to, or read as, another row's key.
struct TRowKey {
  bool Found = false;   // a row was read
  bool Usable = false;  // the value is such a whole number
  bool Null = false;    // the file holds no value
  int Value = 0;        // the key when usable, else 0
  std::string Text;     // when not usable, the value as text ("NULL" for none), for messages

  // "PKey \"<text>\" of table \"<table>\" is not a whole number from
  // -2147483648 to 2147483647".
  std::string Refusal(const std::string& table) const;
};

// The key in column i of the statement's current row.
TRowKey read_row_key(sqlite3_stmt* statement, int i);

// A key that is not usable where it would be handed on or written under: its
// text is the key's refusal. Callers that add a statement's failure to what
// they record can tell it apart, since no statement failed.
struct TKeyRefusal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A copy of a value read from a row, with its type and bytes as the file
// holds them, so that it can be bound again after the row has gone.
struct TValueFree {
  void operator()(sqlite3_value* value) const { sqlite3_value_free(value); }
};
using TSQLValue = std::unique_ptr<sqlite3_value, TValueFree>;

class TQueryBase {
 public:
  const char* GetSQLText() const { return FSQLText.c_str(); }
  const char* LastErrorMessage() const { return FLastError.c_str(); }
  bool GetIsActive() const { return FIsActive; }
  bool GetIsParameterized() const { return FIsParameterized; }
  bool Eof() const { return FEof; }
  int ColCount() const { return FColCount; }
  // A fetch whose read a rollback has ended fails, and never steps again:
  // stepped again, the statement would start over from its first row. Nor
  // does a fetch after a failed step, which halted the read.
  bool FetchNext();
  // Puts a read that a failed step halted at its end, so that a walk that
  // tests only the end stops; the failure itself is told by that fetch.
  void EndHaltedRead();
  // Whether the statement is in the middle of a read of a database: stepped
  // to a row, neither at its end nor reset, and its program reads a table or
  // the schema. Such a read holds the database's read.
  bool IsReading();
  // Whether a rollback ended the read (the database tells so at the next
  // step, for each statement: a sorted result may go on); it stays ended, at
  // its end and with no row, until the statement is opened again.
  bool ReadEnded() const { return FReadEnded; }
  int GetIntFieldByNumber(int i) const;
  // Column i of the current row as a row key; not found without a row.
  TRowKey GetKeyFieldByNumber(int i) const;
  // Column i of the current row as a key of `table`; throws TKeyRefusal
  // when it is not usable.
  int GetUsableKeyByNumber(int i, const std::string& table) const;
  // A copy of column i of the current row, never null; throws
  // std::runtime_error without a row or when the copy cannot be made.
  TSQLValue GetValueByNumber(int i) const;

 protected:
  explicit TQueryBase(TSQLDB* db) : FSQLDB(db) {}
  ~TQueryBase();
  TQueryBase(const TQueryBase&) = delete;
  TQueryBase& operator=(const TQueryBase&) = delete;

  // Records the reason and throws std::runtime_error(exceptionText).
  [[noreturn]] void fail(const std::string& reason, const char* exceptionText);
  const char* db_message() const;
  // Text of column i of the current row; "" without a row, out of range or NULL.
  const char* field_text(int i) const;
  bool finalize_statement();
  void prepare_statement(const char* exceptionText);
  void reset_statement(const char* exceptionText);
  // Steps the first row: a busy or failing first step throws, never reads as
  // a row or as an empty result.
  void step_first_row(const char* exceptionText);
  void open_parameterized(const char* exceptionText);
  void reset_parameterized(const char* exceptionText, const char* resetExceptionText);
  bool release_parameterized(const char* exceptionText);

  std::string FSQLText;
  std::string FLastError;
  sqlite3_stmt* FStatement = nullptr;
  int FColCount = 0;
  bool FEof = false;
  bool FIsActive = false;
  bool FIsParameterized = false;
  bool FHasRow = false;     // a row is current, so its columns may be read
  bool FStepFailed = false;  // the last step failed
  bool FReadEnded = false;   // a rollback ended the read
  bool FHalted = false;      // a failed step halted the read
  int FReadsDatabase = -1;   // whether the prepared program reads a database; -1 not yet told
  TSQLDB* FSQLDB;
};
