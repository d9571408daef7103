#include "APKArchiveInspector.h"

#include "LocalNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Signing
{
    none,
    legacy, // a JAR signature file under META-INF/
    modern, // an APK Signing Block (signature scheme v2 and later)
};

struct InspectedFile
{
    QString path;
    qint64 size = 0;
    Signing signing = Signing::none;
};

constexpr quint32 endOfCentralDirectorySignature = 0x06054b50;
constexpr quint32 centralDirectoryEntrySignature = 0x02014b50;
constexpr quint32 localHeaderSignature = 0x04034b50;
constexpr qint64 endRecordLength = 22;
constexpr qint64 centralEntryFixedLength = 46;
// The end record may be followed by a comment of up to 65535 bytes.
constexpr qint64 endRecordSearchLength = 65535 + endRecordLength;
// A package is read piece by piece with bounded reads, never mapped: a file cut short while it is checked (on a
// volume that goes away, or by another program) gives a short read, not a signal that ends the process.
constexpr qint64 directoryWindowBytes = 256 * 1024;
constexpr qint64 localHeaderWindowBytes = 4;
constexpr qint64 signingSearchChunkBytes = 1024 * 1024;
constexpr QByteArrayView signingBlockMagic("APK Sig Block 42");

[[noreturn]] void fail(APKValidationError::Case errorCase)
{
    throw APKValidationError(errorCase);
}

// Reads exactly `count` bytes at `offset`; false on an error or when the file ends before.
bool readExactly(int descriptor, char *data, qint64 count, qint64 offset)
{
    while (count > 0) {
        const ssize_t got = ::pread(descriptor, data, size_t(count), off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        data += got;
        count -= got;
        offset += got;
    }
    return true;
}

// An archive held in memory.
class MemorySource
{
public:
    explicit MemorySource(QByteArrayView bytes) : m_bytes(bytes) {}
    qint64 length() const { return m_bytes.size(); }
    QByteArrayView read(qint64 offset, qint64 count) { return m_bytes.sliced(offset, count); }

private:
    QByteArrayView m_bytes;
};

// An archive in an open file of `length` bytes, read through a window of at least `windowBytes`. A view it hands
// out lasts until its next read.
class FileSource
{
public:
    FileSource(int descriptor, qint64 length, qint64 windowBytes)
        : m_descriptor(descriptor), m_length(length), m_windowBytes(windowBytes)
    {}
    qint64 length() const { return m_length; }

    QByteArrayView read(qint64 offset, qint64 count)
    {
        if (offset < m_windowOffset || offset + count > m_windowOffset + m_window.size()) {
            m_window.resize(std::min(std::max(count, m_windowBytes), m_length - offset));
            m_windowOffset = offset;
            if (!readExactly(m_descriptor, m_window.data(), m_window.size(), offset)) {
                m_window.clear();
                fail(APKValidationError::Case::corruptArchive);
            }
        }
        return QByteArrayView(m_window).sliced(offset - m_windowOffset, count);
    }

private:
    int m_descriptor;
    qint64 m_length;
    qint64 m_windowBytes;
    QByteArray m_window;
    qint64 m_windowOffset = 0;
};

// Little-endian fields of an archive; every read outside it is a corrupt archive.
template <typename Source> class ArchiveReader
{
public:
    explicit ArchiveReader(Source &source) : m_source(source) {}

    qint64 length() const { return m_source.length(); }

    quint16 read16(qint64 offset) const { return quint16(read(offset, 2)); }
    quint32 read32(qint64 offset) const { return quint32(read(offset, 4)); }

    QByteArrayView slice(qint64 offset, qint64 count) const
    {
        if (offset < 0 || count < 0 || offset > length() || count > length() - offset)
            fail(APKValidationError::Case::corruptArchive);
        return m_source.read(offset, count);
    }

private:
    quint64 read(qint64 offset, int width) const
    {
        const QByteArrayView field = slice(offset, width);
        quint64 value = 0;
        for (int index = width - 1; index >= 0; --index)
            value = (value << 8) | quint8(field[index]);
        return value;
    }

    Source &m_source;
};

// The entry names of the central directory, read from `directory` (the end record and the directory) and
// `localHeaders` (the signature of each entry's local header): two views of the same archive, so that the walk
// through the directory and the look at each local header each read in order.
template <typename Source> QStringList readEntryNames(Source &directory, Source &localHeaders)
{
    constexpr auto corrupt = APKValidationError::Case::corruptArchive;
    const qint64 length = directory.length();
    if (length < endRecordLength)
        fail(corrupt);

    // The nearest signature to the end wins, even when it lies inside the comment; there is no second try.
    const qint64 tailOffset = std::max<qint64>(0, length - endRecordSearchLength);
    const QByteArray tailBytes = directory.read(tailOffset, length - tailOffset).toByteArray();
    MemorySource tailSource(tailBytes);
    const ArchiveReader tail(tailSource);
    qint64 tailEnd = -1;
    for (qint64 candidate = tail.length() - endRecordLength; candidate >= 0; --candidate) {
        if (tail.read32(candidate) == endOfCentralDirectorySignature) {
            tailEnd = candidate;
            break;
        }
    }
    if (tailEnd < 0)
        fail(corrupt);
    const qint64 end = tailOffset + tailEnd;

    const quint16 thisDisk = tail.read16(tailEnd + 4);
    const quint16 directoryDisk = tail.read16(tailEnd + 6);
    const quint16 entriesOnDisk = tail.read16(tailEnd + 8);
    const quint16 entryCount = tail.read16(tailEnd + 10);
    const quint32 directorySize = tail.read32(tailEnd + 12);
    const quint32 directoryOffset = tail.read32(tailEnd + 16);
    const quint16 commentLength = tail.read16(tailEnd + 20);

    if (thisDisk != 0 || directoryDisk != 0 || entriesOnDisk != entryCount)
        fail(corrupt);
    // The ZIP64 markers: such archives are refused rather than followed to their second end record.
    if (directoryOffset == 0xFFFFFFFF || directorySize == 0xFFFFFFFF || entryCount == 0xFFFF)
        fail(corrupt);
    if (end + endRecordLength + commentLength != length)
        fail(corrupt);
    const qint64 directoryEnd = qint64(directoryOffset) + qint64(directorySize);
    if (directoryEnd > end)
        fail(corrupt);

    QStringList names;
    if (entryCount == 0) {
        if (directorySize != 0)
            fail(corrupt);
        return names;
    }

    const ArchiveReader reader(directory);
    const ArchiveReader headers(localHeaders);
    names.reserve(entryCount);
    qint64 position = directoryOffset;
    for (int entry = 0; entry < entryCount; ++entry) {
        if (reader.read32(position) != centralDirectoryEntrySignature)
            fail(corrupt);
        const quint16 nameLength = reader.read16(position + 28);
        const quint16 extraLength = reader.read16(position + 30);
        const quint16 entryCommentLength = reader.read16(position + 32);
        const quint32 localHeaderOffset = reader.read32(position + 42);
        if (localHeaderOffset == 0xFFFFFFFF || headers.read32(localHeaderOffset) != localHeaderSignature)
            fail(corrupt);
        const qint64 next = position + centralEntryFixedLength + nameLength + extraLength + entryCommentLength;
        if (next > directoryEnd)
            fail(corrupt);

        // Names are UTF-8 whatever the entry's flags claim; a byte-order mark stays part of the name.
        QStringDecoder decoder(QStringConverter::Utf8,
                               QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        const QString name = decoder.decode(reader.slice(position + centralEntryFixedLength, nameLength));
        if (decoder.hasError() || name.isEmpty())
            fail(corrupt);
        names.append(name);
        position = next;
    }
    if (position != directoryEnd)
        fail(corrupt);
    return names;
}

// The entry names of the archive in the file open at `descriptor`, taken to be `length` bytes long.
QStringList readEntryNamesOfFile(int descriptor, qint64 length)
{
    FileSource directory(descriptor, length, directoryWindowBytes);
    FileSource localHeaders(descriptor, length, localHeaderWindowBytes);
    return readEntryNames(directory, localHeaders);
}

// Whether the magic of an APK Signing Block occurs anywhere in the file, read in chunks that overlap by one byte
// less than the magic. A file that ends early is a corrupt archive.
bool containsSigningBlock(int descriptor, qint64 length)
{
    const qint64 overlap = signingBlockMagic.size() - 1;
    QByteArray buffer(signingSearchChunkBytes + overlap, Qt::Uninitialized);
    qint64 carried = 0;
    for (qint64 offset = 0; offset < length;) {
        const qint64 count = std::min(signingSearchChunkBytes, length - offset);
        if (!readExactly(descriptor, buffer.data() + carried, count, offset))
            fail(APKValidationError::Case::corruptArchive);
        const QByteArrayView filled(buffer.constData(), carried + count);
        if (filled.indexOf(signingBlockMagic) >= 0)
            return true;
        carried = std::min(overlap, filled.size());
        std::memmove(buffer.data(), buffer.constData() + filled.size() - carried, size_t(carried));
        offset += count;
    }
    return false;
}

// Closes a file descriptor when the inspection of its file ends, whichever way it ends.
class DescriptorClose
{
public:
    explicit DescriptorClose(int descriptor) : m_descriptor(descriptor) {}
    ~DescriptorClose() { ::close(m_descriptor); }
    DescriptorClose(const DescriptorClose &) = delete;
    DescriptorClose &operator=(const DescriptorClose &) = delete;

private:
    int m_descriptor;
};

// The length of the regular file open at `descriptor`; a corrupt archive for anything else.
qint64 regularFileLength(int descriptor)
{
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
        fail(APKValidationError::Case::corruptArchive);
    return status.st_size;
}

QString lastComponent(const QString &path)
{
    return QFileInfo(QDir::cleanPath(path)).fileName();
}

bool isLegacySignatureFile(const QString &entryName)
{
    const QString upper = entryName.toUpper();
    return upper.startsWith(QLatin1String("META-INF/")) &&
           (upper.endsWith(QLatin1String(".RSA")) || upper.endsWith(QLatin1String(".DSA")) ||
            upper.endsWith(QLatin1String(".EC")));
}

InspectedFile inspect(const QString &path)
{
    const QFileInfo info(QDir::cleanPath(path));
    const QString extension = info.suffix().toLower();
    if (extension == QLatin1String("aab"))
        fail(APKValidationError::Case::unsupportedBundle);
    if (extension != QLatin1String("apk"))
        fail(APKValidationError::Case::notAPK);
    if (!info.exists())
        fail(APKValidationError::Case::missing);
    if (info.isDir())
        fail(APKValidationError::Case::directory);
    // Devices, pipes and sockets report no size, so they end here too.
    const qint64 size = info.size();
    if (size < 1)
        fail(APKValidationError::Case::empty);

    // Opened without waiting on a pipe that took the file's place since.
    const int descriptor = ::open(QFile::encodeName(info.filePath()).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0)
        fail(APKValidationError::Case::corruptArchive);
    const DescriptorClose closing(descriptor);
    const qint64 length = regularFileLength(descriptor);
    const QStringList names = readEntryNamesOfFile(descriptor, length);
    if (!names.contains(QStringLiteral("AndroidManifest.xml")))
        fail(APKValidationError::Case::missingManifest);

    Signing signing = Signing::none;
    if (containsSigningBlock(descriptor, length))
        signing = Signing::modern;
    else if (std::any_of(names.cbegin(), names.cend(), isLegacySignatureFile))
        signing = Signing::legacy;
    return {path, size, signing};
}

QString signatureSummary(const QList<InspectedFile> &files)
{
    const auto signedAs = [](Signing signing) {
        return [signing](const InspectedFile &file) {
            return file.signing == signing;
        };
    };
    if (std::all_of(files.cbegin(), files.cend(), signedAs(Signing::modern)))
        return QStringLiteral("已检测到 APK v2/v3 签名");
    if (std::none_of(files.cbegin(), files.cend(), signedAs(Signing::none)))
        return QStringLiteral("已检测到 APK 签名");
    return QStringLiteral("签名将由 Android 在安装时验证");
}

} // namespace

APKValidationError::APKValidationError(Case errorCase) : m_case(errorCase), m_what(errorDescription().toUtf8()) {}

QString APKValidationError::errorDescription() const
{
    switch (m_case) {
    case Case::notAPK:
        return QStringLiteral("请选择 APK 安装包。");
    case Case::unsupportedBundle:
        return QStringLiteral("暂不支持 AAB。请先生成设备可安装的 APK 或 split APK。");
    case Case::missing:
        return QStringLiteral("所选安装包已不存在，请重新选择。");
    case Case::directory:
        return QStringLiteral("请选择 APK 文件，而不是文件夹。");
    case Case::empty:
        return QStringLiteral("所选 APK 是空文件。");
    case Case::corruptArchive:
        return QStringLiteral("安装包结构已损坏或不是有效的 APK。");
    case Case::missingManifest:
        return QStringLiteral("安装包缺少 AndroidManifest.xml，无法安装。");
    case Case::splitSetNeedsBase:
        return QStringLiteral("split APK 组合中必须且只能包含一个 base.apk。");
    case Case::duplicateFileName:
        return QStringLiteral("所选安装包中存在重名文件，请重新选择。");
    }
    return {};
}

QStringList APKArchiveInspector::centralDirectoryEntryNames(QByteArrayView archive)
{
    MemorySource source(archive);
    return readEntryNames(source, source);
}

QStringList APKArchiveInspector::centralDirectoryEntryNames(int fileDescriptor)
{
    return readEntryNamesOfFile(fileDescriptor, regularFileLength(fileDescriptor));
}

APKInstallPlan APKArchiveInspector::plan(const QStringList &files)
{
    if (files.isEmpty())
        fail(APKValidationError::Case::notAPK);

    // Duplicates are refused before any file is opened.
    QSet<QString> lowerCaseNames;
    for (const QString &path : files) {
        const QString name = lastComponent(path).toLower();
        if (lowerCaseNames.contains(name))
            fail(APKValidationError::Case::duplicateFileName);
        lowerCaseNames.insert(name);
    }

    QList<InspectedFile> inspected;
    inspected.reserve(files.size());
    for (const QString &path : files)
        inspected.append(inspect(path));

    APKInstallPlan plan;
    if (inspected.size() == 1) {
        plan.files = files;
    } else {
        QString basePath;
        QStringList otherNames;
        QHash<QString, QString> pathByExactName;
        for (const InspectedFile &file : std::as_const(inspected)) {
            const QString name = lastComponent(file.path);
            if (name.toLower() == QLatin1String("base.apk")) {
                if (!basePath.isNull())
                    fail(APKValidationError::Case::splitSetNeedsBase);
                basePath = file.path;
            } else {
                otherNames.append(name);
                pathByExactName.insert(name, file.path);
            }
        }
        if (basePath.isNull())
            fail(APKValidationError::Case::splitSetNeedsBase);
        // Names differ even ignoring case (tested above), so each sorted name leads back to one path.
        sortByStandardName(otherNames);
        plan.kind = APKInstallPlan::Kind::split;
        plan.files.append(basePath);
        for (const QString &name : std::as_const(otherNames))
            plan.files.append(pathByExactName.value(name));
    }

    plan.signatureSummary = signatureSummary(inspected);
    for (const InspectedFile &file : std::as_const(inspected))
        plan.totalBytes += file.size;
    return plan;
}
