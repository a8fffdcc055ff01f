#include "cause_texts.h"

#include "wav_file.h"

#include <QCoreApplication>
#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <utility>

namespace {

QString translated(const char* text)
{
    return QCoreApplication::translate("FileCauses", text);
}

} // namespace

QString fileCauseText(const QString& cause)
{
    static const std::pair<const char*, const char*> words[] = {
        { "not a record file (bad magic)",
            QT_TRANSLATE_NOOP("FileCauses", "не файл записи (неверная сигнатура)") },
        { "permission denied", QT_TRANSLATE_NOOP("FileCauses", "нет прав доступа") },
        { "no space left on the device", QT_TRANSLATE_NOOP("FileCauses", "нет места на диске") },
        { "the database is in use by another program",
            QT_TRANSLATE_NOOP("FileCauses", "база сеанса занята другой программой") },
        { "not a session database of this program",
            QT_TRANSLATE_NOOP("FileCauses", "session.sqlite — не база сеанса этой программы") },
        { "not an SQLite database",
            QT_TRANSLATE_NOOP("FileCauses", "session.sqlite — не база данных SQLite") },
        { "not a regular file",
            QT_TRANSLATE_NOOP("FileCauses", "session.sqlite — не обычный файл") },
        { "the database is damaged", QT_TRANSLATE_NOOP("FileCauses", "база сеанса повреждена") },
        { "the folder's file system keeps no write-ahead log",
            QT_TRANSLATE_NOOP(
                "FileCauses", "файловая система папки не поддерживает журнал базы данных") },
        { "not a folder", QT_TRANSLATE_NOOP("FileCauses", "это не папка") },
        { "read-only file system",
            QT_TRANSLATE_NOOP("FileCauses", "файловая система только для чтения") },
        { "no such folder", QT_TRANSLATE_NOOP("FileCauses", "папка не найдена") },
        { "no such file or directory", QT_TRANSLATE_NOOP("FileCauses", "файл не найден") },
        { "a folder, not a file", QT_TRANSLATE_NOOP("FileCauses", "это папка, а не файл") },
        { "a block device, not a file",
            QT_TRANSLATE_NOOP("FileCauses", "это блочное устройство, а не файл") },
        { "no reader at the other end",
            QT_TRANSLATE_NOOP("FileCauses", "на другом конце канала никто не читает") },
        { "the reader closed the pipe",
            QT_TRANSLATE_NOOP("FileCauses", "читающая программа закрыла канал") },
        { "no data", QT_TRANSLATE_NOOP("FileCauses", "нет данных") },
        { "no samples", QT_TRANSLATE_NOOP("FileCauses", "в файле нет отсчётов") },
        { "the record has no samples", QT_TRANSLATE_NOOP("FileCauses", "в записи нет отсчётов") },
        { "not a WAV file", QT_TRANSLATE_NOOP("FileCauses", "это не файл WAV") },
        { "planar location needs three or more sensors",
            QT_TRANSLATE_NOOP(
                "FileCauses", "Для локации на плоскости нужны не менее трёх датчиков.") },
        { "two sensors stand at one place",
            QT_TRANSLATE_NOOP("FileCauses", "Два датчика стоят в одном месте.") },
        { "the sensors stand on one line",
            QT_TRANSLATE_NOOP(
                "FileCauses", "Датчики стоят на одной прямой: выберите локацию на линии.") },
        { "the record has no sampling frequency",
            QT_TRANSLATE_NOOP("FileCauses", "у записи нет частоты оцифровки") },
        { "the record has no sampling frequency a WAV file can hold",
            QT_TRANSLATE_NOOP(
                "FileCauses", "частоту оцифровки записи файл WAV передать не может") },
        { "the samples asked for are not in the record",
            QT_TRANSLATE_NOOP("FileCauses", "в записи нет указанных отсчётов") },
        { "the record has no channels", QT_TRANSLATE_NOOP("FileCauses", "в записи нет каналов") },
        { "not enough memory", QT_TRANSLATE_NOOP("FileCauses", "недостаточно памяти") },
        { "file name too long", QT_TRANSLATE_NOOP("FileCauses", "слишком длинное имя файла") },
        { "input/output error", QT_TRANSLATE_NOOP("FileCauses", "ошибка ввода-вывода") },
        { "only PCM and float WAV files are read",
            QT_TRANSLATE_NOOP(
                "FileCauses", "читаются только файлы WAV с отсчётами PCM или с плавающей точкой") },
        { "the high-pass cut-off must lie below half the sampling frequency",
            QT_TRANSLATE_NOOP("FileCauses",
                "частота среза фильтра высоких частот должна быть ниже половины частоты "
                "оцифровки") },
        { "no sensors are placed", QT_TRANSLATE_NOOP("FileCauses", "места датчиков не заданы") },
        { "the onsets contradict a source at that place: nearer sensors were hit later",
            QT_TRANSLATE_NOOP("FileCauses",
                "моменты прихода противоречат источнику в этом месте: ближние датчики сработали "
                "позже") },
        { "no event reached two sensors at different distances from the source",
            QT_TRANSLATE_NOOP("FileCauses",
                "ни одно событие не дошло до двух датчиков, стоящих на разных расстояниях от "
                "источника") },
    };
    for (const auto& [english, russian] : words)
        if (cause == QLatin1String(english))
            return translated(russian);
    static const std::pair<const char*, const char*> patterns[] = {
        { "^truncated: a record starts with 8 bytes, the file has (\\d+)$",
            QT_TRANSLATE_NOOP(
                "FileCauses", "файл обрезан на байте %1: запись начинается с 8 байт сигнатуры") },
        { "^truncated: the header needs 256 bytes, the file has (\\d+)$",
            QT_TRANSLATE_NOOP("FileCauses", "файл обрезан на байте %1: заголовку нужно 256 байт") },
        { "^truncated: (\\d+) channels of (\\d+) samples do not fit in the file$",
            QT_TRANSLATE_NOOP(
                "FileCauses", "файл обрезан: %1 каналов по %2 отсчётов в нём не помещаются") },
        { "^(\\S+\\.raw) exists already$", QT_TRANSLATE_NOOP("FileCauses", "файл %1 уже есть") },
        { "^written by a newer program \\(schema (\\d+); this one reads (\\d+)\\)$",
            QT_TRANSLATE_NOOP("FileCauses",
                "база сеанса записана более новой программой (схема %1; эта читает %2)") },
        { "^sample count (-?\\d+) is out of range$",
            QT_TRANSLATE_NOOP("FileCauses", "число отсчётов %1 вне допустимого (0…163840)") },
        { "^channel count (\\d+) is out of range$",
            QT_TRANSLATE_NOOP("FileCauses", "число каналов %1 вне допустимого (0…5)") },
        { "^gain code (\\d+) of channel (\\d+) is out of range \\(0 \\.\\.\\. 12\\)$",
            QT_TRANSLATE_NOOP("FileCauses", "код усиления %1 канала %2 вне допустимого (0…12)") },
        { "^ticks per sample (-?\\d+) is out of range$",
            QT_TRANSLATE_NOOP("FileCauses", "число тактов на отсчёт %1 вне допустимого") },
        { "^(\\d+) channels: a record holds at most (\\d+)$",
            QT_TRANSLATE_NOOP("FileCauses", "%1 каналов: запись вмещает не более %2") },
        { "^(\\d+) samples a channel: a record holds at most (\\d+)$",
            QT_TRANSLATE_NOOP("FileCauses", "%1 отсчётов в канале: запись вмещает не более %2") },
        { "^sample (\\d+) of channel (\\d+) is not a finite number",
            QT_TRANSLATE_NOOP("FileCauses", "отсчёт %1 канала %2 не является конечным числом") },
        { "^the record has no channel (\\d+)$",
            QT_TRANSLATE_NOOP("FileCauses", "в записи нет канала %1") },
        { "^samples (-?\\d+) \\.\\.\\. (-?\\d+) are outside the record's 0 \\.\\.\\. (-?\\d+)$",
            QT_TRANSLATE_NOOP("FileCauses", "отсчёты %1…%2 вне записи (0…%3)") },
        { "^the file ends after (\\d+) of its (\\d+) samples$",
            QT_TRANSLATE_NOOP("FileCauses", "файл кончается после %1 из %2 отсчётов") },
        { "^more than (\\d+) bytes: larger than any record$",
            QT_TRANSLATE_NOOP("FileCauses", "больше %1 байт: больше любой записи") },
        { "^the sound library could not make the file",
            QT_TRANSLATE_NOOP("FileCauses", "звуковая библиотека не смогла создать файл") },
        { "^a sensor's place lies beyond (\\d+) m$",
            QT_TRANSLATE_NOOP("FileCauses", "Место датчика дальше %1 м.") },
        { "^the WAV file's chunk \"(.{4})\" runs past its end$",
            QT_TRANSLATE_NOOP("FileCauses", "блок «%1» файла WAV выходит за его конец") },
        { "^not a sound file the library can read",
            QT_TRANSLATE_NOOP(
                "FileCauses", "это не звуковой файл, который может прочесть библиотека") },
    };
    for (const auto& [pattern, russian] : patterns) {
        const QRegularExpressionMatch match
            = QRegularExpression(QLatin1String(pattern)).match(cause);
        if (match.hasMatch()) {
            QString text = translated(russian);
            for (int i = 1; i <= match.lastCapturedIndex(); ++i)
                text = text.arg(match.captured(i));
            return text;
        }
    }
    return cause;
}

QString importNotesText(const ImportNotes& notes)
{
    QStringList parts;
    if (!notes.factsProblem.isEmpty())
        parts << translated("сведения о записи в файле повреждены и не использованы");
    if (notes.askedHz > 0)
        parts << translated("частоту %1 Гц запись передать не может: взята %2 Гц")
                     .arg(notes.askedHz)
                     .arg(QLocale().toString(notes.takenHz, 'g', 10));
    if (notes.clippedSamples > 0) {
        QStringList channels;
        for (const int c : notes.clippedChannels)
            channels << QString::number(c + 1);
        parts << translated("%1 отсч. вышли за диапазон и ограничены; каналы: %2")
                     .arg(notes.clippedSamples)
                     .arg(channels.join(QStringLiteral(", ")));
    }
    if (notes.announcedFrames > notes.heldFrames)
        parts << translated("файл обрезан: из %1 объявленных отсчётов в нём %2")
                     .arg(notes.announcedFrames)
                     .arg(notes.heldFrames);
    return parts.join(QLatin1Char('\n'));
}
