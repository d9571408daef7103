#include "ManagedPaging.h"

#include "DeviceManagementRequestError.h"

namespace {

QString invalidPagingMessage(ManagedPaging::Listing listing)
{
    switch (listing) {
    case ManagedPaging::Listing::folder:
        return QStringLiteral("手机返回了无效的文件夹分页");
    case ManagedPaging::Listing::trash:
        return QStringLiteral("手机返回了无效的回收站分页");
    case ManagedPaging::Listing::media:
        return QStringLiteral("手机返回了无效的媒体分页");
    case ManagedPaging::Listing::applications:
        return QStringLiteral("手机返回了无效的应用分页");
    }
    Q_UNREACHABLE();
}

const QString tooManyPagesMessage = QStringLiteral("手机返回的分页过多，已停止加载");
const QString tooManyBytesMessage = QStringLiteral("手机返回的列表过大，已停止加载");

// The length of `text` in UTF-8, as the phone sent it, without making the bytes.
qint64 utf8Length(const QString &text)
{
    qint64 bytes = 0;
    for (const QChar character : text) {
        const char16_t unit = character.unicode();
        // Each half of a surrogate pair stands for two of the pair's four bytes.
        bytes += unit < 0x80 ? 1 : unit < 0x800 || character.isSurrogate() ? 2 : 3;
    }
    return bytes;
}

} // namespace

bool ManagedPaging::advance(const std::optional<qint64> &nextPageToken)
{
    if (!nextPageToken) {
        return false;
    }
    // A token that does not grow could send the load round the same pages for ever.
    if (*nextPageToken <= m_pageToken) {
        throw DeviceManagementRequestError::rejected(invalidPagingMessage(m_listing));
    }
    if (m_pages >= maximumPages) {
        throw DeviceManagementRequestError::rejected(tooManyPagesMessage);
    }
    m_pageToken = *nextPageToken;
    return true;
}

void ManagedPaging::count(const QString &answer)
{
    ++m_pages;
    // Checked before the UTF-8 length, so that a huge answer is not walked through first.
    if (answer.size() > maximumAnswerBytes - m_answerBytes) {
        throw DeviceManagementRequestError::rejected(tooManyBytesMessage);
    }
    m_answerBytes += utf8Length(answer);
    if (m_answerBytes > maximumAnswerBytes) {
        throw DeviceManagementRequestError::rejected(tooManyBytesMessage);
    }
}
