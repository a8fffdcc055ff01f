// The program's version, as the about box shows it.
#pragma once

namespace versioninfo {

constexpr int major = 0;
constexpr int minor = 2;
constexpr int patch = 3;
constexpr const char* suffix = " beta";

} // namespace versioninfo
