#include <QtMisc/qtm_strings.h>

namespace qtmisc {

QtmStringsKit qtmSK;

void QtmStringsKit::retranslate()
{
    criticalText = tr("Обнаружена внутренняя ошибка,\nобратитесь в службу поддержки.\n"
                      "Код ошибки - 0x%1");
    fatalText = tr("Обнаружена внутренняя фатальная ошибка,\nдальнейшая работа невозможна.\n"
                   "Обратитесь в службу поддержки.\nКод ошибки - 0x%1");
    fileNotDeletedText = tr("Произошла ошибка.\nФайл \"%1\"\nне удалён.\nКод ошибки - 0x%2");
    dirNotCreatedText = tr("Произошла ошибка.\nКаталог \"%1\"\nне создан.\nКод ошибки - 0x%2");
    dirNotDeletedText = tr("Произошла ошибка.\nКаталог \"%1\"\nне удалён.\nКод ошибки - 0x%2");
    renameFailedText = tr("Произошла ошибка.\nПереименование не выполнено.\nКод ошибки - 0x%1");
    fileNotCopiedText = tr("Произошла ошибка.\nФайл \"%1\"\nне скопирован.\nКод ошибки - 0x%2");
}

QString QtmStringsKit::warnText(int code) const
{
    switch (code) {
    case 0xA502:
        return fileNotDeletedText;
    case 0xA504:
        return dirNotCreatedText;
    case 0xA505:
        return dirNotDeletedText;
    case 0xA506:
        return renameFailedText;
    case 0xA507:
        return fileNotCopiedText;
    default:
        return QString::number(code, 10);
    }
}

} // namespace qtmisc
