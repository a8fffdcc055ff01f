#include "decimal_keys.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLocale>

namespace {

// Turns the key of a '.' or ',' into the locale's decimal point on the way to a spin box.
class DecimalPointFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        auto* box = qobject_cast<QDoubleSpinBox*>(watched);
        const QString point = box ? box->locale().decimalPoint() : QString();
        if (!box || (key->text() != QLatin1String(".") && key->text() != QLatin1String(","))
            || key->text() == point)
            return false;
        QKeyEvent typed(QEvent::KeyPress,
            point == QLatin1String(",") ? Qt::Key_Comma : Qt::Key_Period, key->modifiers(), point);
        QApplication::sendEvent(watched, &typed);
        return true;
    }
};

} // namespace

void acceptEitherDecimalPoint(QWidget* parent)
{
    auto* filter = new DecimalPointFilter(parent);
    QList<QDoubleSpinBox*> boxes = parent->findChildren<QDoubleSpinBox*>();
    if (auto* box = qobject_cast<QDoubleSpinBox*>(parent))
        boxes << box;
    for (QDoubleSpinBox* box : boxes)
        box->installEventFilter(filter);
}
