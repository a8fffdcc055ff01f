// Answers the program's modal message boxes from inside their event loops, so that tests
// never wait on a human. Install the hooks into the start-up record before qtmisc::init.
#pragma once

#include <QtMisc/qtm_init.h>

#include <QMessageBox>
#include <QStringList>

namespace testboxes {

// Text of every box answered so far, in order, and each one's informative text (its cause).
extern QStringList texts;
extern QStringList causes;
// Answers for the coming boxes, first first; when empty a box gets its default button.
extern QList<QMessageBox::StandardButton> answers;

// Sets the before-hooks of every box kind to answer the box about to open.
void install(qtmisc::InitHooks& hooks);
// Starts the support library with the program's hooks and these, and fills the message texts.
bool startLibrary();
// Answers the topmost open message box now; false when none is open.
bool answerTopBox();
void reset();

} // namespace testboxes
