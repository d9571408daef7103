#include "ApplicationActions.h"
#include "FileActions.h"
#include "MediaActions.h"
#include "StorageTree.h"

#include <QDateTime>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

// The action, its payload, the answer's list, the key that names an item, and the change made after the first page.
using Listings = TestTable<QString, QJsonObject, QString, QString, std::function<bool()>>;

namespace {

ManagedApplication application(const QString &packageName, const QString &name)
{
    return {packageName, name, u"1.0"_s, 1, 1'700'000'000'000, 1'700'000'000'000, false, true, true};
}

} // namespace

// The pages of a listing come from what its first page found, however the storage changes between pages.
class ListingPagesTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_root.emplace();
        m_storage = m_root->filePath(u"storage"_s);
        QVERIFY(makeEntries(m_storage, {u"Walked/b.txt"_s, u"Walked/c.txt"_s, u"Walked/d.txt"_s, u"w.txt"_s, u"x.txt"_s,
                                        u"y.txt"_s, u"z.txt"_s}));
        for (int hours = 1; hours <= 3; ++hours)
            QVERIFY(writePhoto(u"Pictures/%1.jpg"_s.arg(hours), QDateTime::currentDateTime().addSecs(-3600 * hours)));
        QVERIFY(ApplicationInventory(m_storage).save(
            {application(u"org.b.b"_s, u"B"_s), application(u"org.c.c"_s, u"C"_s), application(u"org.d.d"_s, u"D"_s)},
            nullptr));

        m_handlers = ManagementHandlers();
        m_files.emplace(m_storage);
        m_media.emplace(m_storage);
        m_applications.emplace(m_storage);
        m_files->addTo(m_handlers);
        m_media->addTo(m_handlers);
        m_applications->addTo(m_handlers);
        for (const QString &name : {u"x.txt"_s, u"y.txt"_s, u"z.txt"_s})
            QVERIFY(ask(u"files.delete"_s, {{u"id"_s, StorageIds::idForRelativePath(name)}}).success);
    }

    void eachItemListedOnce_data()
    {
        const Listings rows;
        const QJsonObject walked{{u"id"_s, StorageIds::idForRelativePath(u"Walked"_s)}};
        const QJsonObject folder{{u"parentId"_s, StorageIds::idForRelativePath(u"Walked"_s)}};
        const auto add = [this](const QString &name) {
            return [this, name] {
                return writeFile(path(name), {});
            };
        };
        const auto remove = [this](const QString &name) {
            return [this, name] {
                return QFile::remove(path(name));
            };
        };
        const auto deleteFile = [this] {
            return ask(u"files.delete"_s, {{u"id"_s, StorageIds::idForRelativePath(u"w.txt"_s)}}).success;
        };
        const auto restoreNewest = [this] {
            const QString id = PhoneTrash(m_storage).entries().value(0).id;
            return ask(u"files.trash.restore"_s, {{u"id"_s, id}, {u"conflictPolicy"_s, u"error"_s}}).success;
        };
        const auto addPhoto = [this] {
            return writePhoto(u"Pictures/new.jpg"_s, QDateTime::currentDateTime());
        };
        const auto install = [this] {
            const ApplicationInventory inventory(m_storage);
            QList<ManagedApplication> applications = inventory.load(nullptr).value_or(QList<ManagedApplication>());
            applications.append(application(u"org.a.a"_s, u"A"_s));
            return inventory.save(applications, nullptr);
        };
        const auto uninstall = [this] {
            return ask(u"apps.uninstall"_s, {{u"packageName"_s, u"org.b.b"_s}}).success;
        };

        rows("folder, item added", u"files.list"_s, folder, u"entries"_s, u"name"_s, add(u"Walked/a.txt"_s));
        rows("folder, item removed", u"files.list"_s, folder, u"entries"_s, u"name"_s, remove(u"Walked/b.txt"_s));
        rows("tree, item added", u"files.tree"_s, walked, u"entries"_s, u"relativePath"_s, add(u"Walked/a.txt"_s));
        rows("tree, item removed", u"files.tree"_s, walked, u"entries"_s, u"relativePath"_s, remove(u"Walked/b.txt"_s));
        rows("trash, item deleted", u"files.trash.list"_s, {}, u"entries"_s, u"id"_s, deleteFile);
        rows("trash, item restored", u"files.trash.list"_s, {}, u"entries"_s, u"id"_s, restoreNewest);
        rows("photos, photo added", u"media.list"_s, {{u"kind"_s, u"photo"_s}}, u"items"_s, u"id"_s, addPhoto);
        rows("photos, photo removed", u"media.list"_s, {{u"kind"_s, u"photo"_s}}, u"items"_s, u"id"_s,
             remove(u"Pictures/1.jpg"_s));
        rows("applications, one installed", u"apps.list"_s, {}, u"applications"_s, u"packageName"_s, install);
        rows("applications, one uninstalled", u"apps.list"_s, {}, u"applications"_s, u"packageName"_s, uninstall);
    }

    // An item added before the first listed ones is not listed twice, and a listed one removed does not make the
    // next one missed; a folder download would otherwise queue a file twice or never.
    void eachItemListedOnce()
    {
        const auto [action, payload, list, key, change] = Listings::fetch();
        const QStringList whole = keys(page(action, payload, 0, 500), list, key);
        QCOMPARE(whole.size(), 3);

        QStringList paged = keys(page(action, payload, 0, 1), list, key);
        QVERIFY(change());
        for (qint64 token = 1; token > 0;) {
            const QJsonObject answer = page(action, payload, token, 1);
            paged += keys(answer, list, key);
            token = answer[u"nextPageToken"_s].toInteger(-1);
        }
        QCOMPARE(paged, whole);

        // A new listing finds the change.
        QVERIFY(keys(page(action, payload, 0, 500), list, key) != whole);
    }

private:
    QString path(const QString &relativePath) const { return m_storage + u'/' + relativePath; }

    bool writePhoto(const QString &relativePath, const QDateTime &modified) const
    {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QFile file(path(relativePath));
        return QDir().mkpath(QFileInfo(file).path()) && image.save(file.fileName(), "JPEG") &&
               file.open(QIODevice::ReadWrite) && file.setFileTime(modified, QFileDevice::FileModificationTime);
    }

    ManagementAnswer ask(const QString &action, const QJsonObject &payload) const
    {
        return m_handlers.answer(action, QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact)));
    }

    QJsonObject page(const QString &action, QJsonObject payload, qint64 token, int size) const
    {
        payload.insert(u"pageToken"_s, token);
        payload.insert(u"pageSize"_s, size);
        const ManagementAnswer answer = ask(action, payload);
        return answer.success ? QJsonDocument::fromJson(answer.payload.toUtf8()).object()
                              : QJsonObject{{u"failed"_s, answer.message}};
    }

    static QStringList keys(const QJsonObject &page, const QString &list, const QString &key)
    {
        QStringList keys;
        for (const QJsonValue &item : page[list].toArray())
            keys << item[key].toString();
        if (page.contains(u"failed"_s))
            keys << page[u"failed"_s].toString();
        return keys;
    }

    std::optional<QTemporaryDir> m_root;
    QString m_storage;
    ManagementHandlers m_handlers;
    std::optional<FileActions> m_files;
    std::optional<MediaActions> m_media;
    std::optional<ApplicationActions> m_applications;
};

QTEST_GUILESS_MAIN(ListingPagesTest)
#include "test_listing_pages.moc"
