#include "PhoneState.h"
#include "StorageLayout.h"
#include "StorageTree.h"
#include "transfers/FullDisk.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

bool isOwnerOnly(const QString &path)
{
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    return QFileInfo(path).permissions() == ownerOnly;
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
        QVERIFY(isOwnerOnly(StorageLayout::stateFilePath(storagePath)));
        const PhoneStateLoadResult loaded = PhoneState::load(storagePath);
        QCOMPARE(loaded.status, PhoneStateLoadResult::Status::loaded);
        QCOMPARE(loaded.state, first);

        // Replacing the file must not widen its permissions.
        QVERIFY2(second.save(storagePath, &error), qPrintable(error));
        QVERIFY(isOwnerOnly(StorageLayout::stateFilePath(storagePath)));
        QCOMPARE(PhoneState::load(storagePath).state, second);
    }

    void reportsMissingAndDamagedFiles_data()
    {
        // What is in the state file's place, or null for nothing, and the status loading gives.
        const TestTable<QString, PhoneStateLoadResult::Status> rows;
        const auto damaged = PhoneStateLoadResult::Status::damaged;
        const QString file = u".tavrine/state.json="_s;
        rows("no file", QString(), PhoneStateLoadResult::Status::missing);
        rows("empty file", file, damaged);
        rows("truncated JSON", file + u"{\"connectionMaterial\":\"m"_s, damaged);
        rows("array", file + u"[\"m\",\"p\"]"_s, damaged);
        rows("no material", file + u"{\"peerName\":\"p\"}"_s, damaged);
        rows("empty material", file + u"{\"connectionMaterial\":\"\",\"peerName\":\"p\"}"_s, damaged);
        rows("material not a text", file + u"{\"connectionMaterial\":42,\"peerName\":\"p\"}"_s, damaged);
        rows("no peer name", file + u"{\"connectionMaterial\":\"m\"}"_s, damaged);
        rows("peer name null", file + u"{\"connectionMaterial\":\"m\",\"peerName\":null}"_s, damaged);
        rows("folder in its place", u".tavrine/state.json/"_s, damaged);
    }

    // A damaged file is replaced by the next save; a folder in its place is left alone.
    void reportsMissingAndDamagedFiles()
    {
        const auto [entry, expected] = TestTable<QString, PhoneStateLoadResult::Status>::fetch();
        QTemporaryDir storage;
        if (!entry.isNull())
            QVERIFY(makeEntries(storage.path(), {entry}));

        const PhoneStateLoadResult loaded = PhoneState::load(storage.path());
        QCOMPARE(loaded.status, expected);
        QVERIFY(loaded.errorMessage.contains(StorageLayout::stateFilePath(storage.path())));
        QString error;
        const PhoneState state{u"m"_s, u"p"_s};
        QCOMPARE(state.save(storage.path(), &error), !entry.endsWith(u'/'));
        QCOMPARE(error.isEmpty(), !entry.endsWith(u'/'));
    }

    void fullDiskKeepsTheOldStateWhole_data()
    {
        // The size of the new state, and how much of it the disk takes.
        const TestTable<qsizetype, rlim_t> rows;
        rows("the last flush fails", 200, 16);
        rows("nothing fits", 200, 0);
        rows("a write fails midway", 200'000, 4096);
    }

    // Saving onto a full disk fails and says so; the pairing stored before stays as it was, and no stray file is
    // left beside it.
    void fullDiskKeepsTheOldStateWhole()
    {
        const auto [stateBytes, diskBytes] = TestTable<qsizetype, rlim_t>::fetch();
        QTemporaryDir storage;
        QString error;
        const PhoneState stored{u"stored material"_s, u"Computer"_s};
        QVERIFY2(stored.save(storage.path(), &error), qPrintable(error));
        const QByteArray storedBytes = [&] {
            QFile file(StorageLayout::stateFilePath(storage.path()));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();

        const PhoneState replacement{QString(stateBytes, u'm'), u"Computer"_s};
        bool saved = true;
        {
            const FileSizeLimit fullDisk(diskBytes);
            QVERIFY(fullDisk.isActive());
            saved = replacement.save(storage.path(), &error);
        }
        QVERIFY(!saved);
        QVERIFY2(error.contains(StorageLayout::stateFilePath(storage.path())), qPrintable(error));
        const PhoneStateLoadResult loaded = PhoneState::load(storage.path());
        QCOMPARE(loaded.status, PhoneStateLoadResult::Status::loaded);
        QCOMPARE(loaded.state, stored);
        QFile file(StorageLayout::stateFilePath(storage.path()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), storedBytes);
        QCOMPARE(QDir(StorageLayout::stateFolderPath(storage.path())).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"state.json"_s});
    }
};

QTEST_GUILESS_MAIN(PhoneStateTest)
#include "test_phone_state.moc"
