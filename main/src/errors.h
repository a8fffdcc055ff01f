// The program's own 16-bit failure codes (each ends in the byte 0x02, except 0xA404).
#pragma once

#include <QtMisc/qtm_errors.h>

namespace err {

constexpr quint16 noTranslator = 0xA404; // start-up: translator or application missing

// Main window creation step.
constexpr quint16 commandConnect = 0xA402; // OR-ed with the connection's position << 8
constexpr quint16 noForm = 0xE402;
constexpr quint16 noWorkspace = 0xE502;
constexpr quint16 workspaceConnect = 0xE602;
constexpr quint16 noZoomPanel = 0xE702;
constexpr quint16 zoomConnect = 0xE802;
constexpr quint16 noToolItem = 0xE902;
constexpr quint16 toolConnect = 0xEA02;
constexpr quint16 noStatusFrame = 0xEB02;
// A waveform window's signals could not be connected to the main window.
constexpr quint16 windowConnect = 0xEC02;

} // namespace err
