// The dialog's side of the running firmware's messages: the shared output buffer and the firmware
// type of the last identity. The wire format itself is in appmode/app_packet.h.
#pragma once

#include <atomic>
#include <cstdint>

#include "appmode/app_packet.h"
