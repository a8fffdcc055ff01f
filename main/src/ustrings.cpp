#include "ustrings.h"

#include "ui_loadprogress.h"

#include <QApplication>
#include <QCloseEvent>

StringsKit stringsKit;

void StringsKit::retranslate()
{
    okText = tr("Ok");
    vertScaleText = tr("Масштаб по вертикали");
    horzStretchText = tr("Растяжка по горизонтали");
    stopText = tr("STOP");
    smoothParamText = tr("Параметр сглаживания");
    bufferText = tr("Буфер");
    saveTimesText = tr("Сохранить времена в буфере");
    centerCursorsText = tr("Установить курсоры по центру экрана");
    selectModeText = tr("Переключатель режима выделения");

    warn1501 = tr("Необходимо выделить участок\nдля расчета среднего значения");
    warn1502 = tr("Вначале закройте окно со спектром!");
    warn1504 = tr("Ошибка чтения файла %1");
    warn1505 = tr("Ошибка записи файла %1");
    warn1507 = tr("Ошибка загрузки!");
    warn1509 = tr("Неправильное число!");
    warn150A = tr("Необходимо правильно выделить область.");
    warn150C = tr("Необходимо выделить участок для поиска максимума.");
    warn150D = tr("Необходимо выделить участок для обнуления.");
    warn1510 = tr("Ширина отображаемого участка недостаточна для Фурье-преобразования!\n"
                  "Необходимо увеличить масштаб.");
    warn1511 = tr("Печать не удалась: принтер или файл недоступен.");
    warn1512 = tr("Экспорт в файл %1 не выполнен:\n%2");
    warn1513 = tr("Файл %1 не импортирован:\n%2");
    warn1514 = tr("Серия прервана!");

    question1702 = tr("Выполнить обратное преобразование?");
    question1705 = tr("Данные в окне %1 изменены!\nЗакрыть окно?");
    question1707 = tr("Была использована оконная функция.\nДанные будут искажены.\n"
                      "Выполнить преобразование?");
    question1709 = tr("Ошибка сохранения ini-файла.\nПовторить?");
    question170A = tr("Файл %1 уже существует.\nЗаменить его?");
}

QString StringsKit::warnText(int code) const
{
    switch (code) {
    case 0x1501:
        return warn1501;
    case 0x1502:
        return warn1502;
    case 0x1504:
        return warn1504;
    case 0x1505:
        return warn1505;
    case 0x1507:
        return warn1507;
    case 0x1509:
        return warn1509;
    case 0x150A:
        return warn150A;
    case 0x150C:
        return warn150C;
    case 0x150D:
        return warn150D;
    case 0x1510:
        return warn1510;
    case 0x1511:
        return warn1511;
    case 0x1512:
        return warn1512;
    case 0x1513:
        return warn1513;
    case 0x1514:
        return warn1514;
    default:
        return QString::number(code, 10);
    }
}

QString StringsKit::questionText(int code) const
{
    switch (code) {
    case 0x1702:
        return question1702;
    case 0x1705:
        return question1705;
    case 0x1707:
        return question1707;
    case 0x1709:
        return question1709;
    case 0x170A:
        return question170A;
    default:
        return QString::number(code, 10);
    }
}

QString StringsKit::infoText(int code) const
{
    switch (code) {
    case 0x1401:
        return QStringLiteral("%1");
    case 0x1402:
        return tr("Проверьте усиление:\n%1");
    case 0x1403:
        return QStringLiteral("%1");
    default:
        return QString::number(code, 10);
    }
}

void UnClosableDialog::closeEvent(QCloseEvent* event)
{
    if (event)
        event->ignore();
}

void UnClosableDialog::reject() { }

int ProgressDialog::openCount = 0;

bool ProgressDialog::workInProgress()
{
    return openCount > 0;
}

ProgressDialog::ProgressDialog(QWidget* parent, const QString& title, int maximum)
    : UnClosableDialog(parent,
        Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint)
    , form(std::make_unique<Ui::LoadProgress>())
{
    form->setupUi(this);
    if (!title.isEmpty())
        setWindowTitle(title);
    form->progressBar->setMaximum(maximum);
    form->progressBar->setValue(0);
    ++openCount;
    show();
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

ProgressDialog::~ProgressDialog()
{
    --openCount;
    QApplication::restoreOverrideCursor();
}

QProgressBar* ProgressDialog::bar() const
{
    return form->progressBar;
}

ProgressSteps ProgressDialog::steps() const
{
    QProgressBar* bar = form->progressBar;
    return ProgressSteps(bar->value(), bar->maximum(), [bar](int value) {
        bar->setValue(value);
        QCoreApplication::processEvents();
    });
}

QToolButton* ProgressDialog::stopButton() const
{
    return form->tStop;
}
