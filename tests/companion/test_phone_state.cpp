#include "PhoneState.h"
#include "StorageLayout.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(PhoneStateLoadResult::Status)

namespace {

void writeStateFile(const QString &storage, const QByteArray &bytes)
{
    QVERIFY(QDir().mkpath(StorageLayout::stateFolderPath(storage)));
    QFile file(StorageLayout::stateFilePath(storage));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

mode_t permissionBits(const QString &path)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
        return 0;
    }
    return status.st_mode & 07777;
}

} // namespace

class PhoneStateTest : public QObject
{
    Q_OBJECT

private slots:
    void savedStateLoadsBackOwnerOnly()
    {
        QTemporaryDir storage;
        QVERIFY(storage.isValid());
        const QString storagePath = storage.filePath(u"not yet there"_s);
        const PhoneState first{u"material-1"_s, u"Büro-Rechner \"A\""_s};
        const PhoneState second{u"material-2"_s, u"Computer"_s};

        QString error;
        QVERIFY2(first.save(storagePath, &error), qPrintable(error));
        QCOMPARE(permissionBits(StorageLayout::stateFilePath(storagePath)), mode_t(0600));
        const PhoneStateLoadResult loaded = PhoneState::load(storagePath);
        QCOMPARE(loaded.status, PhoneStateLoadResult::Status::loaded);
        QCOMPARE(loaded.state, first);

        // Replacing the file must not widen its permissions.
        QVERIFY2(second.save(storagePath, &error), qPrintable(error));
        QCOMPARE(permissionBits(StorageLayout::stateFilePath(storagePath)), mode_t(0600));
        QCOMPARE(PhoneState::load(storagePath).state, second);
    }

    void reportsMissingAndDamagedFiles_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<PhoneStateLoadResult::Status>("expected");

        QTest::newRow("no file") << QByteArray() << PhoneStateLoadResult::Status::missing;
        QTest::newRow("empty file") << ""_ba << PhoneStateLoadResult::Status::damaged;
        QTest::newRow("truncated JSON") << "{\"connectionMaterial\":\"m"_ba << PhoneStateLoadResult::Status::damaged;
        QTest::newRow("array") << "[\"m\",\"p\"]"_ba << PhoneStateLoadResult::Status::damaged;
        QTest::newRow("no material") << "{\"peerName\":\"p\"}"_ba << PhoneStateLoadResult::Status::damaged;
        QTest::newRow("empty material") << "{\"connectionMaterial\":\"\",\"peerName\":\"p\"}"_ba
                                        << PhoneStateLoadResult::Status::damaged;
        QTest::newRow("material not a text")
            << "{\"connectionMaterial\":42,\"peerName\":\"p\"}"_ba << PhoneStateLoadResult::Status::damaged;
        QTest::newRow("no peer name") << "{\"connectionMaterial\":\"m\"}"_ba << PhoneStateLoadResult::Status::damaged;
        QTest::newRow("peer name null") << "{\"connectionMaterial\":\"m\",\"peerName\":null}"_ba
                                        << PhoneStateLoadResult::Status::damaged;
    }

    void reportsMissingAndDamagedFiles()
    {
        QFETCH(QByteArray, contents);
        QFETCH(PhoneStateLoadResult::Status, expected);
        QTemporaryDir storage;
        if (!contents.isNull()) {
            writeStateFile(storage.path(), contents);
        }

        const PhoneStateLoadResult loaded = PhoneState::load(storage.path());
        QCOMPARE(loaded.status, expected);
        QVERIFY(loaded.errorMessage.contains(StorageLayout::stateFilePath(storage.path())));
    }

    void folderInPlaceOfTheFileIsDamagedAndNotOverwritten()
    {
        QTemporaryDir storage;
        QVERIFY(QDir().mkpath(StorageLayout::stateFilePath(storage.path())));

        QCOMPARE(PhoneState::load(storage.path()).status, PhoneStateLoadResult::Status::damaged);
        QString error;
        const PhoneState state{u"m"_s, u"p"_s};
        QVERIFY(!state.save(storage.path(), &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(PhoneStateTest)
#include "test_phone_state.moc"
