// The dialog's side of the running firmware's messages: the shared output buffer and the firmware
// type of the last identity. The wire format itself is in appmode/app_packet.h.
#pragma once

#include <atomic>
#include <cstdint>

#include "appmode/app_packet.h"

// The length byte and the message (or message piece) being written; shared by every send.
extern uint8_t g_OutMessage[64];
// The firmware type of the last identity message (0..255); 1 and 200 are updated here.
extern std::atomic<uint32_t> g_nFirmwareType;
