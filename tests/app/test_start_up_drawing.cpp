// What start-up leaves for later or draws once: the task file's writer starts its thread with the first write; the
// core library is loaded by the first core call, once, whichever thread makes it; a screen's washed background is one
// fill that gives the pixels of its two layers; panels and symbol tiles drawn again from what was kept look as they did
// when drawn afresh, and a symbol is drawn once for each look on the window's thread.
#include "CardStyle.h"
#include "FakeTavrineCore.h"
#include "SymbolIcon.h"
#include "SymbolTile.h"
#include "TaskFileWriter.h"
#include "TavrineCoreFunctions.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

namespace {

// The screen background the way the screens drew it before: the window colour, then the washed layer.
class TwoLayerBackground : public QWidget
{
public:
    explicit TwoLayerBackground(qreal opacity) : m_opacity(opacity) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), CardStyle::windowBackground(this));
        painter.fillRect(rect(), CardStyle::withOpacity(CardStyle::controlBackground(this), m_opacity));
    }

private:
    qreal m_opacity;
};

class ScreenBackground : public QWidget
{
public:
    explicit ScreenBackground(qreal opacity) : m_opacity(opacity) {}

protected:
    void paintEvent(QPaintEvent *) override { CardStyle::paintScreenBackground(this, m_opacity); }

private:
    qreal m_opacity;
};

// A tile drawn afresh on every paint, as tiles were before they kept their drawing.
class FreshTile : public QWidget
{
public:
    explicit FreshTile(SymbolTile::Style style) : m_style(std::move(style))
    {
        setFixedSize(m_style.side, m_style.side);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        if (m_style.cornerRadius < 0)
            shape.addEllipse(QRectF(rect()));
        else
            shape.addRoundedRect(QRectF(rect()), m_style.cornerRadius, m_style.cornerRadius);
        painter.fillPath(shape, m_style.fill);
        const QPixmap symbol = SymbolIcon::pixmap(symbolNamed(m_style.symbolName, m_style.fallback),
                                                  m_style.symbolColor, m_style.symbolPixels, devicePixelRatioF());
        const QSizeF size = QSizeF(symbol.size()) / symbol.devicePixelRatio();
        painter.drawPixmap(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), symbol);
    }

private:
    SymbolTile::Style m_style;
};

// A panel the way panels were drawn before they were kept: the rounded shape filled and outlined afresh.
class FreshPanel : public QWidget
{
public:
    FreshPanel(qreal radius, QColor fill, std::optional<QColor> outline)
        : m_radius(radius), m_fill(std::move(fill)), m_outline(std::move(outline))
    {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_radius, m_radius);
        painter.fillPath(shape, m_fill);
        if (m_outline) {
            painter.setPen(QPen(*m_outline, 1));
            painter.drawPath(shape);
        }
    }

private:
    qreal m_radius;
    QColor m_fill;
    std::optional<QColor> m_outline;
};

class Panel : public QWidget
{
public:
    Panel(qreal radius, QColor fill, std::optional<QColor> outline)
        : m_radius(radius), m_fill(std::move(fill)), m_outline(std::move(outline))
    {}

protected:
    void paintEvent(QPaintEvent *) override { CardStyle::paintPanel(this, m_radius, m_fill, m_outline); }

private:
    qreal m_radius;
    QColor m_fill;
    std::optional<QColor> m_outline;
};

// The threads of this process.
int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The widget drawn over an opaque backdrop, as it appears on a screen.
QImage drawn(QWidget &widget, const QColor &backdrop = Qt::white)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(backdrop);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// The largest difference of one colour channel between two images of the same size.
int largestDifference(const QImage &first, const QImage &second)
{
    int largest = 0;
    for (int y = 0; y < first.height(); ++y) {
        for (int x = 0; x < first.width(); ++x) {
            const QRgb a = first.pixel(x, y);
            const QRgb b = second.pixel(x, y);
            for (const int shift : {0, 8, 16, 24})
                largest = std::max(largest, std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)));
        }
    }
    return largest;
}

} // namespace

class TestStartUpDrawing : public QObject
{
    Q_OBJECT

private slots:
    // First, while nothing else of this test has started a thread.
    void taskFileWriterStartsItsThreadWithTheFirstWrite()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("tasks.json"));
        const int before = threadCount();
        {
            TaskFileWriter idle(TransferTaskRepository(path), this, [](const QString &) {});
            QCOMPARE(threadCount(), before);
        }
        QVERIFY(!QFile::exists(path));

        TaskFileWriter writer(TransferTaskRepository(path), this, [](const QString &) {});
        QCOMPARE(threadCount(), before);
        TransferTaskRecord task;
        task.id = QStringLiteral("task-1");
        task.peerName = QStringLiteral("Pixel");
        task.fileName = QStringLiteral("a.txt");
        task.status = TransferTaskRecord::Status::queued;
        task.createdAt = task.updatedAt = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC);
        writer.write({task});
        QCOMPARE(threadCount(), before + 1);
        writer.write({task, task});
        QCOMPARE(threadCount(), before + 1);
        writer.waitUntilWritten();
        QCOMPARE(TransferTaskRepository(path).load().size(), 2);
    }

    void coreLibraryLoadsOnFirstCall()
    {
        std::atomic<int> loads = 0;
        installTavrineCoreLoader([&loads]() -> std::optional<TavrineCoreFunctions> {
            ++loads;
            return FakeTavrineCore::functions();
        });
        QCOMPARE(loads.load(), 0);

        // The first calls may come from two threads at once: one loads, the other gets that table.
        const TavrineCoreFunctions *seenByWorker = nullptr;
        std::thread worker([&seenByWorker] { seenByWorker = &tavrineCoreFunctions(); });
        const TavrineCoreFunctions &functions = tavrineCoreFunctions();
        worker.join();
        QCOMPARE(loads.load(), 1);
        QVERIFY(seenByWorker == &functions);
        QVERIFY(functions.ffi_tavrine_core_uniffi_contract_version ==
                FakeTavrineCore::functions().ffi_tavrine_core_uniffi_contract_version);
        QVERIFY(functions.ffi_tavrine_core_uniffi_contract_version);
        tavrineCoreFunctions();
        QCOMPARE(loads.load(), 1);
    }

    void screenBackgroundIsTheTwoLayers_data()
    {
        // window colour, control colour, opacity of the wash
        TestTable<QColor, QColor, qreal> rows;
        rows("light, first-run wash", QColor(0xef, 0xef, 0xef), Qt::white, 0.24);
        rows("light, approval wash", QColor(0xef, 0xef, 0xef), Qt::white, 0.35);
        rows("dark", QColor(0x2b, 0x2b, 0x2d), QColor(0x1e, 0x1e, 0x1e), 0.24);
        rows("tinted control colour", QColor(0xf4, 0xf1, 0xea), QColor(0x30, 0x80, 0xe0, 0xc0), 0.35);
        rows("translucent window colour", QColor(0xef, 0xef, 0xef, 0x80), Qt::white, 0.24);
    }
    void screenBackgroundIsTheTwoLayers()
    {
        const auto [window, control, opacity] = TestTable<QColor, QColor, qreal>::fetch();
        QPalette palette;
        palette.setColor(QPalette::Window, window);
        palette.setColor(QPalette::Base, control);
        TwoLayerBackground reference(opacity);
        ScreenBackground screen(opacity);
        for (QWidget *widget : {static_cast<QWidget *>(&reference), static_cast<QWidget *>(&screen)}) {
            widget->setPalette(palette);
            widget->resize(130, 70);
        }
        for (const QColor backdrop : {QColor(Qt::white), QColor(0x10, 0x20, 0x30)}) {
            QCOMPARE(drawn(screen, backdrop), drawn(reference, backdrop));
        }
        // Another palette afterwards is not answered with the colour kept for the last one.
        palette.setColor(QPalette::Base, QColor(0x80, 0x20, 0x20));
        reference.setPalette(palette);
        screen.setPalette(palette);
        QCOMPARE(drawn(screen), drawn(reference));
    }

    void panelDrawsAsWhenDrawnAfresh_data()
    {
        // sizes drawn one after the other, radius, fill, outline
        TestTable<QList<QSize>, qreal, QColor, std::optional<QColor>> rows;
        rows("first-run card", {{320, 250}}, 18, QColor(0xef, 0xef, 0xef), QColor(0, 0, 0, 29));
        rows("tinted banner without outline", {{420, 44}}, 14, QColor(255, 59, 48, 15), std::nullopt);
        rows("the same look at other sizes", {{200, 120}, {260, 120}, {200, 160}, {200, 120}}, 13,
             QColor(0, 122, 255, 18), QColor(0, 122, 255, 46));
        rows("capsule", {{90, 24}}, 12, QColor(52, 199, 89, 30), std::nullopt);
        rows("larger than kept, drawn afresh", {{900, 600}}, 18, QColor(0xf6, 0xf6, 0xf6), QColor(0, 0, 0, 60));
    }
    void panelDrawsAsWhenDrawnAfresh()
    {
        const auto [sizes, radius, fill, outline] =
            TestTable<QList<QSize>, qreal, QColor, std::optional<QColor>>::fetch();
        Panel panel(radius, fill, outline);
        FreshPanel fresh(radius, fill, outline);
        for (const QSize &size : sizes) {
            panel.resize(size);
            fresh.resize(size);
            const QImage first = drawn(panel);
            // Drawn again: from what was kept for this size and look.
            QCOMPARE(drawn(panel), first);
            const int difference = largestDifference(first, drawn(fresh));
            // The outline is blended over the fill, and the two over the screen, each rounding a channel by one.
            QVERIFY2(
                difference <= 2,
                qPrintable(QStringLiteral("%1x%2 differs by %3").arg(size.width()).arg(size.height()).arg(difference)));
        }
    }

    void symbolsAreDrawnOncePerLook()
    {
        const QColor blue(0, 122, 255);
        const QPixmap first = SymbolIcon::pixmap(Symbol::checkmarkCircleFill, blue, 20, 2.0);
        const QImage image = first.toImage();
        QCOMPARE(first.size(), QSize(40, 40));
        QCOMPARE(first.devicePixelRatio(), 2.0);
        // Asked again: what was kept.
        QCOMPARE(SymbolIcon::pixmap(Symbol::checkmarkCircleFill, blue, 20, 2.0).cacheKey(), first.cacheKey());

        // Any difference of look is another drawing: colour (its opacity too), size, ratio and symbol.
        const auto differs = [&](const QPixmap &other) {
            return other.cacheKey() != first.cacheKey() && other.toImage() != image;
        };
        QVERIFY(differs(SymbolIcon::pixmap(Symbol::checkmarkCircleFill, QColor(52, 199, 89), 20, 2.0)));
        QVERIFY(differs(SymbolIcon::pixmap(Symbol::checkmarkCircleFill, QColor(0, 122, 255, 128), 20, 2.0)));
        QVERIFY(differs(SymbolIcon::pixmap(Symbol::checkmarkCircleFill, blue, 21, 2.0)));
        QVERIFY(differs(SymbolIcon::pixmap(Symbol::checkmarkCircleFill, blue, 20, 1.0)));
        QVERIFY(differs(SymbolIcon::pixmap(Symbol::doc, blue, 20, 2.0)));

        // A caller drawing on its copy leaves the kept one as it was.
        QPixmap copy = SymbolIcon::pixmap(Symbol::checkmarkCircleFill, blue, 20, 2.0);
        {
            QPainter painter(&copy);
            painter.fillRect(QRect(0, 0, 40, 40), Qt::red);
        }
        QCOMPARE(SymbolIcon::pixmap(Symbol::checkmarkCircleFill, blue, 20, 2.0).toImage(), image);

        // Drawn on another thread, nothing is kept, and the symbol looks the same.
        QImage elsewhere;
        std::thread([&] { elsewhere = SymbolIcon::pixmap(Symbol::checkmarkCircleFill, blue, 20, 2.0).toImage(); })
            .join();
        QCOMPARE(elsewhere, image);
    }

    void symbolTileDrawsAsWhenDrawnAfresh_data()
    {
        TestTable<SymbolTile::Style> rows;
        rows("first-run emblem, a circle",
             {"iphone.and.arrow.forward", Symbol::circle, QColor(0, 122, 255), 46, QColor(0, 122, 255, 26), 96, -1});
        rows("method card, rounded",
             {"qrcode", Symbol::smartphone, QColor(0, 122, 255), 26, QColor(0, 122, 255, 26), 46, 13});
        rows("unknown name, opaque square",
             {"no.such.symbol", Symbol::smartphone, Qt::white, 16, QColor(52, 199, 89), 30, 0});
    }
    void symbolTileDrawsAsWhenDrawnAfresh()
    {
        const auto [style] = TestTable<SymbolTile::Style>::fetch();
        SymbolTile tile(style);
        FreshTile fresh(style);
        const QImage expected = drawn(fresh);
        // Drawn twice: the second time from what the tile kept.
        const QImage first = drawn(tile);
        const QImage second = drawn(tile);
        QCOMPARE(second, first);
        // The tile's edge is blended once more on its way to the screen, which may round a channel by one.
        QVERIFY2(largestDifference(first, expected) <= 1,
                 qPrintable(QStringLiteral("differs by %1").arg(largestDifference(first, expected))));
    }
};

QTEST_MAIN(TestStartUpDrawing)
#include "test_start_up_drawing.moc"
