// The handle table, the engine-error readers, the version texts, opening and
// upgrading metafiles, and the null-pointer guard of the exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>

#include "ApiTestSupport.h"

namespace {

int open_handle(const std::string& path, char* message = nullptr, int length = 0, int* compare = nullptr) {
  int smf = 99, ignored = 0;
  Edit_Initialize(&smf, path.c_str(), message, length, compare != nullptr ? compare : &ignored);
  return smf;
}

// Makes a directory the current one for as long as it lives.
class InDirectory {
 public:
  explicit InDirectory(const std::string& dir) : Previous(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~InDirectory() { std::filesystem::current_path(Previous); }
  InDirectory(const InDirectory&) = delete;
  InDirectory& operator=(const InDirectory&) = delete;

 private:
  std::filesystem::path Previous;
};

}  // namespace

TEST(EditAPI, HandlesTakeTheLowestFreeSlot) {
  Shutdown();  // the numbering below starts from an empty table
  TempDir dir;
  std::string path = dir.file("h.smf");
  ASSERT_EQ(0, Edit_CreateNewMetafile(path.c_str()));
  // Open, open, close 0, close 0 again, open, fail to open: a failed opening takes no slot.
  EXPECT_EQ((std::vector<int>{0, 1, 0, -1, 0, -1}),
            (std::vector<int>{open_handle(path), open_handle(path), Edit_Exit(0), Edit_Exit(0), open_handle(path),
                              open_handle(dir.file("missing.smf"))}));
  for (int expected = 2; expected <= 20; ++expected) EXPECT_EQ(expected, open_handle(path));
  EXPECT_EQ(0, Edit_Exit(5));
  EXPECT_EQ(5, open_handle(path));
  EXPECT_EQ(14, out_int(Edit_GetTablesCount, 20));
  int count = 0;
  for (int invalid : {-1, 21, INT_MAX}) {
    EXPECT_EQ(-1, Edit_GetTablesCount(invalid, &count));
    EXPECT_EQ(-2, Edit_GetEngineErrorsCount(invalid, &count));
    EXPECT_EQ(-2, Edit_GetEngineErrorByIndex(invalid, 1, nullptr, 0));
  }
  Shutdown();
  EXPECT_EQ(-1, Edit_Exit(3));
  EXPECT_EQ(-2, Edit_GetEngineErrorsCount(20, &count));
  EXPECT_EQ(0, open_handle(path));
  EXPECT_EQ(0, Edit_Exit(0));
}

TEST(EditAPI, FailedOpeningsExplainThemselvesInTheMessage) {
  TempDir dir;
  char message[100];
  int compare = 77;
  auto fails = [&](const std::string& path, int length) {
    memset(message, 'x', sizeof message);
    return open_handle(path, message, length, &compare) == -1;
  };
  EXPECT_TRUE(fails(dir.file("missing.smf"), sizeof message));
  EXPECT_STREQ("SQL error: no such table: RL_Control", message);
  EXPECT_TRUE(std::filesystem::exists(dir.file("missing.smf")));
  EXPECT_EQ(77, compare);

  std::string path = dir.file("m.smf");
  ASSERT_EQ(0, Edit_CreateNewMetafile(path.c_str()));
  RawDB raw(path);
  raw.exec("UPDATE RL_Control SET ItemValue = '4.02' WHERE ItemName = 'MFStructureVersion'");
  EXPECT_TRUE(fails(path, sizeof message));
  EXPECT_STREQ("Engine expects metafile structure version \"5.01\", but metafile is version \"4.02\"", message);
  EXPECT_GT(compare, 0);
  EXPECT_TRUE(fails(path, 10));
  EXPECT_EQ("Engine expx", std::string(message, 11));
  raw.exec("DELETE FROM RL_Control WHERE ItemName = 'MFStructureVersion'");
  compare = 77;
  EXPECT_EQ(0, Edit_Exit(open_handle(path, message, sizeof message, &compare)));
  EXPECT_EQ(77, compare);
  // A table that cannot be read at all (its module is not loaded) fails the whole file.
  raw.exec("PRAGMA writable_schema=ON; INSERT INTO sqlite_master VALUES('table', 'v', 'v', 0, "
           "'CREATE VIRTUAL TABLE v USING nosuchmodule()');");
  EXPECT_TRUE(fails(path, sizeof message));
  EXPECT_STREQ("Unable to build tables list: no such module: nosuchmodule", message);
  // So does a file that is not a metafile, or only part of one, with SQLite's reason.
  std::string random = dir.file("random.smf"), cut = dir.file("cut.smf");
  std::string bytes(4096, '\0');
  std::generate(bytes.begin(), bytes.end(), std::minstd_rand(7));
  std::ofstream(random, std::ios::binary) << bytes;
  ASSERT_EQ(0, Edit_CreateNewMetafile(cut.c_str()));
  std::filesystem::resize_file(cut, std::filesystem::file_size(cut) / 2);
  EXPECT_TRUE(fails(random, sizeof message));
  EXPECT_STREQ("Unable to build tables list: file is not a database", message);
  EXPECT_TRUE(fails(cut, sizeof message));
  EXPECT_STREQ("Unable to build tables list: database disk image is malformed", message);

  int smf = 5;
  EXPECT_EQ(-1, Edit_Initialize(nullptr, path.c_str(), message, sizeof message, &compare));
  EXPECT_STREQ("Parameter \"smfID\" must not be NULL", message);
  EXPECT_EQ(-1, Edit_Initialize(&smf, path.c_str(), message, sizeof message, nullptr));
  EXPECT_STREQ("Parameter \"versionCompare\" must not be NULL", message);
  // Compacting needs a file that can be opened.
  EXPECT_EQ(0, Edit_CompactMetafile(path.c_str()));
  EXPECT_EQ(-2, Edit_CompactMetafile(dir.file("no/such/dir.smf").c_str()));
  EXPECT_EQ(-2, Edit_CompactMetafile(nullptr));
}

// A path names a file, every byte of it, also where it reads as a URI: each
// export makes or opens the file of exactly that name and no other.
TEST(EditAPI, PathsNameFilesEvenWhereTheyReadAsURIs) {
  TempDir dir;
  InDirectory inside(dir.path());
  ASSERT_EQ(0, Edit_CreateNewMetafile("victim.smf"));
  ASSERT_EQ(SQLITE_OK, RawDB("victim.smf").exec("INSERT INTO RL_Messages(PKey, MessageNumber, Message) VALUES (2, 7, 'x')"));
  const char* const messages = "SELECT PKey, Message FROM RL_Messages ORDER BY PKey";
  Rows victim = RawDB("victim.smf").rows(messages);
  char message[100];
  for (const char* path : {"file:victim.smf", "file:m.smf?mode=memory", ":memory:", "\xC3\xA9 #%41?.smf"}) {
    EXPECT_EQ(0, Edit_CreateNewMetafile(path)) << path;
    EXPECT_EQ(0, Edit_Exit(open_handle(path))) << path;
    EXPECT_EQ(0, Edit_UpdateMetafile(path, message, sizeof message)) << path;
    EXPECT_EQ(0, Edit_CompactMetafile(path)) << path;
  }
  EXPECT_EQ(0, Edit_CompactMetafile("file:absent.smf"));
  EXPECT_EQ(-2, Edit_CreateNewMetafile(""));  // names no file
  EXPECT_EQ(victim, RawDB("victim.smf").rows(messages));
  Rows files;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files.push_back(entry.path().filename());
  std::sort(files.begin(), files.end());
  EXPECT_EQ((Rows{":memory:", "file:absent.smf", "file:m.smf?mode=memory", "file:victim.smf", "victim.smf",
                  "\xC3\xA9 #%41?.smf"}),
            files);
}

TEST(EditAPI, NullPointersEngineErrorsAndVersionTexts) {
  OpenMetafile mf("CREATE TABLE Items(PKey integer primary key, Name varchar(10)); INSERT INTO Items VALUES(1, 'a');");
  int h = mf.handle();
  char buffer[8], *none = nullptr;
  ASSERT_EQ(0, Edit_OpenCursor(h, "c", "select * from Items"));
  ASSERT_EQ(0, Edit_PrepareParameterizedCursor(h, "p", "select * from Items where PKey = ?"));
  expect_null_refusals(h, {
      {"GetTablesCount:count", [&] { return Edit_GetTablesCount(h, nullptr); }},
      {"GetTableNames:callback", [&] { return Edit_GetTableNames(h, nullptr, nullptr); }},
      {"GetColumnStructure:isTriggerField",
       [&] { return Edit_GetColumnStructure(h, "Items", 1, buffer, 8, buffer, 8, buffer, 8, nullptr); }},
      {"GetIndex:buffer", [&] { return Edit_GetIndex(h, "Items", 0, none, 8); }},
      {"GetPKeys:callback", [&] { return Edit_GetPKeys(h, "Items", nullptr, none, nullptr); }},
      {"CheckEditSetAgainstLayout:callback", [&] { return Edit_CheckEditSetAgainstLayout(h, 1, 1, none, nullptr); }},
      {"ReadData:table", [&] { return Edit_ReadData(h, nullptr, 1, none, collector<ReadDataCallback>()); }},
      {"GetDataByFieldName:fieldName", [&] { return Edit_GetDataByFieldName(h, "Items", 1, nullptr, buffer, 8); }},
      {"OpenCursor:sql", [&] { return Edit_OpenCursor(h, "d", nullptr); }},
      {"ReadCursorData:callback", [&] { return Edit_ReadCursorData(h, "c", none, nullptr); }},
      {"BindTextParameter:text", [&] { return Edit_BindTextParameter(h, "p", 1, nullptr); }},
      {"GetMetafileVersion:buffer", [&] { return Edit_GetMetafileVersion(h, none, 8); }},
  });
  EXPECT_EQ(0, Edit_GetTableNameByIndex(h, 0, nullptr, 0));  // nothing to write, so no error
  // Engine errors last until the next call on the handle.
  int count = -5;
  const std::string error = tsmf_error("GetColumnsCount", "Cannot find table named \"NoSuch\"");
  EXPECT_EQ((Rows{"-1", error}), outcome(h, Edit_GetColumnsCount(h, "NoSuch", &count)));
  EXPECT_EQ(-5, count);
  EXPECT_EQ(Rows{error}, engine_errors(h));  // the readers do not empty the list
  // Texts are copied like strncpy: cut without a terminator, zeros up to the length only.
  const std::string outOfRange = "TEngineErrorsPump::GetErrorByIndex - index out of range";
  char copied[64];
  for (const auto& [index, length, text] :
       {std::tuple{1, 5, error},
        {1, int(error.size()), error},
        {1, 60, error},
        {1, 0, error},
        {1, -1, error},
        {0, 64, outOfRange},
        {2, 64, outOfRange},
        {INT_MIN, 64, outOfRange}}) {
    memset(copied, 'x', sizeof copied);
    EXPECT_EQ(0, Edit_GetEngineErrorByIndex(h, index, copied, length));
    std::string expected = text;
    expected.resize(std::max(length, 0), '\0');
    EXPECT_EQ(expected + std::string(sizeof copied - expected.size(), 'x'), std::string(copied, sizeof copied))
        << index << " " << length;
  }
  EXPECT_EQ(-1, Edit_GetEngineErrorsCount(h, nullptr));
  EXPECT_EQ(15, out_int(Edit_GetTablesCount, h));  // any other call empties the list first
  EXPECT_EQ(Rows{}, engine_errors(h));
  // Version texts follow the same buffer rules.
  char version[12];
  memset(version, 'x', sizeof version);
  EXPECT_EQ(0, Edit_GetEngineVersion(version, 4));
  EXPECT_EQ(0, Edit_GetEngineVersion(version + 4, 0));
  EXPECT_EQ("5.0.xxxx", std::string(version, 8));
  EXPECT_EQ(0, Edit_GetEngineVersion(version, sizeof version));
  EXPECT_EQ(std::string("5.0.0.15\0\0\0\0", 12), std::string(version, sizeof version));
  EXPECT_EQ(-2, Edit_GetEngineVersion(nullptr, 4));
  EXPECT_EQ(0, Edit_GetMetafileStructureVersion(version, 6));
  EXPECT_EQ(std::string("5.01\0\0", 6), std::string(version, 6));
  char comment[40];
  EXPECT_EQ(0, Edit_GetMetafileVersion(h, comment, sizeof comment));
  EXPECT_STREQ("Metafile author to provide this", comment);
  EXPECT_EQ(0, Edit_GetMetafileComment(h, comment, sizeof comment));
  EXPECT_STREQ("Metafile comment goes here", comment);
  ASSERT_EQ(0, Edit_CloseCursor(h, "c") + Edit_CloseCursor(h, "p"));  // their statements would keep the table
  ASSERT_EQ(SQLITE_OK, RawDB(mf.path()).exec("DROP TABLE RL_Control"));
  EXPECT_EQ(-1, Edit_GetMetafileVersion(h, comment, sizeof comment));
  EXPECT_EQ((Rows{tsmf_error("GetMetafileVersion", "TSQLQuery.open_query"),
                  tsmf_error("GetMetafileVersion", "SQL error: no such table: RL_Control")}),
            engine_errors(h));
}
