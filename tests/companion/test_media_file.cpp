#include "MediaFile.h"

#include "TestSupport.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray encoded(const QImage &image, const QByteArray &format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    return writer.write(image) ? bytes : QByteArray();
}

// A 1×1 GIF, which the toolkit reads but does not write.
const QByteArray smallGif = QByteArray::fromHex("47494638396101000100800000000000ffffff21f90401000000002c000000000100"
                                                "010000020144003b");

// What the toolkit's image reader itself says of `bytes`.
bool readerCanRead(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    return reader.canRead();
}

QByteArray linesOf(const QByteArray &line, int count)
{
    QByteArray text;
    for (int index = 0; index < count; ++index) {
        text += line;
    }
    return text;
}

} // namespace

// Telling a file that is surely no photo without the image readers: every picture still goes to them, and no file
// is told apart differently from what the readers themselves say.
class MediaFileTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_folder.isValid()); }

    void photoCandidates_data()
    {
        const TestTable<QByteArray> rows; // the file's bytes
        QImage small(3, 2, QImage::Format_RGB32);
        small.fill(Qt::darkCyan);
        // Large enough to be looked at in the file rather than read whole.
        QImage large(300, 200, QImage::Format_RGB32);
        large.fill(Qt::darkMagenta);
        for (const QByteArray &format : QImageWriter::supportedImageFormats()) {
            if (!QImageReader::supportedImageFormats().contains(format)) {
                continue;
            }
            for (const auto &[label, image] : {std::pair{"small", small}, std::pair{"large", large}}) {
                const QByteArray bytes = encoded(image, format);
                if (!bytes.isEmpty()) {
                    rows(QByteArray(format + ' ' + label).constData(), bytes);
                }
            }
        }
        rows("gif", smallGif);
        rows("X bitmap after a comment", "/* drawn by hand */\n#define dot_width 1\n#define dot_height 1\n"
                                         "static char dot_bits[] = { 0x01 };\n");
        rows("X bitmap after 3 KiB of comment lines", linesOf("/* a line of a long comment */\n", 100) +
                                                          "#define dot_width 1\n#define dot_height 1\n"
                                                          "static char dot_bits[] = { 0x01 };\n");
        rows("text", "Meeting notes\n- bring the charger\n");
        rows("C with defines", "#include <stdio.h>\n#define WIDTH 3\nint main() { return WIDTH; }\n");
        rows("define after 4 KiB", linesOf("plain line of text\n", 300) + "#define a_width 1\n#define a_height 1\n");
        rows("large text", linesOf("a line of an ordinary text file\n", 1000));
        rows("only the start of a JPEG", "\xFF\xD8");
        rows("P7", "P7\nWIDTH 1\n");
        rows("BM alone", "BM");
        rows("an icon's first bytes", QByteArray("\0\0\1\0", 4));
        rows("empty", QByteArray());
        QRandomGenerator random(20261207);
        for (int index = 0; index < 8; ++index) {
            QByteArray bytes(int(random.bounded(1, 40000)), 0);
            random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
            rows(QByteArray("random " + QByteArray::number(index)).constData(), bytes);
        }
    }

    // Whatever the readers can read is a candidate, and nothing else is.
    void photoCandidates()
    {
        const auto [bytes] = TestTable<QByteArray>::fetch();
        const QString path = m_folder.filePath(u"file"_s);
        QVERIFY(writeFile(path, bytes));
        QFile file;
        QVERIFY(MediaFile::openRegularFile(file, path));
        QCOMPARE(MediaFile::mayBePhoto(file, bytes.size()), readerCanRead(bytes));
    }

    // The readers' verdict for the formats they write is yes, so the comparison above is not one of noes alone.
    void everyWrittenFormatIsACandidate()
    {
        QImage image(3, 2, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        int formats = 0;
        for (const QByteArray &format : QImageWriter::supportedImageFormats()) {
            const QByteArray bytes = encoded(image, format);
            if (bytes.isEmpty() || !QImageReader::supportedImageFormats().contains(format)) {
                continue;
            }
            const QString path = m_folder.filePath(QString::fromLatin1(format));
            QVERIFY(writeFile(path, bytes));
            QFile file;
            QVERIFY(MediaFile::openRegularFile(file, path));
            QVERIFY2(MediaFile::mayBePhoto(file, bytes.size()), format.constData());
            ++formats;
        }
        QVERIFY(formats >= 5);
    }

private:
    QTemporaryDir m_folder;
};

QTEST_GUILESS_MAIN(MediaFileTest)
#include "test_media_file.moc"
