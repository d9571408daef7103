#include "DeviceManagementStore.h"
#include "ManagedContentModel.h"
#include "TestSupport.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString entryJson =
    uR"({"id":"a","name":"a.txt","directory":false,"size":5,"modifiedAtMillis":7,"hidden":false,"writable":true})"_s;

QString pageJson(const QString &entries, const QString &extra = {})
{
    return uR"({"version":1,"parentId":"root","parentName":"内部存储","entries":[)"_s + entries + u"]"_s + extra +
           u"}"_s;
}

// The coding path a decoding failure names, "<top>" for the answer as a whole, once its description names it too;
// empty when the answer decodes.
template <typename Answer> QString failurePath(const QString &text)
{
    try {
        decodeManagedAnswer<Answer>(text);
        return {};
    } catch (const ManagedDecodingError &error) {
        const QString path = error.codingPath();
        return path.isEmpty() ? u"<top>"_s : error.errorDescription().contains(path) ? path : u"undescribed "_s + path;
    }
}

} // namespace

using Decodes = TestTable<QString, QString>;
using Payloads = TestTable<QJsonObject, QString>;

class ManagedContentModelTest : public QObject
{
    Q_OBJECT

private slots:
    void decodesAFilePage_data()
    {
        // The answer text, and the coding path of the failure (empty: it decodes).
        const Decodes rows;
        rows("optionals absent", pageJson(entryJson), QString());
        rows("optionals null", pageJson(entryJson, uR"(,"parentParentId":null,"nextPageToken":null)"_s), QString());
        rows("undeclared keys", pageJson(entryJson, uR"(,"surprise":[1,2],"colour":"red")"_s), QString());
        rows("integral number written as a fraction", pageJson(entryJson, uR"(,"nextPageToken":100.0)"_s), QString());
        rows("folder without size", pageJson(QString(entryJson).replace(uR"("size":5,)"_s, QString())), QString());
        rows("entry without modification time",
             pageJson(entryJson + u","_s + QString(entryJson).replace(uR"("modifiedAtMillis":7,)"_s, QString())),
             u"entries[1].modifiedAtMillis"_s);
        rows("token as a string", pageJson(entryJson, uR"(,"nextPageToken":"100")"_s), u"nextPageToken"_s);
        rows("token with a fraction", pageJson(entryJson, uR"(,"nextPageToken":1.5)"_s), u"nextPageToken"_s);
        rows("integer beyond 64 bits", pageJson(entryJson, uR"(,"nextPageToken":9223372036854775808)"_s),
             u"nextPageToken"_s);
        rows("flag as a number", pageJson(QString(entryJson).replace(u"\"hidden\":false"_s, u"\"hidden\":0"_s)),
             u"entries[0].hidden"_s);
        rows("entries not an array", uR"({"version":1,"parentId":"r","parentName":"n","entries":{}})"_s, u"entries"_s);
        rows("an array at the top", u"[]"_s, QString(u"<top>"_s));
        rows("not JSON", u"{\"version\":"_s, QString(u"<top>"_s));
    }

    // Required keys, optional keys, strict types and unknown keys, as one page answer exercises them.
    void decodesAFilePage()
    {
        const auto [text, path] = Decodes::fetch();
        QCOMPARE(failurePath<ManagedFilePage>(text), path);
    }

    void mediaKindOtherThanPhotoOrVideoFailsThePage()
    {
        const QString item = uR"({"id":"m","name":"a.heic","kind":"%1","size":1,"modifiedAtMillis":2,)"
                             uR"("mimeType":"image/heic","width":3,"height":4,"relativePath":"DCIM/a.heic"})"_s;
        const QString page = uR"({"version":1,"items":[%1,%2]})"_s.arg(item.arg(u"video"_s), item.arg(u"Photo"_s));
        QCOMPARE(failurePath<ManagedMediaPage>(page), u"items[1].kind"_s);
    }

    void encodesPayloadsExactly_data()
    {
        const Payloads rows;
        rows("keys sorted", QJsonObject{{u"name"_s, u"新建"_s}, {u"id"_s, u"x"_s}, {u"conflictPolicy"_s, u"error"_s}},
             uR"({"conflictPolicy":"error","id":"x","name":"新建"})"_s);
        rows("slash escaped", QJsonObject{{u"id"_s, u"a/b"_s}}, u"{\"id\":\"a\\/b\"}"_s);
        rows("quote and control characters", QJsonObject{{u"q"_s, u"\"\n"_s}}, u"{\"q\":\"\\\"\\n\"}"_s);
    }

    void encodesPayloadsExactly()
    {
        const auto [payload, text] = Payloads::fetch();
        QCOMPARE(DeviceManagementStore::encodePayload(payload), text);
    }
};

QTEST_GUILESS_MAIN(ManagedContentModelTest)
#include "test_managed_content_model.moc"
