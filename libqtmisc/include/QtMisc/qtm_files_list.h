// The support library's list of its own source files, generated at build time.
// Position in the list (from 1) is the file number carried by error codes.
#pragma once

namespace qtmisc {

extern const char* const qtmFilesListArray[];
extern const int qtmFilesListCount;

} // namespace qtmisc
