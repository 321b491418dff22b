// Run-time variables of edit logic.
#include "runtime/Variable.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

// A declared size comes from the logic; beyond this it is refused, not allocated.
const size_t kMaxSize = 1u << 24;
const size_t kMessageSize = 200;

// The reason travels in the exception; the interpreter records it.
[[noreturn]] void refuse(const char* format, ...) {
  char message[kMessageSize];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);
  throw std::runtime_error(message);
}

[[noreturn]] void refuse_size(const std::string& name, size_t size) {
  refuse("TVariable - Variable %s, declared size (%lld) is out of range", name.c_str(), static_cast<long long>(size));
}

[[noreturn]] void refuse_type(const char* method, const std::string& name) {
  refuse("TVariable::%s - Variable %s is not a character variable", method, name.c_str());
}

}  // namespace

TVariable::TVariable(const std::string& name, int type, size_t size) { Reset(name.data(), name.size(), type, size); }

TVariable::~TVariable() { free(FBuffer); }

void TVariable::Reset(const char* name, size_t length, int type, size_t size, const void* key) {
  if (size > kMaxSize) refuse_size(std::string(name, length), size);
  FName.assign(name, length);
  FKey = key;
  FType = type;
  if (IsCharacter()) {
    make_buffer(size);
    FSize = size;
  } else {
    FValues.assign(size, 0);
  }
}

// Reuses the buffer when it is large enough, so pooled variables rarely allocate.
void TVariable::make_buffer(size_t size) {
  if (FBuffer == nullptr || FCapacity < size) {
    char* buffer = static_cast<char*>(malloc(size + 1));
    if (buffer == nullptr) throw std::bad_alloc();
    free(FBuffer);
    FBuffer = buffer;
    FCapacity = size;
  }
  memset(FBuffer, 0, size + 1);
}

TValueWord TVariable::GetStringValueAsInteger() const {
  return IsCharacter() ? reinterpret_cast<TValueWord>(FBuffer) : 0;
}

void TVariable::SetValue(const char* text) {
  if (!IsCharacter()) refuse_type("SetValue", FName);
  size_t length = strlen(text);
  if (length > FSize)
    refuse("TVariable::SetValue - Variable %s, value \"%s\" longer than declared size (%lld)", FName.c_str(), text,
           static_cast<long long>(FSize));
  memmove(FBuffer, text, length + 1);  // the text may be this variable's own
}

void TVariable::SetTableVarValue(const char* text, size_t size) {
  if (!IsCharacter()) refuse_type("SetTableVarValue", FName);
  if (FSize < size) {
    if (size > kMaxSize) refuse_size(FName, size);
    make_buffer(size);
    FSize = size;
  }
  strncpy(FBuffer, text, FSize);
  FBuffer[FSize] = '\0';
}

void TVariable::SetValue(size_t index, int value) {
  if (index < FValues.size()) FValues[index] = value;
}

int TVariable::GetValue(size_t index) const {
  if (index >= FValues.size()) throw std::runtime_error("TVariable::GetValue - index out of range");
  return FValues[index];
}
