#include "boxes.h"

#include "init.h"
#include "ustrings.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

namespace testboxes {

QStringList texts;
QStringList causes;
QList<QMessageBox::StandardButton> answers;

namespace {

qtmisc::HookHandle answerWhenOpen()
{
    QTimer::singleShot(0, [] { answerTopBox(); });
    return {};
}

} // namespace

bool answerTopBox()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box)
        return false;
    texts.append(box->text());
    causes.append(box->informativeText());
    QAbstractButton* button = answers.isEmpty() ? nullptr : box->button(answers.takeFirst());
    if (!button)
        button = box->defaultButton();
    if (!button && !box->buttons().isEmpty())
        button = box->buttons().first();
    if (button)
        button->click();
    else
        box->done(0);
    return true;
}

void install(qtmisc::InitHooks& hooks)
{
    hooks.beforeInfo = answerWhenOpen;
    hooks.beforeWarn = answerWhenOpen;
    hooks.beforeQuestion = answerWhenOpen;
    hooks.beforeCritical = answerWhenOpen;
    hooks.beforeFatal = answerWhenOpen;
}

bool startLibrary()
{
    qtmisc::InitHooks hooks = programInitHooks();
    install(hooks);
    if (qtmisc::init(hooks) != 0)
        return false;
    stringsKit.retranslate();
    return true;
}

void reset()
{
    texts.clear();
    causes.clear();
    answers.clear();
}

} // namespace testboxes
