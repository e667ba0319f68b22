#include "appmode/serial_mask.h"

#include <algorithm>
#include <iterator>

namespace {
struct MaskTables {
  MaskTables() {
    std::copy(std::begin(kStoredMaskTable), std::end(kStoredMaskTable), g_SerialMaskTable);
    std::copy(std::begin(kStoredMaskTable), std::end(kStoredMaskTable), g_SpareMaskTable);
  }
};
}  // namespace

uint32_t g_SerialMaskTable[kMaskTableWords];
uint32_t g_SpareMaskTable[kMaskTableWords];
static MaskTables g_maskTablesInit;
