// The reader of compiled edit logic: one token at a time, operands pushed on a
// stack of reusable text slots (the cargo), one saved position, and moves by
// distance or to a position for jumps. Each position of a text is decoded once
// and kept, so logic that runs for every record is not decoded again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "compiler/CompiledText.h"
#include "runtime/ExpressionPlan.h"

class TEngineErrorsPump;

// One value of an expression: a 32-bit integer carried sign-extended, or the
// address of a NUL-terminated text (a cargo slot or a character variable).
typedef intptr_t TValueWord;

typedef int TTokenID;
typedef int TTokenType;

// One kind of token: its spelling (for display), identity, class and
// compiled character.
class TToken {
 public:
  // A null text gives an empty spelling.
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
  // Copies at most n characters, and no further than the text's end.
  void SetCargoString(const char* text, size_t n) { SetCargoBytes(text, strnlen(text, n)); }
  // Copies n bytes that the caller holds (a slice of a longer text), as many
  // as fit, without looking for the text's end: the pushes of the record path.
  void SetCargoBytes(const char* bytes, size_t n) {
    size_t copied = n < FSize - 1 ? n : FSize - 1;
    memcpy(FBuffer, bytes, copied);
    FBuffer[copied] = '\0';
  }

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
  TExpressionPlan* Plan = nullptr;  // the plan of what starts here, once looked for
  bool PlanTried = false;
  unsigned char Compiled = 0;  // the token character; 0 at the end of the text
  unsigned char Fault = 0;     // an unknown byte, or an operand past the end
  char OneChar = ' ';
  bool Pushes = false;
  bool AtEnd = false;          // no token: the end of the text was reached
};

// The tokens of one compiled text, decoded once for every position a read
// may start at, with the verdict of its structure check.
class TDecodedLogic {
 public:
  explicit TDecodedLogic(std::string text);

  const std::string& Text() const { return FText; }
  // Where the text departs from what the compiler writes (kNone: nowhere).
  const TStructureFault& Fault() const { return FFault; }
  TDecodedToken& At(size_t pos) { return pos < FTokens.size() ? FTokens[pos] : FEnd; }
  // Body positions of the user functions from the header (0: no body), and
  // where the body of the main logic starts.
  const std::vector<int>& UDFOffsets() const { return FUDFOffsets; }
  size_t BodyStart() const { return FBodyStart; }
  // Keeps the plan of what starts at pos (null: it has none), owned here.
  TExpressionPlan* SetPlan(size_t pos, std::unique_ptr<TExpressionPlan> plan);
  // One key per distinct name of the text, so names compare by key.
  const void* NameKey(size_t pos, size_t length);

 private:
  void decode(size_t pos, TDecodedToken& token) const;
  void read_header();

  std::string FText;
  std::vector<TDecodedToken> FTokens;  // by read position
  TDecodedToken FEnd;
  std::vector<std::unique_ptr<TExpressionPlan>> FPlans;
  std::set<std::string> FNames;
  std::vector<int> FUDFOffsets;
  size_t FBodyStart = 0;
  TStructureFault FFault;
};

class TTokenMaster {
 public:
  // Token slots: one for each character below 127.
  static const unsigned kTokenSlots = 127;

  explicit TTokenMaster(TEngineErrorsPump* pump);
  ~TTokenMaster();
  TTokenMaster(const TTokenMaster&) = delete;
  TTokenMaster& operator=(const TTokenMaster&) = delete;

  // Reads the logic from its start; the decoded form is borrowed and must
  // outlive the reading.
  void SetCompiledLogic(TDecodedLogic* logic);
  const char* GetCompiledLogic() const { return FCompiledLogic; }
  TDecodedLogic* GetDecodedLogic() const { return FLogic; }
  size_t GetCompiledLength() const { return FLength; }
  size_t GetPos() const { return FPos; }

  TToken* GetCompiledToken() { return ReadToken(true); }
  // Reads a token; without pushOperand its operand stays off the cargo stack,
  // for the interpreter's own reads whose operands nobody takes from there.
  TToken* ReadToken(bool pushOperand) {
    TDecodedToken& token = FLogic != nullptr ? FLogic->At(FPos) : FEndToken;
    FLast = &token;
    FPos = token.Next;
    if (token.AtEnd) return nullptr;
    if (token.Fault != 0) fault(token);
    if (pushOperand && token.Pushes) PushCargo(FCompiledLogic + token.OperandPos, token.OperandLength);
    return FTokens[token.Compiled];
  }
  TToken* GetHardToken(TTokenID expected);
  // Fails the reading of logic whose structure is not what the compiler
  // writes, before any of it runs: such a text could run for ever.
  void RefuseDamagedLogic() const {
    if (FLogic != nullptr && FLogic->Fault().Kind != TStructureFault::kNone) refuse(FLogic->Fault());
  }
  // The decoding of the token read last (its parsed number, its variable hint).
  TDecodedToken& LastDecoded() const { return *FLast; }
  TToken* TokenFor(unsigned char compiled) const { return compiled < kTokenSlots ? FTokens[compiled] : nullptr; }
  // Stands after the token decoded at that position, as if it had just been
  // read (its operand is not pushed).
  void SetReadAfter(TDecodedToken& token) {
    FLast = &token;
    FPos = token.Next;
  }
  // The one-character operand of the last token read (a built-in's code, a
  // function's letter, a constant's character, a one-character token), a
  // blank for any other. It is taken from the last token's decoding when
  // asked for, so that reading a token copies nothing for it.
  char* GetOneChar() {
    FOneChar = FLast->OneChar;
    return &FOneChar;
  }
  // Reads up to 20 digits of a field number from the read position onto the
  // cargo stack (an empty text when there are none) and gives the pushed text.
  char* extract_field_number();
  // Puts a token of that spelling, identity and class in the slot of its
  // compiled character.
  void add_token(const char* spelling, TTokenID id, TTokenType type, char compiled);

  // Pushes a copy of the length bytes at text; the common case, a slot large
  // enough, inline.
  char* PushCargo(const char* text, size_t length) {
    if (FCargoTop < FCargoCapacity) {
      TCargo* slot = FCargo[FCargoTop];
      if (slot->GetCargoSize() > length) {
        slot->SetCargoBytes(text, length);
        ++FCargoTop;
        return slot->GetCargoAddress();
      }
    }
    return push_cargo_slowly(text, length);
  }
  char* CopyToCargo(const char* text);
  char* GetCallCargo() const;
  void ResetTopOfStringsStack() { FCargoTop = FCargoFloor; }
  // A user function's statements empty the stack down to the floor only, so
  // the texts of the statement that called it survive the call.
  size_t RaiseCargoFloor();
  void RestoreCargoFloor(size_t floor) { FCargoFloor = floor; }
  // True when the address is the text of a cargo slot in use.
  bool IsCargoText(const char* address) const;

  void SavePos() { FSavedPos = FPos; }
  void RestorePos() { FPos = FSavedPos; }
  void MovePosBy(int distance);
  // Fails as MovePosBy would, without moving: a jump is refused before the
  // part it would skip runs.
  void CheckMoveBy(int distance) const;
  // Fails the reading: what the opener starts (a block, a controlled
  // statement, a function) runs past the end of the text.
  [[noreturn]] void PastEnd(char opener);
  void MovePosTo(size_t pos);
  // Sets the read position back to one read before; the end is allowed.
  void SetPos(size_t pos) { FPos = pos < FLength ? pos : FLength; }
  // Advances over line feeds.
  void SkipNewLines();

 private:
  char* push_cargo_slowly(const char* text, size_t length);
  [[noreturn]] void fault(const TDecodedToken& token);
  [[noreturn]] void refuse(const TStructureFault& fault) const;
  [[noreturn]] void fail(const char* method, const std::string& message) const;

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
  TToken* FTokens[kTokenSlots];
  TDecodedLogic* FLogic = nullptr;
  TDecodedToken* FLast;
  TDecodedToken FEndToken;
};
