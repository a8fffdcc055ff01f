// Basic types of the support library. Depends on nothing but QtCore.
#pragma once

#include <QtGlobal>

namespace qtmisc {

using uint16 = quint16;
using uint32 = quint32;

// A reported failure: bits 0-15 code, 16-31 source line, 32-47 source-file number,
// 48-63 errno (0xFFFF when out of range, 0 when not captured).
using ErrorCode = quint64;

} // namespace qtmisc
