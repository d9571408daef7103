#include "ZipBuilder.h"

#include "TestSupport.h"

#include <QCryptographicHash>

#include <initializer_list>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// Appends little-endian fields given as (value, width in bytes).
void append(QByteArray &bytes, std::initializer_list<std::pair<quint64, int>> fields)
{
    for (const auto &[value, width] : fields) {
        for (int index = 0; index < width; ++index)
            bytes.append(char((value >> (8 * index)) & 0xFF));
    }
}

} // namespace

ZipArchive buildZip(const QList<QByteArray> &entryNames, const ZipOptions &options)
{
    ZipArchive archive;
    QByteArray &bytes = archive.bytes;
    for (const QByteArray &name : entryNames) {
        archive.localHeaderOffsets.append(bytes.size());
        const quint64 size = name.size();
        // Signature, version, flags, method, time and date, CRC, sizes, name and extra lengths.
        append(bytes,
               {{0x04034b50, 4}, {10, 2}, {0, 2}, {0, 2}, {0, 4}, {0, 4}, {size, 4}, {size, 4}, {size, 2}, {0, 2}});
        bytes.append(name).append(name);
    }
    bytes.append(options.beforeDirectory);

    const quint64 directoryOffset = bytes.size();
    for (qsizetype index = 0; index < entryNames.size(); ++index) {
        archive.centralEntryOffsets.append(bytes.size());
        const quint64 size = entryNames.at(index).size();
        // As above after "made by", then comment length, disk, attributes and the local header's offset.
        append(bytes, {{0x02014b50, 4}, {0x031E, 2}, {10, 2}, {0, 2}, {0, 2}, {0, 4}, {0, 4}, {size, 4}, {size, 4}});
        append(bytes,
               {{size, 2}, {0, 2}, {0, 2}, {0, 2}, {0, 2}, {0, 4}, {quint64(archive.localHeaderOffsets[index]), 4}});
        bytes.append(entryNames.at(index));
    }
    const quint64 directorySize = bytes.size() - directoryOffset;
    const quint64 count = entryNames.size();
    archive.endRecordOffset = bytes.size();
    append(bytes, {{0x06054b50, 4}, {0, 2}, {0, 2}, {count, 2}, {count, 2}, {directorySize, 4}, {directoryOffset, 4}});
    append(bytes, {{quint64(options.comment.size()), 2}});
    bytes.append(options.comment);
    return archive;
}

QByteArray apkSigningBlock()
{
    const QByteArray signature(32, '\x5a');
    // The block's size counts everything after its first size field: one pair (length, v2 id, value), the size
    // again and the magic.
    const quint64 blockSize = 8 + 4 + signature.size() + 8 + 16;
    QByteArray block;
    append(block, {{blockSize, 8}, {4 + quint64(signature.size()), 8}, {0x7109871a, 4}});
    block.append(signature);
    append(block, {{blockSize, 8}});
    return block.append("APK Sig Block 42");
}

CompanionAPKMetadata companionMetadata(const QByteArray &package)
{
    const QString digest = QString::fromLatin1(QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex());
    return {1, u"com.drovan.tavrine"_s, u"2.1.0"_s, 210, digest, QString(64, u'a'), u"CN=Tavrine"_s};
}

bool writeCompanionResources(const QString &folder)
{
    const QByteArray package =
        buildZip({"AndroidManifest.xml", "classes.dex"}, {.beforeDirectory = apkSigningBlock()}).bytes;
    return writeFile(folder + u"/Tavrine-Android.apk"_s, package) &&
           writeFile(folder + u"/Tavrine-Android.json"_s, companionMetadata(package).encoded());
}
