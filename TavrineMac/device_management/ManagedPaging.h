#pragma once

#include "ManagedContentModel.h"

#include <QString>

#include <optional>

// One paged listing of the phone's, kept within bounds whatever the phone answers: each page token must be
// greater than the one before, and one load reads at most `maximumPages` answers and `maximumAnswerBytes` of
// answer text. A phone that breaks a bound ends the load with a rejected request, whose text the store shows.
class ManagedPaging
{
public:
    enum class Listing
    {
        folder, // a folder's entries, or the walk below a folder
        trash,
        media,
        applications,
    };

    static constexpr int maximumPages = 1000;
    static constexpr qint64 maximumAnswerBytes = 64 * 1024 * 1024;

    explicit ManagedPaging(Listing listing) : m_listing(listing) {}

    // The token to ask the next page with: 0 for the first page.
    qint64 pageToken() const { return m_pageToken; }

    // Counts one answer against the load's bounds, then decodes it. Throws DeviceManagementRequestError when the
    // load is over its bytes, or ManagedDecodingError.
    template <typename Page> Page read(const QString &answer)
    {
        count(answer);
        return decodeManagedAnswer<Page>(answer);
    }

    // Takes the token of the page just read: false when it has none (the last page). Throws
    // DeviceManagementRequestError when the token does not advance or the load has read its last allowed page.
    bool advance(const std::optional<qint64> &nextPageToken);

private:
    void count(const QString &answer);

    Listing m_listing;
    qint64 m_pageToken = 0;
    int m_pages = 0;
    qint64 m_answerBytes = 0;
};
