#pragma once

#include "app/sharing/CappedNetworkAccessManager.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

class QNetworkReply;
class QOAuth2AuthorizationCodeFlow;

// Where the video service is. Every address is a setting (see `fromDefaults`),
// so that the tests run against a server on loopback.
struct YouTubeEndpoints {
    QUrl authorization; // the sign-in page
    QUrl token;         // code exchange and refresh
    QUrl api;           // the Data API's root ("…/youtube/v3")
    QUrl upload;        // resumable uploads ("…/upload/youtube/v3/videos")
    QUrl web;           // the site, for "/my_videos" and "/signup"
    QString clientIdentifier;
    QString clientSecret;
    QString scope = QStringLiteral("https://www.googleapis.com/auth/youtube.upload "
                                   "https://www.googleapis.com/auth/youtube.readonly");

    // The "YouTube…" user defaults, with the service's own addresses as defaults.
    static YouTubeEndpoints fromDefaults();
    static void registerDefaults();
    // Sign-in needs the user's own OAuth client.
    bool hasClient() const { return !clientIdentifier.isEmpty(); }
};

// A signed-in user's authorization.
struct YouTubeAuthorization {
    QString accessToken;
    QString refreshToken;
    QDateTime expiry; // UTC; invalid when unknown
    QString userName; // the channel's title
    bool canAuthorize() const { return !accessToken.isEmpty() || !refreshToken.isEmpty(); }
    QByteArray serialized() const;
    static YouTubeAuthorization deserialized(const QByteArray& data);
};

struct YouTubeCategory {
    QString term;  // the category's id
    QString label; // its title; the term when it has none
};

struct YouTubeVideo {
    QString title;
    QString description;
    QStringList keywords;
    QString category; // a term
    bool isPrivate = false;
};

struct YouTubeUpload;

// One running upload: progress in bytes, then one completion. Cancelling
// stops it and no completion follows.
//
// An upload that fails after the service opened its resumable session is
// kept (with the video's bytes) so that `YouTubeService::resumeUpload` can
// go on where it stopped; cancelling it lets it go.
class YouTubeUploadTicket : public QObject {
    Q_OBJECT

public:
    void cancelTicket();
    bool isCancelled() const { return mCancelled; }
    // Failed, with a session the service may still hold.
    bool canResume() const;

signals:
    void progress(qint64 bytesSent, qint64 totalBytes);
    // `error` is empty on success; `videoId` names the new video.
    void finished(const QString& error, const QString& videoId);

private:
    friend class YouTubeService;
    using QObject::QObject;
    bool mCancelled = false;
    bool mStopped = false;
    QPointer<QNetworkReply> mReply;
    std::shared_ptr<YouTubeUpload> mUpload;
};

// The video service over its public API: OAuth 2 sign-in through the
// browser with a loopback redirect and PKCE, token refresh, the assignable
// categories, and resumable uploads that resume after an interruption and
// retry the server's passing failures with growing pauses.
//
// The server is not trusted with more than it needs:
// - credentials (the token, the client secret) go only to the configured
//   addresses, which must be https (plain http only on the loopback), and
//   the upload's session only to the upload endpoint's own origin;
// - a redirect to another origin fails the request, and the upload follows
//   none at all;
// - replies are capped at 1 MB;
// - an upload that makes no progress gives up after `MaximumRetries`
//   growing pauses or `stallTimeout`, whichever comes first, and one whose
//   server keeps asking for the same bytes gives up after sending the video
//   a bounded number of times;
// - after `signOut` nothing that was on its way changes the authorization.
//
// Main thread only; everything answers through callbacks and signals.
class YouTubeService : public QObject {
    Q_OBJECT

public:
    explicit YouTubeService(const YouTubeEndpoints& endpoints, QObject* parent = nullptr);
    ~YouTubeService() override;

    const YouTubeEndpoints& endpoints() const { return mEndpoints; }
    const YouTubeAuthorization& authorization() const { return mAuthorization; }
    void setAuthorization(const YouTubeAuthorization& authorization);
    bool isSignedIn() const { return mAuthorization.canAuthorize(); }
    // Forgets the authorization and stops everything on its way: requests
    // still running fail with "signed out", and their late answers are
    // dropped.
    void signOut();

    // Opens the browser on the sign-in page (`openBrowser` replaces that,
    // for tests) and waits for its redirect on loopback; then exchanges the
    // code, learns the channel's name and answers. An empty error is success.
    void signIn(std::function<void(const QString& error)> done,
                std::function<void(const QUrl&)> openBrowser = {});

    void fetchCategories(const QString& regionCode,
                         std::function<void(const QList<YouTubeCategory>&, const QString& error)> done);

    // Uploads `data` as a new video. The ticket belongs to the service.
    YouTubeUploadTicket* uploadVideo(const YouTubeVideo& video, const QByteArray& data,
                                     const QString& mimeType);
    // Goes on with a failed upload where the server stopped (a new session
    // when the old one is gone). False when the ticket cannot resume.
    bool resumeUpload(YouTubeUploadTicket* ticket);

    // Pauses before retrying a failed upload step: base × 2^attempt.
    void setRetryBaseDelay(int milliseconds) { mRetryBaseDelay = milliseconds; }
    static constexpr int MaximumRetries = 6;
    // How long an upload may go without the server taking more of it.
    void setStallTimeout(int milliseconds) { mStallTimeout = milliseconds; }
    // How long one request may go without a byte moving either way.
    void setTransferTimeout(int milliseconds) { mTransferTimeout = milliseconds; }
    void setMaximumReplySize(qint64 bytes);

    // Empty when `url` may be sent credentials, else why not.
    static QString credentialProblem(const QUrl& url);

signals:
    void authorizationChanged();

private:
    using Upload = YouTubeUpload;
    QNetworkReply* send(QNetworkAccessManager::Operation operation, QNetworkRequest request,
                        const QByteArray& body = {});
    bool isStale(quint64 generation) const { return generation != mGeneration; }
    void withFreshToken(std::function<void(const QString& error)> next);
    void refreshToken(std::function<void(const QString& error)> next);
    void fetchUserName(std::function<void()> next);
    QNetworkRequest authorizedRequest(const QUrl& url) const;
    void startSession(const std::shared_ptr<Upload>& upload);
    void sendFrom(const std::shared_ptr<Upload>& upload, qint64 offset);
    void queryStatus(const std::shared_ptr<Upload>& upload);
    void retryLater(const std::shared_ptr<Upload>& upload, const QString& why,
                    std::function<void()> step);
    void handleChunkReply(const std::shared_ptr<Upload>& upload, QNetworkReply* reply,
                          quint64 generation, bool statusQuery);
    void finish(const std::shared_ptr<Upload>& upload, const QString& error, const QString& videoId);

    YouTubeEndpoints mEndpoints;
    YouTubeAuthorization mAuthorization;
    CappedNetworkAccessManager mNetwork;
    QPointer<QOAuth2AuthorizationCodeFlow> mFlow;
    quint64 mGeneration = 0; // grows with every sign-out
    int mRetryBaseDelay = 1000;
    int mStallTimeout = 5 * 60 * 1000;
    int mTransferTimeout = 60 * 1000;
};
