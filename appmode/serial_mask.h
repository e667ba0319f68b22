// The serial mask table of the running firmware's update protocol.
//
// The masked serial words the updater sends at the end of an application-mode update are
// s XOR T[s AND 0xF] for each of the controller's three serial words s. T is assembled at run time:
// sixteen stored words, of which PrepareSerialMask replaces words 0..3 (through the first table
// reference) and 4..7 (through the second). These values must match the controller's firmware;
// the virtual controller includes this header so that both sides agree.
#pragma once

#include <cstdint>

constexpr int kMaskTableWords = 16;

// Written by PrepareSerialMask into words 0..3 of the table named by the first reference.
constexpr uint32_t kMaskWordsLow[4] = {0x3A61C0D5u, 0x9E2B4F17u, 0x5C08E3A9u, 0xD1F7236Bu};
// Written by PrepareSerialMask into words 4..7 of the table named by the second reference.
constexpr uint32_t kMaskWordsHigh[4] = {0x7B4E9A02u, 0x16D3C58Fu, 0xE8A0713Cu, 0x4F95B6E1u};

// The stored words, as the program starts with them.
constexpr uint32_t kStoredMaskTable[kMaskTableWords] = {
    0x5A17C3E9u, 0x0C8D4B72u, 0xB3E6192Fu, 0x61F0A85Du, 0x2D9C37B4u, 0xF4025E8Bu,
    0x8A6BD013u, 0x37C1F6A0u, 0xC95E2418u, 0x1B73ED96u, 0xE0A4598Cu, 0x764F13D7u,
    0xA238C06Eu, 0x4DE97B25u, 0x98B6A441u, 0x03552FFAu};

// The masked form of one serial word with a given table.
inline uint32_t MaskSerialWord(uint32_t serial, const uint32_t table[kMaskTableWords]) {
  return serial ^ table[serial & 0xF];
}
