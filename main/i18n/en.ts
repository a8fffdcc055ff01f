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
</TS>
