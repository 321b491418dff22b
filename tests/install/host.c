/* A host built from the installed files alone, with the README's pkg-config
 * line: it calls the engine and the SQLite C API, which comes from the system
 * SQLite that quelt.pc names. Usage: host NEW_METAFILE_PATH */
#include <quelt.h>
#include <sqlite3.h>
#include <stdio.h>
#include <string.h>

static int fail(const char* what) {
  fprintf(stderr, "host: %s\n", what);
  return 1;
}

/* The structure version of a metafile, read with SQLite directly. */
static int read_structure_version(const char* path, char* version, int length) {
  sqlite3* db = NULL;
  sqlite3_stmt* statement = NULL;
  int found = 0;
  if (sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY, NULL) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "SELECT ItemValue FROM RL_Control WHERE ItemName = 'MFStructureVersion'", -1,
                         &statement, NULL) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    snprintf(version, length, "%s", (const char*)sqlite3_column_text(statement, 0));
    found = 1;
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return found;
}

int main(int argc, char** argv) {
  char engine[16] = "", structure[16] = "";
  if (argc != 2) return fail("usage: host NEW_METAFILE_PATH");
  if (Edit_GetEngineVersion(engine, sizeof engine) != 0 || strcmp(engine, "5.0.0.15") != 0)
    return fail("wrong engine version");
  if (strcmp(sqlite3_libversion(), SQLITE_VERSION) != 0) return fail("SQLite library and header differ");
  if (Edit_CreateNewMetafile(argv[1]) != 0) return fail("cannot create a metafile");
  if (!read_structure_version(argv[1], structure, sizeof structure) || strcmp(structure, "5.01") != 0)
    return fail("the new metafile does not read back through SQLite");
  printf("engine %s, SQLite %s, metafile structure %s\n", engine, sqlite3_libversion(), structure);
  return 0;
}
