// Version of the support library.
#pragma once

namespace qtmisc {

constexpr int versionMajor = 1;
constexpr int versionMinor = 4;
constexpr int versionPatch = 0;

} // namespace qtmisc
