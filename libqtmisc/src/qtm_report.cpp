#include <QtMisc/qtm_errors.h>

#include <QDir>

namespace qtmisc {

QHash<QString, int>* filesHash = nullptr;
ErrorSink errorSink = nullptr;

QString sourceFileKey(const QString& path)
{
    return path.section(QDir::separator(), -3, -1);
}

void registerSourceFiles(const char* const* list, int count)
{
    if (!filesHash)
        return;
    for (int i = 0; i < count; ++i)
        filesHash->insert(sourceFileKey(QString::fromUtf8(list[i])), i + 1);
}

void reportError(ErrorCode value)
{
    if (errorSink)
        errorSink(value);
}

QString errorCodeToHex(ErrorCode value)
{
    QString text = QString::number(value, 16);
    if (text.size() == 1)
        text.prepend(QLatin1Char('0'));
    return text;
}

} // namespace qtmisc
