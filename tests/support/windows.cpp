#include "windows.h"

#include "fmain.h"
#include "init.h"
#include "records.h"
#include "wave_form.h"
#include "wave_stor.h"

#include <QMdiArea>
#include <QMdiSubWindow>

namespace testwindows {

MainWnd* openMainWindow()
{
    auto* window = new MainWnd;
    if (!window->create(settingsDirectory(applicationDir))) {
        delete window;
        return nullptr;
    }
    mainWnd = window;
    window->resize(1000, 700);
    window->show();
    return window;
}

void closeMainWindow(MainWnd* window)
{
    for (QMdiSubWindow* sub : window->workspace()->subWindowList()) {
        auto* form = qobject_cast<TWForm*>(sub);
        if (!form)
            continue;
        form->hasSpectrum = false;
        form->processed = false;
        for (int i = 0; form->record && i < form->record->channelCount(); ++i)
            form->record->channel(i)->modified = false;
    }
    delete window;
}

TWForm* addRecordWindow(MainWnd* window, int channels, int samples, quint32 seed, QSize size)
{
    TWForm* form = window->newEmptyWindow();
    if (!form)
        return nullptr;
    if (size.isValid())
        form->resize(size);
    auto record = testrecords::make(channels, samples, seed, form->plotRect);
    delete form->record;
    form->record = record.release();
    window->workspace()->setActiveSubWindow(form);
    return form;
}

} // namespace testwindows
