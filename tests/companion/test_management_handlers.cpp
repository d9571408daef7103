#include "ManagementHandlers.h"
#include "TestSupport.h"

#include <QJsonObject>
#include <QTest>

#include <stdexcept>

using namespace Qt::StringLiterals;

using Answers = TestTable<QString, QString, bool, QString>;

class ManagementHandlersTest : public QObject
{
    Q_OBJECT

private slots:
    void answers_data()
    {
        // The action, its payload, the answer's success, and the answer's payload or what its message contains.
        const Answers rows;
        const QString unsupported = u"Unsupported action: "_s;
        rows("object reaches its handler", u"files.list"_s, uR"({"parentId":"root"})"_s, true,
             uR"({"parent":"root"})"_s);
        rows("unknown action", u"files.rename"_s, u"{}"_s, false, unsupported + u"files.rename"_s);
        rows("unknown action with a bad payload", u"apps.uninstall"_s, u"[1"_s, false,
             unsupported + u"apps.uninstall"_s);
        rows("case differs from a known action", u"Files.List"_s, u"{}"_s, false, unsupported + u"Files.List"_s);
        rows("throwing handler", u"files.delete"_s, u"{}"_s, false, u"disk gone"_s);
        for (const QString &payload :
             {QString(), u"{\"parentId\":"_s, u"[]"_s, u"\"root\""_s, u"42"_s, u"null"_s, u"{} x"_s}) {
            rows(qPrintable(u"payload "_s + payload), u"files.list"_s, payload, false, u"files.list"_s);
        }
    }

    // Unknown actions, payloads that are not JSON objects and throwing handlers all give failed answers.
    void answers()
    {
        const auto [action, payload, success, text] = Answers::fetch();
        ManagementHandlers handlers;
        int calls = 0;
        handlers.add(u"files.list"_s, [&calls](const QJsonObject &payload) {
            ++calls;
            return ManagementAnswer::succeeded({{u"parent"_s, payload.value(u"parentId"_s)}});
        });
        handlers.add(u"files.delete"_s,
                     [](const QJsonObject &) -> ManagementAnswer { throw std::runtime_error("disk gone"); });

        const ManagementAnswer answer = handlers.answer(action, payload);
        QCOMPARE(answer.success, success);
        if (success) {
            QCOMPARE(answer, (ManagementAnswer{true, text, {}}));
        } else {
            QVERIFY2(answer.message.contains(text), qPrintable(answer.message));
            QCOMPARE(calls, 0);
        }
    }
};

QTEST_GUILESS_MAIN(ManagementHandlersTest)
#include "test_management_handlers.moc"
