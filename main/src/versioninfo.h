// The program's version, as the about box shows it.
#pragma once

namespace versioninfo {

constexpr int major = 0;
constexpr int minor = 2;
constexpr int patch = 3;
constexpr const char* suffix = " beta";

} // namespace versioninfo

#include <QString>

namespace versioninfo {

// "0.2.3", the program's version as a document's creator names it.
inline QString numberText()
{
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
}

} // namespace versioninfo
