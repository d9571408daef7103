#include "TrustedDeviceManagementRow.h"
#include "TrustedDeviceManager.h"
#include "TrustedDeviceManagerSheet.h"
#include "ViewMessageBox.h"
#include "ViewsTestSupport.h"

#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

using ViewsTestSupport::phone;

namespace {

QLineEdit *nameField(TrustedDeviceManagementRow *row)
{
    return row->findChild<QLineEdit *>(QStringLiteral("nameField"));
}

QStringList storedNames(StoreFixture &fixture)
{
    QStringList names;
    for (const TrustedDeviceRecord &device : ViewsTestSupport::registryStore(fixture).load().devices) {
        names.append(device.name);
    }
    return names;
}

} // namespace

class TrustedDeviceManagerTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { ViewMessageBox::clearShown(); }
    void cleanup() { QVERIFY(!ViewMessageBox::hasNextAnswer()); }

    void withoutPhonesOnlyTheAddButtonShows()
    {
        StoreFixture fixture;
        TransferStore &store = ViewsTestSupport::storeWithPhones(fixture, {});
        int added = 0;
        TrustedDeviceManagerSheet sheet(&store, [&] { ++added; });
        QVERIFY(sheet.manager()->rows().isEmpty());
        QCOMPARE(sheet.manager()->addDeviceButton()->text(), QStringLiteral("添加另一台手机"));
        sheet.manager()->addDeviceButton()->click();
        QCOMPARE(added, 1);
        QCOMPARE(sheet.size(), QSize(560, 380));
        QCOMPARE(sheet.windowModality(), Qt::WindowModal);
        sheet.show();
        sheet.findChild<QPushButton *>(QStringLiteral("doneButton"))->click();
        QVERIFY(!sheet.isVisible());
    }

    void selectionFollowsTheStore()
    {
        StoreFixture fixture;
        TransferStore &store = ViewsTestSupport::storeWithPhones(
            fixture, {phone(QStringLiteral("Pixel"), 1), phone(QStringLiteral("Galaxy"), 2)});
        TrustedDeviceManager manager(&store, {});
        QCOMPARE(manager.rows().size(), 2);
        QCOMPARE(manager.rows().at(0)->isSelected(), true);
        QCOMPARE(manager.rows().at(1)->isSelected(), false);

        manager.rows().at(1)->findChild<QToolButton *>(QStringLiteral("selectButton"))->click();
        QCOMPARE(store.selectedTrustedDeviceID(), phone(QStringLiteral("Galaxy"), 2).id);
        QCOMPARE(manager.rows().at(0)->isSelected(), false);
        QCOMPARE(manager.rows().at(1)->isSelected(), true);
        QCOMPARE(ViewsTestSupport::registryStore(fixture).load().selectedDeviceID,
                 phone(QStringLiteral("Galaxy"), 2).id);
    }

    void renameHappensOnReturnOnly_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("pressReturn");
        QTest::addColumn<QString>("stored");

        QTest::newRow("typing alone") << "Work phone" << false << "Pixel";
        QTest::newRow("typing and Return") << "Work phone" << true << "Work phone";
        QTest::newRow("only spaces") << "   " << true << "Pixel";
        QTest::newRow("100 characters") << QString(100, QChar(u'机')) << true << QString(80, QChar(u'机'));
    }

    void renameHappensOnReturnOnly()
    {
        QFETCH(QString, typed);
        QFETCH(bool, pressReturn);
        QFETCH(QString, stored);

        StoreFixture fixture;
        TransferStore &store = ViewsTestSupport::storeWithPhones(fixture, {phone(QStringLiteral("Pixel"), 1)});
        TrustedDeviceManagerSheet sheet(&store, {});
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        TrustedDeviceManagementRow *row = sheet.manager()->rows().first();
        QLineEdit *field = nameField(row);
        QCOMPARE(field->text(), QStringLiteral("Pixel"));
        QCOMPARE(field->placeholderText(), QStringLiteral("设备名称"));

        field->setFocus();
        field->selectAll();
        field->insert(typed);
        if (pressReturn) {
            QTest::keyClick(field, Qt::Key_Return);
        }
        QCOMPARE(storedNames(fixture), QStringList{stored});
        // Return belongs to the name field: the sheet stays open, and the field keeps what was typed.
        QVERIFY(sheet.isVisible());
        QCOMPARE(sheet.manager()->rows().first(), row);
        QCOMPARE(field->text(), typed);
    }

    void removalNeedsTheConfirmation_data()
    {
        QTest::addColumn<QMessageBox::ButtonRole>("answer");
        QTest::addColumn<QStringList>("remaining");

        QTest::newRow("dismissed") << QMessageBox::RejectRole << QStringList{"Pixel", "Galaxy"};
        QTest::newRow("confirmed") << QMessageBox::DestructiveRole << QStringList{"Galaxy"};
    }

    void removalNeedsTheConfirmation()
    {
        QFETCH(QMessageBox::ButtonRole, answer);
        QFETCH(QStringList, remaining);

        StoreFixture fixture;
        TransferStore &store = ViewsTestSupport::storeWithPhones(
            fixture, {phone(QStringLiteral("Pixel"), 1), phone(QStringLiteral("Galaxy"), 2)});
        TrustedDeviceManager manager(&store, {});
        ViewMessageBox::setNextAnswer(answer);
        manager.rows().first()->findChild<QToolButton *>(QStringLiteral("removeButton"))->click();

        QCOMPARE(ViewMessageBox::shown().size(), 1);
        const ViewMessageBox::Shown &question = ViewMessageBox::shown().first();
        QCOMPARE(question.text, QStringLiteral("移除 Pixel？"));
        QCOMPARE(question.informativeText, QStringLiteral("这台手机之后需要重新确认配对才能连接。"));
        QCOMPARE(question.buttons, (QStringList{QStringLiteral("移除设备"), QStringLiteral("取消")}));
        QCOMPARE(storedNames(fixture), remaining);
        QTRY_COMPARE(manager.findChildren<TrustedDeviceManagementRow *>().size(), remaining.size());
        QCOMPARE(manager.rows().size(), remaining.size());
    }
};

QTEST_MAIN(TrustedDeviceManagerTest)
#include "test_trusted_device_manager.moc"
