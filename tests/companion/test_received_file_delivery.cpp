#include "ReceivedFileDelivery.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class ReceivedFileDeliveryTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_root.emplace();
        QVERIFY(m_root->isValid());
        QVERIFY(QDir(m_root->path()).mkpath(u"storage/inbox"_s));
        m_storage = m_root->filePath(u"storage"_s);
        m_inbox = m_root->filePath(u"storage/inbox"_s);
    }

    void movesIntoStorageBesideAnExistingFile()
    {
        QVERIFY(writeFile(m_storage + u"/photo.jpg"_s, "old"));
        QVERIFY(writeFile(m_inbox + u"/photo.jpg"_s, "new"));

        QString error;
        const std::optional<QString> stored = ReceivedFileDelivery(m_inbox).deliver(u"photo.jpg"_s, m_storage, &error);
        QCOMPARE(stored, std::optional<QString>(u"photo (1).jpg"_s));
        QCOMPARE(readFile(m_storage + u"/photo.jpg"_s), "old"_ba);
        QCOMPARE(readFile(m_storage + u"/photo (1).jpg"_s), "new"_ba);
        QVERIFY(entries(m_inbox).isEmpty());
    }

    void refusesNamesThatLeaveTheInbox_data()
    {
        QTest::addColumn<QString>("fileName");

        QTest::newRow("up to the file outside") << u"../../outside.txt"_s;
        QTest::newRow("through a sub-folder") << u"sub/../../../outside.txt"_s;
        QTest::newRow("absolute path of the file outside") << u"<absolute>"_s;
        QTest::newRow("dot dot") << u".."_s;
        QTest::newRow("empty") << QString();
    }

    // The name comes from the network: nothing may be moved from or to a place outside the two folders.
    void refusesNamesThatLeaveTheInbox()
    {
        QFETCH(QString, fileName);
        QVERIFY(writeFile(m_root->filePath(u"outside.txt"_s), "secret"));
        if (fileName == u"<absolute>") {
            fileName = m_root->filePath(u"outside.txt"_s);
        }
        const QStringList rootBefore = entries(m_root->path());
        const QStringList storageBefore = entries(m_storage);

        QString error;
        QCOMPARE(ReceivedFileDelivery(m_inbox).deliver(fileName, m_storage, &error), std::nullopt);
        QVERIFY(!error.isEmpty());
        QCOMPARE(entries(m_root->path()), rootBefore);
        QCOMPARE(entries(m_storage), storageBefore);
        QCOMPARE(readFile(m_root->filePath(u"outside.txt"_s)), "secret"_ba);
    }

    void refusesWhatIsNotAReceivedFile_data()
    {
        QTest::addColumn<QString>("kind");

        QTest::newRow("nothing") << u"nothing"_s;
        QTest::newRow("folder") << u"folder"_s;
        QTest::newRow("link to a file outside") << u"link"_s;
    }

    void refusesWhatIsNotAReceivedFile()
    {
        QFETCH(QString, kind);
        const QString entry = m_inbox + u"/item"_s;
        if (kind == u"folder") {
            QVERIFY(QDir().mkdir(entry));
        } else if (kind == u"link") {
            QVERIFY(writeFile(m_root->filePath(u"outside.txt"_s), "secret"));
            QVERIFY(QFile::link(m_root->filePath(u"outside.txt"_s), entry));
        }

        QString error;
        QCOMPARE(ReceivedFileDelivery(m_inbox).deliver(u"item"_s, m_storage, &error), std::nullopt);
        QVERIFY(!error.isEmpty());
        QCOMPARE(entries(m_storage), QStringList{u"inbox"_s});
    }

private:
    std::optional<QTemporaryDir> m_root;
    QString m_storage;
    QString m_inbox;
};

QTEST_GUILESS_MAIN(ReceivedFileDeliveryTest)
#include "test_received_file_delivery.moc"
