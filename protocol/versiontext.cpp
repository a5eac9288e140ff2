#include "versiontext.h"

#include <QDate>
#include <QLocale>

#include <cstring>

namespace orvo {

QString versionText(const char *program)
{
    // __DATE__ is "Dec  8 2026"; the compiler takes it from SOURCE_DATE_EPOCH when that is set,
    // so a reproducible package build gives the same text.
    const QDate built = QLocale::c().toDate(QString::fromLatin1(__DATE__).simplified(), QStringLiteral("MMM d yyyy"));
    return QStringLiteral("%1 %2\nbuilt %3 with Qt %4, running on Qt %5\n")
        .arg(QString::fromLocal8Bit(program), QStringLiteral(ORVO_VERSION), built.toString(Qt::ISODate),
            QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion()));
}

bool asksForVersion(int argc, char **argv)
{
    return argc == 2 && std::strcmp(argv[1], "--version") == 0;
}

} // namespace orvo
