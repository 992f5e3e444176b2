#include "app/sharing/YouTubeService.h"

#include "platform/desktop/UserDefaults.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>
#include <QUrlQuery>

namespace {

const QString kAuthorizationURLKey = QStringLiteral("YouTubeAuthorizationURL");
const QString kTokenURLKey = QStringLiteral("YouTubeTokenURL");
const QString kAPIURLKey = QStringLiteral("YouTubeAPIURL");
const QString kUploadURLKey = QStringLiteral("YouTubeUploadURL");
const QString kWebURLKey = QStringLiteral("YouTubeWebURL");
const QString kClientIDKey = QStringLiteral("YouTubeClientID");
const QString kClientSecretKey = QStringLiteral("YouTubeClientSecret");
const QByteArray kUserAgent = "VELK-Cassora-1.0";

int statusOf(QNetworkReply* reply) {
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// The service's own words for a failure, else the network's.
QString describeFailure(QNetworkReply* reply, const QByteArray& body) {
    const QJsonObject error = QJsonDocument::fromJson(body).object().value("error").toObject();
    QString message = error.value("message").toString();
    if (message.isEmpty()) {
        message = QJsonDocument::fromJson(body).object().value("error_description").toString();
    }
    if (message.isEmpty()) {
        message = reply->errorString();
    }
    const int status = statusOf(reply);
    return status ? QStringLiteral("%1 (HTTP %2)").arg(message).arg(status) : message;
}

bool isPassing(QNetworkReply* reply) {
    const int status = statusOf(reply);
    if (status == 0) {
        // No answer at all: the connection failed or dropped.
        return reply->error() != QNetworkReply::OperationCanceledError;
    }
    return status == 500 || status == 502 || status == 503 || status == 504 || status == 429;
}

QString base64Url(const QByteArray& data) {
    return QString::fromLatin1(
        data.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QUrl withPath(const QUrl& base, const QString& path) {
    QUrl url = base;
    url.setPath(base.path() + path);
    return url;
}

} // namespace

// --- Endpoints and authorization --------------------------------------------

void YouTubeEndpoints::registerDefaults() {
    UserDefaults::standard().registerDefaults({
        {kAuthorizationURLKey, QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth")},
        {kTokenURLKey, QStringLiteral("https://oauth2.googleapis.com/token")},
        {kAPIURLKey, QStringLiteral("https://www.googleapis.com/youtube/v3")},
        {kUploadURLKey, QStringLiteral("https://www.googleapis.com/upload/youtube/v3/videos")},
        {kWebURLKey, QStringLiteral("https://www.youtube.com")},
        {kClientIDKey, QString()},
        {kClientSecretKey, QString()},
    });
}

YouTubeEndpoints YouTubeEndpoints::fromDefaults() {
    registerDefaults();
    UserDefaults& defaults = UserDefaults::standard();
    YouTubeEndpoints endpoints;
    endpoints.authorization = QUrl(defaults.stringForKey(kAuthorizationURLKey));
    endpoints.token = QUrl(defaults.stringForKey(kTokenURLKey));
    endpoints.api = QUrl(defaults.stringForKey(kAPIURLKey));
    endpoints.upload = QUrl(defaults.stringForKey(kUploadURLKey));
    endpoints.web = QUrl(defaults.stringForKey(kWebURLKey));
    endpoints.clientIdentifier = defaults.stringForKey(kClientIDKey).trimmed();
    endpoints.clientSecret = defaults.stringForKey(kClientSecretKey).trimmed();
    return endpoints;
}

QByteArray YouTubeAuthorization::serialized() const {
    return QJsonDocument(QJsonObject{{"access_token", accessToken},
                                     {"refresh_token", refreshToken},
                                     {"expiry", expiry.toUTC().toString(Qt::ISODate)},
                                     {"user", userName}})
        .toJson(QJsonDocument::Compact);
}

YouTubeAuthorization YouTubeAuthorization::deserialized(const QByteArray& data) {
    const QJsonObject object = QJsonDocument::fromJson(data).object();
    YouTubeAuthorization authorization;
    authorization.accessToken = object.value("access_token").toString();
    authorization.refreshToken = object.value("refresh_token").toString();
    authorization.expiry = QDateTime::fromString(object.value("expiry").toString(), Qt::ISODate);
    authorization.userName = object.value("user").toString();
    return authorization;
}

void YouTubeUploadTicket::cancelTicket() {
    mCancelled = true;
    if (mReply) {
        mReply->abort();
    }
}

// --- The service --------------------------------------------------------------

struct YouTubeService::Upload {
    QPointer<YouTubeUploadTicket> ticket;
    YouTubeVideo video;
    QByteArray data;
    QString mimeType;
    QUrl session;
    int attempts = 0;    // failures since the server last took more bytes
    qint64 confirmed = 0; // bytes the server has said it holds
    bool refreshed = false;
};

YouTubeService::YouTubeService(const YouTubeEndpoints& endpoints, QObject* parent)
    : QObject(parent), mEndpoints(endpoints) {}

YouTubeService::~YouTubeService() = default;

void YouTubeService::setAuthorization(const YouTubeAuthorization& authorization) {
    mAuthorization = authorization;
    emit authorizationChanged();
}

QNetworkRequest YouTubeService::authorizedRequest(const QUrl& url) const {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, kUserAgent);
    request.setRawHeader("Authorization", "Bearer " + mAuthorization.accessToken.toUtf8());
    request.setRawHeader("Accept", "application/json");
    return request;
}

void YouTubeService::signIn(std::function<void(const QString& error)> done,
                            std::function<void(const QUrl&)> openBrowser) {
    if (!mEndpoints.hasClient()) {
        done(tr("Sign-in needs an OAuth client ID (see the README)."));
        return;
    }
    delete mFlow;
    mFlow = new QOAuth2AuthorizationCodeFlow(&mNetwork, this);
    mFlow->setAuthorizationUrl(mEndpoints.authorization);
    mFlow->setAccessTokenUrl(mEndpoints.token);
    mFlow->setClientIdentifier(mEndpoints.clientIdentifier);
    mFlow->setClientIdentifierSharedKey(mEndpoints.clientSecret);
    mFlow->setScope(mEndpoints.scope);
    auto* handler = new QOAuthHttpServerReplyHandler(QHostAddress::LocalHost, 0, mFlow);
    if (!handler->isListening()) {
        done(tr("Cannot listen on the loopback address for the sign-in's answer."));
        return;
    }
    mFlow->setReplyHandler(handler);

    // PKCE: the code is worth nothing without the verifier, which never
    // leaves this process until the exchange.
    QByteArray random(48, Qt::Uninitialized);
    for (char& byte : random) {
        byte = static_cast<char>(QRandomGenerator::system()->bounded(256));
    }
    const QString verifier = base64Url(random);
    const QString challenge =
        base64Url(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256));
    mFlow->setModifyParametersFunction(
        [verifier, challenge](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant>* parameters) {
            if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
                parameters->replace(QStringLiteral("code_challenge"), challenge);
                parameters->replace(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
                // A refresh token comes only with offline access.
                parameters->replace(QStringLiteral("access_type"), QStringLiteral("offline"));
            } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
                parameters->replace(QStringLiteral("code_verifier"), verifier);
                // The redirect comes back percent-encoded in Qt's parameters.
                const QString redirect = parameters->value(QStringLiteral("redirect_uri")).toString();
                parameters->replace(QStringLiteral("redirect_uri"),
                                    QUrl::fromPercentEncoding(redirect.toUtf8()));
            }
        });
    connect(mFlow, &QAbstractOAuth::authorizeWithBrowser, this,
            [openBrowser](const QUrl& url) {
                if (openBrowser) {
                    openBrowser(url);
                } else {
                    QDesktopServices::openUrl(url);
                }
            });
    auto answered = std::make_shared<bool>(false);
    auto answer = [answered, done](const QString& error) {
        if (!*answered) {
            *answered = true;
            done(error);
        }
    };
    QPointer<QOAuth2AuthorizationCodeFlow> flow = mFlow;
    connect(mFlow, &QAbstractOAuth::granted, this, [this, flow, answer] {
        if (!flow) {
            return;
        }
        YouTubeAuthorization authorization;
        authorization.accessToken = flow->token();
        authorization.refreshToken = flow->refreshToken();
        authorization.expiry = flow->expirationAt().toUTC();
        mAuthorization = authorization;
        fetchUserName([this, answer] {
            emit authorizationChanged();
            answer(QString());
        });
    });
    connect(mFlow, &QAbstractOAuth2::error, this,
            [answer](const QString& error, const QString& description, const QUrl&) {
                answer(description.isEmpty() ? error : description);
            });
    connect(mFlow, &QAbstractOAuth::requestFailed, this, [answer](QAbstractOAuth::Error) {
        answer(tr("The sign-in failed."));
    });
    mFlow->grant();
}

void YouTubeService::fetchUserName(std::function<void()> next) {
    QUrl url = withPath(mEndpoints.api, QStringLiteral("/channels"));
    url.setQuery(QStringLiteral("part=snippet&mine=true"));
    QNetworkReply* reply = mNetwork.get(authorizedRequest(url));
    connect(reply, &QNetworkReply::finished, this, [this, reply, next] {
        reply->deleteLater();
        const QJsonArray items =
            QJsonDocument::fromJson(reply->readAll()).object().value("items").toArray();
        const QString name = items.isEmpty() ? QString()
                                             : items.first()
                                                   .toObject()
                                                   .value("snippet")
                                                   .toObject()
                                                   .value("title")
                                                   .toString();
        mAuthorization.userName = name.isEmpty() ? tr("your channel") : name;
        next();
    });
}

void YouTubeService::refreshToken(std::function<void(const QString& error)> next) {
    if (mAuthorization.refreshToken.isEmpty()) {
        next(tr("The authorization has expired; sign in again."));
        return;
    }
    QNetworkRequest request(mEndpoints.token);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    request.setHeader(QNetworkRequest::UserAgentHeader, kUserAgent);
    QUrlQuery form;
    form.addQueryItem("grant_type", "refresh_token");
    form.addQueryItem("refresh_token", QString::fromLatin1(QUrl::toPercentEncoding(mAuthorization.refreshToken)));
    form.addQueryItem("client_id", QString::fromLatin1(QUrl::toPercentEncoding(mEndpoints.clientIdentifier)));
    if (!mEndpoints.clientSecret.isEmpty()) {
        form.addQueryItem("client_secret", QString::fromLatin1(QUrl::toPercentEncoding(mEndpoints.clientSecret)));
    }
    QNetworkReply* reply = mNetwork.post(request, form.query(QUrl::FullyEncoded).toUtf8());
    connect(reply, &QNetworkReply::finished, this, [this, reply, next] {
        reply->deleteLater();
        const QByteArray body = reply->readAll();
        const QJsonObject object = QJsonDocument::fromJson(body).object();
        if (reply->error() != QNetworkReply::NoError || !object.contains("access_token")) {
            next(describeFailure(reply, body));
            return;
        }
        mAuthorization.accessToken = object.value("access_token").toString();
        if (object.contains("refresh_token")) {
            mAuthorization.refreshToken = object.value("refresh_token").toString();
        }
        const int lifetime = object.value("expires_in").toInt();
        mAuthorization.expiry =
            lifetime > 0 ? QDateTime::currentDateTimeUtc().addSecs(lifetime) : QDateTime();
        emit authorizationChanged();
        next(QString());
    });
}

void YouTubeService::withFreshToken(std::function<void(const QString& error)> next) {
    const bool expired =
        mAuthorization.accessToken.isEmpty() ||
        (mAuthorization.expiry.isValid() &&
         mAuthorization.expiry < QDateTime::currentDateTimeUtc().addSecs(60));
    if (expired) {
        refreshToken(std::move(next));
    } else {
        next(QString());
    }
}

void YouTubeService::fetchCategories(
    const QString& regionCode,
    std::function<void(const QList<YouTubeCategory>&, const QString& error)> done) {
    withFreshToken([this, regionCode, done](const QString& error) {
        if (!error.isEmpty()) {
            done({}, error);
            return;
        }
        QUrl url = withPath(mEndpoints.api, QStringLiteral("/videoCategories"));
        QUrlQuery query;
        query.addQueryItem("part", "snippet");
        query.addQueryItem("regionCode", regionCode.isEmpty() ? QStringLiteral("US") : regionCode);
        url.setQuery(query);
        QNetworkReply* reply = mNetwork.get(authorizedRequest(url));
        connect(reply, &QNetworkReply::finished, this, [reply, done] {
            reply->deleteLater();
            const QByteArray body = reply->readAll();
            if (reply->error() != QNetworkReply::NoError) {
                done({}, describeFailure(reply, body));
                return;
            }
            QJsonParseError parseError{};
            const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
            if (parseError.error != QJsonParseError::NoError) {
                done({}, parseError.errorString());
                return;
            }
            QList<YouTubeCategory> categories;
            for (const QJsonValue& item : document.object().value("items").toArray()) {
                const QJsonObject snippet = item.toObject().value("snippet").toObject();
                if (!snippet.value("assignable").toBool()) {
                    continue;
                }
                const QString term = item.toObject().value("id").toString();
                const QString label = snippet.value("title").toString();
                categories.append({term, label.isEmpty() ? term : label});
            }
            done(categories, QString());
        });
    });
}

// --- Resumable upload -------------------------------------------------------------

YouTubeUploadTicket* YouTubeService::uploadVideo(const YouTubeVideo& video, const QByteArray& data,
                                                 const QString& mimeType) {
    auto upload = std::make_shared<Upload>();
    upload->ticket = new YouTubeUploadTicket(this);
    upload->video = video;
    upload->data = data;
    upload->mimeType = mimeType.isEmpty() ? QStringLiteral("video/mp4") : mimeType;
    YouTubeUploadTicket* ticket = upload->ticket;
    // Started from the event loop, so the caller can connect to the ticket first.
    QTimer::singleShot(0, this, [this, upload] {
        if (upload->ticket && !upload->ticket->isCancelled()) {
            startSession(upload);
        }
    });
    return ticket;
}

void YouTubeService::finish(const std::shared_ptr<Upload>& upload, const QString& error,
                            const QString& videoId) {
    if (!upload->ticket || upload->ticket->isCancelled()) {
        return;
    }
    YouTubeUploadTicket* ticket = upload->ticket;
    upload->ticket = nullptr;
    emit ticket->finished(error, videoId);
    ticket->deleteLater();
}

void YouTubeService::retryLater(const std::shared_ptr<Upload>& upload, const QString& why,
                                std::function<void()> step) {
    if (++upload->attempts > MaximumRetries) {
        finish(upload, why, {});
        return;
    }
    const int delay = mRetryBaseDelay * (1 << (upload->attempts - 1));
    QTimer::singleShot(delay, this, [upload, step] {
        if (upload->ticket && !upload->ticket->isCancelled()) {
            step();
        }
    });
}

void YouTubeService::startSession(const std::shared_ptr<Upload>& upload) {
    withFreshToken([this, upload](const QString& error) {
        if (!error.isEmpty()) {
            finish(upload, error, {});
            return;
        }
        QUrl url = mEndpoints.upload;
        QUrlQuery query(url);
        query.addQueryItem("uploadType", "resumable");
        query.addQueryItem("part", "snippet,status");
        url.setQuery(query);
        QNetworkRequest request = authorizedRequest(url);
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json; charset=UTF-8");
        request.setRawHeader("X-Upload-Content-Length", QByteArray::number(upload->data.size()));
        request.setRawHeader("X-Upload-Content-Type", upload->mimeType.toUtf8());
        QJsonObject snippet{{"title", upload->video.title},
                            {"description", upload->video.description},
                            {"tags", QJsonArray::fromStringList(upload->video.keywords)}};
        if (!upload->video.category.isEmpty()) {
            snippet.insert("categoryId", upload->video.category);
        }
        const QJsonObject status{
            {"privacyStatus", upload->video.isPrivate ? QStringLiteral("private") : QStringLiteral("public")}};
        const QByteArray body =
            QJsonDocument(QJsonObject{{"snippet", snippet}, {"status", status}}).toJson(QJsonDocument::Compact);
        QNetworkReply* reply = mNetwork.post(request, body);
        if (upload->ticket) {
            upload->ticket->mReply = reply;
        }
        connect(reply, &QNetworkReply::finished, this, [this, upload, reply] {
            reply->deleteLater();
            if (!upload->ticket || upload->ticket->isCancelled()) {
                return;
            }
            const QByteArray answer = reply->readAll();
            const int status = statusOf(reply);
            if (status == 200 || status == 201) {
                upload->session = reply->header(QNetworkRequest::LocationHeader).toUrl();
                if (!upload->session.isValid() || upload->session.isEmpty()) {
                    finish(upload, tr("The video service gave no upload address."), {});
                    return;
                }
                upload->session = mEndpoints.upload.resolved(upload->session);
                upload->attempts = 0;
                sendFrom(upload, 0);
            } else if (status == 401 && !upload->refreshed) {
                upload->refreshed = true;
                refreshToken([this, upload](const QString& error) {
                    error.isEmpty() ? startSession(upload) : finish(upload, error, {});
                });
            } else if (isPassing(reply)) {
                retryLater(upload, describeFailure(reply, answer), [this, upload] { startSession(upload); });
            } else {
                finish(upload, describeFailure(reply, answer), {});
            }
        });
    });
}

void YouTubeService::sendFrom(const std::shared_ptr<Upload>& upload, qint64 offset) {
    const qint64 total = upload->data.size();
    QNetworkRequest request = authorizedRequest(upload->session);
    request.setHeader(QNetworkRequest::ContentTypeHeader, upload->mimeType);
    if (total > 0) {
        request.setRawHeader("Content-Range", QStringLiteral("bytes %1-%2/%3")
                                                  .arg(offset)
                                                  .arg(total - 1)
                                                  .arg(total)
                                                  .toLatin1());
    }
    QNetworkReply* reply = mNetwork.put(request, upload->data.mid(offset));
    if (upload->ticket) {
        upload->ticket->mReply = reply;
    }
    connect(reply, &QNetworkReply::uploadProgress, this, [upload, offset, total](qint64 sent, qint64) {
        if (upload->ticket && !upload->ticket->isCancelled()) {
            emit upload->ticket->progress(offset + sent, total);
        }
    });
    connect(reply, &QNetworkReply::finished, this,
            [this, upload, reply] { handleChunkReply(upload, reply); });
}

void YouTubeService::queryStatus(const std::shared_ptr<Upload>& upload) {
    withFreshToken([this, upload](const QString& error) {
        if (!error.isEmpty()) {
            finish(upload, error, {});
            return;
        }
        QNetworkRequest request = authorizedRequest(upload->session);
        request.setRawHeader("Content-Range",
                             QStringLiteral("bytes */%1").arg(upload->data.size()).toLatin1());
        request.setHeader(QNetworkRequest::ContentLengthHeader, 0);
        QNetworkReply* reply = mNetwork.put(request, QByteArray());
        if (upload->ticket) {
            upload->ticket->mReply = reply;
        }
        connect(reply, &QNetworkReply::finished, this,
                [this, upload, reply] { handleChunkReply(upload, reply); });
    });
}

void YouTubeService::handleChunkReply(const std::shared_ptr<Upload>& upload, QNetworkReply* reply) {
    reply->deleteLater();
    if (!upload->ticket || upload->ticket->isCancelled()) {
        return;
    }
    const QByteArray answer = reply->readAll();
    const int status = statusOf(reply);
    if (status == 200 || status == 201) {
        emit upload->ticket->progress(upload->data.size(), upload->data.size());
        finish(upload, {}, QJsonDocument::fromJson(answer).object().value("id").toString());
        return;
    }
    if (status == 308) {
        // "Resume Incomplete": the server has bytes 0…last; go on after them.
        qint64 next = 0;
        const QRegularExpressionMatch range =
            QRegularExpression(QStringLiteral("bytes=0-(\\d+)"))
                .match(QString::fromLatin1(reply->rawHeader("Range")));
        if (range.hasMatch()) {
            next = range.captured(1).toLongLong() + 1;
        }
        if (next > upload->data.size()) {
            finish(upload, tr("The video service reports more data than was sent."), {});
            return;
        }
        // Only bytes gained count as progress: a server that keeps
        // failing the same part must not be retried for ever.
        if (next > upload->confirmed) {
            upload->confirmed = next;
            upload->attempts = 0;
        }
        sendFrom(upload, next);
        return;
    }
    if (status == 401 && !upload->refreshed) {
        upload->refreshed = true;
        refreshToken([this, upload](const QString& error) {
            error.isEmpty() ? queryStatus(upload) : finish(upload, error, {});
        });
        return;
    }
    if (isPassing(reply)) {
        // Dropped or refused for now: ask how far it got, after a pause.
        retryLater(upload, describeFailure(reply, answer), [this, upload] { queryStatus(upload); });
        return;
    }
    finish(upload, describeFailure(reply, answer), {});
}
