/* libquelt: a data-validation engine for fixed-width records.
 *
 * A host opens metafiles (SQLite databases holding the data dictionary,
 * record layouts, edits and lookup tables) by handle and works on them through
 * the functions below. Conventions shared by every function:
 *
 * - Every function returns an int: 0 for success, -1 for failure, and the
 *   other negative codes that a function names below.
 * - A function that takes a metafile handle (smfID) refuses an invalid one with
 *   -1 (the two engine-error readers with -2), empties that metafile's list of
 *   engine errors, and records what went wrong in it; read the list with
 *   Edit_GetEngineErrorsCount and Edit_GetEngineErrorByIndex. Every -1 on a
 *   valid handle leaves at least one engine error; an unexpected failure is
 *   recorded with the text of its cause.
 * - A null name, out-parameter, callback function, or buffer with a length
 *   above 0 gives -1 and the engine error "Parameter \"<name>\" must not be
 *   NULL" unless the function says otherwise. Callback owners are opaque and may
 *   be null.
 * - Text results are copied into a caller buffer (pointer, length) like strncpy:
 *   at most length bytes, zero bytes after a shorter text, no terminating zero
 *   when the text fills the buffer; a length below 1 writes nothing. Size
 *   queries report the length plus 1, or 0 for an empty text.
 * - Callbacks are passed as two void* arguments, the owner first and the
 *   function second; the function receives the owner as its first argument and
 *   its result is ignored. Texts handed to a callback live only for the call.
 * - A callback may call the library again. Names, columns, rows, keys and
 *   layout gaps are copied before the first callback, so the functions that
 *   deliver them (Edit_GetTableNames, Edit_GetTableStructure, Edit_ReadData,
 *   Edit_ReadCursorData, Edit_GetPKeys, Edit_CheckEditSetAgainstLayout)
 *   deliver what the metafile held when they were called, whatever a callback
 *   does meanwhile. While a function is calling back, a call on the same
 *   handle that would free or replace what it is going through gives -1 and
 *   the engine error "Not allowed from a callback while <what> is under way on
 *   this metafile", naming the innermost such function:
 *   - Edit_Exit, from every callback;
 *   - Edit_UnloadEditSet, Edit_UpdateRecordByTag/ByName, Edit_RunEdits and
 *     Edit_DebugEdit, from the callbacks of Edit_DisplayDataRecordByTag/ByName
 *     ("a display of a record") and Edit_GetEditDetails ("a listing of an
 *     edit's details");
 *   - all of these and the calls that change the metafile's tables or its
 *     import (Qb_CreateTable, Qb_CopyLookupTable, Qb_ImportLookupTable,
 *     Qb_RollbackTrans, Qb_RollbackToSavePoint, Qb_Post and Qb_Delete of an
 *     RL_LookupTables row, Qb_OpenImportMetafile, Qb_CloseImportMetafile), from
 *     the callbacks of Edit_RunEdits ("a run of edits"),
 *     Edit_GetRunEditsSummary ("a run summary"), Edit_DebugEdit ("a debugging
 *     run") and Qb_GetImportCandidates ("a listing of import candidates").
 *   From the callbacks of those four, a function that uses the table model
 *   (below) is refused too, but only while another connection has changed the
 *   tables since the model was last read. Every other call works as usual.
 *   The other texts are "a listing of primary keys", "a check of an edit set
 *   against a layout", "a listing of table names", "a listing of a table's
 *   structure", "a reading of a row" and "a reading of a cursor's row".
 * - The table model (tables, columns with their types, indexes, triggers)
 *   follows the schema as the file holds it, whichever connection changed it.
 *   The functions that use it (Edit_GetPKeys, the schema introspection, the
 *   record reads Edit_ReadData and Edit_GetData..., Edit_RecompileEditLogic,
 *   Qb_CheckSyntax, Qb_Edit, Qb_Insert, Qb_SetFieldByName/ByNumber,
 *   Qb_ValidateUnique, Qb_Delete and Qb_CopyLookupTable) first read again
 *   the tables changed since it was last read; Qb_CreateTable and
 *   Edit_RecompileEditLogic do so again once they hold the write lock,
 *   Qb_Post only then, the lookups of a run or of a debugging run
 *   (Edit_RunEdits, Edit_DebugEdit) once per run and after each callback.
 *   Qb_Edit, Qb_ValidateUnique and Edit_GetData... make that check and their
 *   reads of rows in one read of the file, which ends before they return. A
 *   table not changed keeps its definition and the row in its buffer; a table
 *   changed is read again without it, so that a row buffered before the change
 *   is not posted (-1, "Table named \"t\" is NOT in insert or edit mode; cannot
 *   post"). When the schema cannot be read, the function gives -1 with the
 *   database's reason.
 * - Row keys (PKeys) are ints. A key read from the metafile that is not a
 *   whole number from -2147483648 to 2147483647 is never cut to another
 *   row's: a function that would hand it to the host or write under it gives
 *   -1 with the engine error "PKey \"<value>\" of table \"<table>\" is not a
 *   whole number from -2147483648 to 2147483647".
 * - Functions are not thread-safe: call them from one thread at a time.
 */
#ifndef QUELT_H
#define QUELT_H

#if defined(QUELT_BUILDING)
#define QUELT_API __attribute__((visibility("default")))
#else
#define QUELT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Callback shapes. */
typedef int (*TableNameCallback)(void* owner, const char* tableName);
typedef int (*TableStructureCallback)(void* owner, const char* tableName, int columnOrder,
                                      const char* fieldName, const char* typeText,
                                      const char* nullText, int isTriggerField,
                                      const char* defaultValue, const char* limitToList,
                                      const char* checkBetween);
/* Record reads: (owner, table, pkey, 1-based column order, field name, type
 * text, value). Cursor reads: (owner, lower-cased cursor name, first column of
 * the row as an int, 1-based column number, column name, declared type, value). */
typedef int (*ReadDataCallback)(void* owner, const char* tableName, int pkey, int columnOrder,
                                const char* fieldName, const char* typeText, const char* value);
typedef int (*PKeyCallback)(void* owner, const char* table, int pkey);
typedef int (*LayoutGapCallback)(void* owner, int fieldPKey, const char* fieldName, int editPKey,
                                 const char* editName, const char* editTag);
/* One field of a layout: its RL_Fields key, 1-based start position, field
 * number, order (0 for record display, FieldOrder for edit details), field
 * name, display name ("" when none), length, data type ("S " or "D1") and its
 * value in the current record ("<BLANK>" when only blanks and tabs). */
typedef int (*FieldDetailCallback)(void* owner, int pkey, int startPos, int fieldNumber, int order,
                                   const char* fieldName, const char* displayName, int fieldLength,
                                   const char* dataType, const char* value);
/* A message of a run: the edit's tag, name and agency admin code, the type
 * "E" (error), "W" (warning) or "M" (saved text) and the expanded text. */
typedef int (*MessageCallback)(void* owner, const char* editTag, const char* editName,
                               const char* adminCode, const char* type, const char* text);
/* One edit of a run summary with its cumulative counts and three flags. */
typedef int (*RunSummaryCallback)(void* owner, const char* editTag, const char* editName,
                                  const char* adminCode, int errors, int warnings, int skips,
                                  int errorMessages, int warningMessages, int notInLayout,
                                  int suppressed, int notCompiled);
/* Debugging: a source line (from 1) and whether it ran; a variable after the
 * last run of a line, per loop iteration (0 outside loops), isString 1 for a
 * character variable; a field of the edit as "name == value". */
typedef int (*DebugLineCallback)(void* owner, int line, int executed, const char* logic);
typedef int (*DebugVariableCallback)(void* owner, int line, int iteration, const char* name,
                                     const char* value, int isString);
typedef int (*DebugFieldCallback)(void* owner, const char* text);

/* ---- Metafiles and versions ------------------------------------------- */

/* Every path below is the path of a file, absolute or from the current
 * directory, every byte of it part of the name: "file:m.smf" names a file of
 * that name, never a URI, and "" or ":memory:" no database of SQLite's own. */

/* Opens the metafile at path and stores its handle in *smfID (-1 on failure).
 * The stored structure version must be "5.01": *versionCompare receives 0 when
 * it is, a positive value for an older and a negative one for a newer version
 * (it is left alone when the metafile records no version). On failure returns
 * -1 and describes the failure in message (empty when the file cannot be
 * opened; "Unable to build tables list: " and SQLite's reason when its tables
 * cannot be read, as for a file that is no database). Opening a path where no
 * file exists creates an empty file. */
QUELT_API int Edit_Initialize(int* smfID, const char* path, char* message, int messageLength,
                              int* versionCompare);
/* Closes a metafile; its handle is reused by the next opening. */
QUELT_API int Edit_Exit(int smfID);
/* Upgrades the metafile at path from the preceding structure to "5.01" in one
 * transaction. 0 on success or when it is already at "5.01"; -1 with failure
 * lines in message, the file left as it was. */
QUELT_API int Edit_UpdateMetafile(const char* path, char* message, int messageLength);
/* Creates a metafile at path, or replaces every control table of an existing
 * one by an empty table holding only its default rows. 0, or -2. */
QUELT_API int Edit_CreateNewMetafile(const char* path);
/* Compacts (vacuums) the metafile at path. 0, or -2. */
QUELT_API int Edit_CompactMetafile(const char* path);
/* Copies the engine version "5.0.0.15". 0, or -2 for a null buffer. */
QUELT_API int Edit_GetEngineVersion(char* buffer, int length);
/* Copies the metafile structure version that the engine works on, "5.01".
 * 0, or -1 for a null buffer with a length above 0. */
QUELT_API int Edit_GetMetafileStructureVersion(char* buffer, int length);
/* Copies the metafile's content version (RL_Control item MFContentVersion). */
QUELT_API int Edit_GetMetafileVersion(int smfID, char* buffer, int length);
/* Copies the metafile's comment (RL_Control item MFComment). */
QUELT_API int Edit_GetMetafileComment(int smfID, char* buffer, int length);

/* ---- Engine errors ------------------------------------------------------ */

/* Number of engine errors recorded by the previous call on the handle; -2 for
 * an invalid handle. Neither reader empties the list. */
QUELT_API int Edit_GetEngineErrorsCount(int smfID, int* count);
/* Copies error index (counted from 1) as "Class::Method", one byte 0xBB, then
 * the message; an index out of range gives "TEngineErrorsPump::GetErrorByIndex
 * - index out of range". -2 for an invalid handle. */
QUELT_API int Edit_GetEngineErrorByIndex(int smfID, int index, char* buffer, int length);

/* ---- Primary keys and the edit-set/layout check ------------------------- */

/* Calls PKeyCallback once per PKey of table, ordered by orderBy (any ORDER BY
 * text; null or empty orders by PKey). 0, -2 when the table has no row, -1 on
 * an SQL failure. */
QUELT_API int Edit_GetPKeys(int smfID, const char* table, const char* orderBy, void* owner,
                            void* callback);
/* Calls LayoutGapCallback once for every (edit of the edit set, field of that
 * edit) whose field the layout does not place. 0, -2 when there is none, -1 on
 * an SQL failure. */
QUELT_API int Edit_CheckEditSetAgainstLayout(int smfID, int editSetPKey, int layoutPKey,
                                             void* owner, void* callback);

/* ---- Schema introspection ----------------------------------------------- */
/* Tables are found by name in any letter case; an unknown table gives -1 and
 * "Cannot find table named \"<table>\"". */

/* Calls TableNameCallback for every table, in the order of lower-cased names. */
QUELT_API int Edit_GetTableNames(int smfID, void* owner, void* callback);
QUELT_API int Edit_GetTablesCount(int smfID, int* count);
/* Copies the name of the table at the 0-based index (lower-cased-name order). */
QUELT_API int Edit_GetTableNameByIndex(int smfID, int index, char* buffer, int length);
/* Calls TableStructureCallback once per column, with 1-based column orders. */
QUELT_API int Edit_GetTableStructure(int smfID, const char* table, void* owner, void* callback);
QUELT_API int Edit_GetColumnsCount(int smfID, const char* table, int* count);
/* Describes the column at the 1-based order: name, type text ("integer",
 * "varchar(20)", ...) and "NULL" or "NOT NULL", each buffer zero-filled and
 * holding at most length-1 characters; *isTriggerField is 1 or 0. */
QUELT_API int Edit_GetColumnStructure(int smfID, const char* table, int columnOrder, char* name,
                                      int nameLength, char* type, int typeLength, char* nullable,
                                      int nullableLength, int* isTriggerField);
/* Stores the 0-based order of the named column (0 on failure). */
QUELT_API int Edit_GetColumnOrder(int smfID, const char* table, const char* fieldName, int* order);
/* Copies at most length-1 characters of the name of the column at the 0-based
 * order; the last byte of the buffer is not written. A length below 1 returns 0. */
QUELT_API int Edit_GetFieldName(int smfID, const char* table, int columnOrder, char* buffer,
                                int length);
QUELT_API int Edit_GetIndexCount(int smfID, const char* table, int* count);
/* Copies the index text at the 0-based position (empty when out of range). */
QUELT_API int Edit_GetIndex(int smfID, const char* table, int index, char* buffer, int length);
QUELT_API int Edit_GetTriggerCount(int smfID, const char* table, int* count);
/* Copies the trigger text at the 0-based position (empty when out of range). */
QUELT_API int Edit_GetTrigger(int smfID, const char* table, int index, char* buffer, int length);

/* ---- Records by primary key --------------------------------------------- */

/* Calls ReadDataCallback once per column of the row with that PKey, each value
 * taken by its column's name; no row: 0 without a call. A table the database
 * lacks gives -1. */
QUELT_API int Edit_ReadData(int smfID, const char* table, int pkey, void* owner, void* callback);
/* Reads the table's cached row again, so later reads see changes. */
QUELT_API int Edit_RefreshReadData(int smfID, const char* table, int pkey);
/* Size of the value at the 1-based column order; reads of one row are cached
 * until another PKey is read or the table is refreshed (the cache keeps the
 * values only, and no lock on the file). Returns 0 with size 0 when the value
 * cannot be read (the reason is recorded). */
QUELT_API int Edit_GetDataSizeByColumnOrder(int smfID, const char* table, int pkey,
                                            int columnOrder, int* size);
/* Copies the value; an empty value gives -1. A length below 1 returns 0. */
QUELT_API int Edit_GetDataByColumnOrder(int smfID, const char* table, int pkey, int columnOrder,
                                        char* buffer, int length);
QUELT_API int Edit_GetDataSizeByFieldName(int smfID, const char* table, int pkey,
                                          const char* fieldName, int* size);
QUELT_API int Edit_GetDataByFieldName(int smfID, const char* table, int pkey,
                                      const char* fieldName, char* buffer, int length);

/* ---- Named cursors ------------------------------------------------------- */
/* A cursor runs the host's SELECT, upper-cased; texts without "SELECT " or with
 * "UPDATE ", "INSERT " or "DELETE " are refused. Names are case-insensitive.
 *
 * Walk a cursor as: open; while Edit_CursorEof gives 0 with *eof 0, read the
 * row, then call Edit_CursorNext and check its answer; finally close. A cursor
 * never starts over. A rollback on the metafile, once its transaction has
 * changed the tables (a create, copy, restructure, rename, import or lookup-
 * table deletion, undone because it failed or was refused; or any failed
 * write, Qb_RollbackTrans or Qb_RollbackToSavePoint after such a change in
 * the host's transaction), ends the read of every cursor in the middle of one
 * (a sorted result that the database holds apart may go on). The row read
 * before stays readable; from the first call that meets the ended read,
 * Edit_CursorNext gives -2 and the engine error "The read of cursor \"c\"
 * was ended by a rollback; the cursor must be opened again", Edit_CursorEof
 * then sets *eof = 1 and gives -1, and the row reads give -1, each with that
 * reason, until the cursor is closed, or a parameterized one opened again.
 * A refusal decided before anything is written (names, rights, arguments, an
 * open cursor) ends no read, in a transaction too.
 * While a cursor is in the middle of a read of a table (a row current,
 * neither at its end nor reset), the writes that drop a table cannot run
 * beside it: a restructure (Qb_CreateTable), a rename (Qb_Post of
 * RL_LookupTables.TableName) and the deletion of an RL_LookupTables row give
 * -1 before anything changes, with "Table \"t\" cannot be restructured (or
 * renamed, dropped) while cursor \"c\" is in the middle of its read: read
 * the cursor to its end, or close it, first"; Qb_CloseImportMetafile, while
 * such a read holds the source, with "The import's source cannot be detached
 * while ..." and the same words. A cursor at its end, or a parameterized
 * cursor prepared or reset, holds nothing. */

/* Opens a cursor; its first row is current at once. */
QUELT_API int Edit_OpenCursor(int smfID, const char* cursorName, const char* sql);
/* Closes and forgets a cursor of either kind. */
QUELT_API int Edit_CloseCursor(int smfID, const char* cursorName);
/* Rows of the cursor's SELECT, counted once (0 for a parameterized cursor). */
QUELT_API int Edit_CursorRowCount(int smfID, const char* cursorName, int* count);
QUELT_API int Edit_CursorColCount(int smfID, const char* cursorName, int* count);
/* Moves to the next row: 0 when it moved or reached the end, -2 otherwise
 * (past the end; a read ended by a rollback, see above; a row the database
 * could not make, such as "integer overflow", after which the cursor is at
 * its end rather than started over). */
QUELT_API int Edit_CursorNext(int smfID, const char* cursorName);
/* *eof = 1 once the cursor is past its last row, else 0; -1 with *eof = 1
 * once a rollback has ended its read. */
QUELT_API int Edit_CursorEof(int smfID, const char* cursorName, int* eof);
/* Calls ReadDataCallback once per column of the current row. The row reads
 * below and this give -1 once a rollback has ended the cursor's read. */
QUELT_API int Edit_ReadCursorData(int smfID, const char* cursorName, void* owner, void* callback);
/* Column reads of the current row, by 1-based number or by name (any letter
 * case). A number out of range gives -1 ("column_number is out of range"), a
 * name the cursor lacks gives -1; the integer read by number gives 0 instead. */
QUELT_API int Edit_GetCursorDataSizeByNumber(int smfID, const char* cursorName, int columnNumber,
                                             int* size);
QUELT_API int Edit_GetCursorDataByNumber(int smfID, const char* cursorName, int columnNumber,
                                         char* buffer, int length);
QUELT_API int Edit_GetCursorDataSizeByName(int smfID, const char* cursorName,
                                           const char* columnName, int* size);
QUELT_API int Edit_GetCursorDataByName(int smfID, const char* cursorName, const char* columnName,
                                       char* buffer, int length);
QUELT_API int Edit_GetCursorIntByNumber(int smfID, const char* cursorName, int columnNumber,
                                        int* value);
QUELT_API int Edit_GetCursorIntByName(int smfID, const char* cursorName, const char* columnName,
                                      int* value);

/* ---- Parameterized cursors ---------------------------------------------- */
/* Prepare once; then for each use bind the "?" parameters (numbered from 1),
 * open, walk with the cursor functions above and reset; finally release. */

QUELT_API int Edit_PrepareParameterizedCursor(int smfID, const char* cursorName, const char* sql);
QUELT_API int Edit_BindIntParameter(int smfID, const char* cursorName, int parameterNumber,
                                    int value);
QUELT_API int Edit_BindTextParameter(int smfID, const char* cursorName, int parameterNumber,
                                     const char* text);
QUELT_API int Edit_OpenParameterizedCursor(int smfID, const char* cursorName);
/* Resets the cursor for another open; bound values stay. */
QUELT_API int Edit_ResetParameterizedCursor(int smfID, const char* cursorName);
/* Releases and forgets the cursor (also on -1, as for a plain cursor). */
QUELT_API int Edit_ReleaseParameterizedCursor(int smfID, const char* cursorName);

/* ---- Records and layouts ------------------------------------------------ */
/* Layout tags are case-insensitive; a layout is read from the metafile the
 * first time its tag is used, and a tag the metafile lacks gives a layout
 * without fields. A record is one fixed-width line, held in a buffer as long
 * as the longest record that layout has taken on this handle, a shorter
 * record padded with blanks: a field is the slice of that buffer at its start
 * position and length, and reads as empty when it does not lie wholly within
 * the buffer. So a field beyond the end of a short record reads "" until a
 * record long enough for it has come, and blanks after that. */

/* Loads a record into the layout of that tag (a null record is empty). -1 when
 * the layout cannot be read. */
QUELT_API int Edit_UpdateRecordByTag(int smfID, const char* layoutTag, const char* record);
/* The same for the layout of that name (any letter case); -1 and "Layout name
 * \"<name>\" not found in metafile" when there is none. */
QUELT_API int Edit_UpdateRecordByName(int smfID, const char* layoutName, const char* record);
/* Calls FieldDetailCallback for every field of the layout's current record, in
 * start-position order. -1 with "Cannot find record layout with tag \"<TAG>\""
 * when the layout is not loaded. */
QUELT_API int Edit_DisplayDataRecordByTag(int smfID, const char* layoutTag, void* owner, void* callback);
QUELT_API int Edit_DisplayDataRecordByName(int smfID, const char* layoutName, void* owner,
                                           void* callback);
/* Shows the field as "<text> [<field name>]" in messages, in every layout
 * loaded now (an empty or null text, or the field's own name, removes it). -1
 * when no layout is loaded. */
QUELT_API int Edit_DisplayFieldInMessagesAs(int smfID, int fieldNumber, const char* text);
/* Exempts the field (flag != 0) from the skip-if-empty rule, in every layout
 * loaded now. -1 when no layout is loaded. */
QUELT_API int Edit_NeverSkipEmptyField(int smfID, int fieldNumber, int flag);
/* Copies one field of a loaded layout's current record: key, start position
 * and length, then name, display name, data type and raw value, each cut to
 * size - 1 characters and ended by a zero byte (a size below 1 leaves that
 * buffer alone). -1 when a text pointer is null ("At least one of the char*
 * parameters is NULL"), the layout is not loaded or lacks the field. */
QUELT_API int Edit_FieldDataByNumber(int smfID, const char* layoutTag, int fieldNumber, int* key,
                                     int* startPos, int* length, char* name, int nameSize,
                                     char* displayName, int displaySize, char* dataType,
                                     int typeSize, char* value, int valueSize);

/* ---- Edit sets and runs ------------------------------------------------- */
/* An edit set is loaded against a layout (both tags case-insensitive); its
 * edits run single-field edits first, then multi-field ones, each by name. */

/* Loads the edit set against the layout (0 when the pair is loaded already).
 * -1 with engine errors when either cannot be read; an edit-set tag the
 * metafile lacks loads as a set without edits. */
QUELT_API int Edit_LoadEditSet(int smfID, const char* editSetTag, const char* layoutTag);
/* Unloads the pair and the layout with its record, display names and flags
 * (a layout that other pairs use is read again in place). Always 0, except -1
 * for a null tag. */
QUELT_API int Edit_UnloadEditSet(int smfID, const char* editSetTag, const char* layoutTag);
/* Sets the options (non-zero = on) of the edit with that exact tag in every
 * loaded pair of the set: suppress it, skip it when a field is blank, skip it
 * when a field failed a single-field edit in the record, run it whatever the
 * skip rules say. -1 when the set is not loaded or the tag is not found. */
QUELT_API int Edit_SetEditOptions(int smfID, const char* editSetTag, const char* editTag,
                                  int suppress, int skipIfEmpty, int skipIfFailed,
                                  int noSkipsOverride);
/* Reads them (1 or 0) from the first loaded pair of the set. */
QUELT_API int Edit_GetEditOptions(int smfID, const char* editSetTag, const char* editTag,
                                  int* suppress, int* skipIfEmpty, int* skipIfFailed,
                                  int* noSkipsOverride);
/* Clears every option of the first loaded pair of the set. */
QUELT_API int Edit_ClearEditOptions(int smfID, const char* editSetTag);
/* Runs every edit of the pair (loaded on first use) over the record and
 * delivers each failure, warning and saved text through MessageCallback.
 * Options: 0x80 suppresses warnings, 0x1 applies skip-if-empty and 0x2
 * skip-if-failed to every edit. *failedCount receives the number of edits that
 * produced a message. 0; -1 when an edit's logic fails (the edits after it do
 * not run; the reason is in the engine errors), for a null tag or record, or
 * an owner without callback or the reverse. Compiled logic that is not what
 * the compiler writes fails before any of it runs, for example with
 * "Compiled logic is damaged at position 17"; a built-in call counts as
 * written whatever its code byte (but 0x00 and the line end), and one whose
 * code no built-in has stops the edit where it runs, with "syntax error:
 * invalid/deprecated/removed function reference". */
QUELT_API int Edit_RunEdits(int smfID, const char* editSetTag, const char* layoutTag,
                            const char* data, int options, int* failedCount, void* owner,
                            void* callback);
/* Totals since the pair was loaded: calls RunSummaryCallback (when given) for
 * every edit that counted an error, warning or skip, is not in the layout, is
 * suppressed or not compiled, or for every edit when all != 0, and sets the
 * five totals of those edits. -1 when the pair is not loaded. */
QUELT_API int Edit_GetRunEditsSummary(int smfID, const char* editSetTag, const char* layoutTag,
                                      int all, int* errors, int* warnings, int* skips,
                                      int* errorMessages, int* warningMessages, void* owner,
                                      void* callback);
/* From a MessageCallback of a run: calls FieldDetailCallback for each field of
 * the edit with that tag, in FieldOrder. -1 outside a run ("No Layout is
 * loaded!") or when the layout lacks one of the fields. */
QUELT_API int Edit_GetEditDetails(int smfID, const char* editTag, void* owner, void* callback);
/* Runs one edit over one record with tracing: the layout is read afresh, the
 * edit's fields come first (DebugFieldCallback), its messages while it runs,
 * then every source line up to the last one reached with whether it ran, each
 * followed by the variables' values after it. Needs the owner and at least one
 * callback. 0 when the edit ran (passed, failed or warned); -1 when it could
 * not be read, does not compile or its logic failed. */
QUELT_API int Edit_DebugEdit(int smfID, const char* editTag, const char* layoutTag, const char* data,
                             void* owner, void* lineCallback, void* variableCallback,
                             void* fieldCallback, void* messageCallback);

/* ---- Edit logic --------------------------------------------------------- */

/* Compiles the QUELT logic of the edit with that tag and stores the result:
 * 0 compiled and stored with its field, message, message-text and lookup-table
 * pivot rows; -3 the same with warnings; -2 the logic has errors (the compiled
 * text is emptied, the pivot rows are kept); -4 errors and warnings; -1 a
 * failure, after which nothing has changed. A tag that no edit has gives 0.
 * The edit is read inside the write that stores its result, so that another
 * connection's change of it comes wholly before or wholly after. New pivot
 * rows take PKeys an int holds, as posted rows do.
 * The errors, warnings and lists are then read with the Qb_ functions below:
 * no count is given, so read each kind from index 0 until the reader gives -1. */
QUELT_API int Edit_RecompileEditLogic(int smfID, const char* editTag);
/* Sets the local name of a field: tableName must be "RL_Fields" and fieldName
 * "LocalName" (any letter case); anything else gives -1. */
QUELT_API int Edit_UpdateAllAccessField(int smfID, const char* tableName, int pkey,
                                        const char* fieldName, const char* value);
/* Compiles QUELT source without storing anything and sets the numbers of
 * errors and warnings found; read them with Qb_GetSyntaxError/Warning. */
QUELT_API int Qb_CheckSyntax(int smfID, const char* source, int* errors, int* warnings);
/* Copies error (or warning) idx, counted from 0, of the last compile: "Line "
 * + the line number in four columns + ": " + the message; *line receives the
 * line number. -1 when there is none or idx is out of range. */
QUELT_API int Qb_GetSyntaxError(int smfID, int idx, int* line, char* buffer, int length);
QUELT_API int Qb_GetSyntaxWarning(int smfID, int idx, int* line, char* buffer, int length);
/* Size of a list of the last compile: 'F' field numbers, 'T' lookup-table
 * names, 'M' message numbers, 'E' message texts (upper case only); another
 * letter gives 0 with *count = -1 and the engine error "Invalid value in
 * parameter 'which_list'". */
QUELT_API int Qb_GetLogicListCount(int smfID, char which, int* count);
/* Entry idx (from 0) of a list; out of range gives -1. The kind is the letter
 * of the built-in that uses the message: 'E', 'S', 'W' or 'A'. */
QUELT_API int Qb_GetLogicFieldNumber(int smfID, int idx, int* fieldNumber);
QUELT_API int Qb_GetLogicTableName(int smfID, int idx, char* buffer, int length);
QUELT_API int Qb_GetLogicErrorMessage(int smfID, int idx, int* kind, char* buffer, int length);
QUELT_API int Qb_GetLogicMessageNumber(int smfID, int idx, int* kind, int* messageNumber);
/* Deletes an edit's field, lookup-table, message and message-text pivot rows. */
QUELT_API int Qb_ClearEditLogicPivots(int smfID, int editPKey);

/* ---- Authoring: logins ------------------------------------------------- */
/* Rows of the control tables belong to agencies (RL_Agencies). Putting a row
 * into edit mode needs a login that may act for its owning agency: agency 1
 * ("NONE") always counts as logged in, an agency counts once it has logged in
 * with its password, and every agency counts while the built-in super user
 * "warden" is logged in (by its own password, or by an open import; an agency
 * whose admin code reads "warden" has only its own rights). Lookup tables and
 * RL_Control are open to every caller. Logins last until the metafile is
 * closed; nothing is stored. A login gives rights only while the agency row at
 * its PKey, read when the right is tested, holds a code and password that the
 * login stands on, whichever connection changed the row: another handle or
 * process that deletes the agency, makes another agency at its PKey, or
 * changes its code, password or PKey takes the login's rights away, and the
 * right password logs the agency in again. A login belongs to the agency row
 * it was checked against: deleting the row forgets it, and so does a rollback (to a
 * savepoint too) after which the row is gone, or holds a code and password
 * that are neither those the login was checked against nor those that the
 * library itself wrote to the row while the login stood (a posted code or
 * password, a password written by an import). An agency that changes its own
 * code or password thus stays logged in through any later rollback, that of
 * the change included; a posted PKey takes the login along to the PKey the row
 * holds as stored after the post, and a rollback that brings the row back to
 * a PKey it had while logged in, holding a code and password that confirm the
 * login, brings the login back with it. The login list keeps the code. A row
 * that does not exist, or whose owner is no agency PKey an int can hold, may be
 * changed only while the super user is logged in. After a rollback a row stays
 * in edit mode only while the logins may still change it as the file holds it,
 * and a post (like a membership change) tests the rights again, inside its
 * write, against the row as the file then holds it. */

/* Logs an agency in with its admin code (any letter case) and password (blind
 * to letter case; blanks and tabs at the ends are dropped). A password is
 * stored as ten scrambled bytes made from its first ten bytes and its length
 * (modulo 256): a longer one is accepted, and any password that shares those
 * ten bytes, letter case aside, and that length logs in as well. An empty
 * code logs in "NONE". An agency without a stored password cannot log in, nor
 * can one whose PKey is not a whole number within the range of an int (an
 * engine error says so). -1 with
 * "Agency code and/or password not valid"; a code already in the login list
 * is checked again without a new entry: the right password logs the agency
 * in (again, when its login was forgotten), a wrong one gives -1 without an
 * error and no change to the list. Not so the first login of the super user
 * beside an agency of that code, or of that agency beside the super user:
 * each then stands as a login of its own. */
QUELT_API int Qb_Login(int smfID, const char* adminCode, const char* password);
/* Number of logins made on the metafile, repeats and failed ones ("NONE") included. */
QUELT_API int Qb_GetLoginsCount(int smfID, int* count);
/* Copies the admin code of login index (from 0) and stores its agency's PKey
 * (0 for the super user, for the "NONE" a failed login leaves, or for an
 * agency whose login was forgotten; once an agency whose code reads "warden"
 * has logged in, its PKey is reported for the super user's entries too, as
 * for every entry of that code). An index out of range gives -1 and leaves
 * the buffer alone. */
QUELT_API int Qb_GetLoginByIndex(int smfID, int index, int* agencyPKey, char* buffer, int bufferLength);

/* ---- Authoring: transactions and savepoints ----------------------------- */
/* The database's BEGIN, COMMIT, ROLLBACK, SAVEPOINT, RELEASE and ROLLBACK TO;
 * a refusal gives -1 with the database's message. A savepoint name is always
 * taken as one name, whatever characters it holds. After a rollback (also a
 * refused one) the tables that it created, dropped or changed are read again,
 * as they are after a commit that fails and ends the transaction itself (on a
 * full disk or an I/O error, say).
 * Every write, of one statement or several, runs as a transaction of its own,
 * or inside a savepoint when the host's transaction is open; it takes the
 * metafile's write lock (never an open import source's) and waits at most 3
 * seconds for another connection's lock (no wait is possible once the host's
 * own transaction has read: SQLite then answers busy at once), and a failure
 * (-1 with the database's message, such as "database is locked") undoes it
 * and leaves the connection as it found it; one refused before it wrote
 * anything is not rolled back at all, so it ends no cursor's read (see the
 * named cursors). When the database itself ends the host's
 * transaction, the failing export also records "The database rolled back the
 * whole transaction: every change made since the host's transaction began is
 * lost". */
QUELT_API int Qb_BeginTrans(int smfID);
QUELT_API int Qb_CommitTrans(int smfID);
QUELT_API int Qb_RollbackTrans(int smfID);
QUELT_API int Qb_SavePoint(int smfID, const char* name);
QUELT_API int Qb_ReleaseSavePoint(int smfID, const char* name);
QUELT_API int Qb_RollbackToSavePoint(int smfID, const char* name);

/* ---- Authoring: editing rows -------------------------------------------- */
/* Each table (any letter case) has one row buffer: put a row into edit mode
 * or the table into insert mode, set values, then post or cancel. Insert,
 * setting values and posting test no access rights. */

/* Puts row pkey into edit mode. -1 with "Cannot find table named \"t\"", "You
 * do not have access rights to modify this object", or "Table named \"t\" is
 * NOT in Edit mode!" when the table is in insert mode or editing another row
 * (editing the same row again gives 0 and keeps the values set). */
QUELT_API int Qb_Edit(int smfID, const char* table, int pkey);
/* Puts the table into insert mode (0 also when it is in it already); -1 with
 * "Table named \"t\" is NOT in Insert mode!" while a row is being edited. */
QUELT_API int Qb_Insert(int smfID, const char* table);
/* Drops the values set and leaves edit or insert mode; 0 in every mode. */
QUELT_API int Qb_Cancel(int smfID, const char* table);
/* Sets the value of a column (by name in any letter case, or by number from
 * 1) for the next post. The table must be in edit or insert mode. An agency's
 * Password is stored scrambled, by its first ten bytes and its length
 * (see Qb_Login; -1, and nothing set, for a password that is empty or whose
 * ten scrambled bytes would hold a zero byte); setting an
 * edit's EditLogic also empties its CompiledLogic, and CompiledLogic itself
 * cannot be set (-1). */
QUELT_API int Qb_SetFieldByName(int smfID, const char* table, const char* column, const char* value);
QUELT_API int Qb_SetFieldByNumber(int smfID, const char* table, int column, const char* value);
/* Writes the row: one INSERT of the values set (*pkey receives the new row's
 * PKey, 0 when nothing was set) or one UPDATE of the edited row (*pkey
 * receives its PKey as the row holds it after the post, a posted PKey
 * included). An UPDATE needs the rights that Qb_Edit tests, held for the row
 * as the file holds it when the post runs: -1 with "You do not have access
 * rights to modify this object" and nothing written otherwise; a row no
 * longer in the file, whoever deleted it, is no refusal: nothing is written
 * and the result is 0. Agency "NONE" and the default message keep PKey 1, and
 * no other row of RL_Agencies or RL_Messages takes it: -1, nothing written,
 * with "Agency \"NONE\" may not be given another PKey" or "Message Number 0
 * may not be given another PKey", or with "PKey 1 belongs to Agency
 * \"NONE\"" or "PKey 1 belongs to Message Number 0". A new row that the
 * database numbers takes the next number, or a free PKey from 1 to
 * 2147483647 when the next would pass 2147483647; a new row of RL_Agencies or
 * RL_Messages that the database would number 1 takes a free PKey from 2.
 * Values stand bare only when the column is integer or double and the value
 * is a number; in an update the text NULL, and an empty value of a nullable
 * column with a value list or range, write SQL NULL (which the type check of
 * an integer column refuses, see Qb_AddColumnDef). An
 * update that renames a field, renumbers a message or renames a lookup table
 * carries the change into the logic of every dependent edit and recompiles
 * them (an edit whose logic no longer compiles keeps an empty compiled text);
 * a new RL_LookupTables.TableName renames the table itself as
 * Qb_CopyLookupTable copies it, then drops the old table. A rename is refused,
 * -1 with nothing changed, when another table's foreign key refers to the
 * table (found before anything changes), or when a view or trigger that
 * compiled before the rename (the table's own triggers too, re-made on the new
 * table) no longer compiles once the old table is gone, as the database
 * itself reads it, in every form it accepts (the rename is then undone); a
 * CTE or alias spelt like the table names no table, and a view or trigger
 * that did not compile before is no reason: "Table \"t\" cannot be renamed:
 * table \"c\" refers to it, and would be left naming a table that is gone"
 * (or trigger "x", view "v": the one that fails itself, named as the file
 * held it before the rename); a new name that the database reads as one of
 * its table-valued functions is refused the same way, with nothing changed
 * (see Qb_DefineTableStructure); so is one while a cursor is in the middle
 * of its read, before the row is written (see the named cursors); any other
 * failed rename adds a line that begins "DANGER!". A new
 * FieldLength takes the field out of every layout. Any failure rolls the
 * whole update back. -1, and nothing written, for a field name that holds a
 * double quote (no edit logic could name it), and for a row whose PKey as
 * stored (posted, or given by the database) is not a whole number from
 * -2147483648 to 2147483647, NULL included, or when no PKey within that range
 * is free: "PKey \"k\" of table \"t\" is not a whole number
 * from -2147483648 to 2147483647; the row is not posted". The buffer is
 * emptied and leaves its mode in every case. */
QUELT_API int Qb_Post(int smfID, const char* table, int* pkey);
/* *isUnique = 1 and *clashPKey = 0 when no row but pkey holds value in the
 * column (compared as the column compares: collate nocase columns ignore
 * letter case); else *isUnique = 0 and *clashPKey = a row that holds it; -1
 * when that row's PKey is not a whole number within the range of an int. */
QUELT_API int Qb_ValidateUnique(int smfID, const char* table, int pkey, const char* column, const char* value,
                                int* isUnique, int* clashPKey);

/* Deletes row pkey (0 also when there is none; no rights are tested). The
 * agency "NONE" (PKey 1) and the default message (PKey 1) cannot be deleted.
 * Before a row goes, what depends on it is settled: a deleted agency's edits,
 * edit sets, fields, layouts, messages and lookup tables pass to agency 1;
 * edits that use a deleted field, message or lookup table lose their compiled
 * logic (recompile them); edits whose default message is deleted fall back to
 * message 1; a deleted RL_LookupTables row drops the metafile's own table of
 * that name (never a control table, nor one of an open import's source;
 * refused while a cursor is in the middle of its read, see the named
 * cursors); pivot rows go with the rows they join. Any failure leaves the
 * metafile as it was. */
QUELT_API int Qb_Delete(int smfID, const char* table, int pkey);

/* ---- Authoring: edit-set and layout membership --------------------------- */
/* Each needs a login that may act for the agency owning the edit set (or
 * layout), as the file holds the owner when the change is written: -1 with
 * "You do not have access rights to modify this edit set" (or "... this
 * layout"). A new membership row takes a PKey an int holds, as a posted row
 * does. Adding a membership that exists, or removing one
 * that does not, changes nothing and gives 0; an existing field keeps its start
 * position. A failed statement gives -1 with the reason and the statement. */
QUELT_API int Qb_AddEditSetsPivot(int smfID, int editSetPKey, int editPKey);
QUELT_API int Qb_DeleteEditSetsPivot(int smfID, int editSetPKey, int editPKey);
QUELT_API int Qb_AddLayoutsPivot(int smfID, int layoutPKey, int fieldPKey, int startPos);
QUELT_API int Qb_DeleteLayoutsPivot(int smfID, int layoutPKey, int fieldPKey);

/* ---- Authoring: lookup tables -------------------------------------------- */

/* Starts a lookup-table definition: its name (letters, digits and "_", not
 * starting with a digit, "RL_" or "sqlite_"; SQL keywords such as First are
 * names like any other), and whether the existing table of that name is to be
 * restructured (restructure != 0). A new table may not take a name that the
 * database reads, in any letter case, as one of its own table-valued
 * functions or eponymous virtual tables (json_each, json_tree, dbstat,
 * pragma_table_list and the other pragma_ functions): the table would take
 * the function's place in every view, trigger and statement that calls it,
 * so the name is refused with "Invalid look-up table name \"n\": the database
 * reads it as a table-valued function, which a table of that name would
 * hide"; Qb_CopyLookupTable, a rename and Qb_ImportLookupTable refuse it
 * alike. Clears the definition. -1 for a refused
 * name, a null one included: the definition is then left without a name, and
 * Qb_CreateTable refuses it even after columns are added. */
QUELT_API int Qb_DefineTableStructure(int smfID, const char* name, int restructure);
/* Adds a column to the definition, in table order: its name and, for a
 * restructure, the old column whose values it takes (null or empty: none;
 * both letters, digits and "_", not starting with a digit; keywords such as
 * Key allowed); an integer column (isInteger != 0) or a text
 * column of `length` characters (1 to 6: char, else varchar; varchar for a
 * trigger-maintained column); nullable; a list of allowed values (SQL list,
 * text columns only) or low and high bounds (whole numbers for an integer
 * column); a default. A column that is not nullable is NOT NULL, and when
 * defaultValue is null or empty it takes the default '' (text) or 0
 * (integer), so a row posted without it is refused only by a list or range;
 * a nullable column has no default when defaultValue is null, and '' or 0
 * when it is empty. Every integer column checks that its value is an
 * integer, which refuses an empty value and NULL however nullable is set: a
 * restructure that adds a nullable integer column with no source column and
 * no default to a table with rows fails. indexKind 1 adds an index over the
 * column and PKey, 2 or more a unique index; its name is "x" + the first 8
 * characters of the table name + "_" + the column, with a digit 0 to 9 added
 * when that name is taken (-1 when all are: the column stays, without
 * index). A text column of length 0 or less is refused. */
QUELT_API int Qb_AddColumnDef(int smfID, const char* name, const char* sourceName, int isInteger, int length,
                              int nullable, int triggerMaintained, const char* inList, const char* low,
                              const char* high, const char* defaultValue, int indexKind);
/* Creates the defined table with its indexes and an RL_LookupTables row for it
 * (agency 1, RecCount 0; a row the host holds in the RL_LookupTables buffer
 * is left as it is) whose PKey goes to *pkey (a PKey an int holds: a free
 * one from 1 to 2147483647 when the database's next number would pass
 * 2147483647, -1 when none is free); or restructures it: its rows
 * keep their PKeys (where the old PKey values are distinct whole numbers;
 * otherwise they are numbered from 1 in stored order) and are copied
 * column by column from the named source columns (none named: the table is
 * left empty), the triggers that maintain
 * trigger-maintained columns are put back and run over every row, and its
 * indexes are created (*pkey is left alone; pkey may then be NULL). The
 * triggers, views and foreign keys of other tables that name the table name
 * it still, and no ON DELETE action of rows that refer to it runs. -1 when a
 * row that found a row of the table would no longer find the row of the same
 * PKey (renumbered rows never count as the same): "FOREIGN KEY constraint
 * failed", or the database's reason when the reference could be checked
 * before and no longer can. That holds for the rows of other tables; for the
 * table's own rows, read through the new columns of the same names, which
 * must find that row alone (the new table declares no reference of its own,
 * and a referring column left out takes its reference with it); and, where
 * rows are renumbered, for a reference the database could not check too (one
 * that names no column of a table that declares no primary key is taken to
 * mean its PKey, as it does once the table is rebuilt).
 * References to other tables are not looked at. Inside the host's
 * transaction it is also -1 when another table refers to the table with an
 * ON DELETE action (foreign keys cannot be switched off there; the table's
 * own action on itself reaches only its old rows and is no reason), or by
 * columns that no unique index of the new table covers (the database then
 * refuses its rows: "foreign key mismatch ..."), or when a row that refers to
 * the table, or a row of the table, finds no row by a reference the database
 * can check while the transaction holds foreign key checks pending (nothing
 * is changed, and the host's commit answers as it would have; a reference it
 * cannot check finds nothing pending). There, where foreign keys stay
 * enforced, each referring column that no index covers is given an index of
 * the rebuild's own ("quelt rebuild index " and a number no other object
 * has) for as long as the rebuild runs, so that its time grows with the rows
 * rather than their square; no index serves a column declared as text, or
 * with no type, that refers to a numeric key (declare it integer), and that
 * time then grows with the square. A row of another table is followed by its
 * rowid (by its values where its columns take every name of the rowid): inside the
 * host's transaction, where foreign keys stay enforced, one followed by its
 * rowid whose values an ON UPDATE action changes while it finds the same row
 * is no loss; outside one, foreign keys are off during the rebuild, no such
 * action runs, and a row whose referred value changes is lost (-1). A
 * duplicate in a unique index fails as the index's step, with its statement,
 * inside a transaction as outside. A restructure is refused while a cursor
 * is in the middle of its read (see the named cursors). Any failure leaves
 * the metafile as it was. The definition is kept. */
QUELT_API int Qb_CreateTable(int smfID, int* pkey);

/* Copies lookup table oldName to newName (letters, digits and "_"; not
 * starting with "RL_" or "sqlite_") with its rows, indexes and triggers
 * (names "x" and "_" + the first 8 characters of the table name are renamed
 * with it; the table's name, bare or quoted in any way SQLite allows, is
 * written as [newName] where it names a table: after ON, after REFERENCES in
 * the table's own text (so the copy of a table that refers to itself refers
 * to itself), and as the table a trigger writes with UPDATE [OR ...], INSERT
 * [OR ...] INTO, REPLACE INTO or DELETE FROM; a keyword that spells the name
 * is left alone; -1 when an index or trigger would not be on the copy), and
 * adds an RL_LookupTables row for agencyPKey when the old table has one.
 * Other tables' references stay with the old table. A trigger of the table
 * that worked on it and, re-made on the copy, would not compile there, as the
 * database reads it, refuses the copy: -1 with "Table \"t\" cannot be copied:
 * trigger \"x\", re-made on table \"n\", would not work there: " and the
 * database's reason. On any failure nothing is left of the copy. */
QUELT_API int Qb_CopyLookupTable(int smfID, const char* oldName, const char* newName, int agencyPKey);

/* ---- Authoring: import from a second metafile --------------------------- */
/* While an import is open the source metafile is attached as "SourceDB" and
 * the built-in super user is logged in, so every agency's rows may be edited. */

/* Kinds of import candidate. */
typedef enum {
  ImportCandidateAbsent = 1,   /* the target has no row with the source row's key */
  ImportCandidateDiffers = 2,  /* a target row has the key and differs (or, for edit
                                  sets and layouts of the same tag and name, other members) */
  ImportCandidateClashes = 3   /* a target row agrees in one identifying column and not another */
} ImportCandidateKind;
/* One candidate: the control table's name, the source row's PKey, the target
 * row's PKey (-1 when absent), the source row's display text, the admin code of
 * its agency, and the ImportCandidateKind. */
typedef int (*ImportCandidateCallback)(void* owner, const char* tableName, int sourcePKey, int targetPKey,
                                       const char* display, const char* adminCode, int kind);

/* Opens an import of the metafile at path: the path of a file, absolute or
 * from the current directory, every byte of it part of the name. -1 when an
 * import is open already ("Import Metafile is already running") or the source
 * cannot be attached (the import must then be closed before another is
 * opened); not inside a transaction. A source that does not exist is refused
 * like any other that cannot be opened, with the database's reason: no file is
 * made and nobody is logged in. */
QUELT_API int Qb_OpenImportMetafile(int smfID, const char* path);
/* Closes the import: the super user it logged in leaves, the source is
 * detached. -1 when no import is open, while a cursor in the middle of its
 * read holds the source (see the named cursors; nothing changes), or when
 * the database refuses the detach (the import then stays open; try again
 * after the transaction). */
QUELT_API int Qb_CloseImportMetafile(int smfID);
/* Calls ImportCandidateCallback (owner and callback both required) for every
 * candidate of one control table (RL_Agencies, RL_Edits, RL_EditSets,
 * RL_Fields, RL_Layouts, RL_Messages or RL_LookupTables, any letter case).
 * keyField "EditTag", "EditSetTag" or "LayoutTag" keys edits, edit sets and
 * layouts by tag, any other text by name (it must not be null for those). A
 * source row may be reported by more than one kind. */
QUELT_API int Qb_GetImportCandidates(int smfID, const char* tableName, const char* keyField, void* owner,
                                     void* callback);
/* Copies the lookup table of that exact name from the source: its definition,
 * indexes, rows and triggers (which then fill their columns in every row). It
 * writes no RL_LookupTables row and touches no control table. Names starting
 * with "RL_" or "sqlite_", and those of the database's table-valued functions
 * (see Qb_DefineTableStructure), are refused. The source's texts run only
 * where the database, preparing each, reports that it makes nothing but the
 * table, an index or a trigger on it in the metafile ("A text of the source
 * would make <what>, not table \"t\" or an index or a trigger of it in the
 * metafile"). Its triggers are then refused, -1, when the statements that
 * fire them (an INSERT and an UPDATE of every column, the rowid too, and a
 * DELETE), as the database compiles them for a connection that lets triggers
 * fire recursively, would write a control table, directly or through any
 * trigger or view they reach, whatever a WHEN clause says ("Trigger \"x\"
 * would write control table \"RL_...\""); when one of those statements no
 * longer compiles ("Trigger \"x\" would not work in the metafile: " and the
 * database's reason), or a trigger fires on none of them ("Trigger \"x\" fires
 * on no statement that table \"t\" takes, so what it would write cannot be
 * told"), since such a trigger could write one once it does. The trigger is
 * named by testing each alone. Each refusal follows "Cannot import lookup
 * table \"t\"" and precedes the source's schema query.
 * Every object it makes is new. Before anything runs (so that nothing
 * changes and no read of the host's ends), a name that the metafile, or a
 * temporary object of its connection, already holds, letter case aside, is
 * refused when it is the table's name or the name of an index or trigger
 * that the source lists for the table: "Cannot import lookup table \"t\""
 * and "The metafile already holds <kind> \"<name>\"" (kind "table", "view",
 * "index", "trigger", or one of those after "temporary "), whatever the
 * source's text says, IF NOT EXISTS included. A source text that, run, makes
 * nothing new (an IF NOT EXISTS over a name another connection took
 * meanwhile) is refused too, undone: "A text of the source makes nothing new
 * in the metafile, which already holds <kind> \"<name>\"", before the
 * source's schema query; a plain text over such a name fails with the
 * database's reason ("table t already exists").
 * An import that would leave a foreign key broken that was not broken before
 * (a row of the table that refers to no row, or a row its triggers write or
 * remove elsewhere) is refused with the one error "FOREIGN KEY constraint
 * failed" and undone, inside the host's transaction too, whose own writes
 * stay and still commit; checks the host's transaction held pending before
 * are not the import's. A source that another connection holds so that it
 * cannot be read is refused with "The source metafile \"<path>\" is locked
 * by another connection", followed by the read that met it; try again once
 * it is free. Inside a host transaction that has not read the metafile yet,
 * the import takes the metafile's write lock before it reads, so that it
 * waits for another writer as it does outside one (the lock then stays with
 * the host's transaction, whatever the answer). Any failure leaves the
 * metafile as it was. */
QUELT_API int Qb_ImportLookupTable(int smfID, const char* tableName);
/* Writes an agency password in its stored (scrambled) form, as read from the
 * source, into agency agencyPKey of the metafile; needs an open import. */
QUELT_API int Qb_ImportWritePassword(int smfID, int agencyPKey, const char* password);

#ifdef __cplusplus
}

/* Does nothing: the handle table exists once the library is loaded. */
QUELT_API void Startup();
/* Closes every open metafile (handles restart from 0) and unloads every
 * external library loaded for edit logic. Not to be called from a callback. */
QUELT_API void Shutdown();
#endif

#endif /* QUELT_H */
