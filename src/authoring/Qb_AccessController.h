// The login register of one open metafile: which agencies are logged in, the
// built-in super user, and the scrambling of agency passwords.
#pragma once

#include <map>
#include <string>
#include <vector>

class TEngineErrorsPump;
class TSQLDB;
class TSQLQuery;

class TQb_AccessController {
 public:
  TQb_AccessController(TEngineErrorsPump* pump, TSQLDB* db);
  ~TQb_AccessController();
  TQb_AccessController(const TQb_AccessController&) = delete;
  TQb_AccessController& operator=(const TQb_AccessController&) = delete;

  // 0 when the agency (or "NONE" for an empty code, or the super user) is
  // logged in; -1 otherwise.
  int Login(std::string adminCode, std::string password);
  // Agency 1 always; every agency while the super user is; an agency logged
  // in while the row at its PKey, as the file holds it now, confirms the login.
  bool IsLoggedIn(int agencyPKey) const;
  bool IsSuperUserLoggedIn() const { return FSuperUser; }
  int GetLoginsCount(int* count) const;
  int GetLoginByIndex(int index, int* agencyPKey, char* buffer, int bufferLength) const;
  // The agency to record as a row's owner: the one asked for when the logins
  // may act for it, else the lowest agency whose login its row confirms (1
  // when there is none).
  int GetLoggedInAgencyPKey(int agencyPKey, int* result) const;
  // Writes outLength (at most 10) scrambled bytes of the upper-cased password
  // to out, without a terminator.
  static void MungedPassword(const std::string& password, char* out, unsigned outLength);
  // The stored form of a password: its ten scrambled bytes up to the first zero.
  static std::string StoredPassword(const std::string& password);
  // Whether none of the ten scrambled bytes is zero, so that the stored form
  // holds the whole of them.
  static bool IsStoredWhole(const std::string& password);
  // The super user that an open import logs in; wasLoggedIn tells whether it
  // was logged in already, and so whether the removal leaves it there.
  void AddImportSuperUser(bool& wasLoggedIn);
  void RemoveImportSuperUser(bool wasLoggedIn);
  // A deleted agency's login goes with it: a later agency given the same
  // PKey must not find itself logged in.
  void ForgetAgency(int agencyPKey);
  // Whether the agency's own login stands: its row, read now, confirms it.
  // Asked inside a write of the row, before the row is written.
  bool AgencyLoginStands(int agencyPKey) const;
  // After the library itself wrote the code, password or PKey of an agency's
  // row (writtenPKey is the PKey it has now), inside that write and only when
  // the login stood before it: the login moves with the row, and what the row
  // now holds confirms it as well as what it was checked against. Never throws.
  void FollowAgencyWrite(int agencyPKey, int writtenPKey);
  // After a rollback: each agency login stands where its row holds a code and
  // stored password that confirm it; one whose row has gone back to a PKey it
  // had while logged in goes back with it; any other is forgotten. Never throws.
  void FollowRollback();

 private:
  // A code and stored password of an agency's row.
  struct TAgencyForm {
    std::string AdminCode;
    std::string Password;
    bool operator==(const TAgencyForm& other) const {
      return AdminCode == other.AdminCode && Password == other.Password;
    }
  };
  // An agency's login: the stored code it last logged in under, and what
  // confirms it after a rollback: the code and password its row held when
  // it was checked, and those the library wrote to the row while it stood;
  // and the PKeys its row left while it stood, the latest last, where a
  // rollback may bring the row back.
  struct TAgencyLogin {
    std::string AdminCode;
    std::vector<TAgencyForm> Forms;
    std::vector<int> EarlierPKeys;
    bool Confirms(const TAgencyForm& form) const;
  };

  bool is_logged_in(const std::string& adminCode) const;
  // Whether an agency logged in by password under exactly that code.
  bool is_agency_logged_in(const std::string& adminCode) const;
  static bool is_uber_user(const std::string& adminCode, const std::string& password);
  bool is_valid_login(std::string& adminCode, const std::string& password, int* agencyPKey);
  int get_logged_in_pkey() const;
  void remember_login(int agencyPKey, const std::string& adminCode, const std::string& password);
  // The kept statement that reads an agency's row, prepared on its first use
  // and kept for the handle's life (the database prepares it again when the
  // schema moves); null when it cannot be prepared.
  TSQLQuery* row_query() const;
  // The code and stored password the agency's row holds; false when it
  // cannot be read or is gone. A read that fails lets the kept statement go,
  // so that the next read prepares it afresh.
  bool read_row_form(int agencyPKey, TAgencyForm& form) const;
  // Whether the row at that PKey holds a form that confirms the login.
  bool row_confirms(int agencyPKey, const TAgencyLogin& login) const;
  // Where a login whose row is not at its PKey after a rollback goes back
  // to: the latest of its earlier PKeys (its index in the list) whose row
  // confirms it and that no standing login holds; false when there is none.
  bool earlier_row(const TAgencyLogin& login, const std::map<int, TAgencyLogin>& standing, size_t& at) const;

  TSQLDB* FSQLDB;
  TSQLQuery* FLoginQry = nullptr;
  mutable TSQLQuery* FRowQry = nullptr;
  TEngineErrorsPump* FEngineErrorsPump;
  std::vector<std::string> FLogins;
  std::map<int, TAgencyLogin> FAgencyLogins;
  // Whether the super user is logged in, by its own login or by an import:
  // its rights come from that alone, never from an agency whose stored code
  // reads the same.
  bool FSuperUser = false;
};
