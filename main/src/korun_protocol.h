// The KORUN-77M's line protocol as both sides speak it: the synchronisation 0xFF 0xFF 0x55 0xAA
// answered by 0xA5, command frames (command byte, payload, byte-sum checksum) acknowledged with
// 0x00 (0x01 for a wrong sum), and the three commands. Plain C++, no library: the program and
// the simulated unit include it alike. Depends on nothing.
#pragma once

#include <cstdint>

namespace korun {

constexpr uint8_t syncBytes[4] = { 0xFF, 0xFF, 0x55, 0xAA };
constexpr uint8_t syncAnswer = 0xA5;
constexpr uint8_t wrongSyncAnswer = 0x5A; // what a unit at the wrong line rate seems to answer
constexpr uint8_t ackGiven = 0x00;
constexpr uint8_t ackWrong = 0x01;
constexpr uint8_t commandParameters = 0x21; // 13 bytes of acquisition parameters
constexpr uint8_t commandStatus = 0x22; // answered by the busy flag and its sum
constexpr uint8_t commandReadChannel = 0x23; // 5 bytes: 0, 0, half count (LE), channel index

} // namespace korun
