#include "TestSupport.h"
#include "TrustedDeviceManagementRow.h"
#include "TrustedDeviceManager.h"
#include "TrustedDeviceManagerSheet.h"
#include "ViewMessageBox.h"
#include "ViewsTestSupport.h"

using namespace ViewsTestSupport;

// phones: how many of Pixel, Galaxy and Nokia are trusted; clicked: the row whose circle is clicked first, -1 none;
// removed: the row whose remove button is clicked then, -1 none
using Selections = TestTable<int, int, int, QMessageBox::ButtonRole, QStringList, QList<Symbol>>;
using Renames = TestTable<QString, bool, QString>;

class TrustedDeviceManagerTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { ViewMessageBox::clearShown(); }
    void cleanup() { QVERIFY(!ViewMessageBox::hasNextAnswer()); }

    void rowsFollowSelectionAndRemoval_data()
    {
        const Selections rows;
        const Symbol check = Symbol::checkmarkCircleFill, circle = Symbol::circle;
        const QStringList all{"Pixel", "Galaxy", "Nokia"};
        const auto none = QMessageBox::InvalidRole, confirm = QMessageBox::DestructiveRole;
        rows("no phones: only the add button", 0, -1, -1, none, QStringList(), QList<Symbol>());
        rows("as loaded", 3, -1, -1, none, all, QList{check, circle, circle});
        rows("another phone chosen", 3, 2, -1, none, all, QList{circle, circle, check});
        rows("selected phone chosen again", 3, 0, -1, none, all, QList{check, circle, circle});
        rows("removal dismissed", 3, -1, 0, QMessageBox::RejectRole, all, QList{check, circle, circle});
        rows("other phone removed", 3, -1, 1, confirm, QStringList{"Pixel", "Nokia"}, QList{check, circle});
        rows("selected phone removed", 3, 2, 2, confirm, QStringList{"Pixel", "Galaxy"}, QList{check, circle});
    }

    void rowsFollowSelectionAndRemoval()
    {
        const auto [phones, clicked, removed, answer, names, symbols] = Selections::fetch();
        StoreFixture fixture;
        // Last seen by a clock ahead of this one, two months ago and two years ago.
        const QList<TrustedDeviceRecord> trusted{phone("Pixel", 1, -600), phone("Galaxy", 2, 65 * 86400),
                                                 phone("Nokia", 3, 800 * 86400)};
        const QHash<QString, QString> lastSeen{{"Pixel", "刚刚"}, {"Galaxy", "2 个月前"}, {"Nokia", "2 年前"}};
        TransferStore &store = storeWithPhones(fixture, trusted.first(phones));
        int added = 0;
        TrustedDeviceManagerSheet sheet(&store, [&] { ++added; });
        sheet.show();
        const QList<TrustedDeviceManagementRow *> &rows = sheet.manager()->rows();
        if (clicked >= 0)
            rows.at(clicked)->findChild<QToolButton *>(QStringLiteral("selectButton"))->click();
        if (removed >= 0) {
            const QString name = rows.at(removed)->device().name;
            ViewMessageBox::setNextAnswer(answer);
            rows.at(removed)->findChild<QToolButton *>(QStringLiteral("removeButton"))->click();
            QCOMPARE(ViewMessageBox::shown().size(), 1);
            const ViewMessageBox::Shown question = ViewMessageBox::shown().first();
            QCOMPARE(
                QStringList({question.text, question.informativeText}) + question.buttons,
                (QStringList{"移除 " + name + "？", "这台手机之后需要重新确认配对才能连接。", "移除设备", "取消"}));
        }

        const TrustedDeviceRegistry stored = registryStore(fixture).load();
        QStringList storedNames;
        for (const TrustedDeviceRecord &device : stored.devices)
            storedNames.append(device.name);
        QCOMPARE(storedNames, names);
        const qsizetype selected = symbols.indexOf(Symbol::checkmarkCircleFill);
        QCOMPARE(stored.selectedDeviceID, selected < 0 ? std::nullopt : std::optional(stored.devices[selected].id));
        QCOMPARE(store.selectedTrustedDeviceID(), stored.selectedDeviceID);
        QTRY_COMPARE(sheet.findChildren<TrustedDeviceManagementRow *>().size(), names.size());
        QCOMPARE(rows.size(), names.size());
        for (qsizetype index = 0; index < rows.size(); ++index) {
            const auto *select = rows[index]->findChild<QToolButton *>(QStringLiteral("selectButton"));
            QVERIFY2(showsSymbol(select->icon().pixmap(select->iconSize()), symbols[index],
                                 index == selected ? ViewColors::blue() : ViewColors::secondary()),
                     qPrintable(names[index]));
            QCOMPARE(transcript(rows[index]),
                     QStringLiteral("[选择 %1] | ⟦%1⟧ | %2 | [移除]").arg(names[index], lastSeen[names[index]]));
        }

        QCOMPARE(sheet.manager()->addDeviceButton()->text(), QStringLiteral("添加另一台手机"));
        sheet.manager()->addDeviceButton()->click();
        QCOMPARE(added, 1);
        sheet.findChild<QPushButton *>(QStringLiteral("doneButton"))->click();
        QVERIFY(!sheet.isVisible());
    }

    void renameHappensOnReturnOnly_data()
    {
        const Renames rows;
        rows("typing alone", "Work phone", false, "Pixel");
        rows("typing and Return", "Work phone", true, "Work phone");
        rows("only spaces", "   ", true, "Pixel");
        rows("100 characters", QString(100, QChar(u'机')), true, QString(80, QChar(u'机')));
    }

    void renameHappensOnReturnOnly()
    {
        const auto [typed, pressReturn, stored] = Renames::fetch();
        StoreFixture fixture;
        TrustedDeviceManagerSheet sheet(&storeWithPhones(fixture, {phone("Pixel", 1)}), {});
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        TrustedDeviceManagementRow *row = sheet.manager()->rows().first();
        auto *field = row->findChild<QLineEdit *>(QStringLiteral("nameField"));
        QCOMPARE(field->placeholderText(), QStringLiteral("设备名称"));
        QCOMPARE(transcript(row), QStringLiteral("[选择 Pixel] | ⟦Pixel⟧ | 1 小时前 | [移除]"));

        field->setFocus();
        field->selectAll();
        field->insert(typed);
        if (pressReturn)
            QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(registryStore(fixture).load().devices.first().name, stored);
        // Return belongs to the name field: the sheet stays open, and the field keeps what was typed.
        QVERIFY(sheet.isVisible());
        QCOMPARE(sheet.manager()->rows().first(), row);
        QCOMPARE(field->text(), typed);
    }

    void tabFollowsTheOrderOnScreen_data()
    {
        QTest::addColumn<bool>("pairedWhileOpen");
        QTest::newRow("as opened") << false;
        QTest::newRow("a phone paired while it is open") << true;
    }

    // Tab goes through the sheet's controls as the eye reads them: down the rows, along a row from its leading edge,
    // then to the add button below them; also through a row that came after the sheet opened.
    void tabFollowsTheOrderOnScreen()
    {
        QFETCH(bool, pairedWhileOpen);
        StoreFixture fixture;
        TransferStore &store = storeWithPhones(fixture, {phone("Pixel", 1), phone("Galaxy", 2)});
        TrustedDeviceManagerSheet sheet(&store, [] {});
        sheet.show();
        QApplication::setActiveWindow(&sheet);
        QVERIFY(QTest::qWaitForWindowActive(&sheet));
        const QList<TrustedDeviceManagementRow *> &rows = sheet.manager()->rows();
        if (pairedWhileOpen) {
            fixture.pair("Nokia", "peer-3", "fedcba9876543210fedcba9876543210-secret");
            QCOMPARE(rows.size(), 3);
        }
        // The rows are laid out one below the other, the add button below them.
        QTRY_VERIFY(rows.last()->y() > rows[rows.size() - 2]->geometry().bottom() &&
                    sheet.manager()->addDeviceButton()->y() > rows.last()->geometry().bottom());

        const QList<QWidget *> read = tabStopsAsRead(sheet.manager());
        QCOMPARE(read.size(), rows.size() * 3 + 1);
        QCOMPARE(read.last(), sheet.manager()->addDeviceButton());
        QCOMPARE(accessibleNames(tabbedFrom(read.first(), read.size())), accessibleNames(read));
    }

    // The exact time behind "1 小时前" reads as every time of the interface does, whatever the desktop's language.
    void lastSeenTooltipFollowsTheInterfacesDates()
    {
        const QLocale previous;
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        StoreFixture fixture;
        const TrustedDeviceRecord pixel = phone("Pixel", 1);
        TrustedDeviceManagerSheet sheet(&storeWithPhones(fixture, {pixel}), {});
        const QString tooltip =
            sheet.manager()->rows().first()->findChild<QLabel *>(QStringLiteral("lastSeenLabel"))->toolTip();
        QLocale::setDefault(previous);
        QCOMPARE(tooltip, pixel.lastSeenAt.toLocalTime().toString(QStringLiteral("yyyy年M月d日 HH:mm")));
    }
};

QTEST_MAIN(TrustedDeviceManagerTest)
#include "test_trusted_device_manager.moc"
