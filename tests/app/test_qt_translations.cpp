// Qt's own dialogs speak Chinese whatever the system's language: this test runs under the C locale.
#include "ApplicationIdentity.h"
#include "NativeOpenPanel.h"
#include "QtTranslations.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QMimeDatabase>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

class TestQtTranslations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(QLocale::system().name(), QStringLiteral("C"));
        QVERIFY(QtTranslations::install());
    }

    void standardButtons()
    {
        const QDialogButtonBox buttons(QDialogButtonBox::Open | QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Open)->text(), QStringLiteral("打开"));
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    }

    void fileDialog()
    {
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        const auto *buttons = dialog.findChild<QDialogButtonBox *>();
        QVERIFY(buttons);
        QVERIFY2(buttons->button(QDialogButtonBox::Open)->text().startsWith(QStringLiteral("打开")),
                 qPrintable(buttons->button(QDialogButtonBox::Open)->text()));
        QCOMPARE(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
        const auto *list = dialog.findChild<QTreeView *>();
        QVERIFY(list);
        const QAbstractItemModel *model = list->header()->model();
        QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("名称"));
    }

    // Once the application has named itself: one name in its windows' titles, and sizes, dates and file types in
    // Chinese, in Qt's dialogs too.
    void applicationSpeaksChineseEverywhere()
    {
        ApplicationIdentity::apply(QStringLiteral("com.example.test"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("Tavrine"));
        QCOMPARE(QGuiApplication::applicationName(), QStringLiteral("TavrineMac"));
        QCOMPARE(QLocale().formattedDataSize(100), QStringLiteral("100 字节"));
        QCOMPARE(QMimeDatabase().mimeTypeForName(QStringLiteral("text/plain")).comment(), QStringLiteral("纯文本文档"));

        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("相册")));
        QFile file(folder.filePath(QStringLiteral("a.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("hi\n") == 3 && file.flush());
        QVERIFY(file.setFileTime(QDateTime(QDate(2026, 12, 7), QTime(18, 57, 20)), QFileDevice::FileModificationTime));
        file.close();
        // Qt's dialogs keep their column widths in the user's settings: this one starts as on a first run.
        QTemporaryDir settings;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
        NativeOpenPanel panel({QStringLiteral("选择文件"), {}, QStringLiteral("添加"), true, false});
        panel.setDirectory(folder.path());
        const QAbstractItemModel *model = panel.findChild<QTreeView *>()->model();
        const QModelIndex root = panel.findChild<QTreeView *>()->rootIndex();
        QTRY_COMPARE(model->rowCount(root), 2);
        QHash<QString, QStringList> rows;
        for (int row = 0; row < model->rowCount(root); ++row) {
            QStringList columns;
            for (int column = 1; column < 4; ++column)
                columns.append(model->index(row, column, root).data().toString());
            rows.insert(model->index(row, 0, root).data().toString(), columns);
        }
        QCOMPARE(rows.value(QStringLiteral("a.txt")),
                 (QStringList{QStringLiteral("3 字节"), QStringLiteral("纯文本文档"),
                              QStringLiteral("2026年12月7日 18:57")}));
        QCOMPARE(rows.value(QStringLiteral("相册")).mid(0, 2), (QStringList{QString(), QStringLiteral("文件夹")}));
        // The type and date columns show their texts whole: a cell draws its text inside the style's text margins.
        const auto *details = panel.findChild<QTreeView *>();
        const int textMargins = 2 * (details->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, details) + 1);
        for (const int column : {2, 3}) {
            const QString text = rows.value(QStringLiteral("a.txt")).at(column - 1);
            QVERIFY2(details->header()->sectionSize(column) >=
                         details->fontMetrics().horizontalAdvance(text) + textMargins,
                     qPrintable(text));
        }
    }
};

QTEST_MAIN(TestQtTranslations)
#include "test_qt_translations.moc"
