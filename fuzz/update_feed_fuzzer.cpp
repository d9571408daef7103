// The update feed from the network: the signed reader and the document parser behind it. Neither may
// fail other than by its error; the corpus's signed seed carries a signature by the key below, so the
// run reaches the document parser through the signature check too.
#include "FuzzCheck.h"
#include "UpdateFeed.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <variant>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QByteArray publicKey = QByteArray::fromBase64("74dGag4P28EYwKAlk3/oOciUYhYT9rFnHgCL7/F4ivQ=");
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    const auto feed = UpdateFeed::read(bytes, publicKey);
    if (const auto *read = std::get_if<UpdateFeed>(&feed)) {
        requirePromise(UpdateFeed::parseDocument(bytes.mid(UpdateFeed::signatureLineLength + 1)) == *read,
                       "a verified feed holds the document that was signed");
        requirePromise(std::holds_alternative<UpdateFeed>(UpdateFeed::refuseOutdated(feed, read->published)) &&
                           std::get<UpdateFeedError>(UpdateFeed::refuseOutdated(feed, read->published.addSecs(1))) ==
                               UpdateFeedError::outdated,
                       "a feed is refused only when published before the newest one verified");
    }

    const auto document = UpdateFeed::parseDocument(bytes);
    if (document) {
        const auto version = UpdateVersion::parse(document->version);
        requirePromise(version && UpdateVersion::compare(*version, *version) == 0,
                       "an accepted version is the same as itself");
        requirePromise(document->downloadURL.scheme() == u"https" && !document->downloadURL.host().isEmpty(),
                       "an accepted download address is secure and has a host");
    }

    // Two versions from the two halves of the input are ordered one way only.
    const QString text = QString::fromUtf8(bytes);
    const auto left = UpdateVersion::parse(QStringView(text).left(text.size() / 2));
    const auto right = UpdateVersion::parse(QStringView(text).mid(text.size() / 2));
    if (left && right) {
        requirePromise(UpdateVersion::compare(*left, *right) == -UpdateVersion::compare(*right, *left),
                       "versions are ordered one way only");
    }
    return 0;
}
