// The reader of compiled edit logic: one token at a time, operands pushed on a
// stack of reusable text slots (the cargo), one saved position, and moves by
// distance or to a position for jumps. Each position of a text is decoded once
// and kept, so logic that runs for every record is not decoded again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class TEngineErrorsPump;

// One value of an expression: a 32-bit integer carried sign-extended, or the
// address of a NUL-terminated text (a cargo slot or a character variable).
typedef intptr_t TValueWord;

typedef int TTokenID;
typedef int TTokenType;

class TToken {
 public:
  TToken(const char* text, TTokenID id, TTokenType type, char compiled);

  TTokenID GetTokenID() const { return FTokenID; }
  TTokenType GetTokenType() const { return FTokenType; }
  char GetCompiled() const { return FCompiled; }
  const std::string& GetSpelling() const { return FSpelling; }
  void SetOriginal(const char* text) { FSpelling = text != nullptr ? text : ""; }
  void SetTokenID(TTokenID id) { FTokenID = id; }
  void SetTokenType(TTokenType type) { FTokenType = type; }
  void SetCompiled(char compiled) { FCompiled = compiled; }

 private:
  std::string FSpelling;
  TTokenID FTokenID;
  TTokenType FTokenType;
  char FCompiled;
};

class TCargo {
 public:
  explicit TCargo(size_t n);
  ~TCargo();
  TCargo(const TCargo&) = delete;
  TCargo& operator=(const TCargo&) = delete;

  size_t GetCargoSize() const { return FSize; }
  char* GetCargoAddress() const { return FBuffer; }
  void SetCargoString(const char* text, size_t n);

 private:
  char* FBuffer;
  size_t FSize;
};

// What reading at one position gives: the token, its operand and where the
// next read starts. Numbers, jump fields and field numbers are parsed here once.
struct TDecodedToken {
  uint32_t Next = 0;           // read position after the token
  uint32_t OperandPos = 0;     // operand pushed on the cargo stack, when Pushes
  uint32_t OperandLength = 0;
  int32_t Number = 0;          // number value, jump distance or field number
  int32_t VariableSlot = -1;   // last pool entry that answered this name
  unsigned char Compiled = 0;  // the token character; 0 at the end of the text
  char OneChar = ' ';
  bool Pushes = false;
  bool AtEnd = false;          // no token: the end of the text was reached
};

// The tokens of one compiled text, decoded on first read at each position.
class TDecodedLogic {
 public:
  explicit TDecodedLogic(std::string text);

  const std::string& Text() const { return FText; }
  const TDecodedToken& At(size_t pos);
  // Body positions of the user functions from the header (0: no body), and
  // where the body of the main logic starts.
  const std::vector<int>& UDFOffsets() const { return FUDFOffsets; }
  size_t BodyStart() const { return FBodyStart; }

 private:
  void decode(size_t pos, TDecodedToken& token) const;
  void read_header();

  std::string FText;
  std::vector<int32_t> FIndex;        // per position: index into FTokens, -1 not decoded yet
  std::deque<TDecodedToken> FTokens;  // a deque, so a token read stays put while others are decoded
  TDecodedToken FEnd;
  std::vector<int> FUDFOffsets;
  size_t FBodyStart = 0;
};

class TTokenMaster {
 public:
  explicit TTokenMaster(TEngineErrorsPump* pump);
  ~TTokenMaster();
  TTokenMaster(const TTokenMaster&) = delete;
  TTokenMaster& operator=(const TTokenMaster&) = delete;

  // Reads the logic from its start; the decoded form is borrowed and must
  // outlive the reading.
  void SetCompiledLogic(TDecodedLogic* logic);
  const char* GetCompiledLogic() const { return FCompiledLogic; }
  size_t GetCompiledLength() const { return FLength; }
  size_t GetPos() const { return FPos; }

  TToken* GetCompiledToken();
  TToken* GetHardToken(TTokenID expected);
  // The decoding of the token read last (its parsed number, its variable hint).
  TDecodedToken& LastDecoded() const { return *FLast; }

  const char* extract_field_number();
  char* CopyToCargo(const char* text);
  char* GetCallCargo() const;
  void ResetTopOfStringsStack() { FCargoTop = FCargoFloor; }
  // A user function's statements empty the stack down to the floor only, so
  // the texts of the statement that called it survive the call.
  size_t RaiseCargoFloor();
  void RestoreCargoFloor(size_t floor) { FCargoFloor = floor; }
  // True when the address is the text of a cargo slot in use.
  bool IsCargoText(const char* address) const;
  char* GetOneChar() { return &FOneChar; }

  void SavePos() { FSavedPos = FPos; }
  void RestorePos() { FPos = FSavedPos; }
  void MovePosBy(int distance);
  void MovePosTo(size_t pos);
  // Sets the read position back to one read before; the end is allowed.
  void SetPos(size_t pos) { FPos = pos < FLength ? pos : FLength; }
  void SkipNewLines();

 private:
  void add_token(const char* spelling, TTokenID id, TTokenType type, char compiled);
  char* push_cargo(const char* text, size_t length);
  [[noreturn]] void fail(const char* method, const std::string& message);

  const char* FCompiledLogic = "";
  size_t FLength = 0;
  size_t FPos = 0;
  size_t FSavedPos = 0;
  std::vector<TCargo*> FCargo;
  size_t FCargoCapacity = 0;
  size_t FCargoTop = 0;
  size_t FCargoFloor = 0;
  char FOneChar = ' ';
  TEngineErrorsPump* FEnginePump;
  TToken* FTokens[127];
  TDecodedLogic* FLogic = nullptr;
  TDecodedToken* FLast;
  TDecodedToken FEndToken;
};
