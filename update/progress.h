// The progress bar's position for an update: the share of the image already done, in percent.
#pragma once

#include <cstdint>

// bytesDone * 100 / imageSize, rounded down, in 64 bits so that no product overflows, and at
// most 100 (a last chunk may carry bytes beyond the image). 0 when there is no image.
inline int ProgressPercent(uint32_t bytesDone, uint32_t imageSize) {
  if (imageSize == 0)
    return 0;
  uint64_t percent = uint64_t{bytesDone} * 100 / imageSize;
  return percent > 100 ? 100 : static_cast<int>(percent);
}
