// The functions a card reader library exports (C linkage). The control loads
// such a library at run time; a reader maker's library is wrapped in one
// with these names and types, and the simulator (cardsim.cc) provides them too.
//
//   IC_InitComm(port)           opens the reader on a port; a handle above 0,
//                               else 0 or below
//   IC_ExitComm(handle)         closes it; 0 or more when closed
//   IC_Status(handle)           below 0 an error, 1 no card, else a card is in
//   IC_InitType(handle, type)   selects the card type; 0 on success
//   IC_Read(handle, offset, length, buffer)
//                               copies `length` bytes of card memory from
//                               `offset` to the start of `buffer`; 0 on success
//   IC_DevBeep(handle, time)    sounds the buzzer; the unit of `time` is the
//                               reader's
#pragma once

#include <cstdint>

extern "C" {
using IC_InitComm_t = std::int32_t(std::int32_t port);
using IC_ExitComm_t = std::int16_t(std::int32_t handle);
using IC_Status_t = std::int16_t(std::int32_t handle);
using IC_InitType_t = std::int16_t(std::int32_t handle, std::int32_t type);
using IC_Read_t = std::int16_t(std::int32_t handle, std::int16_t offset, std::int16_t length,
                               unsigned char* buffer);
using IC_DevBeep_t = std::int16_t(std::int32_t handle, std::int16_t time);
}
