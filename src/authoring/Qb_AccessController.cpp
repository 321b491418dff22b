// The login register of one open metafile.
#include "authoring/Qb_AccessController.h"

#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "storage/EngineErrorsPump.h"
#include "storage/SQLQuery.h"
#include "storage/Utility.h"

namespace {

const char* const kBlanks = " \t";
const char* const kNoAgency = "NONE";
const char* const kSuperUserCode = "warden";
const unsigned kKeyLength = 10;
const char* const kAgencyRowSelect = "SELECT AdminCode, Password FROM RL_Agencies WHERE PKey = ?;";

// The key and the super user's password are computed rather than stored, so
// that neither stands in the library as plain data.
void scrambling_key(uint32_t key[kKeyLength]) {
  uint32_t seed = 17;
  for (unsigned i = 0; i < kKeyLength; ++i) {
    seed = (seed * 29 + 7) % 97;
    key[i] = seed % 23 + 1;
  }
}

std::string super_user_password() {
  std::string password;
  for (int step : {23, 52, 9, 71, 66, 2}) password += static_cast<char>('0' + step);
  return password;
}

}  // namespace

TQb_AccessController::TQb_AccessController(TEngineErrorsPump* pump, TSQLDB* db)
    : FSQLDB(db), FEngineErrorsPump(pump) {}

TQb_AccessController::~TQb_AccessController() {
  delete FLoginQry;
  delete FRowQry;
}

int TQb_AccessController::Login(std::string adminCode, std::string password) {
  adminCode = trim(adminCode, kBlanks);
  password = trim(password, kBlanks);
  int agencyPKey = -1;
  if (adminCode.empty()) {
    FLogins.push_back(kNoAgency);
    FAgencyLogins[1] = {kNoAgency, {{kNoAgency, ""}}, {}};
    return 0;
  }
  // The super user and an agency whose code reads the same are two logins:
  // neither's standing in the list is the other's, and each logs in once.
  bool uber = is_uber_user(adminCode, password);
  bool listed = is_logged_in(adminCode);
  bool superUser = uber && !FSuperUser;
  bool again = listed && (adminCode != kSuperUserCode || uber || is_agency_logged_in(adminCode));
  if (superUser) {
    FLogins.push_back(adminCode);
    FSuperUser = true;
    return 0;
  }
  if (is_valid_login(adminCode, password, &agencyPKey)) {
    // A code logged in again keeps its one entry in the list, yet its right
    // password gives back a login that a deletion or a rollback took away.
    if (!again) FLogins.push_back(adminCode);
    remember_login(agencyPKey, adminCode, password);
    return 0;
  }
  // A code that stands in the list already (the super user's, beside which
  // an agency of that code failed) was only checked: no error, no "NONE".
  if (listed) return -1;
  FEngineErrorsPump->AddError("TQb_AccessController", "Login", "Agency code and/or password not valid");
  if (!is_logged_in(kNoAgency)) FLogins.push_back(kNoAgency);
  return -1;
}

// Another connection may have deleted the agency, changed its code or
// password, or made another agency at its PKey since it logged in: a right is
// given only by a login that the row, read now, still confirms.
bool TQb_AccessController::IsLoggedIn(int agencyPKey) const {
  return agencyPKey == 1 || FSuperUser || AgencyLoginStands(agencyPKey);
}

bool TQb_AccessController::AgencyLoginStands(int agencyPKey) const {
  auto login = FAgencyLogins.find(agencyPKey);
  return login != FAgencyLogins.end() && row_confirms(login->first, login->second);
}

int TQb_AccessController::GetLoginsCount(int* count) const {
  *count = static_cast<int>(FLogins.size());
  return 0;
}

int TQb_AccessController::GetLoginByIndex(int index, int* agencyPKey, char* buffer, int bufferLength) const {
  *agencyPKey = 0;
  if (index < 0 || static_cast<size_t>(index) >= FLogins.size()) {
    FEngineErrorsPump->AddError("TQb_AccessController", "GetLoginByIndex",
                                "Index [" + intToString(index) +
                                    "] out of range; must be less than total logins. Call Qb_GetLoginsCount first");
    return -1;
  }
  copy_to_buffer(FLogins[index], buffer, bufferLength);
  for (const auto& login : FAgencyLogins) {
    if (login.second.AdminCode != FLogins[index]) continue;
    *agencyPKey = login.first;
    break;
  }
  return 0;
}

int TQb_AccessController::GetLoggedInAgencyPKey(int agencyPKey, int* result) const {
  *result = IsLoggedIn(agencyPKey) ? agencyPKey : get_logged_in_pkey();
  return 0;
}

void TQb_AccessController::MungedPassword(const std::string& password, char* out, unsigned outLength) {
  std::string text = uppercase_string(password);
  uint32_t length = static_cast<uint32_t>(text.size());
  uint32_t key[kKeyLength];
  scrambling_key(key);
  uint32_t previous = 0;
  for (unsigned i = 0; i < outLength && i < kKeyLength; ++i) {
    key[i] = key[i] - length + previous;
    signed char c = i < length ? static_cast<signed char>(text[i]) : ' ';
    previous = static_cast<uint32_t>(c - 32);
    out[i] = static_cast<char>((static_cast<uint32_t>(c) + key[i]) & 0xFF);
  }
}

std::string TQb_AccessController::StoredPassword(const std::string& password) {
  char scrambled[kKeyLength + 1] = {};
  MungedPassword(password, scrambled, kKeyLength);
  return scrambled;
}

bool TQb_AccessController::IsStoredWhole(const std::string& password) {
  char scrambled[kKeyLength] = {};
  MungedPassword(password, scrambled, kKeyLength);
  for (char byte : scrambled)
    if (byte == '\0') return false;
  return true;
}

void TQb_AccessController::AddImportSuperUser(bool& wasLoggedIn) {
  wasLoggedIn = FSuperUser;
  if (!wasLoggedIn) FLogins.push_back(kSuperUserCode);
  FSuperUser = true;
}

void TQb_AccessController::RemoveImportSuperUser(bool wasLoggedIn) {
  if (wasLoggedIn) return;
  FSuperUser = false;
  for (auto login = FLogins.begin(); login != FLogins.end(); ++login) {
    if (*login != kSuperUserCode) continue;
    FLogins.erase(login);
    return;
  }
}

void TQb_AccessController::ForgetAgency(int agencyPKey) { FAgencyLogins.erase(agencyPKey); }

// The agency wrote it itself, through the library: a rollback that gives the
// row back what it held before, or leaves what was written, leaves the login.
// A login never stays at a PKey its row has left, where another row may come.
void TQb_AccessController::FollowAgencyWrite(int agencyPKey, int writtenPKey) {
  auto login = FAgencyLogins.find(agencyPKey);
  if (agencyPKey == 1 || login == FAgencyLogins.end()) return;
  if (writtenPKey != agencyPKey) {
    TAgencyLogin moved = std::move(login->second);
    FAgencyLogins.erase(login);
    if (writtenPKey == 1) return;
    moved.EarlierPKeys.push_back(agencyPKey);
    login = FAgencyLogins.insert_or_assign(writtenPKey, std::move(moved)).first;
  }
  TAgencyForm form;
  if (read_row_form(writtenPKey, form) && !login->second.Confirms(form)) login->second.Forms.push_back(form);
}

// A rollback may have taken an agency's row away, or given it back an older
// code or password under which another agency was logged in, or an older
// PKey. Agency 1 counts as logged in whatever its row holds; a login that
// cannot be confirmed, because no row can be read, is forgotten. Logins that
// stand where they are keep their PKeys before any other goes back to one.
void TQb_AccessController::FollowRollback() {
  bool readable = row_query() != nullptr;
  std::map<int, TAgencyLogin> standing, displaced;
  for (auto& login : FAgencyLogins) {
    bool stands = login.first == 1 || (readable && row_confirms(login.first, login.second));
    (stands ? standing : displaced).emplace(login.first, std::move(login.second));
  }
  for (auto& login : displaced) {
    size_t at = 0;
    if (!readable || !earlier_row(login.second, standing, at)) continue;
    std::vector<int>& earlier = login.second.EarlierPKeys;
    int pkey = earlier[at];
    earlier.resize(at);  // the PKeys it had before it was there
    standing.emplace(pkey, std::move(login.second));
  }
  FAgencyLogins = std::move(standing);
}

bool TQb_AccessController::row_confirms(int agencyPKey, const TAgencyLogin& login) const {
  TAgencyForm form;
  return read_row_form(agencyPKey, form) && login.Confirms(form);
}

bool TQb_AccessController::earlier_row(const TAgencyLogin& login, const std::map<int, TAgencyLogin>& standing,
                                       size_t& at) const {
  for (at = login.EarlierPKeys.size(); at-- > 0;) {
    int pkey = login.EarlierPKeys[at];
    if (standing.count(pkey) == 0 && row_confirms(pkey, login)) return true;
  }
  return false;
}

bool TQb_AccessController::TAgencyLogin::Confirms(const TAgencyForm& form) const {
  for (const TAgencyForm& known : Forms)
    if (known == form) return true;
  return false;
}

bool TQb_AccessController::is_logged_in(const std::string& adminCode) const {
  for (const std::string& login : FLogins)
    if (login == adminCode) return true;
  return false;
}

bool TQb_AccessController::is_agency_logged_in(const std::string& adminCode) const {
  for (const auto& login : FAgencyLogins)
    if (login.second.AdminCode == adminCode) return true;
  return false;
}

bool TQb_AccessController::is_uber_user(const std::string& adminCode, const std::string& password) {
  return adminCode == kSuperUserCode && password == super_user_password();
}

// An empty stored or scrambled password matches nothing: comparing them would
// let a crafted password into every agency that has none.
bool TQb_AccessController::is_valid_login(std::string& adminCode, const std::string& password, int* agencyPKey) {
  *agencyPKey = -1;
  if (adminCode.empty() || password.empty()) return false;
  std::string scrambled = StoredPassword(password);
  if (scrambled.empty()) return false;
  try {
    if (FLoginQry == nullptr) {
      FLoginQry = new TSQLQuery(FSQLDB);
      FLoginQry->SetSQLText("SELECT PKey, Password, AdminCode FROM RL_Agencies WHERE AdminCode = ?;", true);
      FLoginQry->PrepareParameterizedQuery();
    }
    FLoginQry->BindTextParameter(1, adminCode.c_str());
    FLoginQry->OpenParameterizedQuery();
    std::string stored = FLoginQry->GetFieldByNumber(1);
    bool valid = !FLoginQry->Eof() && !stored.empty() && stored == scrambled;
    TRowKey key = FLoginQry->GetKeyFieldByNumber(0);
    // A key cut to an int would log the agency in at another agency's row.
    if (valid && !key.Usable) {
      FEngineErrorsPump->AddError("TQb_AccessController", "is_valid_login",
                                  "Agency \"" + FLoginQry->GetFieldByNumber(2) +
                                      "\" cannot log in: " + key.Refusal("RL_Agencies"));
      valid = false;
    }
    if (valid) {
      *agencyPKey = key.Value;
      adminCode = FLoginQry->GetFieldByNumber(2);
    }
    FLoginQry->ResetParameterizedQuery();
    return valid;
  } catch (const std::runtime_error& e) {
    // A statement that failed is prepared afresh by the next check.
    delete FLoginQry;
    FLoginQry = nullptr;
    FEngineErrorsPump->AddError("TQb_AccessController", "is_valid_login", e.what());
    return false;
  }
}

int TQb_AccessController::get_logged_in_pkey() const {
  for (const auto& login : FAgencyLogins)
    if (login.second.AdminCode != kNoAgency && row_confirms(login.first, login.second)) return login.first;
  return 1;
}

// After a check that succeeded, the row's stored password is the scrambled
// form of the password given. A login that stands, and that this form
// confirms already, keeps what confirms it; any other starts afresh, so that
// a row made again under the same PKey is never confirmed by the old one's.
void TQb_AccessController::remember_login(int agencyPKey, const std::string& adminCode,
                                          const std::string& password) {
  TAgencyForm form{adminCode, StoredPassword(password)};
  TAgencyLogin& login = FAgencyLogins[agencyPKey];
  login.AdminCode = adminCode;
  if (login.Confirms(form)) return;
  login.Forms = {form};
  login.EarlierPKeys.clear();
}

TSQLQuery* TQb_AccessController::row_query() const {
  if (FRowQry != nullptr) return FRowQry;
  FRowQry = new TSQLQuery(FSQLDB);
  try {
    FRowQry->SetSQLText(kAgencyRowSelect, true);
    FRowQry->PrepareParameterizedQuery();
  } catch (const std::exception&) {
    delete FRowQry;
    FRowQry = nullptr;
  }
  return FRowQry;
}

bool TQb_AccessController::read_row_form(int agencyPKey, TAgencyForm& form) const {
  TSQLQuery* query = row_query();
  if (query == nullptr) return false;
  try {
    query->BindIntParameter(1, agencyPKey);
    query->OpenParameterizedQuery();
    bool found = !query->Eof();
    if (found) form = {query->GetFieldByNumber(0), query->GetFieldByNumber(1)};
    query->ResetParameterizedQuery();
    return found;
  } catch (const std::exception&) {
    delete FRowQry;
    FRowQry = nullptr;
    return false;
  }
}
