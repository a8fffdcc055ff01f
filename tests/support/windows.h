// The main window and waveform windows that the window-level tests work on.
#pragma once

#include <QSize>
#include <QtGlobal>

class MainWnd;
class TWForm;

namespace testwindows {

// A created main window, shown at 1000 x 700, that the program-wide pointer points at; null
// when it cannot be created.
MainWnd* openMainWindow();
// Lets every waveform window go without questions (no spectrum open, nothing processed or
// unsaved), then deletes the main window.
void closeMainWindow(MainWnd* window);
// A new window in the workspace, active, resized to size when one is given, holding a record
// of repeatable signals of the shape laid out on its plot.
TWForm* addRecordWindow(MainWnd* window, int channels, int samples, quint32 seed, QSize size = {});

} // namespace testwindows
