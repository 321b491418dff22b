// The engine-error list and the text form the host reads back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "storage/EngineErrorsPump.h"

namespace {
std::string read_error(const TEngineErrorsPump& pump, int index) {
  char buffer[128];
  EXPECT_EQ(0, pump.GetErrorByIndex(index, buffer, sizeof buffer));
  return std::string(buffer);
}
}  // namespace

TEST(EngineErrorsPump, CountsEntriesAndRendersTextForm) {
  const std::string outOfRange = "TEngineErrorsPump::GetErrorByIndex - index out of range";
  TEngineErrorsPump pump;
  int count = -1;
  EXPECT_EQ(0, pump.GetErrorsCount(&count));
  EXPECT_EQ(0, count);
  EXPECT_EQ(outOfRange, read_error(pump, 0));

  pump.AddError("TSMF", "build_tables_list", "Failure to build list of tables");
  pump.AddError(new TEngineError("", "", ""));
  pump.GetErrorsCount(&count);
  EXPECT_EQ(2, count);
  // "\xBB" is closed before the message: "\xBBF" would read as one longer escape.
  EXPECT_EQ("TSMF::build_tables_list\xBB" "Failure to build list of tables", read_error(pump, 0));
  EXPECT_EQ("::\xBB", read_error(pump, 1));
  EXPECT_EQ(outOfRange, read_error(pump, 2));
  EXPECT_EQ(outOfRange, read_error(pump, -1));

  EXPECT_EQ(0, pump.ClearPump());
  EXPECT_EQ(0, pump.ClearPump());
  pump.GetErrorsCount(&count);
  EXPECT_EQ(0, count);
}

TEST(EngineErrorsPump, CopiesIntoBufferLikeStrncpy) {
  TEngineErrorsPump pump;
  pump.AddError("C", "M", "msg");  // 8 bytes: C : : M 0xBB m s g
  char buffer[16];
  const std::pair<int, const char*> cases[] = {
      {5, "C::M\xBB" "xxxxxxxx"},       // cut: no terminator
      {8, "C::M\xBB" "msgxxxxx"},       // exactly full: no terminator
      {12, "C::M\xBB" "msg\0\0\0\0x"},  // zero-filled up to length only
      {0, "xxxxxxxxxxxxx"},
      {-1, "xxxxxxxxxxxxx"}};
  for (const auto& [length, expected] : cases) {
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(0, pump.GetErrorByIndex(0, buffer, length));
    EXPECT_EQ(0, memcmp(buffer, expected, 13)) << "length " << length;
  }
}
