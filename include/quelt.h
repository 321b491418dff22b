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

/* Opens the metafile at path and stores its handle in *smfID (-1 on failure).
 * The stored structure version must be "5.01": *versionCompare receives 0 when
 * it is, a positive value for an older and a negative one for a newer version
 * (it is left alone when the metafile records no version). On failure returns
 * -1 and describes the failure in message (empty when the file cannot be
 * opened). Opening a path where no file exists creates an empty file. */
QUELT_API int Edit_Initialize(int* smfID, const char* path, char* message, int messageLength,
                              int* versionCompare);
/* Closes a metafile; its handle is reused by the next opening. -1 from a
 * callback of a run, summary or debugging run on that handle. */
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

/* Calls ReadDataCallback once per column of the row with that PKey; no row: 0
 * without a call. A table the database lacks gives -1. */
QUELT_API int Edit_ReadData(int smfID, const char* table, int pkey, void* owner, void* callback);
/* Runs the table's cached row statement again, so later reads see changes. */
QUELT_API int Edit_RefreshReadData(int smfID, const char* table, int pkey);
/* Size of the value at the 1-based column order; reads of one row are cached
 * until another PKey is read or the table is refreshed. Returns 0 with size 0
 * when the value cannot be read (the reason is recorded). */
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
 * "UPDATE ", "INSERT " or "DELETE " are refused. Names are case-insensitive. */

/* Opens a cursor; its first row is current at once. */
QUELT_API int Edit_OpenCursor(int smfID, const char* cursorName, const char* sql);
/* Closes and forgets a cursor of either kind. */
QUELT_API int Edit_CloseCursor(int smfID, const char* cursorName);
/* Rows of the cursor's SELECT, counted once (0 for a parameterized cursor). */
QUELT_API int Edit_CursorRowCount(int smfID, const char* cursorName, int* count);
QUELT_API int Edit_CursorColCount(int smfID, const char* cursorName, int* count);
/* Moves to the next row: 0 when it moved or reached the end, -2 otherwise
 * (for example past the end). */
QUELT_API int Edit_CursorNext(int smfID, const char* cursorName);
/* *eof = 1 once the cursor is past its last row, else 0. */
QUELT_API int Edit_CursorEof(int smfID, const char* cursorName, int* eof);
/* Calls ReadDataCallback once per column of the current row. */
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
 * without fields. A record is one fixed-width line: a field is the slice at its
 * start position and length, empty when it does not fit in the record. */

/* Loads a record into the layout of that tag (a null record is empty). -1 when
 * the layout cannot be read, or while a run, summary or debugging run is under
 * way on the handle (from one of its callbacks). */
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
 * for a null tag or from a callback of a run, summary or debugging run. */
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
 * not run; the reason is in the engine errors), for a null tag or record, an
 * owner without callback or the reverse, or from a callback of a run. */
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
 * The errors, warnings and lists are then read with the Qb_ functions below. */
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
 * names, 'M' message numbers, 'E' message texts; another letter gives
 * *count = -1 and an engine error. */
QUELT_API int Qb_GetLogicListCount(int smfID, char which, int* count);
/* Entry idx (from 0) of a list; out of range gives -1. The kind is the letter
 * of the built-in that uses the message: 'E', 'S', 'W' or 'A'. */
QUELT_API int Qb_GetLogicFieldNumber(int smfID, int idx, int* fieldNumber);
QUELT_API int Qb_GetLogicTableName(int smfID, int idx, char* buffer, int length);
QUELT_API int Qb_GetLogicErrorMessage(int smfID, int idx, int* kind, char* buffer, int length);
QUELT_API int Qb_GetLogicMessageNumber(int smfID, int idx, int* kind, int* messageNumber);
/* Deletes an edit's field, lookup-table, message and message-text pivot rows. */
QUELT_API int Qb_ClearEditLogicPivots(int smfID, int editPKey);

#ifdef __cplusplus
}

/* Does nothing: the handle table exists once the library is loaded. */
QUELT_API void Startup();
/* Closes every open metafile (handles restart from 0) and unloads every
 * external library loaded for edit logic. Not to be called from a callback. */
QUELT_API void Shutdown();
#endif

#endif /* QUELT_H */
