// Revision mark of the support library sources.
#pragma once

namespace qtmisc {

constexpr const char* sourceRevision = "1";

} // namespace qtmisc
