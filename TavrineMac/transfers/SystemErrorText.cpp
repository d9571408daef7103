#include "SystemErrorText.h"

#include <QStringList>

#include <cerrno>
#include <cstring>

namespace SystemErrorText {

namespace {

struct CommonReason
{
    int errnoValue;
    const char16_t *text;
};

constexpr CommonReason commonReasons[] = {
    {ENOENT, u"文件或文件夹不存在"},
    {EACCES, u"没有权限"},
    {EPERM, u"没有权限"},
    {ENOSPC, u"磁盘空间不足"},
    {EDQUOT, u"磁盘空间不足"},
    {EROFS, u"文件系统为只读"},
    {EISDIR, u"这是一个文件夹"},
    {ENAMETOOLONG, u"名称过长"},
    {EIO, u"读写磁盘时出错"},
    {EFBIG, u"文件过大"},
    {ENOTDIR, u"路径中有一项不是文件夹"},
    {EEXIST, u"已有同名的文件或文件夹"},
    {ENOTEMPTY, u"文件夹不是空的"},
    {EBUSY, u"文件或设备正忙"},
    {EMFILE, u"打开的文件过多"},
    {ENFILE, u"打开的文件过多"},
    {ELOOP, u"符号链接层级过多"},
    {ENOMEM, u"内存不足"},
};

// Qt writes a few reasons in words of its own; the others are the C library's.
QStringList systemWords(int errnoValue)
{
    QStringList words{qt_error_string(errnoValue)};
    const QString library = QString::fromLocal8Bit(std::strerror(errnoValue));
    if (!words.contains(library))
        words.append(library);
    // A file saved whole (QSaveFile) in place of a folder is refused in words of the class's own, with no number.
    if (errnoValue == EISDIR)
        words.append(QStringLiteral("Filename refers to a directory"));
    return words;
}

} // namespace

QString describe(int errnoValue)
{
    for (const CommonReason &reason : commonReasons) {
        if (reason.errnoValue == errnoValue)
            return QString::fromUtf16(reason.text);
    }
    return qt_error_string(errnoValue);
}

QString describe(const QString &systemText)
{
    for (const CommonReason &reason : commonReasons) {
        for (const QString &words : systemWords(reason.errnoValue)) {
            if (!words.isEmpty() && systemText.endsWith(words))
                return systemText.chopped(words.size()) + QString::fromUtf16(reason.text);
        }
    }
    return systemText;
}

} // namespace SystemErrorText
