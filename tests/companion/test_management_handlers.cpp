#include "ManagementHandlers.h"

#include <QJsonObject>
#include <QTest>

#include <stdexcept>

using namespace Qt::StringLiterals;

class ManagementHandlersTest : public QObject
{
    Q_OBJECT

private slots:
    void unknownActionIsUnsupported_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("payload");

        QTest::newRow("unknown action") << u"files.list"_s << u"{}"_s;
        QTest::newRow("unknown action with a bad payload") << u"apps.uninstall"_s << u"[1"_s;
        QTest::newRow("case differs from a known action") << u"Device.Snapshot"_s << u"{}"_s;
    }

    void unknownActionIsUnsupported()
    {
        QFETCH(QString, action);
        QFETCH(QString, payload);
        ManagementHandlers handlers;
        handlers.add(u"device.snapshot"_s, [](const QJsonObject &) { return ManagementAnswer::succeeded({}); });

        const ManagementAnswer answer = handlers.answer(action, payload);
        QVERIFY(!answer.success);
        QCOMPARE(answer.message, u"Unsupported action: "_s + action);
    }

    void payloadThatIsNotAnObjectIsRejected_data()
    {
        QTest::addColumn<QString>("payload");

        QTest::newRow("empty text") << QString();
        QTest::newRow("broken JSON") << u"{\"parentId\":"_s;
        QTest::newRow("array") << u"[]"_s;
        QTest::newRow("text") << u"\"root\""_s;
        QTest::newRow("number") << u"42"_s;
        QTest::newRow("null") << u"null"_s;
        QTest::newRow("object followed by garbage") << u"{} x"_s;
    }

    void payloadThatIsNotAnObjectIsRejected()
    {
        QFETCH(QString, payload);
        ManagementHandlers handlers;
        bool called = false;
        handlers.add(u"files.list"_s, [&called](const QJsonObject &) {
            called = true;
            return ManagementAnswer::succeeded({});
        });

        const ManagementAnswer answer = handlers.answer(u"files.list"_s, payload);
        QVERIFY(!called);
        QVERIFY(!answer.success);
        QVERIFY2(answer.message.contains(u"files.list"_s), qPrintable(answer.message));
    }

    void objectPayloadReachesItsHandler()
    {
        ManagementHandlers handlers;
        handlers.add(u"files.list"_s, [](const QJsonObject &payload) {
            return ManagementAnswer::succeeded({{u"parent"_s, payload.value(u"parentId"_s)}});
        });

        const ManagementAnswer answer = handlers.answer(u"files.list"_s, uR"({"parentId":"root"})"_s);
        QCOMPARE(answer, (ManagementAnswer{true, uR"({"parent":"root"})"_s, {}}));
    }

    void throwingHandlerGivesAFailedAnswer()
    {
        ManagementHandlers handlers;
        handlers.add(u"files.delete"_s,
                     [](const QJsonObject &) -> ManagementAnswer { throw std::runtime_error("disk gone"); });

        const ManagementAnswer answer = handlers.answer(u"files.delete"_s, u"{}"_s);
        QVERIFY(!answer.success);
        QVERIFY2(answer.message.contains(u"disk gone"_s), qPrintable(answer.message));
    }
};

QTEST_GUILESS_MAIN(ManagementHandlersTest)
#include "test_management_handlers.moc"
