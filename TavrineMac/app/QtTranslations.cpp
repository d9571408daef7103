#include "QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace QtTranslations {

bool install()
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto *translator = new QTranslator(QCoreApplication::instance());
    // The catalog of Qt's base modules is all the application uses. "qt_zh_CN" only lists the catalogs of every
    // module, that one among them; it serves where the base catalog is not installed on its own.
    for (const QString &name : {QStringLiteral("qtbase_zh_CN"), QStringLiteral("qt_zh_CN")}) {
        if (translator->load(name, folder)) {
            return QCoreApplication::installTranslator(translator);
        }
    }
    delete translator;
    return false;
}

} // namespace QtTranslations
