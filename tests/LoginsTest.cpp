// Agency logins: scrambled passwords, the login list, the super user, the rights a login grants over
// the rows an agency owns, and passwords crafted to slip past the comparison.
#include "AuthoringTestSupport.h"
#include "authoring/Qb_AccessController.h"
#include "api/EditAPI.h"
#include "api/SMF.h"
#include "storage/SQLDB.h"
#include "storage/Utility.h"

namespace {

const char* const kFields =
    "INSERT INTO RL_Fields(PKey, AgencyPKey, FieldNumber, FieldName, LocalName) VALUES (1, 1, 1, 'F1', 'L1');";

class Logins : public MetafileTest {
 protected:
  Logins() : MetafileTest(kFields) {}
  void SetUp() override {
    ASSERT_EQ(2, insert_row(h(), "RL_Agencies", {{"AdminCode", "ABC"}, {"OrgName", "Agency ABC"}, {"Password", "secret"}}));
    ASSERT_EQ(3, insert_row(h(), "RL_Agencies", {{"AdminCode", "XYZ"}, {"OrgName", "Agency XYZ"}, {"Password", " Long password\t"}}));
    ASSERT_EQ(4, insert_row(h(), "RL_Agencies", {{"AdminCode", "NOPW"}, {"OrgName", "No password"}}));
    ASSERT_EQ(0, RawDB(path()).exec("INSERT INTO RL_Fields(PKey, AgencyPKey, FieldNumber, FieldName, LocalName)"
                                    " VALUES (2, 2, 2, 'F2', 'L2'), (3, 3, 3, 'F3', 'L3');"));
  }

  // Every login as "admin code|agency PKey".
  Rows logins() {
    Rows result;
    int count = out_int(Qb_GetLoginsCount, h());
    for (int i = 0; i < count; ++i) {
      char code[20] = "";
      int pkey = -1;
      EXPECT_EQ(0, Qb_GetLoginByIndex(h(), i, &pkey, code, sizeof code));
      result.push_back(std::string(code) + "|" + std::to_string(pkey));
    }
    return result;
  }
  // Which of the rows of RL_Fields 1 to 3 and RL_Agencies 1 and 2 may be edited, and field row 99 that does not exist.
  std::string rights() {
    std::string allowed;
    for (const auto& [table, pkey] : {std::pair{"RL_Fields", 1}, {"RL_Fields", 2}, {"RL_Fields", 3}, {"RL_Agencies", 1},
                                      {"RL_Agencies", 2}, {"RL_Fields", 99}}) {
      allowed += Qb_Edit(h(), table, pkey) == 0 ? "1" : "0";
      Qb_Cancel(h(), table);
    }
    return allowed;
  }
  // A message, an edit set and an edit of that PKey, owned by agency pkey.
  void give_rows(int pkey) {
    std::string key = std::to_string(pkey), owned = " VALUES (" + key + ", " + key + ", ";
    exec("INSERT INTO RL_Messages(PKey, AgencyPKey, MessageNumber, Message)" + owned + key + ", 'M" + key + "');"
         "INSERT INTO RL_EditSets(PKey, AgencyPKey, EditSetTag, EditSetName)" + owned + "'S" + key + "', 'S" + key + "');"
         "INSERT INTO RL_Edits(PKey, AgencyPKey, EditTag, EditName)" + owned + "'E" + key + "', 'E" + key + "');");
  }
  // Whether the logins may change the rows of give_rows: the message, the
  // edit set, and the edit set's members.
  std::string owned_rights(int pkey) {
    std::string allowed;
    for (const char* table : {"RL_Messages", "RL_EditSets"}) {
      allowed += Qb_Edit(h(), table, pkey) == 0 ? "1" : "0";
      Qb_Cancel(h(), table);
    }
    return allowed + (Qb_AddEditSetsPivot(h(), pkey, pkey) == 0 ? "1" : "0");
  }
  // An agency made and logged in between open and undo; after the undo
  // another takes its PKey and is given rows. The PKey both had.
  int replaced_after_undo(const std::function<int()>& open, const std::function<int()>& undo, const std::string& code) {
    EXPECT_EQ(0, open());
    int pkey = insert_row(h(), "RL_Agencies", {{"AdminCode", code.c_str()}, {"OrgName", code.c_str()}, {"Password", "tmppw"}});
    EXPECT_EQ(0, Qb_Login(h(), code.c_str(), "tmppw"));
    EXPECT_EQ(0, undo());
    std::string other = code + "-NEW";
    EXPECT_EQ(pkey, insert_row(h(), "RL_Agencies", {{"AdminCode", other.c_str()}, {"OrgName", other.c_str()}, {"Password", "new-only"}}));
    give_rows(pkey);
    return pkey;
  }
};

// A password whose scrambled form is empty: its first scrambled byte is zero.
std::string password_that_scrambles_to_nothing() {
  for (size_t length = 1; length < 400; ++length)
    for (char first = 'A'; first <= 'Z'; ++first) {
      std::string password = first + std::string(length - 1, 'A');
      if (TQb_AccessController::StoredPassword(password).empty()) return password;
    }
  return "";
}

const char* const kAccessRefused = "You do not have access rights to modify this object";
const char* const kCannotBeStored = "This password cannot be stored; choose another one";
const int kPasswordColumn = 4;
// Passwords whose ten scrambled bytes hold a zero, and others that share the
// bytes before it (06, and 63 7D) and the length.
const std::string kZeroSecondByte = "!!" + std::string(41, 'A');
const std::string kSameFirstByte = "!!" + std::string(41, 'Q');
const std::string kZeroThirdByte = "xA\xCE\x9Ey";
const std::string kSameFirstTwoBytes = "xA\xCE\x9Fz";

}  // namespace

TEST_F(Logins, AgenciesLogInWithTheirScrambledPasswords) {
  // Nobody logged in owns agency 1 only.
  EXPECT_EQ(0, out_int(Qb_GetLoginsCount, h()));
  EXPECT_EQ("100100", rights());
  refused(Qb_Edit(h(), "rl_fields", 2), {writer_error("Edit", "You do not have access rights to modify this object")});

  std::string stored = value("SELECT Password FROM RL_Agencies WHERE PKey = 2");
  EXPECT_EQ(10u, stored.size());
  EXPECT_NE("secret", stored);
  EXPECT_EQ(0, Qb_Login(h(), " abc\t", "SECRET "));
  EXPECT_EQ((Rows{"ABC|2"}), logins());
  EXPECT_EQ("110110", rights());
  EXPECT_EQ(0, Qb_Login(h(), "abc", "Secret"));  // found again: the list holds "ABC"
  EXPECT_EQ(Rows{"-1"}, outcome(h(), Qb_Login(h(), "ABC", "wrong")));  // only checked again, without an error
  EXPECT_EQ((Rows{"ABC|2", "ABC|2"}), logins());

  refused(Qb_Login(h(), "XYZ", "long passwordx"),
          {class_error("TQb_AccessController", "Login", "Agency code and/or password not valid")});
  EXPECT_EQ(0, Qb_Login(h(), "XYZ", "LONG PASSWORD"));  // blanks at the ends were dropped when it was set
  EXPECT_EQ((Rows{"ABC|2", "ABC|2", "NONE|0", "XYZ|3"}), logins());
  EXPECT_EQ("111110", rights());

  // Only the first ten characters and the length count.
  ASSERT_EQ(5, insert_row(h(), "RL_Agencies", {{"AdminCode", "TEN"}, {"OrgName", "Ten"}, {"Password", "abcdefghijkl"}}));
  EXPECT_EQ(0, Qb_Login(h(), "TEN", "ABCDEFGHIJxy"));
  EXPECT_EQ(-1, Qb_Login(h(), "ABC", "ABCDEFGHIJk"));
}

TEST_F(Logins, SuperUserActsForEveryAgency) {
  EXPECT_EQ(-1, Qb_Login(h(), "WARDEN", kSuperUserPassword));
  EXPECT_EQ(-1, Qb_Login(h(), kSuperUser, "gd9wr2"));
  EXPECT_EQ(0, Qb_Login(h(), kSuperUser, kSuperUserPassword));
  EXPECT_EQ((Rows{"NONE|0", "warden|0"}), logins());
  EXPECT_EQ("111111", rights());  // a row that does not exist has owner 0, which only the super user may act for
  EXPECT_EQ(Rows{"-1"}, outcome(h(), Qb_Login(h(), kSuperUser, kSuperUserPassword)));  // looked up as an agency
}

// An agency that anyone may insert with the super user's code logs in as
// itself: the super user's rights come from the super user's own login (or
// an open import) alone, and go with it.
TEST_F(Logins, AnAgencyWithTheSuperUsersCodeHasOnlyItsOwnRights) {
  ASSERT_EQ(5, insert_row(h(), "RL_Agencies", {{"AdminCode", kSuperUser}, {"OrgName", "Lookalike"}, {"Password", "mine"}}));
  ASSERT_EQ(0, Qb_Login(h(), kSuperUser, "mine"));
  EXPECT_EQ((Rows{"warden|5"}), logins());
  EXPECT_EQ("100100", rights());
  EXPECT_EQ(0, Qb_Edit(h(), "RL_Agencies", 5));
  EXPECT_EQ(0, Qb_Cancel(h(), "RL_Agencies"));

  std::string source = File.other("source.smf");
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), source.c_str()));
  EXPECT_EQ("111111", rights());
  ASSERT_EQ(0, Qb_CloseImportMetafile(h()));
  EXPECT_EQ("100100", rights());  // the import's super user has left
  EXPECT_EQ((Rows{"warden|5"}), logins());

  EXPECT_EQ(0, Qb_Login(h(), kSuperUser, kSuperUserPassword));  // the real one still logs in
  EXPECT_EQ((Rows{"warden|5", "warden|5"}), logins());
  EXPECT_EQ("111111", rights());

  // Logged in while an import's super user is there, the agency keeps its own
  // rights once the import is closed.
  OpenMetafile other;
  int smf = other.handle();
  ASSERT_EQ(2, insert_row(smf, "RL_Agencies", {{"AdminCode", "ABC"}, {"OrgName", "A"}, {"Password", "a"}}));
  ASSERT_EQ(3, insert_row(smf, "RL_Agencies", {{"AdminCode", kSuperUser}, {"OrgName", "Lookalike"}, {"Password", "mine"}}));
  ASSERT_EQ(0, Qb_OpenImportMetafile(smf, source.c_str()));
  EXPECT_EQ(0, Qb_Login(smf, kSuperUser, "mine"));
  ASSERT_EQ(0, Qb_CloseImportMetafile(smf));
  EXPECT_EQ(0, Qb_Edit(smf, "RL_Agencies", 3));
  EXPECT_EQ(-1, Qb_Edit(smf, "RL_Agencies", 2));
}

// Beside the super user, whether logged in by its password or by an open
// import, its code stands in the list: a login under it that fails is only a
// check, -1 without an error, and leaves the list as it was; the look-alike
// agency still logs in, and both entries then report it.
TEST_F(Logins, AFailedLoginUnderTheSuperUsersCodeIsOnlyACheck) {
  ASSERT_EQ(5, insert_row(h(), "RL_Agencies", {{"AdminCode", kSuperUser}, {"OrgName", "Lookalike"}, {"Password", "mine"}}));
  std::string source = File.other("source.smf");
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), source.c_str()));
  EXPECT_EQ(Rows{"-1"}, outcome(h(), Qb_Login(h(), kSuperUser, "wrong")));
  EXPECT_EQ((Rows{"warden|0"}), logins());
  ASSERT_EQ(0, Qb_CloseImportMetafile(h()));

  ASSERT_EQ(0, Qb_Login(h(), kSuperUser, kSuperUserPassword));
  EXPECT_EQ(Rows{"-1"}, outcome(h(), Qb_Login(h(), kSuperUser, "wrong")));
  EXPECT_EQ((Rows{"warden|0"}), logins());
  EXPECT_EQ(0, Qb_Login(h(), kSuperUser, "MINE"));
  EXPECT_EQ((Rows{"warden|5", "warden|5"}), logins());
  EXPECT_EQ(Rows{"-1"}, outcome(h(), Qb_Login(h(), kSuperUser, "wrong")));
  EXPECT_EQ(2, out_int(Qb_GetLoginsCount, h()));
}

// Failed logins leave the login NONE, and no password matches an agency without one.
TEST_F(Logins, FailedAndEmptyLoginsLeaveNone) {
  std::string crafted = password_that_scrambles_to_nothing();
  ASSERT_FALSE(crafted.empty());
  for (const char* code : {"NOPW", "NONE", "ABC", "nobody"}) {
    EXPECT_EQ(-1, Qb_Login(h(), code, crafted.c_str())) << code;
    EXPECT_EQ(-1, Qb_Login(h(), code, "")) << code;
  }
  EXPECT_EQ(-1, Qb_Login(h(), "ABC' OR '1'='1", "secret"));
  EXPECT_EQ(-1, Qb_Login(h(), "ABC'; DELETE FROM RL_Agencies; --", "secret"));
  EXPECT_EQ("4", value("SELECT count(*) FROM RL_Agencies"));
  EXPECT_EQ((Rows{"NONE|0"}), logins());
  EXPECT_EQ(0, Qb_Login(h(), " \t", "ignored"));
  EXPECT_EQ(0, Qb_Login(h(), "", ""));
  EXPECT_EQ((Rows{"NONE|1", "NONE|1", "NONE|1"}), logins());
}

TEST_F(Logins, LoginListBoundsAndPasswordsThatCouldNeverLogIn) {
  ASSERT_EQ(0, Qb_Login(h(), "ABC", "secret"));
  char code[8] = "unset";
  int pkey = -1;
  refused(Qb_GetLoginByIndex(h(), 1, &pkey, code, sizeof code),
          {class_error("TQb_AccessController", "GetLoginByIndex",
                       "Index [1] out of range; must be less than total logins. Call Qb_GetLoginsCount first")});
  EXPECT_EQ("0|unset", std::to_string(pkey) + "|" + code);
  EXPECT_EQ(-1, Qb_GetLoginByIndex(h(), -1, &pkey, code, sizeof code));
  EXPECT_EQ(0, Qb_GetLoginByIndex(h(), 0, &pkey, code, 2));
  EXPECT_EQ("ABset", std::string(code));
  EXPECT_EQ(-1, Qb_GetLoginByIndex(h(), 0, nullptr, code, 2));
  for (const std::string& password : {password_that_scrambles_to_nothing(), std::string(" \t ")})
    refused(edit_row(h(), "RL_Agencies", 2, {{"Password", password.c_str()}}),
            {writer_error("SetFieldByName", "This password cannot be stored; choose another one")});
  EXPECT_EQ(0, Qb_Login(h(), "ABC", "secret"));
}

// A login belongs to the agency row it was checked against: a rollback that
// takes the row away, or gives it back the code and password it had before,
// forgets the login, and the agency that takes the PKey next is logged in
// only by its own password.
TEST_F(Logins, ARollbackForgetsTheLoginsOfTheRowsItTakesAway) {
  int pkey = replaced_after_undo([this] { return Qb_BeginTrans(h()); }, [this] { return Qb_RollbackTrans(h()); }, "TMP");
  EXPECT_EQ(5, pkey);
  EXPECT_EQ((Rows{"TMP|0"}), logins());
  refused(Qb_Edit(h(), "RL_Messages", pkey), {writer_error("Edit", kAccessRefused)});
  EXPECT_EQ("000", owned_rights(pkey));
  ASSERT_EQ(0, Qb_Login(h(), "TMP-NEW", "new-only"));

  pkey = replaced_after_undo([this] { return Qb_SavePoint(h(), "sp"); },
                             [this] { return Qb_RollbackToSavePoint(h(), "sp") | Qb_ReleaseSavePoint(h(), "sp"); }, "SP");
  EXPECT_EQ(6, pkey);
  EXPECT_EQ((Rows{"TMP|0", "TMP-NEW|5", "SP|0"}), logins());
  EXPECT_EQ("000", owned_rights(pkey));

  // The same code at the same PKey is not the same agency: the original's
  // password was never given.
  ASSERT_EQ(0, Qb_Login(h(), "SP-NEW", "new-only"));
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, Qb_Delete(h(), "RL_Agencies", 6));
  ASSERT_EQ(6, insert_row(h(), "RL_Agencies", {{"AdminCode", "SP-NEW"}, {"OrgName", "Impostor"}, {"Password", "mine"}}));
  ASSERT_EQ(0, Qb_Login(h(), "SP-NEW", "mine"));
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  EXPECT_EQ("SP-NEW", value("SELECT AdminCode FROM RL_Agencies WHERE PKey = 6"));
  refused(Qb_Edit(h(), "RL_Agencies", 6), {writer_error("Edit", kAccessRefused)});
  EXPECT_EQ((Rows{"TMP|0", "TMP-NEW|5", "SP|0", "SP-NEW|0"}), logins());
  EXPECT_EQ("111", owned_rights(5));  // untouched by the rollback

  // Rows that cannot be read after a rollback confirm no login.
  ASSERT_EQ(0, Qb_Login(h(), "ABC", "secret"));
  exec("ALTER TABLE RL_Agencies RENAME TO Agencies");
  EXPECT_EQ(-1, Qb_RollbackTrans(h()));
  exec("ALTER TABLE Agencies RENAME TO RL_Agencies");
  EXPECT_EQ(-1, Qb_RollbackTrans(h()));
  EXPECT_EQ("100100", rights());
  EXPECT_EQ("000", owned_rights(5));
}

// A change that the library makes to the row of a logged-in agency is the
// agency's own: its new code or password, posted or written by an import,
// confirms its login after any later rollback that leaves the row, as what
// it was checked against does after a rollback of the change itself. A row
// deleted and made again is confirmed by neither.
TEST_F(Logins, AnAgencysOwnChangesKeepItsLogin) {
  give_rows(2);
  ASSERT_EQ(0, Qb_Login(h(), "ABC", "secret"));
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 2, {{"Password", "newsecret"}}));
  EXPECT_EQ("111", owned_rights(2));
  // A write that fails is undone: a second agency under the same code.
  EXPECT_EQ(-99, insert_row(h(), "RL_Agencies", {{"AdminCode", "ABC"}, {"OrgName", "Twin"}, {"Password", "twin"}}));
  ASSERT_EQ(0, Qb_Cancel(h(), "RL_Agencies"));
  EXPECT_EQ("111", owned_rights(2));
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  ASSERT_EQ(0, Qb_SavePoint(h(), "sp"));
  ASSERT_EQ(0, Qb_RollbackToSavePoint(h(), "sp"));
  ASSERT_EQ(0, Qb_ReleaseSavePoint(h(), "sp"));
  EXPECT_EQ("111", owned_rights(2));

  // The code and password changed and rolled back by the host; then the code
  // changed for good.
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 2, {{"AdminCode", "ABD"}, {"Password", "third"}}));
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  EXPECT_EQ("111", owned_rights(2));
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 2, {{"AdminCode", "ABD"}}));
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  EXPECT_EQ("111", owned_rights(2));

  // An import writes its password, and that of XYZ, which logs nobody in.
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), File.other("source.smf").c_str()));
  ASSERT_EQ(0, Qb_ImportWritePassword(h(), 2, TQb_AccessController::StoredPassword("imported").c_str()));
  ASSERT_EQ(0, Qb_ImportWritePassword(h(), 3, TQb_AccessController::StoredPassword("imported").c_str()));
  ASSERT_EQ(0, Qb_CloseImportMetafile(h()));
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  EXPECT_EQ("111", owned_rights(2));
  EXPECT_EQ("110110", rights());
  EXPECT_EQ((Rows{"ABC|2"}), logins());
  EXPECT_EQ(-1, Qb_Login(h(), "ABD", "newsecret"));
  EXPECT_EQ(0, Qb_Login(h(), "ABD", "imported"));
  EXPECT_EQ((Rows{"ABC|0", "NONE|0", "ABD|2"}), logins());
  // Logged in again under a password of its own making, which is rolled back.
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 2, {{"Password", "fourth"}}));
  ASSERT_EQ(0, Qb_Login(h(), "ABD", "fourth"));
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  EXPECT_EQ("111", owned_rights(2));

  // Deleted and made again with another password, by which the caller logs
  // in: the rollback gives back a row whose password nobody gave.
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, Qb_Delete(h(), "RL_Agencies", 2));
  ASSERT_EQ(2, insert_row(h(), "RL_Agencies", {{"PKey", "2"}, {"AdminCode", "ABD"}, {"OrgName", "Impostor"},
                                                {"Password", "imported2"}}));
  ASSERT_EQ(0, Qb_Login(h(), "ABD", "imported2"));
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  EXPECT_EQ("000", owned_rights(2));
  EXPECT_EQ("ABD", value("SELECT AdminCode FROM RL_Agencies WHERE PKey = 2"));

  // A login moves with its row to another PKey; a row given the old one
  // later is not logged in.
  ASSERT_EQ(5, insert_row(h(), "RL_Agencies", {{"AdminCode", "MOV"}, {"OrgName", "Moving"}, {"Password", "mpw"}}));
  ASSERT_EQ(0, Qb_Login(h(), "MOV", "mpw"));
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 5, {{"PKey", "9"}}));
  ASSERT_EQ(5, insert_row(h(), "RL_Agencies", {{"PKey", "5"}, {"AdminCode", "NEW"}, {"OrgName", "New"},
                                                {"Password", "npw"}}));
  EXPECT_EQ(-1, Qb_Edit(h(), "RL_Agencies", 5));
  EXPECT_EQ(0, Qb_Edit(h(), "RL_Agencies", 9));
}

// A login follows the PKey its row holds as the file stores it, never a
// reading of the text posted: "2e1" is stored as 20, and the login goes to 20,
// not to 2 where another agency sits. A rollback that brings the row back to
// a PKey it had while logged in brings the login back with it.
TEST_F(Logins, ALoginFollowsThePKeyItsRowHoldsAndComesBackWithIt) {
  give_rows(2);
  ASSERT_EQ(5, insert_row(h(), "RL_Agencies", {{"AdminCode", "ATT"}, {"OrgName", "Attacker"}, {"Password", "attpw"}}));
  ASSERT_EQ(0, Qb_Login(h(), "ATT", "attpw"));
  auto att = [this] { return value("SELECT PKey FROM RL_Agencies WHERE AdminCode = 'ATT'"); };
  auto may_edit_agency = [this](int pkey) {
    int result = Qb_Edit(h(), "RL_Agencies", pkey);
    Qb_Cancel(h(), "RL_Agencies");
    return result == 0;
  };

  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 5, {{"PKey", "2e1"}}));
  EXPECT_EQ("20", att());
  EXPECT_EQ((Rows{"ATT|20"}), logins());
  EXPECT_EQ("000", owned_rights(2));
  EXPECT_FALSE(may_edit_agency(2));
  EXPECT_TRUE(may_edit_agency(20));

  // Moved and undone by the host, by a transaction and by a savepoint, and
  // twice with the later move undone first.
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 20, {{"PKey", "60e-1"}}));
  EXPECT_EQ((Rows{"ATT|6"}), logins());
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  EXPECT_EQ((Rows{"ATT|20"}), logins());
  ASSERT_EQ(0, Qb_SavePoint(h(), "sp"));
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 20, {{"PKey", "40"}}));
  ASSERT_EQ(0, Qb_RollbackToSavePoint(h(), "sp"));
  ASSERT_EQ(0, Qb_ReleaseSavePoint(h(), "sp"));
  EXPECT_EQ((Rows{"ATT|20"}), logins());
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 20, {{"PKey", "40"}}));
  ASSERT_EQ(0, Qb_SavePoint(h(), "sp"));
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 40, {{"PKey", "41"}}));
  ASSERT_EQ(0, Qb_RollbackToSavePoint(h(), "sp"));
  EXPECT_EQ((Rows{"ATT|40"}), logins());
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  EXPECT_EQ((Rows{"ATT|20"}), logins());
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 20, {{"PKey", "10"}}));
  ASSERT_EQ(0, Qb_SavePoint(h(), "sp"));
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 10, {{"PKey", "20"}}));
  ASSERT_EQ(0, Qb_RollbackToSavePoint(h(), "sp"));
  EXPECT_EQ((Rows{"ATT|10"}), logins());
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  EXPECT_EQ((Rows{"ATT|20"}), logins());
  EXPECT_TRUE(may_edit_agency(20));
  EXPECT_EQ("000", owned_rights(2));

  // A key the exports could not use is refused, and nothing moves.
  refused(edit_row(h(), "RL_Agencies", 20, {{"PKey", "4294967298"}}),
          {writer_error("post_edit", "PKey \"4294967298\" of table \"RL_Agencies\" is not a whole number from "
                                     "-2147483648 to 2147483647; the row is not posted")});
  EXPECT_EQ("20", att());
  EXPECT_EQ((Rows{"ATT|20"}), logins());
  // So does a move that another connection's read lock keeps from being written.
  {
    RawDB reader(path());
    ASSERT_EQ(SQLITE_OK, reader.exec("BEGIN"));
    reader.value("SELECT count(*) FROM RL_Control");
    EXPECT_EQ(-1, edit_row(h(), "RL_Agencies", 20, {{"PKey", "21"}}));
  }
  EXPECT_EQ("20", att());
  EXPECT_EQ((Rows{"ATT|20"}), logins());
  ASSERT_EQ(0, Qb_BeginTrans(h()));  // the failed write left no transaction open
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  EXPECT_EQ((Rows{"ATT|20"}), logins());
  // So does a move the database refuses: onto the PKey of another agency.
  EXPECT_EQ(-1, edit_row(h(), "RL_Agencies", 20, {{"PKey", "2.0"}, {"AdminCode", "ATT2"}}));
  EXPECT_EQ("20", att());
  EXPECT_EQ((Rows{"ATT|20"}), logins());
  EXPECT_FALSE(may_edit_agency(2));

  // A move that is kept leaves no login behind, nor does a later rollback
  // give one to the row made at the old PKey.
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 20, {{"PKey", "30"}}));
  ASSERT_EQ(20, insert_row(h(), "RL_Agencies", {{"PKey", "20"}, {"AdminCode", "NEW"}, {"OrgName", "New"},
                                                 {"Password", "attpw"}}));
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  EXPECT_FALSE(may_edit_agency(20));
  EXPECT_TRUE(may_edit_agency(30));
  // Nor after a deletion and its rollback.
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, Qb_Delete(h(), "RL_Agencies", 30));
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  EXPECT_EQ((Rows{"ATT|0"}), logins());
  EXPECT_FALSE(may_edit_agency(30));
}

// Metafiles are shared: another handle may delete an agency and make another
// at its PKey, or change its code, password or PKey, between this handle's
// calls. A login gives rights only while the row at its PKey, read when the
// right is tested, confirms it; the right password logs the agency in again.
TEST_F(Logins, RightsFollowTheAgencyRowWhoeverChangedIt) {
  ASSERT_EQ(5, insert_row(h(), "RL_Agencies", {{"AdminCode", "ATT"}, {"OrgName", "Attacker"}, {"Password", "attpw"}}));
  give_rows(5);
  ASSERT_EQ(0, Qb_Login(h(), "ATT", "attpw"));
  auto may_edit_agency = [this](int pkey) {
    int result = Qb_Edit(h(), "RL_Agencies", pkey);
    Qb_Cancel(h(), "RL_Agencies");
    return result == 0 ? "1" : "0";
  };
  auto owned_by = [this](int agency) {
    exec("UPDATE RL_Messages SET AgencyPKey = " + std::to_string(agency) + " WHERE PKey = 5;"
         "UPDATE RL_EditSets SET AgencyPKey = " + std::to_string(agency) + " WHERE PKey = 5;");
  };
  EXPECT_EQ("1111", owned_rights(5) + may_edit_agency(5));
  OtherHandle admin(path());

  // Revoked, and a new agency made at its PKey, owning the same rows.
  ASSERT_EQ(0, Qb_Delete(admin.handle(), "RL_Agencies", 5));
  ASSERT_EQ(5, insert_row(admin.handle(), "RL_Agencies", {{"AdminCode", "NEWV"}, {"OrgName", "New"}, {"Password", "newvpw"}}));
  owned_by(5);
  EXPECT_EQ("0000", owned_rights(5) + may_edit_agency(5));
  EXPECT_EQ(-1, Qb_Edit(h(), "RL_Agencies", 5));
  EXPECT_EQ(Rows{"-1"}, outcome(h(), Qb_Login(h(), "ATT", "attpw")));
  EXPECT_EQ("0000", owned_rights(5) + may_edit_agency(5));
  EXPECT_EQ(0, Qb_Login(admin.handle(), "NEWV", "newvpw"));
  EXPECT_EQ(0, Qb_Login(h(), "NEWV", "newvpw"));
  EXPECT_EQ("1111", owned_rights(5) + may_edit_agency(5));

  // Its password, then its code, changed by the other handle.
  ASSERT_EQ(0, edit_row(admin.handle(), "RL_Agencies", 5, {{"Password", "reset"}}));
  EXPECT_EQ("0000", owned_rights(5) + may_edit_agency(5));
  EXPECT_EQ(0, Qb_Login(h(), "NEWV", "reset"));
  EXPECT_EQ("1111", owned_rights(5) + may_edit_agency(5));
  ASSERT_EQ(0, edit_row(admin.handle(), "RL_Agencies", 5, {{"AdminCode", "NEWW"}}));
  EXPECT_EQ("0000", owned_rights(5) + may_edit_agency(5));
  EXPECT_EQ(0, Qb_Login(h(), "NEWW", "reset"));
  EXPECT_EQ("1111", owned_rights(5) + may_edit_agency(5));

  // Its PKey moved: no rights stay at the old one, none come at the new one,
  // and another agency moved onto the old one gets none of them.
  exec("UPDATE RL_Agencies SET PKey = 9 WHERE PKey = 5;");
  owned_by(9);
  EXPECT_EQ("00000", owned_rights(9) + may_edit_agency(9) + may_edit_agency(5));
  exec("UPDATE RL_Agencies SET PKey = 5 WHERE PKey = 2;");
  owned_by(5);
  EXPECT_EQ("0000", owned_rights(5) + may_edit_agency(5));
  // Back where it was, the row confirms the login again.
  exec("UPDATE RL_Agencies SET PKey = 2 WHERE PKey = 5; UPDATE RL_Agencies SET PKey = 5 WHERE PKey = 9;");
  EXPECT_EQ("1111", owned_rights(5) + may_edit_agency(5));
}

// What a write of the library confirms a login by is read inside that write,
// and only for a login that stood before it: neither a row another connection
// makes the moment the agency's own post commits, nor a super user's write of
// a row made at the PKey of a login that no longer stands, lends that login
// the other agency's rights.
TEST_F(Logins, OnlyTheLibrarysOwnWritesOfAStandingLoginsRowConfirmIt) {
  ASSERT_EQ(5, insert_row(h(), "RL_Agencies", {{"AdminCode", "ATT"}, {"OrgName", "Attacker"}, {"Password", "attpw"}}));
  ASSERT_EQ(0, Qb_Login(h(), "ATT", "attpw"));
  auto may_edit_agency = [this](int pkey) {
    int result = Qb_Edit(h(), "RL_Agencies", pkey);
    Qb_Cancel(h(), "RL_Agencies");
    return result == 0;
  };
  const std::string newv = "DELETE FROM RL_Agencies WHERE PKey = 5; INSERT INTO RL_Agencies(PKey, AdminCode, OrgName, "
                           "Password) VALUES (5, 'NEWV', 'New', '" + quote_sql_value(TQb_AccessController::StoredPassword("newvpw")) + "');";
  // Another connection re-makes the row as soon as the agency's own post has
  // committed (in WAL mode the hook runs once the write lock is let go).
  exec("PRAGMA journal_mode = WAL;");
  struct TSwap {
    std::string Path, SQL;
    bool Done = false;
  } swap{path(), newv};
  sqlite3* db = InitCheck(h())->GetSQLDB()->Database();
  sqlite3_wal_hook(db, [](void* owner, sqlite3*, const char*, int) {
    auto* swap = static_cast<TSwap*>(owner);
    if (!swap->Done) swap->Done = RawDB(swap->Path).exec(swap->SQL) == SQLITE_OK;
    return SQLITE_OK;
  }, &swap);
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 5, {{"AdminCode", "ATTX"}}));
  sqlite3_wal_hook(db, nullptr, nullptr);
  ASSERT_TRUE(swap.Done);
  EXPECT_EQ("NEWV", value("SELECT AdminCode FROM RL_Agencies WHERE PKey = 5"));
  EXPECT_FALSE(may_edit_agency(5));

  // The super user of an import then writes the code and password of the
  // agency at the PKey of ATT's login, which no longer stands.
  std::string source = File.other("source.smf");
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), source.c_str()));
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 5, {{"AdminCode", "NEWV"}}));
  ASSERT_EQ(0, Qb_ImportWritePassword(h(), 5, value("SELECT Password FROM RL_Agencies WHERE PKey = 5").c_str()));
  ASSERT_EQ(0, Qb_CloseImportMetafile(h()));
  EXPECT_FALSE(may_edit_agency(5));
}

// A row in edit mode is written only under rights that hold for it as the
// file holds it when the post runs: another connection may have made another
// agency's row at its PKey since it entered edit mode.
TEST_F(Logins, APostWritesOnlyUnderRightsTheStoredRowGives) {
  exec("INSERT INTO RL_Messages(PKey, AgencyPKey, MessageNumber, Message) VALUES (5, 1, 5, 'anyone''s');");
  ASSERT_EQ(0, Qb_Login(h(), "XYZ", "long password"));
  ASSERT_EQ(0, Qb_Edit(h(), "RL_Messages", 5));
  ASSERT_EQ(0, Qb_SetFieldByName(h(), "RL_Messages", "Message", "mine"));
  exec("DELETE FROM RL_Messages WHERE PKey = 5;"
       "INSERT INTO RL_Messages(PKey, AgencyPKey, MessageNumber, Message) VALUES (5, 2, 6, 'ABC''s');");
  int pkey = 0;
  refused(Qb_Post(h(), "RL_Messages", &pkey),
          {writer_error("post_edit", "You do not have access rights to modify this object")});
  EXPECT_EQ("2|6|ABC's", value("SELECT AgencyPKey || '|' || MessageNumber || '|' || Message FROM RL_Messages WHERE PKey = 5"));
  ASSERT_EQ(0, Qb_BeginTrans(h()));  // nothing left open
  ASSERT_EQ(0, Qb_RollbackTrans(h()));

  // The same row, still anyone's, takes the post.
  exec("UPDATE RL_Messages SET AgencyPKey = 1 WHERE PKey = 5;");
  ASSERT_EQ(0, edit_row(h(), "RL_Messages", 5, {{"Message", "mine"}}));
  EXPECT_EQ("mine", value("SELECT Message FROM RL_Messages WHERE PKey = 5"));
}

// A row in edit mode that is no longer in the file, whoever deleted it, takes
// nothing: the post writes nothing and answers 0, with the edited key.
TEST_F(Logins, APostOfARowThatIsGoneWritesNothing) {
  give_rows(3);
  ASSERT_EQ(0, Qb_Login(h(), "XYZ", "long password"));
  int pkey = 0;
  for (const char* table : {"RL_Messages", "RL_EditSets", "RL_Agencies"}) {
    ASSERT_EQ(0, Qb_Edit(h(), table, 3)) << table;
    ASSERT_EQ(0, Qb_SetFieldByName(h(), table, "PKey", "30")) << table;
    if (std::string(table) == "RL_EditSets")
      ASSERT_EQ(0, Qb_Delete(h(), table, 3));  // on this handle
    else
      exec(std::string("DELETE FROM ") + table + " WHERE PKey = 3;");  // by another connection
    EXPECT_EQ((Rows{"0"}), outcome(h(), Qb_Post(h(), table, &pkey))) << table;
    EXPECT_EQ(3, pkey) << table;
    EXPECT_EQ("0", value(std::string("SELECT count(*) FROM ") + table + " WHERE PKey IN (3, 30)")) << table;
  }
  ASSERT_EQ(0, Qb_BeginTrans(h()));  // nothing left open
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
}

// The super user may write any row, yet a field deleted by another connection
// with its layout row left behind takes nothing either: no new length takes
// the layout row away. The same for the field's own agency.
TEST_F(Logins, ANewLengthPostedToAFieldThatIsGoneKeepsItsLayoutRow) {
  exec("INSERT INTO RL_Layouts(PKey, AgencyPKey, LayoutTag, LayoutName) VALUES (1, 1, 'LA', 'A');"
       "INSERT INTO RL_LayoutFieldsPivot(LayoutPKey, FieldPKey, StartPos) VALUES (1, 2, 1), (1, 3, 5);");
  std::string source = File.other("source.smf");
  const std::pair<int, std::function<int()>> posters[] = {
      {2, [&] { return Qb_OpenImportMetafile(h(), source.c_str()); }},
      {3, [&] { return Qb_CloseImportMetafile(h()) == 0 ? Qb_Login(h(), "XYZ", "long password") : -1; }}};
  for (const auto& [field, login] : posters) {
    ASSERT_EQ(0, login()) << field;
    ASSERT_EQ(0, Qb_Edit(h(), "RL_Fields", field)) << field;
    ASSERT_EQ(0, Qb_SetFieldByName(h(), "RL_Fields", "FieldLength", "9")) << field;
    exec("PRAGMA foreign_keys = OFF; DELETE FROM RL_Fields WHERE PKey = " + std::to_string(field) + ";");
    Rows before = snapshot(path());
    int pkey = 0;
    EXPECT_EQ((Rows{"0"}), outcome(h(), Qb_Post(h(), "RL_Fields", &pkey))) << field;
    EXPECT_EQ(field, pkey);
    EXPECT_TRUE(before == snapshot(path())) << field;
  }
  EXPECT_EQ((Rows{"1|2|1", "1|3|5"}), rows("SELECT LayoutPKey, FieldPKey, StartPos FROM RL_LayoutFieldsPivot"));
}

// A layout row whose layout another connection deleted is still there, owned
// by nobody: an agency's post of it is refused, the super user's writes it.
TEST_F(Logins, ARowWhoseOwnerIsGoneIsPostedByTheSuperUserAlone) {
  exec("INSERT INTO RL_Layouts(PKey, AgencyPKey, LayoutTag, LayoutName) VALUES (1, 3, 'LA', 'A');"
       "INSERT INTO RL_LayoutFieldsPivot(PKey, LayoutPKey, FieldPKey, StartPos) VALUES (1, 1, 3, 5);");
  ASSERT_EQ(0, Qb_Login(h(), "XYZ", "long password"));
  ASSERT_EQ(0, Qb_Edit(h(), "RL_LayoutFieldsPivot", 1));
  ASSERT_EQ(0, Qb_SetFieldByName(h(), "RL_LayoutFieldsPivot", "StartPos", "7"));
  exec("PRAGMA foreign_keys = OFF; DELETE FROM RL_Layouts WHERE PKey = 1;");
  int pkey = 0;
  refused(Qb_Post(h(), "RL_LayoutFieldsPivot", &pkey), {writer_error("post_edit", kAccessRefused)});
  ASSERT_EQ(0, Qb_Login(h(), kSuperUser, kSuperUserPassword));
  EXPECT_EQ(0, edit_row(h(), "RL_LayoutFieldsPivot", 1, {{"StartPos", "8"}}));
  EXPECT_EQ((Rows{"1|1|3|8"}), rows("SELECT PKey, LayoutPKey, FieldPKey, StartPos FROM RL_LayoutFieldsPivot"));
}

// A PKey cut to an int would stand for another agency's: such an agency
// cannot log in, and a row it owns belongs to nobody the logins stand for.
TEST_F(Logins, AKeyBeyondAnIntIsNeverCutToAnotherAgencys) {
  give_rows(2);
  exec("UPDATE RL_Agencies SET PKey = 4294967298 WHERE PKey = 3;"
       "UPDATE RL_Fields SET AgencyPKey = 4294967298 WHERE PKey = 3;"
       "UPDATE RL_Fields SET AgencyPKey = 2.5 WHERE PKey = 1;");
  refused(Qb_Login(h(), "XYZ", "Long password"),
          {class_error("TQb_AccessController", "is_valid_login",
                       "Agency \"XYZ\" cannot log in: PKey \"4294967298\" of table \"RL_Agencies\" is not a whole "
                       "number from -2147483648 to 2147483647"),
           class_error("TQb_AccessController", "Login", "Agency code and/or password not valid")});
  EXPECT_EQ("000", owned_rights(2));
  ASSERT_EQ(0, Qb_Login(h(), "ABC", "secret"));
  EXPECT_EQ("010110", rights());
  // Such an owner, or a row that does not exist, is no agency's: not even
  // one logged in at PKey 0.
  ASSERT_EQ(0, insert_row(h(), "RL_Agencies", {{"PKey", "0"}, {"AdminCode", "ZERO"}, {"OrgName", "Zero"},
                                                {"Password", "zpw"}}));
  ASSERT_EQ(0, Qb_Login(h(), "ZERO", "zpw"));
  EXPECT_EQ("010110", rights());
}

// A row put into edit mode under rights that a rollback takes away leaves
// edit mode: nothing can be posted to it under rights its stored row no
// longer gives. Rights that stand keep the row.
TEST_F(Logins, ARowLeavesEditModeWhenARollbackTakesItsRightsAway) {
  give_rows(2);
  const std::string notEditing = "Table named \"RL_Messages\" is NOT in insert or edit mode; cannot modify data";
  // Its owner deleted for a moment, the message was agency 1's.
  ASSERT_EQ(0, Qb_SavePoint(h(), "sp"));
  ASSERT_EQ(0, Qb_Delete(h(), "RL_Agencies", 2));
  ASSERT_EQ(0, Qb_Edit(h(), "RL_Messages", 2));
  ASSERT_EQ(0, Qb_RollbackToSavePoint(h(), "sp"));
  ASSERT_EQ(0, Qb_ReleaseSavePoint(h(), "sp"));
  refused(Qb_SetFieldByName(h(), "RL_Messages", "Message", "mine"), {writer_error("SetFieldByName", notEditing)});

  // An agency moved onto the PKey of one it deleted for a moment.
  ASSERT_EQ(5, insert_row(h(), "RL_Agencies", {{"AdminCode", "ATT"}, {"OrgName", "Attacker"}, {"Password", "attpw"}}));
  ASSERT_EQ(0, Qb_Login(h(), "ATT", "attpw"));
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, Qb_Delete(h(), "RL_Agencies", 2));
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 5, {{"PKey", "2"}}));
  ASSERT_EQ(0, Qb_Edit(h(), "RL_Agencies", 2));
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  EXPECT_EQ((Rows{"ATT|5"}), logins());
  int pkey = 0;
  refused(Qb_Post(h(), "RL_Agencies", &pkey),
          {writer_error("Post", "Table named \"RL_Agencies\" is NOT in insert or edit mode; cannot post")});

  ASSERT_EQ(0, Qb_Login(h(), "ABC", "secret"));
  ASSERT_EQ(0, Qb_Edit(h(), "RL_Messages", 2));
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  ASSERT_EQ(0, Qb_SetFieldByName(h(), "RL_Messages", "Message", "kept"));
  ASSERT_EQ(0, Qb_Post(h(), "RL_Messages", &pkey));
  EXPECT_EQ("kept", value("SELECT Message FROM RL_Messages WHERE PKey = 2"));
}

// Stored cut at its first zero byte, such a password would let in every
// password that shares the bytes before the zero and the length. Stored forms
// that a file already holds log in as they always did.
TEST_F(Logins, APasswordThatCannotBeStoredWholeIsRefused) {
  ASSERT_EQ(0, Qb_Login(h(), "ABC", "secret"));
  std::string before = value("SELECT Password FROM RL_Agencies WHERE PKey = 2");
  ASSERT_EQ(0, Qb_Edit(h(), "RL_Agencies", 2));
  for (const std::string& password : {kZeroSecondByte, kZeroThirdByte})
    refused(Qb_SetFieldByNumber(h(), "RL_Agencies", kPasswordColumn, password.c_str()),
            {writer_error("SetFieldByNumber", kCannotBeStored)});
  ASSERT_EQ(0, edit_row(h(), "RL_Agencies", 2, {{"Comments", "kept"}}));
  EXPECT_EQ(before, value("SELECT Password FROM RL_Agencies WHERE PKey = 2"));

  ASSERT_EQ(0, Qb_Insert(h(), "RL_Agencies"));
  ASSERT_EQ(0, set_values(h(), "RL_Agencies", {{"AdminCode", "CUT"}, {"OrgName", "Cut"}}));
  for (const std::string& password : {kZeroSecondByte, kZeroThirdByte})
    refused(Qb_SetFieldByName(h(), "RL_Agencies", "password", password.c_str()),
            {writer_error("SetFieldByName", kCannotBeStored)});
  int pkey = 0;
  ASSERT_EQ(0, Qb_Post(h(), "RL_Agencies", &pkey));
  EXPECT_EQ("5|<null>", rows("SELECT PKey, Password FROM RL_Agencies WHERE AdminCode = 'CUT'")[0]);

  exec("UPDATE RL_Agencies SET Password = char(6) WHERE PKey = 3");
  ASSERT_EQ(0, Qb_OpenImportMetafile(h(), File.other("source.smf").c_str()));
  ASSERT_EQ(0, Qb_ImportWritePassword(h(), 5, "\x63\x7D"));
  ASSERT_EQ(0, Qb_CloseImportMetafile(h()));
  EXPECT_EQ(0, Qb_Login(h(), "XYZ", kSameFirstByte.c_str()));
  EXPECT_EQ(0, Qb_Login(h(), "CUT", kSameFirstTwoBytes.c_str()));
  EXPECT_EQ(0, Qb_Login(h(), "CUT", kZeroThirdByte.c_str()));
  EXPECT_EQ((Rows{"ABC|2", "XYZ|3", "CUT|5"}), logins());
}

// A 0 from a login with the right password means the agency is logged in,
// also when its code stands in the list from a login that a deletion took
// away; a wrong one stays a quiet check.
TEST_F(Logins, TheRightPasswordLogsInAgainAnAgencyWhoseLoginWasForgotten) {
  ASSERT_EQ(0, Qb_Login(h(), "ABC", "secret"));
  ASSERT_EQ(0, Qb_BeginTrans(h()));
  ASSERT_EQ(0, Qb_Delete(h(), "RL_Agencies", 2));
  ASSERT_EQ(0, Qb_RollbackTrans(h()));
  EXPECT_EQ((Rows{"ABC|0"}), logins());
  EXPECT_EQ("100100", rights());
  EXPECT_EQ(Rows{"-1"}, outcome(h(), Qb_Login(h(), "ABC", "wrong")));
  EXPECT_EQ("100100", rights());
  EXPECT_EQ(Rows{"0"}, outcome(h(), Qb_Login(h(), "ABC", "secret")));
  EXPECT_EQ((Rows{"ABC|2"}), logins());
  EXPECT_EQ("110110", rights());

  // Deleted and made again under the same code, at another PKey.
  ASSERT_EQ(0, Qb_Delete(h(), "RL_Agencies", 2));
  ASSERT_EQ(5, insert_row(h(), "RL_Agencies", {{"AdminCode", "ABC"}, {"OrgName", "Again"}, {"Password", "fresh"}}));
  EXPECT_EQ(Rows{"-1"}, outcome(h(), Qb_Login(h(), "ABC", "secret")));
  EXPECT_EQ(-1, Qb_Edit(h(), "RL_Agencies", 5));
  EXPECT_EQ(Rows{"0"}, outcome(h(), Qb_Login(h(), "ABC", "fresh")));
  EXPECT_EQ((Rows{"ABC|5"}), logins());
  EXPECT_EQ(0, Qb_Edit(h(), "RL_Agencies", 5));
}

// The agency that stamping records as a row's owner: the one asked for while
// the logins may act for it, else the lowest agency logged in with a password.
TEST_F(Logins, TheAgencyToStampFollowsTheLogins) {
  TSQLDB db;
  ASSERT_TRUE(db.OpenDatabase(path().c_str()));
  TEngineErrorsPump pump;
  TQb_AccessController access(&pump, &db);
  auto stamped = [&access] {
    std::string answers;
    for (int asked : {1, 2, 3, 5}) {
      int result = -1;
      EXPECT_EQ(0, access.GetLoggedInAgencyPKey(asked, &result));
      answers += std::to_string(result);
    }
    return answers;
  };
  EXPECT_EQ("1111", stamped());
  ASSERT_EQ(0, access.Login("", ""));
  EXPECT_EQ("1111", stamped());
  ASSERT_EQ(0, access.Login("XYZ", "long password"));
  EXPECT_EQ("1333", stamped());
  ASSERT_EQ(0, access.Login("ABC", "secret"));
  EXPECT_EQ("1232", stamped());
  // Another connection takes agency 2's row away: its login stamps nothing.
  RawDB other(path());
  ASSERT_EQ(SQLITE_OK, other.exec("UPDATE RL_Agencies SET PKey = 7 WHERE PKey = 2"));
  EXPECT_EQ("1333", stamped());
  ASSERT_EQ(SQLITE_OK, other.exec("UPDATE RL_Agencies SET PKey = 2 WHERE PKey = 7"));
  EXPECT_EQ("1232", stamped());
  ASSERT_EQ(0, access.Login(kSuperUser, kSuperUserPassword));
  EXPECT_EQ("1235", stamped());
  // An agency whose code reads as the super user's stamps as itself.
  ASSERT_EQ(SQLITE_OK, RawDB(path()).exec("UPDATE RL_Agencies SET AdminCode = 'warden' WHERE PKey = 3"));
  TQb_AccessController lookalike(&pump, &db);
  ASSERT_EQ(0, lookalike.Login(kSuperUser, "long password"));
  int result = -1;
  EXPECT_EQ(0, lookalike.GetLoggedInAgencyPKey(5, &result));
  EXPECT_EQ(3, result);
  EXPECT_EQ("", pump_errors(pump));
}
