#pragma once

#include <QCoreApplication>
#include <QPixmap>
#include <QPixmapCache>
#include <QString>
#include <QThread>

// The pixmap kept under `key` in the toolkit's pixmap cache, made by `make` when it is not there yet (or was let go).
// The cache belongs to the window's thread: on any other thread `make` runs each time and nothing is kept. A null
// pixmap is not kept.
template <typename Make> QPixmap keptPixmap(const QString &key, Make &&make)
{
    const QCoreApplication *application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread()) {
        return make();
    }
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap)) {
        return pixmap;
    }
    pixmap = make();
    if (!pixmap.isNull()) {
        QPixmapCache::insert(key, pixmap);
    }
    return pixmap;
}
