#pragma once

#include <QNetworkAccessManager>

class QNetworkReply;

// The network access of a service that is sent credentials: every reply's
// body is capped (a larger one is aborted as it arrives, so it never sits in
// memory whole), and redirects are followed only within the same origin
// (scheme, host and port); one to another origin fails the request before
// anything is sent there.
class CappedNetworkAccessManager : public QNetworkAccessManager {
    Q_OBJECT

public:
    static constexpr qint64 DefaultMaximumReplySize = 1024 * 1024;

    explicit CappedNetworkAccessManager(QObject* parent = nullptr);

    qint64 maximumReplySize() const { return mMaximumReplySize; }
    void setMaximumReplySize(qint64 bytes) { mMaximumReplySize = bytes; }

    // Whether `reply` was aborted for being larger than the cap.
    static bool wasTooLarge(const QNetworkReply* reply);

protected:
    QNetworkReply* createRequest(Operation operation, const QNetworkRequest& request,
                                 QIODevice* outgoingData) override;

private:
    qint64 mMaximumReplySize = DefaultMaximumReplySize;
};
