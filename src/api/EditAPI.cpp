// The process-wide handle table, the frame of the exports on a handle, and the
// exports that open, close, create, compact and upgrade metafiles, report
// versions and read engine errors; Startup and Shutdown.
#include "api/EditAPI.h"

#include <cstring>
#include <stdexcept>
#include <vector>

#include "library/ExternalDLLTracker.h"
#include "quelt.h"
#include "storage/Utility.h"

namespace {

const size_t kInitialSlots = 20;

std::vector<TSMF*>& SMFList() {
  static std::vector<TSMF*> slots(kInitialSlots, nullptr);
  return slots;
}

bool valid_handle(int smfID) {
  return smfID >= 0 && static_cast<size_t>(smfID) < SMFList().size() && SMFList()[smfID] != nullptr;
}

// The engine-error readers test the handle themselves and leave the list alone.
template <typename Operation>
int read_errors(int smfID, Operation operation) {
  if (!valid_handle(smfID)) return -2;
  try {
    return operation(SMFList()[smfID]);
  } catch (...) {
    return -1;
  }
}

// Lowest empty slot, or the index of a slot still to be appended.
size_t free_slot() {
  std::vector<TSMF*>& slots = SMFList();
  for (size_t i = 0; i < slots.size(); ++i)
    if (slots[i] == nullptr) return i;
  return slots.size();
}

void store_in_slot(size_t slot, TSMF* smf) {
  std::vector<TSMF*>& slots = SMFList();
  if (slot == slots.size()) slots.push_back(nullptr);
  slots[slot] = smf;
}

const char* null_parameter(const void* smfID, const void* path, const void* message,
                           int messageLength, const void* versionCompare) {
  if (smfID == nullptr) return "smfID";
  if (path == nullptr) return "path";
  if (message == nullptr && messageLength > 0) return "message";
  if (versionCompare == nullptr) return "versionCompare";
  return nullptr;
}

// The reason of a failed opening, copied without allocating: it runs where
// an exception has been caught and nothing may throw again.
void copy_reason(const char* reason, char* message, int messageLength) {
  if (message != nullptr && messageLength > 0) strncpy(message, reason, static_cast<size_t>(messageLength));
}

}  // namespace

namespace edit_api {

bool refused(TSMF& smf, const char* method, const TReentry& reentry) {
  const char* underWay = smf.WalkOf(reentry.Frees);
  if (underWay != nullptr) smf.RecordRefusal(method, underWay);
  return underWay != nullptr;
}

// Recording must not throw in turn: nothing may leave an export.
void record_escape(TSMF* smf, const char* method, const char* text) {
  if (smf == nullptr) return;
  try {
    smf->RecordException(method, text);
  } catch (...) {
  }
}

}  // namespace edit_api

using namespace edit_api;

TSMF* InitCheck(int smfID) {
  if (!valid_handle(smfID)) throw std::invalid_argument("Invalid metafile smfID!");
  TSMF* smf = SMFList()[smfID];
  smf->ClearEngineErrorsPump();
  return smf;
}

extern "C" {

QUELT_API int Edit_Initialize(int* smfID, const char* path, char* message, int messageLength,
                              int* versionCompare) {
  TSMF* smf = nullptr;
  try {
    if (const char* missing = null_parameter(smfID, path, message, messageLength, versionCompare)) {
      copy_to_buffer(std::string("Parameter \"") + missing + "\" must not be NULL", message, messageLength);
      return -1;
    }
    *smfID = -1;
    size_t slot = free_slot();
    smf = new TSMF();
    int result = smf->InitializeMetafile(path, message, messageLength, versionCompare, 1);
    if (result != 0) {
      delete smf;
      return result;
    }
    store_in_slot(slot, smf);
    *smfID = static_cast<int>(slot);
    return 0;
  } catch (const std::exception& e) {
    copy_reason(e.what(), message, messageLength);
  } catch (...) {
  }
  delete smf;
  return -1;
}

QUELT_API int Edit_Exit(int smfID) {
  return forward(smfID, "Exit", frees(kAll), [&](TSMF* smf) {
    SMFList()[smfID] = nullptr;
    delete smf;
    return 0;
  });
}

QUELT_API int Edit_UpdateMetafile(const char* path, char* message, int messageLength) {
  if (path == nullptr || (message == nullptr && messageLength > 0)) return -1;
  TSMF* smf = nullptr;
  try {
    smf = new TSMF();
    int versionCompare = 0;
    int result = smf->InitializeMetafile(path, message, messageLength, &versionCompare, 0);
    if (result == 0) result = smf->UpdateMetafile(message, messageLength);
    delete smf;
    return result;
  } catch (const std::exception& e) {
    copy_reason(e.what(), message, messageLength);
  } catch (...) {
  }
  delete smf;
  return -1;
}

QUELT_API int Edit_CreateNewMetafile(const char* path) {
  try {
    return CreateNewMetafile(path);
  } catch (...) {
    return -2;
  }
}

QUELT_API int Edit_CompactMetafile(const char* path) {
  try {
    return CompactMetafile(path);
  } catch (...) {
    return -2;
  }
}

QUELT_API int Edit_GetEngineVersion(char* buffer, int length) {
  try {
    return GetEngineVersion(buffer, length);
  } catch (...) {
    return -2;
  }
}

QUELT_API int Edit_GetMetafileStructureVersion(char* buffer, int length) {
  try {
    return GetMetafileStructureVersion(buffer, length);
  } catch (...) {
    return -1;
  }
}

QUELT_API int Edit_GetMetafileVersion(int smfID, char* buffer, int length) {
  return forward(smfID, "GetMetafileVersion", kReads, [&](TSMF* smf) {
    return smf->GetMetafileVersion(buffer, length);
  });
}

QUELT_API int Edit_GetMetafileComment(int smfID, char* buffer, int length) {
  return forward(smfID, "GetMetafileComment", kReads, [&](TSMF* smf) {
    return smf->GetMetafileComment(buffer, length);
  });
}

QUELT_API int Edit_GetEngineErrorsCount(int smfID, int* count) {
  return read_errors(smfID, [&](TSMF* smf) { return count == nullptr ? -1 : smf->GetEngineErrorsCount(count); });
}

QUELT_API int Edit_GetEngineErrorByIndex(int smfID, int index, char* buffer, int length) {
  return read_errors(smfID, [&](TSMF* smf) {
    return buffer == nullptr && length > 0 ? -1 : smf->GetEngineErrorByIndex(index, buffer, length);
  });
}

}  // extern "C"

QUELT_API void Startup() {}

QUELT_API void Shutdown() {
  try {
    for (TSMF*& smf : SMFList()) {
      if (smf != nullptr && smf->IsBusy()) continue;
      delete smf;
      smf = nullptr;
    }
    ClearExternalDLLs();
  } catch (...) {
  }
}
