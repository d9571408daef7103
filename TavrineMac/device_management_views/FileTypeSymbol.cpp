#include "FileTypeSymbol.h"

#include <QHash>
#include <QStringList>

QString fileTypeSymbolName(const QString &fileName)
{
    static const QHash<QString, QString> symbolByExtension = [] {
        QHash<QString, QString> table;
        const auto add = [&table](std::initializer_list<const char *> extensions, const char *symbol) {
            for (const char *extension : extensions) {
                table.insert(QString::fromLatin1(extension), QString::fromLatin1(symbol));
            }
        };
        add({"jpg", "jpeg", "png", "heic", "webp"}, "photo");
        add({"mp4", "mov", "mkv"}, "film");
        add({"mp3", "m4a", "wav", "flac"}, "music.note");
        add({"pdf"}, "doc.richtext");
        add({"zip", "rar", "7z"}, "archivebox");
        add({"apk"}, "shippingbox");
        return table;
    }();
    const QStringList pieces = fileName.split(u'.', Qt::SkipEmptyParts);
    if (pieces.isEmpty()) {
        return QStringLiteral("doc");
    }
    return symbolByExtension.value(pieces.last().toLower(), QStringLiteral("doc"));
}
