#include "CardStyle.h"
#include "FilesPaneToolbar.h"
#include "ManagedApplicationsPane.h"
#include "ManagedFileBrowser.h"
#include "ManagedFilesPane.h"
#include "ManagedTrashList.h"
#include "ManagementStoreFixture.h"
#include "SymbolIcon.h"
#include "TestSupport.h"
#include "ViewColors.h"

#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

// How many pixels of the button's icon stand out from what lies under it: the button drawn with its icon against
// the button drawn with a blank icon of the same size.
int visibleIconPixels(QAbstractButton *button)
{
    const QIcon icon = button->icon();
    const QImage withIcon = button->grab().toImage();
    QPixmap blank(button->iconSize());
    blank.fill(Qt::transparent);
    button->setIcon(QIcon(blank));
    const QImage withoutIcon = button->grab().toImage();
    button->setIcon(icon);
    int count = 0;
    for (int y = 0; y < withIcon.height(); ++y) {
        for (int x = 0; x < withIcon.width(); ++x) {
            if (qAbs(qGray(withIcon.pixel(x, y)) - qGray(withoutIcon.pixel(x, y))) > 40) {
                ++count;
            }
        }
    }
    return count;
}

// Whether a label below `widget` shows `symbol` as drawn in `color`.
bool showsSymbol(const QWidget *widget, Symbol symbol, const QColor &color)
{
    for (const QLabel *label : widget->findChildren<QLabel *>()) {
        const QPixmap shown = label->pixmap();
        if (shown.isNull() || !label->isVisibleTo(widget)) {
            continue;
        }
        const int pixels = qRound(shown.width() / shown.devicePixelRatio());
        if (shown.toImage() == SymbolIcon::pixmap(symbol, color, pixels, shown.devicePixelRatio()).toImage()) {
            return true;
        }
    }
    return false;
}

} // namespace

class ProminentButtonsAndOverlaysTest : public QObject
{
    Q_OBJECT

private slots:
    // "安装 APK" and "添加到手机" are filled with the accent colour, with their white symbol plainly visible.
    void prominentButtons()
    {
        ManagementStoreFixture management;
        ManagedApplicationsPane applications(u"Pixel"_s, management.store.get(), nullptr, true, true, {});
        QSettings settings(management.folder.filePath(u"settings.ini"_s), QSettings::IniFormat);
        ManagedFilesPane files(u"Pixel"_s, management.store.get(), ManagedContentCategory::allFiles, false, false, {},
                               &settings);
        // Laid out as they show: a button of a pane never laid out has whatever size its first layout pass left it.
        for (QWidget *pane : {static_cast<QWidget *>(&applications), static_cast<QWidget *>(&files)}) {
            pane->resize(900, 600);
            pane->show();
            QVERIFY(QTest::qWaitForWindowExposed(pane));
        }
        const QList<QAbstractButton *> buttons{applications.installButton(), files.toolbar()->addMenuButton()};
        for (QAbstractButton *button : buttons) {
            button->setEnabled(true);
            QCOMPARE(button->palette().color(QPalette::Button), ViewColors::blue());
            QCOMPARE(button->palette().color(QPalette::ButtonText), QColor(Qt::white));
            QVERIFY2(visibleIconPixels(button) >= 10, qPrintable(button->text()));
        }
    }

    // The empty folder, the empty trash and a drop over the pane each show their symbol.
    void overlaySymbols()
    {
        ManagementStoreFixture management;
        QSettings settings(management.folder.filePath(u"settings.ini"_s), QSettings::IniFormat);
        ManagedFilesPane pane(u"Pixel"_s, management.store.get(), ManagedContentCategory::allFiles, false, false, {},
                              &settings);
        pane.updateDropTargeting(true);
        const auto *drop = pane.findChild<QWidget *>(u"dropOverlay"_s);
        QVERIFY(drop && drop->isVisibleTo(&pane));
        QVERIFY(showsSymbol(drop, Symbol::folderBadgePlus, ViewColors::blue()));

        ManagedFileBrowser browser(management.store.get());
        browser.setEntries({});
        QCOMPARE(browser.emptyOverlay()->text(), u"文件夹为空"_s);
        QVERIFY(showsSymbol(&browser, Symbol::folder, ViewColors::secondary()));

        ManagedTrashList trash(management.store.get());
        QCOMPARE(trash.emptyOverlay()->text(), u"回收站为空"_s);
        QVERIFY(showsSymbol(&trash, Symbol::trash, ViewColors::secondary()));
    }
};

QTEST_MAIN(ProminentButtonsAndOverlaysTest)
#include "test_prominent_buttons_and_overlays.moc"
