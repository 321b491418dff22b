// An external rule library for the tests of externaldll. Its first word picks
// what it does with the other ten, so that its result shows what it received.
#include <cstdint>
#include <cstring>
#include <stdexcept>

extern "C" __attribute__((visibility("default"))) int32_t QueltInterface(int64_t mode, int64_t w2, int64_t w3,
                                                                         int64_t w4, int64_t w5, int64_t w6,
                                                                         int64_t w7, int64_t w8, int64_t w9,
                                                                         int64_t w10, int64_t w11) {
  const int64_t extra[10] = {w2, w3, w4, w5, w6, w7, w8, w9, w10, w11};
  int32_t result = 0;
  switch (mode) {
    case 1:  // the sum of the extra words
      for (int64_t word : extra) result += static_cast<int32_t>(word);
      return result;
    case 2:  // the number of the last extra word that is not 0
      for (int i = 0; i < 10; ++i)
        if (extra[i] != 0) result = i + 1;
      return result;
    case 3:  // the length of the text of word 2
      return static_cast<int32_t>(strlen(reinterpret_cast<const char*>(w2)));
    case 4:  // writes into the buffer of word 2, which holds at least 3 characters
      strcpy(reinterpret_cast<char*>(w2), "ok!");
      return 0;
    case 5:
      throw std::runtime_error("probe refused");
    case 6:
      throw std::runtime_error("");
    default:
      return -1;
  }
}
