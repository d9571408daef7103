#include "JustifiedGalleryRows.h"
#include "TestSupport.h"

#include <limits>

namespace {

constexpr qreal notANumber = std::numeric_limits<qreal>::quiet_NaN();
constexpr qreal infinity = std::numeric_limits<qreal>::infinity();

// "0,1,2@147.81=221.71/221.71/110.86 fill" for each row, rows joined by " | ".
QString described(const QList<MediaGalleryRow> &rows)
{
    QStringList texts;
    for (const MediaGalleryRow &row : rows) {
        QStringList indices, widths;
        for (const MediaGalleryRow::Item &item : row.items) {
            indices.append(QString::number(item.index));
            widths.append(QString::number(item.width, 'f', 2));
        }
        texts.append(indices.join(u',') + u'@' + QString::number(row.height, 'f', 2) + u'=' + widths.join(u'/') +
                     (row.fillsWidth ? " fill" : ""));
    }
    return texts.join(" | ");
}

} // namespace

// ratios, maximum per row, width, target height, spacing, expected rows
using LayoutRows = TestTable<QList<qreal>, int, qreal, qreal, qreal, QString>;

class JustifiedGalleryRowsTest : public QObject
{
    Q_OBJECT

private slots:
    void rows_data()
    {
        const LayoutRows rows;
        rows("worked example", {1.5, 1.5, 1.5, 0.75, 1.0, 1.333, 0.5625, 1.5, 2.0}, 8, 800, 160, 8,
             "0,1,2,3@147.81=221.71/221.71/221.71/110.86 fill"
             " | 4,5,6,7@176.54=176.54/235.33/99.31/264.82 fill"
             " | 8@160.00=320.00");
        rows("single wide item", {2.0}, 8, 800, 160, 8, "0@160.00=320.00");
        rows("eight narrow items do not reach the width", QList<qreal>(10, 0.5), 8, 1400, 160, 8,
             "0,1,2,3,4,5,6,7@160.00=80.00/80.00/80.00/80.00/80.00/80.00/80.00/80.00 | 8,9@160.00=80.00/80.00");
        rows("unusable and extreme ratios", {notANumber, 0, -1, infinity, 10, 0.1}, 8, 800, 160, 8,
             "0,1,2,3@194.00=194.00/194.00/194.00/194.00 fill | 4,5@160.00=512.00/72.00");
        rows("tie keeps the longer row", QList<qreal>(5, 1.0), 8, 416, 160, 8,
             "0,1,2@133.33=133.33/133.33/133.33 fill | 3,4@160.00=160.00/160.00");
        rows("last cell at least 1", {1, 1}, 8, 10, 5, 20, "0,1@0.50=0.50/1.00 fill");
        rows("no items", {}, 8, 800, 160, 8, "");
        rows("zero width", {1.0}, 8, 0, 160, 8, "");
        rows("zero height", {1.0}, 8, 800, 0, 8, "");
        rows("negative spacing", {1.0}, 8, 800, 160, -1, "");
        rows("no items per row", {1.0}, 0, 800, 160, 8, "");
        rows("width not a number", {1.0}, 8, notANumber, 160, 8, "");
    }

    void rows()
    {
        const auto [ratios, maximum, width, height, spacing, expected] = LayoutRows::fetch();
        QCOMPARE(described(MediaGalleryRow::makeRows(ratios, maximum, width, height, spacing)), expected);
    }
};

QTEST_GUILESS_MAIN(JustifiedGalleryRowsTest)
#include "test_justified_gallery_rows.moc"
