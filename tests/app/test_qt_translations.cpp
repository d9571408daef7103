// Qt's own dialogs speak Chinese whatever the system's language: this test runs under the C locale.
#include "QtTranslations.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QPushButton>
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
};

QTEST_MAIN(TestQtTranslations)
#include "test_qt_translations.moc"
