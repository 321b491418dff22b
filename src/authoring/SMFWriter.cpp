// The row-editing component of one open metafile.
#include "authoring/SMFWriter.h"

#include "storage/TableStats.h"

TSMFWriter::TSMFWriter(TSMF* owner, TSQLDB* db, TEngineErrorsPump* pump,
                       TQb_AccessController* access, TTablesList* tables)
    : FSMF(owner), FSQLDB(db), FEnginePump(pump), FQb_AccessController(access),
      FTablesList(tables), FDefineTable(new TDefineTable()) {}

TSMFWriter::~TSMFWriter() { delete FDefineTable; }
