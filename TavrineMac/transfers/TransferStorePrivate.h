#pragma once

// Helpers that several of TransferStore's source files share; for those files only.

#include <QByteArray>
#include <QFileInfo>
#include <QString>
#include <QUuid>
#include <QtConcurrent>

#include <qcorofuture.h>
#include <qcorotask.h>

#include <exception>
#include <limits>
#include <type_traits>
#include <variant>

namespace transferStorePrivate {

inline const QString defaultPhoneName = QStringLiteral("Android 手机");

inline QString describe(const std::exception &error)
{
    return QString::fromUtf8(error.what());
}

inline QString newLowerCaseUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

inline qint64 clampedByteCount(uint64_t count)
{
    return count > uint64_t(std::numeric_limits<qint64>::max()) ? std::numeric_limits<qint64>::max() : qint64(count);
}

// Runs `work` on the thread pool and hands its value (or its exception) back to the awaiting coroutine.
template <typename Work> QCoro::Task<std::invoke_result_t<Work>> runInBackground(Work work)
{
    using Result = std::invoke_result_t<Work>;
    if constexpr (std::is_void_v<Result>) {
        std::exception_ptr failure = co_await QtConcurrent::run([work]() -> std::exception_ptr {
            try {
                work();
                return nullptr;
            } catch (...) {
                return std::current_exception();
            }
        });
        if (failure) {
            std::rethrow_exception(failure);
        }
    } else {
        using Outcome = std::variant<Result, std::exception_ptr>;
        Outcome outcome = co_await QtConcurrent::run([work]() -> Outcome {
            try {
                return work();
            } catch (...) {
                return std::current_exception();
            }
        });
        if (auto *failure = std::get_if<std::exception_ptr>(&outcome)) {
            std::rethrow_exception(*failure);
        }
        co_return std::get<Result>(std::move(outcome));
    }
}

// A bookmark is the file's absolute path.
inline QByteArray bookmarkFor(const QString &path)
{
    return QFileInfo(path).absoluteFilePath().toUtf8();
}

inline QString noSuchFileDescription(const QString &path)
{
    return QStringLiteral("“%1”不存在。").arg(QFileInfo(path).fileName());
}

} // namespace transferStorePrivate
