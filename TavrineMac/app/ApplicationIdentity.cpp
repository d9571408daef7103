#include "ApplicationIdentity.h"

#include "MainWindowPresentation.h"
#include "QtTranslations.h"

#include <QGuiApplication>
#include <QLocale>

namespace ApplicationIdentity {

void apply(const QString &desktopFileName)
{
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China));
    QtTranslations::install();
    QGuiApplication::setApplicationName(QStringLiteral("TavrineMac"));
    QGuiApplication::setOrganizationName(QStringLiteral("Tavrine"));
    // A window without a title of its own shows this name; others show it after their title.
    QGuiApplication::setApplicationDisplayName(MainWindowPresentation::sidebarTitle);
    QGuiApplication::setDesktopFileName(desktopFileName);
}

} // namespace ApplicationIdentity
