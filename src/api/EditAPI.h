// The exported functions' handle table and the frame every export on a handle
// runs in: the handle checked, its engine errors emptied, the rule for calls
// made from callbacks applied, and any exception turned into a return code.
// The exports themselves are grouped by family: EditAPI.cpp (metafiles,
// versions, engine errors), EditAPIReads.cpp (schema, rows, cursors),
// EditAPIRuns.cpp (records, edit sets, runs, compilation) and
// EditAPIAuthoring.cpp (the Qb_ exports).
#pragma once

#include <exception>

#include "api/SMF.h"

// The metafile open under a handle; throws std::invalid_argument("Invalid
// metafile smfID!") for an invalid handle and empties its engine errors.
TSMF* InitCheck(int smfID);

namespace edit_api {

// The one rule for calls made from inside a callback. An export that calls
// back holds the metafile's callback guard, which names what is under way and
// the parts of the metafile that the export walks until it returns. A call
// made meanwhile that would free or replace one of those parts is refused,
// naming the innermost export that walks it; every other call works.
// Exports that deliver what they copied before their first callback walk
// only the metafile object itself, which closing it frees. Runs, summaries,
// debugging runs and import listings read as they deliver and share the
// run-time's state: they count as walking every part.
// An export that reads the table model has it follow the file first; that
// replaces definitions, so it too is refused while the model is walked, but
// only when the model is out of date.
const unsigned kNone = TSMF::kNone, kMetafile = TSMF::kMetafile, kRecords = TSMF::kRecords,
               kTables = TSMF::kTables, kImport = TSMF::kImport, kAll = TSMF::kAll;

struct TReentry {
  const char* UnderWay;  // what the export is, when it calls back; null when it does not
  unsigned Walks;
  unsigned Frees;
  bool ReadsModel;
  bool OneRead;  // the schema check and the export's own reads share one read
};
const TReentry kReads{nullptr, kNone, kNone, false, false};

inline TReentry frees(unsigned parts) { return {nullptr, kNone, parts, false, false}; }
inline TReentry walks(const char* underWay, unsigned parts) { return {underWay, parts, kNone, false, false}; }
// An export that hands over only what it copied first.
inline TReentry owns_walk(const char* underWay) { return walks(underWay, kMetafile); }

// The exports of the record path (runs, records, options, summaries) never
// read the model this way: a run's lookups have it follow the file themselves.
inline TReentry reads_model(TReentry reentry = kReads) {
  reentry.ReadsModel = true;
  return reentry;
}

// An export that reads rows besides the model, and neither writes nor calls
// back, checks the schema inside the read that its own reads make.
inline TReentry reads_model_and_rows() {
  TReentry reentry = reads_model();
  reentry.OneRead = true;
  return reentry;
}

// Whether the call is refused under the callbacks under way (recorded).
bool refused(TSMF& smf, const char* method, const TReentry& reentry);
// Records an exception that reached the boundary; never throws.
void record_escape(TSMF* smf, const char* method, const char* text);

// An exception that reaches the boundary is recorded on the handle, so that no
// -1 goes unexplained.
template <typename Operation>
int forward(int smfID, const char* method, const TReentry& reentry, Operation operation) {
  TSMF* smf = nullptr;
  try {
    smf = InitCheck(smfID);
    if (refused(*smf, method, reentry)) return -1;
    TSMF::TCallRead read(*smf, reentry.OneRead);
    if (reentry.ReadsModel && !smf->follow_schema(method)) return -1;
    TSMF::TCallbackGuard guard(*smf, reentry.UnderWay, reentry.Walks);
    return operation(smf);
  } catch (const std::exception& e) {
    record_escape(smf, method, e.what());
  } catch (...) {
    record_escape(smf, method, "");
  }
  return -1;
}

}  // namespace edit_api
