// The engine-error list and the text form the host reads back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "storage/EngineErrorsPump.h"

TEST(EngineErrorsPump, TextFormCopiedLikeStrncpy) {
  TEngineErrorsPump pump;
  pump.AddError("C", "M", "msg");  // 8 bytes: C : : M 0xBB m s g
  pump.AddError("", "", "");
  char buffer[64];
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
  for (const auto& [index, expected] : {std::pair{1, "::\xBB"}, {2, "TEngineErrorsPump::GetErrorByIndex - index out of range"},
                                        {-1, "TEngineErrorsPump::GetErrorByIndex - index out of range"}}) {
    EXPECT_EQ(0, pump.GetErrorByIndex(index, buffer, sizeof buffer));
    EXPECT_STREQ(expected, buffer) << index;
  }
}
