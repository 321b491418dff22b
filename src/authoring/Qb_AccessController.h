// The login register of one open metafile: which agencies are logged in and
// what rights they hold.
#pragma once

class TEngineErrorsPump;
class TSQLDB;

class TQb_AccessController {
 public:
  TQb_AccessController(TEngineErrorsPump* pump, TSQLDB* db);
  TQb_AccessController(const TQb_AccessController&) = delete;
  TQb_AccessController& operator=(const TQb_AccessController&) = delete;
};
