// The lean statement wrapper of the run-time paths: SELECTs prepared once and
// then reset, rebound and stepped per record; columns by number only.
#pragma once

#include <string>

#include "storage/QueryBase.h"

class TFastSQLQuery : public TQueryBase {
 public:
  explicit TFastSQLQuery(TSQLDB* db) : TQueryBase(db) {}

  void SetSQLText(const std::string& text, bool allowParameters);
  bool SetIsActive(bool active);  // opening throws std::runtime_error on failure

  // The text stays valid until the statement is stepped, reset or closed.
  const char* GetFieldByNumber(int i) const { return field_text(i); }

  // Each throws std::runtime_error on failure.
  bool PrepareParameterizedQuery();
  bool BindIntParameter(int n, int value);
  // A text bound without a copy must stay as it is until the statement is
  // reset: the record path binds its own buffers that way and spares a
  // heap allocation per call.
  bool BindTextParameter(int n, const char* text, bool copyText = true);
  bool OpenParameterizedQuery();
  bool ResetParameterizedQuery();
  bool ReleaseParameterizedQuery();
};
