#pragma once

#include "ManagedContentModel.h"

#include <QDialog>
#include <QPointer>

#include <optional>

class DeviceManagementStore;
class ElidedLabel;
class QLabel;
class QStackedLayout;

// The sheet in which one photo or video of the phone is looked at large. It shows the item of `selectedMediaID`,
// asks the store for its large preview (the grid thumbnail stands in meanwhile), and steps through the store's
// media list with its buttons and the left and right arrow keys; Escape and "关闭" close it.
class ManagedMediaPreview : public QDialog
{
    Q_OBJECT

public:
    static constexpr int previewDimension = 2048;

    ManagedMediaPreview(DeviceManagementStore &store, std::optional<QString> selectedMediaID,
                        QWidget *parent = nullptr);

    const std::optional<QString> &selectedMediaID() const { return m_selectedMediaID; }
    void setSelectedMediaID(const std::optional<QString> &id);
    // Selects the neighbour `offset` items away in the media list; false when there is none.
    bool move(qsizetype offset);

signals:
    // The sheet selected another item (the files pane keeps its previewed id in step).
    void selectedMediaIDChanged();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    class ImageArea;

    void refresh();
    // The items the gallery draws, the ones the sheet steps through.
    QList<ManagedMediaItem> shownItems() const;
    void startLoad(const ManagedMediaItem &item);
    // Records `next` as the item loading and withdraws the request of the one before.
    void withdrawLoad(const std::optional<ManagedMediaItem> &next);
    void reload();

    QPointer<DeviceManagementStore> m_store;
    std::optional<QString> m_selectedMediaID;
    std::optional<ManagedMediaItem> m_loadItem; // the item of the last started load
    QStackedLayout *m_pages = nullptr;
    ElidedLabel *m_nameLabel = nullptr;
    QLabel *m_detailLabel = nullptr;
    ImageArea *m_imageArea = nullptr;
};
