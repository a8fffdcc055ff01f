// The library's message texts and the close-proof dialog.
#pragma once

#include <QObject>
#include <QString>

namespace qtmisc {

class QtmStringsKit : public QObject
{
    Q_OBJECT
public:
    QString criticalText;
    QString fatalText;
    QString fileNotDeletedText;
    QString dirNotCreatedText;
    QString dirNotDeletedText;
    QString renameFailedText;
    QString fileNotCopiedText;

    // Fills every text through the installed translators.
    void retranslate();
    // Texts of the file-operation warnings 0xA502, 0xA504-0xA507; other codes give their decimal.
    QString warnText(int code) const;
};

extern QtmStringsKit qtmSK;

} // namespace qtmisc
