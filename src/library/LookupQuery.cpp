// One cached lookup statement.
#include "library/LookupQuery.h"

#include "storage/FastSQLQuery.h"
#include "storage/TableStats.h"

TLookupQuery::TLookupQuery(TSQLDB* db, TTableDef* tableDef) : FQuery(new TFastSQLQuery(db)), FTableDef(tableDef) {}

TLookupQuery::~TLookupQuery() {
  // A query dropped before its text was set has no statement to release.
  if (FQuery->GetIsParameterized()) FQuery->ReleaseParameterizedQuery();
}

void TLookupQuery::AddColumnOrder(int position) {
  if (position >= 0 && position < FTableDef->GetColumnCount()) FColumnOrders.push_back(position);
}

int TLookupQuery::GetColumnOrder(int i) const { return i >= 0 && i < GetColumnsCount() ? FColumnOrders[i] : -1; }

void TLookupQuery::SetPadTo(int width) {
  if (width > 0) FPadTo = width;
}
