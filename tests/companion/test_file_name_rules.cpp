#include "FileNameRules.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class FileNameRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void freeNameNeverTakesAnExistingEntry_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");

        QTest::newRow("free") << QStringList{u"other.jpg"_s} << u"photo.jpg"_s << u"photo.jpg"_s;
        QTest::newRow("taken once") << QStringList{u"photo.jpg"_s} << u"photo.jpg"_s << u"photo (1).jpg"_s;
        QTest::newRow("taken twice") << QStringList{u"photo.jpg"_s, u"photo (1).jpg"_s} << u"photo.jpg"_s
                                     << u"photo (2).jpg"_s;
        QTest::newRow("gap is reused") << QStringList{u"photo.jpg"_s, u"photo (2).jpg"_s} << u"photo.jpg"_s
                                       << u"photo (1).jpg"_s;
        QTest::newRow("no extension") << QStringList{u"README"_s} << u"README"_s << u"README (1)"_s;
        QTest::newRow("hidden file") << QStringList{u".profile"_s} << u".profile"_s << u".profile (1)"_s;
        QTest::newRow("hidden file with extension")
            << QStringList{u".config.json"_s} << u".config.json"_s << u".config (1).json"_s;
        QTest::newRow("trailing dot") << QStringList{u"notes."_s} << u"notes."_s << u"notes. (1)"_s;
        QTest::newRow("last extension only")
            << QStringList{u"backup.tar.gz"_s} << u"backup.tar.gz"_s << u"backup.tar (1).gz"_s;
        QTest::newRow("placeholders in the name")
            << QStringList{u"%1 %2.txt"_s} << u"%1 %2.txt"_s << u"%1 %2 (1).txt"_s;
        QTest::newRow("folder of that name") << QStringList{u"album/"_s} << u"album"_s << u"album (1)"_s;
        QTest::newRow("dangling link of that name")
            << QStringList{u"link.txt>"_s} << u"link.txt"_s << u"link (1).txt"_s;
    }

    // An entry ending in "/" is a folder, one ending in ">" a link to nowhere, others are files.
    void freeNameNeverTakesAnExistingEntry()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QDir dir(folder.path());
        for (const QString &entry : existing) {
            if (entry.endsWith(u'/')) {
                QVERIFY(dir.mkdir(entry.chopped(1)));
            } else if (entry.endsWith(u'>')) {
                QVERIFY(QFile::link(dir.filePath(u"missing-target"_s), dir.filePath(entry.chopped(1))));
            } else {
                QFile file(dir.filePath(entry));
                QVERIFY(file.open(QIODevice::WriteOnly));
            }
        }

        QCOMPARE(FileNameRules::freeFileName(dir, name), expected);
    }

    void safeFileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("safe");

        QTest::newRow("plain") << u"photo.jpg"_s << true;
        QTest::newRow("hidden") << u".profile"_s << true;
        QTest::newRow("three dots") << u"..."_s << true;
        QTest::newRow("spaces and CJK") << u"照片 1.jpg"_s << true;
        QTest::newRow("255 bytes") << QString(255, u'a') << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("dot") << u"."_s << false;
        QTest::newRow("dot dot") << u".."_s << false;
        QTest::newRow("parent path") << u"../escape.txt"_s << false;
        QTest::newRow("absolute path") << u"/etc/passwd"_s << false;
        QTest::newRow("sub-folder") << u"a/b"_s << false;
        QTest::newRow("backslash") << u"..\\escape.txt"_s << false;
        QTest::newRow("NUL") << u"a\0b"_s << false;
        QTest::newRow("256 bytes") << QString(256, u'a') << false;
        QTest::newRow("86 CJK characters are 258 bytes") << QString(86, QChar(0x7167)) << false;
    }

    void safeFileNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, safe);
        QCOMPARE(FileNameRules::isSafeFileName(name), safe);
    }
};

QTEST_GUILESS_MAIN(FileNameRulesTest)
#include "test_file_name_rules.moc"
