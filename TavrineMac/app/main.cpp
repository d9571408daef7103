#include "TavrineCoreFunctions.h"

#include <QApplication>
#include <QDir>
#include <QMainWindow>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TavrineMac"));

    // The core library is installed beside the executable.
    QString loadError;
    const auto coreFunctions = loadTavrineCoreFunctions(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("libtavrine_core.so")), &loadError);
    if (coreFunctions) {
        installTavrineCoreFunctions(*coreFunctions);
    } else {
        std::fprintf(stderr, "TavrineMac: the core library is unavailable: %s\n", qPrintable(loadError));
    }

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("TavrineMac"));
    window.resize(960, 640);
    window.show();
    return application.exec();
}
