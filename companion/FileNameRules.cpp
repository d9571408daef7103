#include "FileNameRules.h"

#include <QFileInfo>
#include <QUuid>

namespace FileNameRules {

namespace {

constexpr int maximumNameBytes = 255;
constexpr int maximumSuffixNumber = 9999;

// A dangling symbolic link counts as taken: moving a file onto its name would fail or replace it.
bool isTaken(const QDir &folder, const QString &name)
{
    const QFileInfo info(folder.filePath(name));
    return info.exists() || info.isSymLink();
}

} // namespace

bool isSafeFileName(const QString &name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(u'\\') &&
           !name.contains(QChar(u'\0')) && name.toUtf8().size() <= maximumNameBytes;
}

QString freeFileName(const QDir &folder, const QString &name)
{
    if (!isTaken(folder, name)) {
        return name;
    }
    const qsizetype dot = name.lastIndexOf(u'.');
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString base = hasExtension ? name.left(dot) : name;
    const QString extension = hasExtension ? name.mid(dot) : QString();
    for (int number = 1; number <= maximumSuffixNumber; ++number) {
        const QString candidate = base + QStringLiteral(" (") + QString::number(number) + u')' + extension;
        if (!isTaken(folder, candidate)) {
            return candidate;
        }
    }
    return QUuid::createUuid().toString(QUuid::WithoutBraces) + u'-' + name;
}

} // namespace FileNameRules
