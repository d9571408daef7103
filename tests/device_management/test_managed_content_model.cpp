#include "DeviceManagementStore.h"
#include "ManagedContentModel.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
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

// The coding path of a corrupted-data failure, "other failure" for any other failure, empty when the answer decodes.
template <typename Answer> QString corruptedPath(const QString &text)
{
    try {
        decodeManagedAnswer<Answer>(text);
        return {};
    } catch (const ManagedDecodingError &error) {
        return error.errorCase() == ManagedDecodingError::Case::corruptedData ? error.codingPath() : u"other failure"_s;
    }
}

} // namespace

using Decodes = TestTable<QString, QString>;
using Payloads = TestTable<QJsonObject, QString>;
using Names = TestTable<QString, bool>;
using ApplicationTexts = TestTable<QString, QString, bool>;

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

    void namesLongerThanAFileSystemAllowsAreCorrupted_data()
    {
        // The name, and whether it decodes.
        const Names rows;
        rows("255 bytes", u"x"_s.repeated(255), true);
        rows("85 characters of 3 bytes", QString(85, QChar(0x4E2D)), true);
        rows("256 bytes", u"x"_s.repeated(256), false);
        rows("86 characters of 3 bytes", QString(86, QChar(0x4E2D)), false);
        rows("63 characters of 4 bytes and 3 of 1", u"\U0001F600"_s.repeated(63) + u"xxx"_s, true);
        rows("64 characters of 4 bytes", u"\U0001F600"_s.repeated(64), false);
        rows("3.9 MB", u"x"_s.repeated(3'900'000), false);
    }

    // A name no file system allows is corrupted data, named by its path, in every list of the phone's items.
    void namesLongerThanAFileSystemAllowsAreCorrupted()
    {
        const auto [name, decodes] = Names::fetch();
        const QString value = u'"' + name + u'"';
        const QString media =
            uR"({"version":1,"items":[{"id":"m","name":%1,"kind":"photo","size":1,)"
            uR"("modifiedAtMillis":2,"mimeType":"image/jpeg","width":3,"height":4,"relativePath":"a"}]})"_s;
        const QString trash = uR"({"version":1,"entries":[{"id":"t","originalName":%1,"originalParentId":"p",)"
                              uR"("originalLocation":"/p","rootId":"r","directory":false,"deletedAtMillis":5}]})"_s;
        const QString files = pageJson(QString(entryJson).replace(u"\"a.txt\""_s, value));
        QCOMPARE(corruptedPath<ManagedFilePage>(files), decodes ? QString() : u"entries[0].name"_s);
        QCOMPARE(corruptedPath<ManagedTrashPage>(trash.arg(value)), decodes ? QString() : u"entries[0].originalName"_s);
        QCOMPARE(corruptedPath<ManagedMediaPage>(media.arg(value)), decodes ? QString() : u"items[0].name"_s);
    }

    void applicationTextsAreBounded_data()
    {
        // The field, its text, and whether it decodes.
        const ApplicationTexts rows;
        rows("package name of 255 bytes", u"packageName"_s, u"a"_s.repeated(255), true);
        rows("package name of 256 bytes", u"packageName"_s, u"a"_s.repeated(256), false);
        rows("name of 4096 bytes", u"name"_s, QString(1365, QChar(0x5E94)) + u"x"_s, true);
        rows("name of 4097 bytes", u"name"_s, QString(1365, QChar(0x5E94)) + u"xx"_s, false);
        rows("name of 3.9 MB", u"name"_s, u"x"_s.repeated(3'900'000), false);
        rows("version name of 4097 bytes", u"versionName"_s, u"1"_s.repeated(4097), false);
    }

    // The applications listing keeps each text within a bound, as Android does for package names; a longer one is
    // corrupted data named by its path.
    void applicationTextsAreBounded()
    {
        const auto [key, text, decodes] = ApplicationTexts::fetch();
        QJsonObject application =
            encodeManaged(ManagedApplication{u"com.example.app"_s, u"示例"_s, u"1.0"_s, 1, 2, 3, false, true, true});
        application.insert(key, text);
        const QJsonObject page{{u"version"_s, 1}, {u"applications"_s, QJsonArray{application}}};
        const QString answer = QString::fromUtf8(QJsonDocument(page).toJson(QJsonDocument::Compact));
        QCOMPARE(corruptedPath<ManagedApplicationPage>(answer), decodes ? QString() : u"applications[0]."_s + key);
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
