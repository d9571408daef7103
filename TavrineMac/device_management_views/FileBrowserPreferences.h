#pragma once

#include "ManagedContentCategory.h"

#include <QObject>
#include <QString>
#include <QVariant>

#include <array>
#include <memory>
#include <optional>

class QSettings;

// How a folder is shown: as rows or as a grid of tiles.
enum class FileBrowserViewStyle
{
    list,
    grid,
};

// What a folder is sorted by.
enum class FileBrowserSortField
{
    name,
    modifiedAt,
    size,
    kind,
};

// Justified rows that keep each item's aspect ratio, or a grid of equal square cells.
enum class MediaGalleryLayoutStyle
{
    original,
    compact,
};

inline constexpr std::array allFileBrowserViewStyles{FileBrowserViewStyle::list, FileBrowserViewStyle::grid};
inline constexpr std::array allFileBrowserSortFields{FileBrowserSortField::name, FileBrowserSortField::modifiedAt,
                                                     FileBrowserSortField::size, FileBrowserSortField::kind};
inline constexpr std::array allMediaGalleryLayoutStyles{MediaGalleryLayoutStyle::original,
                                                        MediaGalleryLayoutStyle::compact};

// Raw values, and the case whose raw value is exactly the text (case-sensitive), or nothing.
QString rawValue(FileBrowserViewStyle style);
QString rawValue(FileBrowserSortField field);
QString rawValue(MediaGalleryLayoutStyle style);
std::optional<FileBrowserViewStyle> fileBrowserViewStyleFromRawValue(QStringView text);
std::optional<FileBrowserSortField> fileBrowserSortFieldFromRawValue(QStringView text);
std::optional<MediaGalleryLayoutStyle> mediaGalleryLayoutStyleFromRawValue(QStringView text);

// The files pane's remembered way of browsing the phone, kept in the user's settings as raw texts under the keys
// below. A stored text that names no case reads back as the first case. Setters write at once and emit `changed`
// when what reads back differs.
class FileBrowserPreferences : public QObject
{
    Q_OBJECT

public:
    static inline const QString mediaLayoutStyleKey = QStringLiteral("content.mediaLayoutStyle");
    static inline const QString fileViewStyleKey = QStringLiteral("content.fileViewStyle");
    static inline const QString fileSortFieldKey = QStringLiteral("content.fileSortField");
    static inline const QString fileSortAscendingKey = QStringLiteral("content.fileSortAscending");

    // Uses the application's standard settings.
    explicit FileBrowserPreferences(QObject *parent = nullptr);
    // Uses `settings`, which must outlive this object (tests pass a settings file of their own).
    explicit FileBrowserPreferences(QSettings *settings, QObject *parent = nullptr);
    ~FileBrowserPreferences() override;

    // The stored texts, or their defaults "original", "list", "name" and true.
    QString mediaLayoutStyleRawValue() const;
    QString fileViewStyleRawValue() const;
    QString fileSortFieldRawValue() const;
    bool fileSortAscending() const;

    // The stored texts read back: "compact" gives compact, "grid" gives grid, one of the four field names gives
    // that field; anything else gives original, list and name.
    MediaGalleryLayoutStyle mediaLayoutStyle() const;
    FileBrowserViewStyle fileViewStyle() const;
    FileBrowserSortField fileSortField() const;

    void setMediaLayoutStyleRawValue(const QString &text);
    void setFileViewStyleRawValue(const QString &text);
    void setFileSortFieldRawValue(const QString &text);
    void setFileSortAscending(bool ascending);
    void setMediaLayoutStyle(MediaGalleryLayoutStyle style) { setMediaLayoutStyleRawValue(rawValue(style)); }
    void setFileViewStyle(FileBrowserViewStyle style) { setFileViewStyleRawValue(rawValue(style)); }
    void setFileSortField(FileBrowserSortField field) { setFileSortFieldRawValue(rawValue(field)); }

signals:
    void changed();

private:
    QString storedText(const QString &key, const QString &fallback) const;
    void store(const QString &key, const QVariant &value, bool changesReading);

    std::unique_ptr<QSettings> m_ownedSettings;
    QSettings *m_settings = nullptr;
};
