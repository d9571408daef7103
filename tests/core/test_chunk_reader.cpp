#include "ChunkReader.h"
#include "Wire.h"

#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using tavrine::core::ChunkReader;
namespace wire = tavrine::core::wire;

namespace {

// A file of `size` bytes whose every byte tells its own position.
std::string patterned(uint64_t size)
{
    std::string bytes(size, '\0');
    for (uint64_t position = 0; position < size; ++position) {
        bytes[position] = char((position * 31 + position / 7) & 0xff);
    }
    return bytes;
}

int writtenFile(const QString &path, const std::string &bytes)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (descriptor >= 0 && ::write(descriptor, bytes.data(), bytes.size()) != ssize_t(bytes.size())) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

// The file bytes of a data frame, after the frame's header and `header`.
std::string payloadOf(const std::string &frame, const std::string &header)
{
    return frame.substr(wire::frameHeaderBytes + header.size());
}

} // namespace

class ChunkReaderTest : public QObject
{
    Q_OBJECT

private slots:
    // From an offset to the end, in order, a chunk a frame and a shorter last one, each after the header; then
    // nothing more.
    void readsTheRangeInOrder()
    {
        QTemporaryDir folder;
        const uint64_t size = 5 * wire::chunkBytes + 1234;
        const std::string bytes = patterned(size);
        const int descriptor = writtenFile(folder.filePath(u"source"_s), bytes);
        QVERIFY(descriptor >= 0);
        const uint64_t start = wire::chunkBytes / 2;
        const std::string header = "transfer-7";
        ChunkReader reader(descriptor, start, size, header);
        std::thread thread([&reader] { reader.run(); });
        std::string read;
        int frames = 0;
        while (const std::optional<std::string> frame = reader.next()) {
            QCOMPARE(frame->substr(wire::frameHeaderBytes, header.size()), header);
            QVERIFY(frame->size() - wire::frameHeaderBytes - header.size() <= wire::chunkBytes);
            read += payloadOf(*frame, header);
            ++frames;
            // A slow taker: the reader fills its queue and waits meanwhile.
            if (frames == 1) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        thread.join();
        QCOMPARE(frames, 5); // four whole chunks from the offset, then what is left
        QVERIFY(read == bytes.substr(start));
        reader.stopAndWait();
        ::close(descriptor);
    }

    // A file cut short while it is read ends the frames where its bytes end: what was read stays whole.
    void aFileCutShortEndsTheFrames()
    {
        QTemporaryDir folder;
        const uint64_t size = 8 * wire::chunkBytes;
        const std::string bytes = patterned(size);
        const int descriptor = writtenFile(folder.filePath(u"source"_s), bytes);
        QVERIFY(descriptor >= 0);
        QCOMPARE(::ftruncate(descriptor, off_t(3 * wire::chunkBytes + 10)), 0);
        ChunkReader reader(descriptor, 0, size, {});
        std::thread thread([&reader] { reader.run(); });
        std::string read;
        while (const std::optional<std::string> frame = reader.next()) {
            read += payloadOf(*frame, {});
        }
        thread.join();
        QCOMPARE(read.size(), size_t(3 * wire::chunkBytes));
        QVERIFY(read == bytes.substr(0, read.size()));
        reader.stopAndWait();
        ::close(descriptor);
    }

    // Stopping a reader whose queue is full, or one whose thread never started, returns at once, and nothing is
    // given out after it.
    void stoppingNeverWaitsForATaker()
    {
        QTemporaryDir folder;
        const uint64_t size = 16 * wire::chunkBytes;
        const int descriptor = writtenFile(folder.filePath(u"source"_s), patterned(size));
        QVERIFY(descriptor >= 0);
        {
            ChunkReader reader(descriptor, 0, size, {});
            std::thread thread([&reader] { reader.run(); });
            QVERIFY(reader.next().has_value()); // the reader is under way, and soon waits for a taker
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            auto stopped = std::async(std::launch::async, [&reader] { reader.stopAndWait(); });
            QCOMPARE(stopped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
            thread.join();
            QVERIFY(!reader.next().has_value());
        }
        {
            ChunkReader reader(descriptor, 0, size, {});
            reader.cancelRun();
            auto stopped = std::async(std::launch::async, [&reader] { reader.stopAndWait(); });
            QCOMPARE(stopped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
            QVERIFY(!reader.next().has_value());
        }
        ::close(descriptor);
    }
};

QTEST_GUILESS_MAIN(ChunkReaderTest)
#include "test_chunk_reader.moc"
