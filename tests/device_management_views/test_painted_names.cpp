#include "ApplicationListModel.h"
#include "ApplicationTile.h"
#include "ElidedLabel.h"
#include "ManagedFileBrowser.h"
#include "ManagedMediaTile.h"
#include "ManagedTrashList.h"
#include "ManagementStoreFixture.h"
#include "ViewFonts.h"

#include <QApplication>
#include <QListView>
#include <QPainter>
#include <QTest>
#include <QTextLayout>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// A name whose Chinese characters come from the fallback font, which reaches further below the baseline than the
// desktop's own font, with an underscore between them.
const QString underscoredName = u"周报_第01周.txt"_s;

// The first and last rows of pixels where two drawings of the same size differ; -1 when they do not.
std::pair<int, int> differingRows(const QImage &first, const QImage &second)
{
    int top = -1;
    int bottom = -1;
    const QImage a = first.convertToFormat(QImage::Format_ARGB32);
    const QImage b = second.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < std::min(a.height(), b.height()); ++y) {
        for (int x = 0; x < std::min(a.width(), b.width()); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                top = top < 0 ? y : top;
                bottom = y;
                break;
            }
        }
    }
    return {top, bottom};
}

// How many rows of pixels `name` covers, underscore included, when `font` draws it with nothing cut away.
int inkHeight(const QString &name, const QFont &font)
{
    QTextLayout layout(name, font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1000);
    layout.endLayout();
    QImage blank(1000, qCeil(line.height()) + 20, QImage::Format_ARGB32);
    blank.fill(Qt::white);
    QImage drawn = blank;
    QPainter painter(&drawn);
    layout.draw(&painter, QPointF(0, 10));
    painter.end();
    const auto [top, bottom] = differingRows(drawn, blank);
    return top < 0 ? 0 : bottom - top + 1;
}

// A painted view drawn with a name in black and again in another colour (the palette's text colour, which nothing
// else of the view uses, or the name left out where the view draws it in a colour of its own): the rows where the
// two drawings differ are the name's.
using Drawing = std::function<QImage(const QString &name, const QColor &text)>;

QPalette withText(const QColor &text)
{
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::WindowText, text);
    return palette;
}

QImage grabbed(QWidget &widget, const QColor &text)
{
    widget.setPalette(withText(text));
    widget.show();
    return QTest::qWaitForWindowExposed(&widget) ? widget.grab().toImage() : QImage();
}

QImage fileBrowserDrawing(const QString &name, const QColor &text, bool grid)
{
    ManagementStoreFixture fixture;
    ManagedFileBrowser browser(fixture.store.get());
    browser.setGridPresentation(grid);
    browser.resize(640, 300);
    browser.setEntries({fileEntry(u"f"_s, name)});
    return grabbed(browser, text);
}

QImage labelDrawing(const QString &name, const QColor &text)
{
    ElidedLabel label(Qt::ElideMiddle);
    label.setFont(ViewFonts::body(QFont::Medium));
    label.setText(name);
    label.resize(label.sizeHint());
    return grabbed(label, text);
}

QImage trashDrawing(const QString &name, const QColor &text)
{
    ManagementStoreFixture fixture;
    fixture.store->setTrashEntries(
        {{u"t"_s, name, u"parent"_s, u"/Download"_s, u"root"_s, false, 3, 1'700'000'000'000}});
    ManagedTrashList list(fixture.store.get());
    list.resize(640, 200);
    return grabbed(list, text);
}

QImage applicationTileDrawing(const QString &name, const QColor &text)
{
    // The date takes the name's colour: the name is left out instead.
    ApplicationListModel model;
    model.setApplications({{u"com.example.weekly"_s, text == Qt::black ? name : QString(), u"1.0"_s, 1, 0,
                            1'700'000'000'000, false, true, true}});
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, 420, ApplicationTile::height + 12);
    QImage image(option.rect.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    ApplicationTile().paint(&painter, option, model.index(0));
    return image;
}

QImage mediaTileDrawing(const QString &name, const QColor &text, MediaGalleryLayoutStyle style)
{
    ManagedMediaTile tile;
    // The caption over a hovered tile is white whatever the palette, and the placeholder symbol takes the text
    // colour: here the name is left out instead.
    tile.item.id = u"m"_s;
    tile.item.name = text == Qt::black ? name : QString();
    tile.item.modifiedAtMillis = 1'700'000'000'000;
    tile.item.width = 400;
    tile.item.height = 300;
    tile.style = style;
    tile.isHovering = true;
    const QSizeF size(220, style == MediaGalleryLayoutStyle::original ? 165 : ManagedMediaTile::compactHeight(220));
    QImage image(size.toSize(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    tile.paint(painter, QRectF(QPointF(0, 0), size), QApplication::palette());
    return image;
}

} // namespace

class PaintedNamesTest : public QObject
{
    Q_OBJECT

private slots:
    void underscoreIsDrawnWhole_data()
    {
        using Style = MediaGalleryLayoutStyle;
        using Font = std::function<QFont()>; // asked once the desktop's font is set
        const QList<std::tuple<const char *, Drawing, Font>> views{
            {"file list row",
             [](const QString &name, const QColor &text) { return fileBrowserDrawing(name, text, false); },
             [] {
                 return ViewFonts::body(QFont::Medium);
             }},
            {"file grid tile",
             [](const QString &name, const QColor &text) { return fileBrowserDrawing(name, text, true); },
             [] {
                 return ViewFonts::callout(QFont::Medium);
             }},
            {"task row's or recent tile's name", labelDrawing,
             [] {
                 return ViewFonts::body(QFont::Medium);
             }},
            {"trash row", trashDrawing,
             [] {
                 return ViewFonts::body();
             }},
            {"application tile", applicationTileDrawing,
             [] {
                 return ViewFonts::body(QFont::Medium);
             }},
            {"gallery hover caption",
             [](const QString &name, const QColor &text) { return mediaTileDrawing(name, text, Style::original); },
             [] {
                 return ViewFonts::caption(QFont::DemiBold);
             }},
            {"compact gallery caption",
             [](const QString &name, const QColor &text) { return mediaTileDrawing(name, text, Style::compact); },
             [] {
                 return ViewFonts::callout(QFont::Medium);
             }},
        };
        QTest::addColumn<int>("points");
        QTest::addColumn<Drawing>("draw");
        QTest::addColumn<Font>("font");
        // Desktops set their font at sizes like these; each cut the underscore somewhere.
        for (const int points : {9, 11}) {
            for (const auto &[view, draw, font] : views) {
                QTest::addRow("%s, %d pt", view, points) << points << draw << font;
            }
        }
    }

    // "周报_第01周.txt" keeps its underscore wherever a name is painted: the name covers as many rows of pixels as
    // it does when drawn with nothing cut away, its underscore being its lowest part.
    void underscoreIsDrawnWhole()
    {
        QFETCH(int, points);
        QFETCH(Drawing, draw);
        QFETCH(std::function<QFont()>, font);
        const QFont desktopFont = QApplication::font();
        QFont sized = desktopFont;
        sized.setPointSize(points);
        QApplication::setFont(sized);
        const QImage black = draw(underscoredName, Qt::black);
        const QImage red = draw(underscoredName, Qt::red);
        const int expected = inkHeight(underscoredName, font());
        QApplication::setFont(desktopFont);
        QVERIFY(!black.isNull() && black.size() == red.size());
        const auto [top, bottom] = differingRows(black, red);
        QVERIFY2(top >= 0, "the name is not drawn");
        QCOMPARE(bottom - top + 1, expected);
    }
};

QTEST_MAIN(PaintedNamesTest)
#include "test_painted_names.moc"
