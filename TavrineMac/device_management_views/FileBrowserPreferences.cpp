#include "FileBrowserPreferences.h"

#include <QSettings>

namespace {

// The case of `all` whose raw value is exactly `text`.
template <typename Enum, std::size_t count>
std::optional<Enum> caseNamed(const std::array<Enum, count> &all, QStringView text)
{
    for (const Enum value : all) {
        if (rawValue(value) == text) {
            return value;
        }
    }
    return std::nullopt;
}

} // namespace

QString rawValue(FileBrowserViewStyle style)
{
    return style == FileBrowserViewStyle::grid ? QStringLiteral("grid") : QStringLiteral("list");
}

QString rawValue(FileBrowserSortField field)
{
    switch (field) {
    case FileBrowserSortField::name:
        return QStringLiteral("name");
    case FileBrowserSortField::modifiedAt:
        return QStringLiteral("modifiedAt");
    case FileBrowserSortField::size:
        return QStringLiteral("size");
    case FileBrowserSortField::kind:
        return QStringLiteral("kind");
    }
    return {};
}

QString rawValue(MediaGalleryLayoutStyle style)
{
    return style == MediaGalleryLayoutStyle::compact ? QStringLiteral("compact") : QStringLiteral("original");
}

std::optional<FileBrowserViewStyle> fileBrowserViewStyleFromRawValue(QStringView text)
{
    return caseNamed(allFileBrowserViewStyles, text);
}

std::optional<FileBrowserSortField> fileBrowserSortFieldFromRawValue(QStringView text)
{
    return caseNamed(allFileBrowserSortFields, text);
}

std::optional<MediaGalleryLayoutStyle> mediaGalleryLayoutStyleFromRawValue(QStringView text)
{
    return caseNamed(allMediaGalleryLayoutStyles, text);
}

FileBrowserPreferences::FileBrowserPreferences(QObject *parent)
    : QObject(parent), m_ownedSettings(std::make_unique<QSettings>()), m_settings(m_ownedSettings.get())
{}

FileBrowserPreferences::FileBrowserPreferences(QSettings *settings, QObject *parent)
    : QObject(parent), m_settings(settings)
{
    Q_ASSERT(settings);
}

FileBrowserPreferences::~FileBrowserPreferences() = default;

QString FileBrowserPreferences::mediaLayoutStyleRawValue() const
{
    return storedText(mediaLayoutStyleKey, rawValue(MediaGalleryLayoutStyle::original));
}

QString FileBrowserPreferences::fileViewStyleRawValue() const
{
    return storedText(fileViewStyleKey, rawValue(FileBrowserViewStyle::list));
}

QString FileBrowserPreferences::fileSortFieldRawValue() const
{
    return storedText(fileSortFieldKey, rawValue(FileBrowserSortField::name));
}

bool FileBrowserPreferences::fileSortAscending() const
{
    const QVariant stored = m_settings->value(fileSortAscendingKey);
    // A text that is neither spelling of a Boolean (an edited settings file) keeps the default.
    if (stored.typeId() == QMetaType::QString) {
        const QString text = stored.toString();
        return text != u"false" && text != u"0";
    }
    return stored.isValid() && stored.canConvert<bool>() ? stored.toBool() : true;
}

MediaGalleryLayoutStyle FileBrowserPreferences::mediaLayoutStyle() const
{
    return mediaGalleryLayoutStyleFromRawValue(mediaLayoutStyleRawValue()).value_or(MediaGalleryLayoutStyle::original);
}

FileBrowserViewStyle FileBrowserPreferences::fileViewStyle() const
{
    return fileBrowserViewStyleFromRawValue(fileViewStyleRawValue()).value_or(FileBrowserViewStyle::list);
}

FileBrowserSortField FileBrowserPreferences::fileSortField() const
{
    return fileBrowserSortFieldFromRawValue(fileSortFieldRawValue()).value_or(FileBrowserSortField::name);
}

void FileBrowserPreferences::setMediaLayoutStyleRawValue(const QString &text)
{
    store(mediaLayoutStyleKey, text, mediaLayoutStyleRawValue() != text);
}

void FileBrowserPreferences::setFileViewStyleRawValue(const QString &text)
{
    store(fileViewStyleKey, text, fileViewStyleRawValue() != text);
}

void FileBrowserPreferences::setFileSortFieldRawValue(const QString &text)
{
    store(fileSortFieldKey, text, fileSortFieldRawValue() != text);
}

void FileBrowserPreferences::setFileSortAscending(bool ascending)
{
    store(fileSortAscendingKey, ascending, fileSortAscending() != ascending);
}

QString FileBrowserPreferences::storedText(const QString &key, const QString &fallback) const
{
    // Only the few raw values are meaningful; a huge stored value is no case and reads as the default anyway.
    constexpr qsizetype longestMeaningfulText = 64;
    const QVariant stored = m_settings->value(key);
    if (!stored.isValid()) {
        return fallback;
    }
    const QString text = stored.toString();
    return text.size() > longestMeaningfulText ? QString() : text;
}

void FileBrowserPreferences::store(const QString &key, const QVariant &value, bool changesReading)
{
    m_settings->setValue(key, value);
    if (changesReading) {
        emit changed();
    }
}
