// The engine-error list's own operations that the exports do not reach: an
// entry handed over whole, an entry of empty texts, and emptying the list.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "storage/EngineErrorsPump.h"

namespace {

std::string entry(const TEngineErrorsPump& pump, int index) {
  char buffer[64];
  EXPECT_EQ(0, pump.GetErrorByIndex(index, buffer, sizeof buffer));
  return buffer;
}

int count(const TEngineErrorsPump& pump) {
  int count = -1;
  EXPECT_EQ(0, pump.GetErrorsCount(&count));
  return count;
}

}  // namespace

TEST(EngineErrorsPump, EntriesInOrderWhicheverWayTheyCome) {
  TEngineErrorsPump pump;
  EXPECT_EQ(0, pump.ClearPump());  // an empty list stays empty
  EXPECT_EQ(0, count(pump));
  EXPECT_EQ("TEngineErrorsPump::GetErrorByIndex - index out of range", entry(pump, 0));

  EXPECT_EQ(0, pump.AddError("C", "M", "msg"));
  EXPECT_EQ(0, pump.AddError(new TEngineError("TSMF", "build_tables_list", "owned")));
  EXPECT_EQ(0, pump.AddError("", "", ""));
  EXPECT_EQ(3, count(pump));
  for (const auto& [index, text] :
       {std::pair{0, "C::M\xBB" "msg"}, {1, "TSMF::build_tables_list\xBB" "owned"}, {2, "::\xBB"},
        {3, "TEngineErrorsPump::GetErrorByIndex - index out of range"},
        {-1, "TEngineErrorsPump::GetErrorByIndex - index out of range"}})
    EXPECT_EQ(text, entry(pump, index)) << index;

  EXPECT_EQ(0, pump.ClearPump());  // the sanitizer build sees the owned entry freed once
  EXPECT_EQ(0, count(pump));
}
