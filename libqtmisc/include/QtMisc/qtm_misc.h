// Process helpers: effective ids.
#pragma once

namespace qtmisc {

// True when both the effective user id and the effective group id are 0.
bool isRoot();
// seteuid(0), setegid(0), setreuid(0, 0), setregid(0, 0), stopping at the first failure.
bool switchToRoot();

} // namespace qtmisc
