// The per-metafile list of engine errors: every failure inside an operation is
// appended as (class, method, message) and read back by the host.
#pragma once

#include <string>
#include <utility>
#include <vector>

class TEngineError {
 public:
  TEngineError(std::string className, std::string methodName, std::string message)
      : ClassName(std::move(className)), MethodName(std::move(methodName)),
        Message(std::move(message)) {}

  std::string ClassName;
  std::string MethodName;
  std::string Message;
};

class TEngineErrorsPump {
 public:
  TEngineErrorsPump() = default;
  ~TEngineErrorsPump();
  TEngineErrorsPump(const TEngineErrorsPump&) = delete;
  TEngineErrorsPump& operator=(const TEngineErrorsPump&) = delete;

  int AddError(std::string className, std::string methodName, std::string message);
  int AddError(TEngineError* error);  // takes ownership
  int ClearPump();
  int GetErrorsCount(int* count) const;
  // Text form "Class::Method" + byte 0xBB + message, index counted from 0.
  int GetErrorByIndex(int index, char* buffer, int length) const;

 private:
  std::vector<TEngineError*> Errors;
};
