#include "SystemErrorText.h"

#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

using namespace Qt::StringLiterals;

class TestSystemErrorText : public QObject
{
    Q_OBJECT

private slots:
    void reasonsAreChineseWhereCommon_data()
    {
        QTest::addColumn<int>("errnoValue");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no such file") << ENOENT << u"文件或文件夹不存在"_s;
        QTest::newRow("access refused") << EACCES << u"没有权限"_s;
        QTest::newRow("operation not permitted") << EPERM << u"没有权限"_s;
        QTest::newRow("disk full") << ENOSPC << u"磁盘空间不足"_s;
        QTest::newRow("quota reached") << EDQUOT << u"磁盘空间不足"_s;
        QTest::newRow("read-only file system") << EROFS << u"文件系统为只读"_s;
        QTest::newRow("a folder") << EISDIR << u"这是一个文件夹"_s;
        QTest::newRow("name too long") << ENAMETOOLONG << u"名称过长"_s;
        QTest::newRow("the disk gives up") << EIO << u"读写磁盘时出错"_s;
        QTest::newRow("file size limit") << EFBIG << u"文件过大"_s;
        QTest::newRow("a file on the path") << ENOTDIR << u"路径中有一项不是文件夹"_s;
        QTest::newRow("too many open files") << EMFILE << u"打开的文件过多"_s;
        QTest::newRow("anything else keeps the system's words")
            << EXDEV << QString::fromLocal8Bit(std::strerror(EXDEV));
    }

    // From the error number, and from the system's words for it alone or at the end of a longer reason.
    void reasonsAreChineseWhereCommon()
    {
        QFETCH(int, errnoValue);
        QFETCH(QString, expected);
        QCOMPARE(SystemErrorText::describe(errnoValue), expected);
        const QString words = QString::fromLocal8Bit(std::strerror(errnoValue));
        QCOMPARE(SystemErrorText::describe(words), expected);
        QCOMPARE(SystemErrorText::describe(u"Cannot open a.txt: "_s + words), u"Cannot open a.txt: "_s + expected);
    }

    // What Qt's file classes report of a missing folder.
    void fileErrorStringsAreRead()
    {
        QTemporaryDir folder;
        QFile file(folder.filePath(u"gone/a.txt"_s));
        QVERIFY(!file.open(QIODevice::WriteOnly));
        QCOMPARE(SystemErrorText::describe(file.errorString()), u"文件或文件夹不存在"_s);
        QCOMPARE(SystemErrorText::describe(u"a text of our own"_s), u"a text of our own"_s);

        // A file saved whole where a folder stands.
        QSaveFile whole(folder.path());
        QVERIFY(!whole.open(QIODevice::WriteOnly));
        QCOMPARE(SystemErrorText::describe(whole.errorString()), u"这是一个文件夹"_s);
    }
};

QTEST_GUILESS_MAIN(TestSystemErrorText)
#include "test_system_error_text.moc"
