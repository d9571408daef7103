#include "QuickLookWindow.h"
#include "TestSupport.h"

#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using Kind = QuickLookWindow::Kind;
using Kinds = TestTable<QString, QByteArray, Kind>;

class QuickLookTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;

    QByteArray png() const
    {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        const QString path = m_folder.filePath(u"made.png"_s);
        image.save(path);
        return contentsOf(path);
    }

private slots:
    // Content decides, not the name: a picture named .txt is a picture, a program named .jpg goes elsewhere.
    void kindFollowsTheContent_data()
    {
        const Kinds rows;
        rows("picture", u"a.png"_s, png(), Kind::image);
        rows("picture with another name", u"a.txt"_s, png(), Kind::image);
        rows("text", u"notes.txt"_s, "第一行\nsecond line\n", Kind::text);
        rows("program named as a picture", u"b.jpg"_s, QByteArray("\x7f" "ELF\x02\x01\x01", 7) + QByteArray(64, '\0'),
             Kind::external);
        rows("pdf", u"c.pdf"_s, "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n", Kind::external);
    }

    void kindFollowsTheContent()
    {
        const auto [name, bytes, kind] = Kinds::fetch();
        const QString path = m_folder.filePath(name);
        QVERIFY(writeFile(path, bytes));
        QCOMPARE(QuickLookWindow::kindOf(path), kind);
    }

    void showsPicturesAndTextItselfAndHandsTheRestOn()
    {
        QVERIFY(writeFile(m_folder.filePath(u"p.png"_s), png()));
        QVERIFY(writeFile(m_folder.filePath(u"t.txt"_s), "你好\n"));
        QVERIFY(writeFile(m_folder.filePath(u"d.pdf"_s), "%PDF-1.7\n"));
        QWidget parent;
        QStringList external;
        const auto opener = [&external](const QString &path) {
            external.append(path);
            return true;
        };

        std::unique_ptr<QuickLookWindow> picture(QuickLookWindow::show(m_folder.filePath(u"p.png"_s), &parent, opener));
        QVERIFY(picture);
        QCOMPARE(picture->findChild<QLabel *>(u"quickLookImage"_s)->pixmap().size(), QSize(40, 30));
        std::unique_ptr<QuickLookWindow> text(QuickLookWindow::show(m_folder.filePath(u"t.txt"_s), &parent, opener));
        QCOMPARE(text->findChild<QPlainTextEdit *>(u"quickLookText"_s)->toPlainText(), u"你好\n"_s);
        QVERIFY(!QuickLookWindow::show(m_folder.filePath(u"d.pdf"_s), &parent, opener));
        QCOMPARE(external, QStringList{m_folder.filePath(u"d.pdf"_s)});
    }
};

QTEST_MAIN(QuickLookTest)
#include "test_quick_look.moc"
