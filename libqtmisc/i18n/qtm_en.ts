<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ru_RU">
<context>
    <name>qtmisc::QtmStringsKit</name>
    <message>
        <source>Обнаружена внутренняя ошибка,
обратитесь в службу поддержки.
Код ошибки - 0x%1</source>
        <translation>Internal error is occurred,
please contact support service.
Error code - 0x%1</translation>
    </message>
    <message>
        <source>Обнаружена внутренняя фатальная ошибка,
дальнейшая работа невозможна.
Обратитесь в службу поддержки.
Код ошибки - 0x%1</source>
        <translation>Internal fatal error is occurred,
futher work is impossible.
Please contact support service.
Error code - 0x%1</translation>
    </message>
</context>
</TS>
