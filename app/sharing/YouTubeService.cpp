#include "app/sharing/YouTubeService.h"

#include "platform/desktop/UserDefaults.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QElapsedTimer>
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

QString translated(const char* text) {
    return QCoreApplication::translate("YouTubeService", text);
}

// The service's own words for a failure, else the network's.
QString describeFailure(QNetworkReply* reply, const QByteArray& body) {
    if (CappedNetworkAccessManager::wasTooLarge(reply)) {
        return translated("The video service's reply was too large; it was not read.");
    }
    if (reply->error() == QNetworkReply::InsecureRedirectError) {
        return translated("The video service redirected the request to another address; "
                          "it was not followed.");
    }
    const int status = statusOf(reply);
    if (status >= 300 && status < 400) {
        return translated(
                   "The video service redirected the request (HTTP %1); it was not followed.")
            .arg(status);
    }
    const QJsonObject error = QJsonDocument::fromJson(body).object().value("error").toObject();
    QString message = error.value("message").toString();
    if (message.isEmpty()) {
        message = QJsonDocument::fromJson(body).object().value("error_description").toString();
    }
    if (message.isEmpty()) {
        message = reply->errorString();
    }
    return status ? QStringLiteral("%1 (HTTP %2)").arg(message).arg(status) : message;
}

// A reply cut off for its size may have finished before it was cut: its
// error alone does not tell.
bool hasFailed(QNetworkReply* reply) {
    return reply->error() != QNetworkReply::NoError ||
           CappedNetworkAccessManager::wasTooLarge(reply);
}

// Failures that may pass: no answer at all (a dropped connection, a
// timeout) or the server's "try again later".
bool isPassing(QNetworkReply* reply) {
    if (CappedNetworkAccessManager::wasTooLarge(reply) ||
        reply->error() == QNetworkReply::InsecureRedirectError) {
        return false;
    }
    const int status = statusOf(reply);
    if (status == 0) {
        return true;
    }
    return status == 500 || status == 502 || status == 503 || status == 504 || status == 429;
}

bool isLoopbackHost(const QString& host) {
    const QHostAddress address(host);
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
           (!address.isNull() && address.isLoopback());
}

int effectivePort(const QUrl& url) {
    return url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443
                                                                                           : 80);
}

bool isSameOrigin(const QUrl& a, const QUrl& b) {
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           effectivePort(a) == effectivePort(b);
}

QString shown(const QUrl& url) {
    return url.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment);
}

// Every drop of an upload sends the rest of the video again; a server that
// keeps taking a little and asking for the rest could make that go on for
// ever. So an upload sends at most this many times the video's size.
constexpr qint64 kResendFactor = 8;
constexpr qint64 kResendAllowance = 64 * 1024 * 1024;

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

struct YouTubeUpload {
    QPointer<YouTubeUploadTicket> ticket;
    YouTubeVideo video;
    QByteArray data;
    QString mimeType;
    QUrl session;          // the resumable session, on the upload endpoint's origin
    bool accepted = false; // the service took the video's fields and opened a session
    int attempts = 0;      // failures since the server last took more bytes
    qint64 confirmed = 0;  // bytes the server has said it holds
    qint64 sent = 0;       // bytes sent, all tries together
    QElapsedTimer sinceProgress;
    bool refreshed = false;
};

void YouTubeUploadTicket::cancelTicket() {
    mCancelled = true;
    if (mReply) {
        mReply->abort();
    }
    if (mStopped) {
        // Nothing runs any more: the video's bytes can go.
        mUpload.reset();
        deleteLater();
    }
}

bool YouTubeUploadTicket::canResume() const {
    return mStopped && !mCancelled && mUpload;
}

// --- The service --------------------------------------------------------------

YouTubeService::YouTubeService(const YouTubeEndpoints& endpoints, QObject* parent)
    : QObject(parent), mEndpoints(endpoints) {}

YouTubeService::~YouTubeService() = default;

void YouTubeService::setAuthorization(const YouTubeAuthorization& authorization) {
    mAuthorization = authorization;
    emit authorizationChanged();
}

void YouTubeService::signOut() {
    ++mGeneration;
    if (mFlow) {
        mFlow->deleteLater();
        mFlow = nullptr;
    }
    mAuthorization = {};
    // Aborted replies answer at once; their handlers see the new generation.
    for (QNetworkReply* reply : mNetwork.findChildren<QNetworkReply*>()) {
        if (reply->isRunning()) {
            reply->abort();
        }
    }
    emit authorizationChanged();
}

void YouTubeService::setMaximumReplySize(qint64 bytes) {
    mNetwork.setMaximumReplySize(bytes);
}

QString YouTubeService::credentialProblem(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && !url.host().isEmpty() &&
        (scheme == QLatin1String("https") ||
         (scheme == QLatin1String("http") && isLoopbackHost(url.host())))) {
        return {};
    }
    return translated("The video service's address %1 is not a secure (https) one; "
                      "nothing was sent there.")
        .arg(shown(url));
}

QNetworkRequest YouTubeService::authorizedRequest(const QUrl& url) const {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, kUserAgent);
    request.setRawHeader("Authorization", "Bearer " + mAuthorization.accessToken.toUtf8());
    request.setRawHeader("Accept", "application/json");
    return request;
}

QNetworkReply* YouTubeService::send(QNetworkAccessManager::Operation operation,
                                    QNetworkRequest request, const QByteArray& body) {
    request.setTransferTimeout(mTransferTimeout);
    switch (operation) {
    case QNetworkAccessManager::PostOperation:
        return mNetwork.post(request, body);
    case QNetworkAccessManager::PutOperation:
        return mNetwork.put(request, body);
    default:
        return mNetwork.get(request);
    }
}

void YouTubeService::signIn(std::function<void(const QString& error)> done,
                            std::function<void(const QUrl&)> openBrowser) {
    if (!mEndpoints.hasClient()) {
        done(tr("Sign-in needs an OAuth client ID (see the README)."));
        return;
    }
    // The code exchange carries the client secret.
    if (const QString problem = credentialProblem(mEndpoints.token); !problem.isEmpty()) {
        done(problem);
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
    const quint64 generation = mGeneration;
    connect(mFlow, &QAbstractOAuth::granted, this, [this, flow, answer, generation] {
        if (!flow || isStale(generation)) {
            answer(tr("Signed out."));
            return;
        }
        YouTubeAuthorization authorization;
        authorization.accessToken = flow->token();
        authorization.refreshToken = flow->refreshToken();
        authorization.expiry = flow->expirationAt().toUTC();
        mAuthorization = authorization;
        fetchUserName([this, answer, generation] {
            if (isStale(generation)) {
                answer(tr("Signed out."));
                return;
            }
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
    // The flow does not report a code exchange that failed on the way (a
    // refused redirect, a reply too large, an error status): it is watched here.
    const QUrl tokenURL = mEndpoints.token;
    connect(&mNetwork, &QNetworkAccessManager::finished, mFlow,
            [answer, tokenURL](QNetworkReply* reply) {
                if (hasFailed(reply) && reply->request().url().adjusted(QUrl::RemoveQuery) ==
                                            tokenURL.adjusted(QUrl::RemoveQuery)) {
                    answer(describeFailure(reply, reply->readAll()));
                }
            });
    mFlow->grant();
}

void YouTubeService::fetchUserName(std::function<void()> next) {
    QUrl url = withPath(mEndpoints.api, QStringLiteral("/channels"));
    url.setQuery(QStringLiteral("part=snippet&mine=true"));
    if (!credentialProblem(url).isEmpty()) {
        mAuthorization.userName = tr("your channel");
        next();
        return;
    }
    const quint64 generation = mGeneration;
    QNetworkReply* reply = send(QNetworkAccessManager::GetOperation, authorizedRequest(url));
    connect(reply, &QNetworkReply::finished, this, [this, reply, next, generation] {
        reply->deleteLater();
        if (isStale(generation)) {
            next();
            return;
        }
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
    if (const QString problem = credentialProblem(mEndpoints.token); !problem.isEmpty()) {
        next(problem);
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
    const quint64 generation = mGeneration;
    QNetworkReply* reply = send(QNetworkAccessManager::PostOperation, request,
                                form.query(QUrl::FullyEncoded).toUtf8());
    connect(reply, &QNetworkReply::finished, this, [this, reply, next, generation] {
        reply->deleteLater();
        // A sign-out while the refresh ran wins: its answer is not kept.
        if (isStale(generation)) {
            next(tr("Signed out."));
            return;
        }
        const QByteArray body = reply->readAll();
        const QJsonObject object = QJsonDocument::fromJson(body).object();
        if (hasFailed(reply) || !object.contains("access_token")) {
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
        if (const QString problem = credentialProblem(url); !problem.isEmpty()) {
            done({}, problem);
            return;
        }
        const quint64 generation = mGeneration;
        QNetworkReply* reply = send(QNetworkAccessManager::GetOperation, authorizedRequest(url));
        connect(reply, &QNetworkReply::finished, this, [this, reply, done, generation] {
            reply->deleteLater();
            if (isStale(generation)) {
                done({}, tr("Signed out."));
                return;
            }
            const QByteArray body = reply->readAll();
            if (hasFailed(reply)) {
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
    upload->ticket->mUpload = upload;
    upload->video = video;
    upload->data = data;
    upload->mimeType = mimeType.isEmpty() ? QStringLiteral("video/mp4") : mimeType;
    upload->sinceProgress.start();
    YouTubeUploadTicket* ticket = upload->ticket;
    // Started from the event loop, so the caller can connect to the ticket first.
    QTimer::singleShot(0, this, [this, upload] {
        if (upload->ticket && !upload->ticket->isCancelled()) {
            startSession(upload);
        }
    });
    return ticket;
}

bool YouTubeService::resumeUpload(YouTubeUploadTicket* ticket) {
    if (!ticket || !ticket->canResume()) {
        return false;
    }
    const std::shared_ptr<Upload> upload = ticket->mUpload;
    ticket->mStopped = false;
    upload->attempts = 0;
    upload->sent = 0;
    upload->refreshed = false;
    upload->sinceProgress.start();
    QTimer::singleShot(0, this, [this, upload] {
        if (!upload->ticket || upload->ticket->isCancelled()) {
            return;
        }
        // Ask the session how far it got; a session that is gone starts anew.
        upload->session.isEmpty() ? startSession(upload) : queryStatus(upload);
    });
    return true;
}

void YouTubeService::finish(const std::shared_ptr<Upload>& upload, const QString& error,
                            const QString& videoId) {
    YouTubeUploadTicket* ticket = upload->ticket;
    if (!ticket || ticket->isCancelled() || ticket->mStopped) {
        return;
    }
    if (!error.isEmpty() && upload->accepted) {
        // Kept, with its session (if the service still has it), for a resume.
        ticket->mStopped = true;
        ticket->mReply = nullptr;
        emit ticket->finished(error, {});
        return;
    }
    upload->ticket = nullptr;
    ticket->mUpload.reset();
    emit ticket->finished(error, videoId);
    ticket->deleteLater();
}

void YouTubeService::retryLater(const std::shared_ptr<Upload>& upload, const QString& why,
                                std::function<void()> step) {
    if (++upload->attempts > MaximumRetries || upload->sinceProgress.elapsed() >= mStallTimeout) {
        finish(upload, why, {});
        return;
    }
    const int delay = mRetryBaseDelay * (1 << (upload->attempts - 1));
    QTimer::singleShot(delay, this, [upload, step] {
        if (upload->ticket && !upload->ticket->isCancelled() && !upload->ticket->mStopped) {
            step();
        }
    });
}

void YouTubeService::startSession(const std::shared_ptr<Upload>& upload) {
    if (const QString problem = credentialProblem(mEndpoints.upload); !problem.isEmpty()) {
        finish(upload, problem, {});
        return;
    }
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
        const quint64 generation = mGeneration;
        QNetworkReply* reply = send(QNetworkAccessManager::PostOperation, request, body);
        if (upload->ticket) {
            upload->ticket->mReply = reply;
        }
        connect(reply, &QNetworkReply::finished, this, [this, upload, reply, generation] {
            reply->deleteLater();
            if (!upload->ticket || upload->ticket->isCancelled()) {
                return;
            }
            if (isStale(generation)) {
                finish(upload, tr("Signed out."), {});
                return;
            }
            const QByteArray answer = reply->readAll();
            const int status = statusOf(reply);
            if ((status == 200 || status == 201) && !hasFailed(reply)) {
                const QUrl location = reply->header(QNetworkRequest::LocationHeader).toUrl();
                if (!location.isValid() || location.isEmpty()) {
                    finish(upload, tr("The video service gave no upload address."), {});
                    return;
                }
                // The session gets the video and the token: only the upload
                // endpoint's own origin, over a secure connection, may have it.
                const QUrl session = mEndpoints.upload.resolved(location);
                if (!isSameOrigin(session, mEndpoints.upload) ||
                    !credentialProblem(session).isEmpty()) {
                    finish(upload,
                           tr("The video service gave an upload address elsewhere (%1); "
                              "nothing was sent there.")
                               .arg(shown(session)),
                           {});
                    return;
                }
                upload->session = session;
                upload->accepted = true;
                upload->attempts = 0;
                upload->confirmed = 0;
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

namespace {

// The session's requests follow no redirect at all: 308 means "go on"
// there, and anything else that moves the video is refused.
QNetworkRequest withoutRedirects(QNetworkRequest request) {
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    return request;
}

} // namespace

void YouTubeService::sendFrom(const std::shared_ptr<Upload>& upload, qint64 offset) {
    const qint64 total = upload->data.size();
    upload->sent += total - offset;
    if (upload->sent > kResendFactor * total + kResendAllowance) {
        finish(upload,
               tr("The video service keeps asking for the video again; the upload was stopped."),
               {});
        return;
    }
    QNetworkRequest request = withoutRedirects(authorizedRequest(upload->session));
    request.setHeader(QNetworkRequest::ContentTypeHeader, upload->mimeType);
    if (total > 0) {
        request.setRawHeader("Content-Range", QStringLiteral("bytes %1-%2/%3")
                                                  .arg(offset)
                                                  .arg(total - 1)
                                                  .arg(total)
                                                  .toLatin1());
    }
    const quint64 generation = mGeneration;
    QNetworkReply* reply =
        send(QNetworkAccessManager::PutOperation, request, upload->data.mid(offset));
    if (upload->ticket) {
        upload->ticket->mReply = reply;
    }
    connect(reply, &QNetworkReply::uploadProgress, this, [upload, offset, total](qint64 sent, qint64) {
        if (upload->ticket && !upload->ticket->isCancelled()) {
            emit upload->ticket->progress(offset + sent, total);
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, upload, reply, generation] {
        handleChunkReply(upload, reply, generation, false);
    });
}

void YouTubeService::queryStatus(const std::shared_ptr<Upload>& upload) {
    withFreshToken([this, upload](const QString& error) {
        if (!error.isEmpty()) {
            finish(upload, error, {});
            return;
        }
        QNetworkRequest request = withoutRedirects(authorizedRequest(upload->session));
        request.setRawHeader("Content-Range",
                             QStringLiteral("bytes */%1").arg(upload->data.size()).toLatin1());
        request.setHeader(QNetworkRequest::ContentLengthHeader, 0);
        const quint64 generation = mGeneration;
        QNetworkReply* reply = send(QNetworkAccessManager::PutOperation, request);
        if (upload->ticket) {
            upload->ticket->mReply = reply;
        }
        connect(reply, &QNetworkReply::finished, this, [this, upload, reply, generation] {
            handleChunkReply(upload, reply, generation, true);
        });
    });
}

void YouTubeService::handleChunkReply(const std::shared_ptr<Upload>& upload, QNetworkReply* reply,
                                      quint64 generation, bool statusQuery) {
    reply->deleteLater();
    if (!upload->ticket || upload->ticket->isCancelled()) {
        return;
    }
    if (isStale(generation)) {
        finish(upload, tr("Signed out."), {});
        return;
    }
    const QByteArray answer = reply->readAll();
    const int status = statusOf(reply);
    if ((status == 200 || status == 201) && !hasFailed(reply)) {
        emit upload->ticket->progress(upload->data.size(), upload->data.size());
        const QString videoId = QJsonDocument::fromJson(answer).object().value("id").toString();
        finish(upload, {}, videoId);
        return;
    }
    if (status == 308 && !CappedNetworkAccessManager::wasTooLarge(reply)) {
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
        if (next > upload->confirmed) {
            upload->confirmed = next;
            upload->attempts = 0;
            upload->sinceProgress.start();
        } else if (!statusQuery) {
            // Sent, and nothing of it kept: a failed try like any other, so
            // a server that keeps doing this cannot have the video for ever.
            retryLater(upload, tr("The video service does not keep what is sent to it."),
                       [this, upload, next] { sendFrom(upload, next); });
            return;
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
    if (status == 404 || status == 410) {
        // The session has expired: a resume starts a new one.
        upload->session.clear();
        upload->confirmed = 0;
        finish(upload, tr("The upload session has expired; try again."), {});
        return;
    }
    if (isPassing(reply)) {
        // Dropped or refused for now: ask how far it got, after a pause.
        retryLater(upload, describeFailure(reply, answer), [this, upload] { queryStatus(upload); });
        return;
    }
    finish(upload, describeFailure(reply, answer), {});
}
