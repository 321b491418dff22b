// The per-metafile list of engine errors.
#include "storage/EngineErrorsPump.h"

#include "storage/Utility.h"

TEngineErrorsPump::~TEngineErrorsPump() { ClearPump(); }

int TEngineErrorsPump::AddError(std::string className, std::string methodName,
                                std::string message) {
  Errors.push_back(new TEngineError(std::move(className), std::move(methodName), std::move(message)));
  return 0;
}

int TEngineErrorsPump::AddError(TEngineError* error) {
  Errors.push_back(error);
  return 0;
}

int TEngineErrorsPump::ClearPump() {
  for (TEngineError* error : Errors) delete error;
  Errors.clear();
  return 0;
}

int TEngineErrorsPump::GetErrorsCount(int* count) const {
  if (count != nullptr) *count = static_cast<int>(Errors.size());
  return 0;
}

int TEngineErrorsPump::GetErrorByIndex(int index, char* buffer, int length) const {
  std::string text;
  if (index >= 0 && static_cast<size_t>(index) < Errors.size()) {
    const TEngineError* error = Errors[index];
    text = error->ClassName + "::" + error->MethodName + '\xBB' + error->Message;
  } else {
    text = "TEngineErrorsPump::GetErrorByIndex - index out of range";
  }
  copy_to_buffer(text, buffer, length);
  return 0;
}
