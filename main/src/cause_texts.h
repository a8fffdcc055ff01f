// What the operator reads of the causes that the records' core and the command-line tool give
// in English words: each in Russian, through the translation system (context "FileCauses").
#pragma once

#include <QString>

struct ImportNotes;

// The reader's, writer's, import's or hit search's cause in Russian (a cause it does not know stays
// as it is).
QString fileCauseText(const QString& cause);

// What an import approximated, clipped or missed, in Russian; empty when there is nothing to
// say.
QString importNotesText(const ImportNotes& notes);
