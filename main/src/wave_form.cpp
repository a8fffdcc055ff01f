#include "wave_form.h"

#include "data.h"

TWForm::TWForm(QWidget* parent, Qt::WindowFlags flags)
    : QMdiSubWindow(parent, flags)
{
}

TWForm::~TWForm() = default;

int TWForm::displayMode() const
{
    return 0;
}

int TWForm::smoothParam() const
{
    return 1;
}

bool TWForm::sineOverlay() const
{
    return false;
}

void TWForm::setVScale(bool, int) { }

void TWForm::setStretch(bool, int, int) { }

void TWForm::syncVScaleSlider(QScrollBar*) const { }

void TWForm::syncStretchSlider(QScrollBar*) const { }

void TWForm::setFilter(int, int) { }

void TWForm::setSineVisible(bool) { }

void TWForm::setGraphColor(int channel, const QColor& color)
{
    if (channel >= 0 && channel < colorTableSize)
        traceColors[channel] = color;
}

void TWForm::setCursorColor(int channel, const QColor& color)
{
    if (channel >= 0 && channel < colorTableSize)
        cursorColors[channel] = color;
}

void TWForm::refreshAllStatus() { }
