#pragma once

#include "TestSupport.h"

#include <QAbstractItemView>
#include <QLabel>
#include <QTextDocument>
#include <QVBoxLayout>

#include <functional>

// Whether views show a text from a phone, adb, a file name or a peer as it stands: Qt draws a label's or a tool
// tip's text that looks like HTML as rich text unless told otherwise.
namespace LiteralTextChecks {

// Drawn as rich text it would read as a large green "安装完成 — 已验证安全". It holds no slash, so a file or a
// folder can be named so.
inline const QString hostile = QStringLiteral(R"(<h1 style="color:green">安装完成 — 已验证安全)");

// What a person reads where Qt shows `text` in `format`.
inline QString drawn(const QString &text, Qt::TextFormat format)
{
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

// Empty when some label or item view row of `root` (or of a window it owns) shows `source` as it stands and no label,
// tool tip or item-view tool tip draws it as rich text; else what went wrong.
inline QString faults(const QWidget *root, const QString &source = hostile)
{
    const QString words = drawn(source, Qt::RichText);
    QStringList found;
    bool shown = false;
    const auto read = [&](const QString &where, const QString &text, Qt::TextFormat format) {
        const QString seen = drawn(text, format);
        if (seen.contains(words) && !seen.contains(source))
            found.append(where + QStringLiteral(" reads “") + seen + QStringLiteral("”"));
        return seen.contains(source);
    };
    QList<const QWidget *> widgets{root};
    for (const QWidget *child : root->findChildren<QWidget *>())
        widgets.append(child);
    for (const QWidget *widget : widgets) {
        const QString name =
            QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char('#') + widget->objectName();
        if (const auto *label = qobject_cast<const QLabel *>(widget))
            shown = read(name, label->text(), label->textFormat()) || shown;
        read(name + QStringLiteral(" tool tip"), widget->toolTip(), Qt::AutoText);
        if (const auto *view = qobject_cast<const QAbstractItemView *>(widget); view && view->model()) {
            for (int row = 0; row < view->model()->rowCount(); ++row) {
                const QModelIndex item = view->model()->index(row, 0);
                // An item view draws its rows' texts as they stand.
                shown = item.data(Qt::DisplayRole).toString().contains(source) || shown;
                read(name + QStringLiteral(" row tool tip"), item.data(Qt::ToolTipRole).toString(), Qt::AutoText);
            }
        }
    }
    if (!shown)
        found.prepend(QStringLiteral("no label shows it"));
    return found.join(QStringLiteral("; "));
}

// A row of a test table: puts into `host` a view that shows `text` where a phone, adb, a peer or a file name puts
// it, over the stores (or other things) of `Surroundings`.
template <typename Surroundings>
using Build = std::function<void(QWidget &host, Surroundings &around, const QString &text)>;
template <typename Surroundings> using Rows = TestTable<Build<Surroundings>>;

// The faults of the current row's view, built with `hostile` over fresh surroundings in a shown window.
template <typename Surroundings> QString rowFaults()
{
    const auto [build] = Rows<Surroundings>::fetch();
    Surroundings around;
    QWidget host;
    new QVBoxLayout(&host);
    build(host, around, hostile);
    // Wide enough for a message bar to show the whole text on one line.
    host.resize(1000, 700);
    host.show();
    return QTest::qWaitForWindowExposed(&host) ? faults(&host) : QStringLiteral("the window was not shown");
}

} // namespace LiteralTextChecks
