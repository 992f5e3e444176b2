#include "app/sharing/CappedNetworkAccessManager.h"

#include <QNetworkReply>
#include <QPointer>

namespace {

const char* const kTooLargeProperty = "cassoraReplyTooLarge";

void abortAsTooLarge(QNetworkReply* reply) {
    if (!reply->property(kTooLargeProperty).toBool()) {
        reply->setProperty(kTooLargeProperty, true);
        reply->abort();
    }
}

} // namespace

CappedNetworkAccessManager::CappedNetworkAccessManager(QObject* parent)
    : QNetworkAccessManager(parent) {
    setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
}

bool CappedNetworkAccessManager::wasTooLarge(const QNetworkReply* reply) {
    return reply && reply->property(kTooLargeProperty).toBool();
}

QNetworkReply* CappedNetworkAccessManager::createRequest(Operation operation,
                                                         const QNetworkRequest& request,
                                                         QIODevice* outgoingData) {
    QNetworkReply* reply = QNetworkAccessManager::createRequest(operation, request, outgoingData);
    const qint64 cap = mMaximumReplySize;
    QPointer<QNetworkReply> guarded = reply;
    // A declared length over the cap ends the reply before its body comes...
    connect(reply, &QNetworkReply::metaDataChanged, reply, [guarded, cap] {
        if (guarded && guarded->header(QNetworkRequest::ContentLengthHeader).toLongLong() > cap) {
            abortAsTooLarge(guarded);
        }
    });
    // ...and one without a length ends once it has passed the cap.
    connect(reply, &QNetworkReply::downloadProgress, reply,
            [guarded, cap](qint64 received, qint64) {
                if (guarded && received > cap) {
                    abortAsTooLarge(guarded);
                }
            });
    return reply;
}
