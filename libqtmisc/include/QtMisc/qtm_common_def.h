// 16-bit results of the start-up routines and other library operations.
#pragma once

#include <QtMisc/qtm_types.h>

namespace qtmisc {

constexpr uint16 resultOk = 0;
constexpr uint16 resultNotCreated = 0xA008; // a component could not be created or started
constexpr uint16 resultReported = 0xA00B; // a failure that has already been reported
constexpr uint16 resultNotConnected = 0xA00C; // a signal connection failed

} // namespace qtmisc
