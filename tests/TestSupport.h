#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <tuple>

// A data table whose rows are tuples of `Columns` kept in one column: a `_data` slot builds one and adds rows
// with `rows("name", values...)`; the test slot takes its row apart with `const auto [a, b] = Rows::fetch()`.
template <typename... Columns> struct TestTable
{
    using Row = std::tuple<Columns...>;

    TestTable() { QTest::addColumn<Row>("row"); }
    void operator()(const char *name, Columns... values) const { QTest::newRow(name) << Row(std::move(values)...); }
    static Row fetch() { return *static_cast<Row *>(QTest::qData("row", qMetaTypeId<Row>())); }
};

// Writes `contents` to `path` in place of what it held, making its folder; false when it cannot.
inline bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size();
}

// The contents of the file at `path`, or "<unreadable>".
inline QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}
