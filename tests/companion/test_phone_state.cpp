#include "PhoneState.h"
#include "StorageLayout.h"
#include "StorageTree.h"

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
};

QTEST_GUILESS_MAIN(PhoneStateTest)
#include "test_phone_state.moc"
