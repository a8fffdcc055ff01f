<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ru_RU">
<context>
    <name>MainWindow</name>
    <message>
        <source>Программа ввода и обработки информации для KORUN-77M</source>
        <translation>Input and processing program for KORUN-77M</translation>
    </message>
</context>
<context>
    <name>FileCauses</name>
    <message>
        <source>не файл записи (неверная сигнатура)</source>
        <translation>not a record file (bad magic)</translation>
    </message>
    <message>
        <source>нет прав доступа</source>
        <translation>permission denied</translation>
    </message>
    <message>
        <source>нет места на диске</source>
        <translation>no space left on the device</translation>
    </message>
    <message>
        <source>файловая система только для чтения</source>
        <translation>read-only file system</translation>
    </message>
    <message>
        <source>папка не найдена</source>
        <translation>no such folder</translation>
    </message>
    <message>
        <source>файл не найден</source>
        <translation>no such file or directory</translation>
    </message>
    <message>
        <source>это папка, а не файл</source>
        <translation>a folder, not a file</translation>
    </message>
    <message>
        <source>это блочное устройство, а не файл</source>
        <translation>a block device, not a file</translation>
    </message>
    <message>
        <source>на другом конце канала никто не читает</source>
        <translation>no reader at the other end</translation>
    </message>
    <message>
        <source>читающая программа закрыла канал</source>
        <translation>the reader closed the pipe</translation>
    </message>
    <message>
        <source>нет данных</source>
        <translation>no data</translation>
    </message>
    <message>
        <source>в файле нет отсчётов</source>
        <translation>no samples</translation>
    </message>
    <message>
        <source>в записи нет отсчётов</source>
        <translation>the record has no samples</translation>
    </message>
    <message>
        <source>это не файл WAV</source>
        <translation>not a WAV file</translation>
    </message>
    <message>
        <source>у записи нет частоты оцифровки</source>
        <translation>the record has no sampling frequency</translation>
    </message>
    <message>
        <source>частоту оцифровки записи файл WAV передать не может</source>
        <translation>the record has no sampling frequency a WAV file can hold</translation>
    </message>
    <message>
        <source>в записи нет указанных отсчётов</source>
        <translation>the samples asked for are not in the record</translation>
    </message>
    <message>
        <source>в записи нет каналов</source>
        <translation>the record has no channels</translation>
    </message>
    <message>
        <source>недостаточно памяти</source>
        <translation>not enough memory</translation>
    </message>
    <message>
        <source>слишком длинное имя файла</source>
        <translation>file name too long</translation>
    </message>
    <message>
        <source>ошибка ввода-вывода</source>
        <translation>input/output error</translation>
    </message>
    <message>
        <source>читаются только файлы WAV с отсчётами PCM или с плавающей точкой</source>
        <translation>only PCM and float WAV files are read</translation>
    </message>
    <message>
        <source>файл обрезан на байте %1: запись начинается с 8 байт сигнатуры</source>
        <translation>truncated: a record starts with 8 bytes, the file has %1</translation>
    </message>
    <message>
        <source>файл обрезан на байте %1: заголовку нужно 256 байт</source>
        <translation>truncated: the header needs 256 bytes, the file has %1</translation>
    </message>
    <message>
        <source>файл обрезан: %1 каналов по %2 отсчётов в нём не помещаются</source>
        <translation>truncated: %1 channels of %2 samples do not fit in the file</translation>
    </message>
    <message>
        <source>число отсчётов %1 вне допустимого (0…163840)</source>
        <translation>sample count %1 is out of range</translation>
    </message>
    <message>
        <source>число каналов %1 вне допустимого (0…5)</source>
        <translation>channel count %1 is out of range</translation>
    </message>
    <message>
        <source>код усиления %1 канала %2 вне допустимого (0…12)</source>
        <translation>gain code %1 of channel %2 is out of range (0 ... 12)</translation>
    </message>
    <message>
        <source>число тактов на отсчёт %1 вне допустимого</source>
        <translation>ticks per sample %1 is out of range</translation>
    </message>
    <message>
        <source>%1 каналов: запись вмещает не более %2</source>
        <translation>%1 channels: a record holds at most %2</translation>
    </message>
    <message>
        <source>%1 отсчётов в канале: запись вмещает не более %2</source>
        <translation>%1 samples a channel: a record holds at most %2</translation>
    </message>
    <message>
        <source>отсчёт %1 канала %2 не является конечным числом</source>
        <translation>sample %1 of channel %2 is not a finite number</translation>
    </message>
    <message>
        <source>в записи нет канала %1</source>
        <translation>the record has no channel %1</translation>
    </message>
    <message>
        <source>отсчёты %1…%2 вне записи (0…%3)</source>
        <translation>samples %1 ... %2 are outside the record's 0 ... %3</translation>
    </message>
    <message>
        <source>файл кончается после %1 из %2 отсчётов</source>
        <translation>the file ends after %1 of its %2 samples</translation>
    </message>
    <message>
        <source>больше %1 байт: больше любой записи</source>
        <translation>more than %1 bytes: larger than any record</translation>
    </message>
    <message>
        <source>звуковая библиотека не смогла создать файл</source>
        <translation>the sound library could not make the file</translation>
    </message>
    <message>
        <source>это не звуковой файл, который может прочесть библиотека</source>
        <translation>not a sound file the library can read</translation>
    </message>
</context>
</TS>
