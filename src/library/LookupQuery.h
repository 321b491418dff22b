// One cached lookup statement: the parameterized SELECT of a table spec,
// prepared once, with the table's definition, the result positions of its key
// columns and the pad width of a trigger-maintained key column.
#pragma once

#include <memory>
#include <vector>

class TSQLDB;
class TTableDef;
class TFastSQLQuery;

class TLookupQuery {
 public:
  TLookupQuery(TSQLDB* db, TTableDef* tableDef);
  ~TLookupQuery();
  TLookupQuery(const TLookupQuery&) = delete;
  TLookupQuery& operator=(const TLookupQuery&) = delete;

  TFastSQLQuery* GetQuery() const { return FQuery.get(); }
  TTableDef* GetTableDef() const { return FTableDef; }
  // Keeps a position only when the table has a column there.
  void AddColumnOrder(int position);
  int GetColumnsCount() const { return static_cast<int>(FColumnOrders.size()); }
  // The i-th key position, or -1 when there is none.
  int GetColumnOrder(int i) const;
  // Keeps a width only when it is greater than 0.
  void SetPadTo(int width);
  int GetPadTo() const { return FPadTo; }

 private:
  std::unique_ptr<TFastSQLQuery> FQuery;
  TTableDef* FTableDef;  // borrowed from the table model
  std::vector<int> FColumnOrders;
  int FPadTo = 0;
};
