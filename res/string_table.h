// The program's string table: the eighteen texts in Simplified Chinese (ids 129..146) and English
// (ids 238..255), stored the way a string-table resource stores them.
#pragma once

#include <cstddef>
#include <cstdint>

// Finds string block blockNumber (ids (blockNumber - 1) * 16 .. + 15). A block is sixteen entries,
// each a 16-bit count followed by that many UTF-16 code units; a count of 0 is an empty id.
// Answers false when the table holds no such block.
bool FindStringBlock(uint32_t blockNumber, const char16_t** units, size_t* unitCount);
