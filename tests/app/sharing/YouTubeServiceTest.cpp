#include "app/sharing/YouTubeService.h"
#include "FakeVideoService.h"
#include "app/sharing/YouTubeWindowController.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <gtest/gtest.h>
#include <qt6keychain/keychain.h>

namespace {

bool pumpUntil(const std::function<bool()>& done, int milliseconds = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

QByteArray movieBytes(int size) {
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        data[i] = static_cast<char>((i * 131) ^ (i >> 7));
    }
    return data;
}

struct UploadResult {
    bool done = false;
    QString error;
    QString videoId;
    QList<qint64> progress;
    qint64 total = 0;
};

void runUpload(YouTubeService& service, const YouTubeVideo& video, const QByteArray& data,
               UploadResult* result) {
    YouTubeUploadTicket* ticket = service.uploadVideo(video, data, "video/quicktime");
    QObject::connect(ticket, &YouTubeUploadTicket::progress, [result](qint64 sent, qint64 total) {
        result->progress << sent;
        result->total = total;
    });
    QObject::connect(ticket, &YouTubeUploadTicket::finished,
                     [result](const QString& error, const QString& id) {
                         result->done = true;
                         result->error = error;
                         result->videoId = id;
                     });
    ASSERT_TRUE(pumpUntil([result] { return result->done; }));
}

// A sign-in whose browser says yes at once: the redirect comes back with the
// code. `opened` gets the sign-in page's address.
QString signInThrough(YouTubeService& service, FakeVideoService& server, QUrl* opened = nullptr) {
    QNetworkAccessManager browser;
    bool done = false;
    QString error;
    service.signIn(
        [&](const QString& failure) {
            done = true;
            error = failure;
        },
        [&](const QUrl& url) {
            if (opened) {
                *opened = url;
            }
            const QUrlQuery query(url);
            server.codeChallenge = query.queryItemValue("code_challenge");
            QUrl redirect(query.queryItemValue("redirect_uri", QUrl::FullyDecoded));
            redirect.setQuery(QStringLiteral("code=the-code&state=%1")
                                  .arg(query.queryItemValue("state", QUrl::FullyEncoded)));
            browser.get(QNetworkRequest(redirect));
        });
    EXPECT_TRUE(pumpUntil([&] { return done; }));
    return error;
}

YouTubeAuthorization signedIn(const QString& token = "A1") {
    YouTubeAuthorization authorization;
    authorization.accessToken = token;
    authorization.refreshToken = "R1";
    authorization.expiry = QDateTime::currentDateTimeUtc().addSecs(3600);
    return authorization;
}

} // namespace

TEST(YouTubeService, SignInExchangesTheCodeWithItsVerifierAndNamesTheChannel) {
    FakeVideoService server;
    YouTubeService service(server.endpoints());
    QUrl opened;
    const QString error = signInThrough(service, server, &opened);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    const QUrlQuery query(opened);
    EXPECT_EQ(opened.path(), "/auth");
    EXPECT_EQ(query.queryItemValue("code_challenge_method"), "S256");
    EXPECT_EQ(query.queryItemValue("response_type"), "code");
    EXPECT_TRUE(QUrl(query.queryItemValue("redirect_uri", QUrl::FullyDecoded)).host() == "127.0.0.1");
    EXPECT_EQ(service.authorization().accessToken, "A1");
    EXPECT_EQ(service.authorization().refreshToken, "R1");
    EXPECT_EQ(service.authorization().userName, "Tape Club");
    EXPECT_TRUE(service.isSignedIn());

    // The authorization survives a round trip through its stored form.
    const YouTubeAuthorization back =
        YouTubeAuthorization::deserialized(service.authorization().serialized());
    EXPECT_EQ(back.refreshToken, "R1");
    EXPECT_EQ(back.userName, "Tape Club");
}

TEST(YouTubeService, WithoutAClientSignInSaysSoInsteadOfFailing) {
    YouTubeEndpoints endpoints;
    YouTubeService service(endpoints);
    QString error;
    service.signIn([&](const QString& failure) { error = failure; });
    EXPECT_TRUE(error.contains("client ID")) << error.toStdString();
}

TEST(YouTubeService, CategoriesAreTheAssignableOnesWithTheirTermsAsFallbackLabels) {
    FakeVideoService server;
    YouTubeService service(server.endpoints());
    service.setAuthorization(signedIn());
    QList<YouTubeCategory> categories;
    bool done = false;
    service.fetchCategories("GB", [&](const QList<YouTubeCategory>& list, const QString& error) {
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        categories = list;
        done = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    ASSERT_EQ(categories.size(), 2);
    EXPECT_EQ(categories[0].term, "1");
    EXPECT_EQ(categories[0].label, "Film & Animation");
    EXPECT_EQ(categories[1].term, "22");
    EXPECT_EQ(categories[1].label, "22");
    EXPECT_EQ(server.requests.last().query.queryItemValue("regionCode"), "GB");
}

TEST(YouTubeService, AnInterruptedUploadResumesWhereTheServerStopped) {
    FakeVideoService server;
    // Cut three times: the network library resends a dropped request by
    // itself, and gives up after that; then the upload resumes itself.
    server.dropAfterBytes = 300000;
    server.drops = 3;
    YouTubeService service(server.endpoints());
    service.setRetryBaseDelay(10);
    service.setAuthorization(signedIn());
    const QByteArray data = movieBytes(1000000);
    YouTubeVideo video{"Tuesday rehearsal", "abc\n\nCreated with Cassora", {"cassora", "tape"}, "22", true};
    UploadResult result;
    runUpload(service, video, data, &result);
    EXPECT_TRUE(result.error.isEmpty()) << result.error.toStdString();
    EXPECT_EQ(result.videoId, "VIDEO1");
    EXPECT_EQ(server.received, data);
    EXPECT_EQ(server.declaredLength, data.size());
    // The session carried the video's fields, private.
    const QJsonObject snippet = server.metadata.value("snippet").toObject();
    EXPECT_EQ(snippet.value("title").toString(), "Tuesday rehearsal");
    EXPECT_EQ(snippet.value("description").toString(), "abc\n\nCreated with Cassora");
    EXPECT_EQ(snippet.value("categoryId").toString(), "22");
    EXPECT_EQ(snippet.value("tags").toArray(), QJsonArray({"cassora", "tape"}));
    EXPECT_EQ(server.metadata.value("status").toObject().value("privacyStatus").toString(), "private");
    // After the drop it asked how far the upload got, and sent only the rest.
    EXPECT_GE(server.count("PUT", "/upload/session"), 2);
    bool asked = false, resumed = false;
    for (const auto& request : server.requests) {
        const QByteArray range = request.headers.value("content-range");
        asked |= range == "bytes */1000000";
        resumed |= asked && range.startsWith("bytes ") && !range.startsWith("bytes 0-") &&
                   !range.startsWith("bytes */");
    }
    EXPECT_TRUE(asked);
    EXPECT_TRUE(resumed);
    // Progress counts bytes of the whole movie, never backwards past the resume point, to the end.
    ASSERT_FALSE(result.progress.isEmpty());
    EXPECT_EQ(result.progress.last(), data.size());
    EXPECT_EQ(result.total, data.size());
}

TEST(YouTubeService, AnExpiredTokenIsRefreshedAndPassingFailuresAreRetried) {
    FakeVideoService server;
    server.failWith503 = 2;
    server.validToken = "A1";
    YouTubeService service(server.endpoints());
    service.setRetryBaseDelay(10);
    YouTubeAuthorization expired = signedIn("A0");
    expired.expiry = QDateTime::currentDateTimeUtc().addSecs(-10);
    service.setAuthorization(expired);
    const QByteArray data = movieBytes(50000);
    UploadResult result;
    runUpload(service, YouTubeVideo{"t", "d", {"cassora"}, "1", false}, data, &result);
    EXPECT_TRUE(result.error.isEmpty()) << result.error.toStdString();
    EXPECT_EQ(service.authorization().accessToken, "A2");
    EXPECT_EQ(server.count("POST", "/token"), 1);
    EXPECT_EQ(server.received, data);
    EXPECT_EQ(server.metadata.value("status").toObject().value("privacyStatus").toString(), "public");

    // A token the server stops taking is refreshed once, then the upload goes on.
    FakeVideoService second;
    YouTubeService again(second.endpoints());
    again.setRetryBaseDelay(10);
    again.setAuthorization(signedIn("A1"));
    second.validToken = "A-other"; // A1 now refused; the refresh gives A2
    UploadResult refused;
    runUpload(again, YouTubeVideo{"t", "d", {}, "1", false}, data, &refused);
    EXPECT_TRUE(refused.error.isEmpty()) << refused.error.toStdString();
    EXPECT_EQ(second.received, data);
}

TEST(YouTubeService, AFailureThatLastsIsReportedAndACancelledUploadEndsSilently) {
    FakeVideoService server;
    server.failWith503 = 100;
    YouTubeService service(server.endpoints());
    service.setRetryBaseDelay(1);
    service.setAuthorization(signedIn());
    UploadResult result;
    runUpload(service, YouTubeVideo{"t", "d", {}, "1", false}, movieBytes(1000), &result);
    EXPECT_TRUE(result.error.contains("Backend Error")) << result.error.toStdString();
    // Every try of the data, and a question of how far it got between them.
    EXPECT_EQ(server.count("PUT", "/upload/session"), 2 * YouTubeService::MaximumRetries + 1);

    FakeVideoService other;
    YouTubeService quiet(other.endpoints());
    quiet.setAuthorization(signedIn());
    bool finished = false;
    YouTubeUploadTicket* ticket = quiet.uploadVideo({"t", "d", {}, "1", false}, movieBytes(1000), {});
    QObject::connect(ticket, &YouTubeUploadTicket::finished, [&] { finished = true; });
    ticket->cancelTicket();
    pumpUntil([] { return false; }, 300);
    EXPECT_FALSE(finished);
    EXPECT_EQ(other.count("POST", "/upload"), 0);
}

namespace {

// The Secret Service's copy of the sign-in: its read error (NoError when there is one).
QKeychain::Error storedSignIn() {
    QKeychain::ReadPasswordJob job(YouTubeWindowController::KeychainItemName);
    job.setAutoDelete(false);
    job.setKey("authorization");
    bool done = false;
    QObject::connect(&job, &QKeychain::Job::finished, [&] { done = true; });
    job.start();
    pumpUntil([&] { return done; }, 10000);
    return job.error();
}

struct Outcome {
    bool done = false;
    QString error;
};

void fetchCategories(YouTubeService& service, Outcome* outcome) {
    service.fetchCategories("GB", [outcome](const QList<YouTubeCategory>&, const QString& error) {
        outcome->done = true;
        outcome->error = error;
    });
}

} // namespace

// A server that tries to take the video or the credentials elsewhere, to
// reach a local file, to keep the upload going for ever or to fill memory:
// every try ends in a reported failure, nothing reaches the second listener,
// the local file is untouched, and after Sign Out nothing is kept.
TEST(YouTubeHostileServer, NothingLeavesTheServiceAndNothingRunsForEver) {
    FakeVideoService elsewhere; // must never hear from us
    QTemporaryDir folder;
    const QString important = QDir(folder.path()).filePath("important.txt");
    {
        QFile file(important);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    const QDateTime importantModified = QFileInfo(important).lastModified();
    const QByteArray data = movieBytes(200000);
    const YouTubeVideo video{"t", "d", {"cassora"}, "1", false};

    for (const QByteArray& location : {QUrl::fromLocalFile(important).toEncoded(),
                                       elsewhere.url("/upload/session/1").toEncoded(),
                                       QByteArray("https://127.0.0.1:1/upload/session/1")}) {
        SCOPED_TRACE(location.toStdString());
        FakeVideoService server;
        server.sessionLocation = location;
        YouTubeService service(server.endpoints());
        service.setAuthorization(signedIn());
        UploadResult result;
        runUpload(service, video, data, &result);
        EXPECT_TRUE(result.error.contains("elsewhere")) << result.error.toStdString();
        EXPECT_EQ(server.count("PUT", "/"), 0);
    }

    const QList<QPair<QString, QString>> redirected = {{"/upload/session", "the upload"},
                                                       {"/upload/youtube", "the upload's session"},
                                                       {"/youtube/v3/videoCategories", "the API"},
                                                       {"/token", "the token"}};
    for (const auto& [path, what] : redirected) {
        SCOPED_TRACE(what.toStdString());
        FakeVideoService server;
        server.redirects.insert(path, elsewhere.url(path));
        YouTubeService service(server.endpoints());
        service.setRetryBaseDelay(1);
        YouTubeAuthorization authorization = signedIn();
        if (path == "/token") {
            authorization.expiry = QDateTime::currentDateTimeUtc().addSecs(-10);
        }
        service.setAuthorization(authorization);
        if (path.startsWith("/upload")) {
            UploadResult result;
            runUpload(service, video, data, &result);
            EXPECT_TRUE(result.error.contains("redirected")) << result.error.toStdString();
        } else {
            Outcome outcome;
            fetchCategories(service, &outcome);
            ASSERT_TRUE(pumpUntil([&] { return outcome.done; }));
            EXPECT_TRUE(outcome.error.contains("redirected")) << outcome.error.toStdString();
        }
        EXPECT_EQ(service.authorization().accessToken, authorization.accessToken);
    }
    {
        // The sign-in's code exchange, which carries the client secret.
        FakeVideoService server;
        server.redirects.insert("/token", elsewhere.url("/token"));
        YouTubeService service(server.endpoints());
        EXPECT_FALSE(signInThrough(service, server).isEmpty());
        EXPECT_FALSE(service.isSignedIn());
    }
    EXPECT_EQ(elsewhere.connections, 0);
    EXPECT_TRUE(elsewhere.requests.isEmpty());
    {
        QFile file(important);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), "keep me");
        EXPECT_EQ(QFileInfo(important).lastModified(), importantModified);
    }

    {
        // A server that keeps nothing: each try counts, with a pause, and
        // the upload stops; the session is kept, and a retry goes on.
        FakeVideoService server;
        server.keepsNothing = true;
        YouTubeService service(server.endpoints());
        service.setRetryBaseDelay(1);
        service.setAuthorization(signedIn());
        YouTubeUploadTicket* ticket = service.uploadVideo(video, data, "video/quicktime");
        QPointer<YouTubeUploadTicket> kept = ticket;
        QString error;
        bool done = false;
        QObject::connect(ticket, &YouTubeUploadTicket::finished,
                         [&](const QString& failure, const QString&) {
                             error = failure;
                             done = true;
                         });
        ASSERT_TRUE(pumpUntil([&] { return done; }));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(server.count("PUT", "/upload/session"), YouTubeService::MaximumRetries + 1);
        ASSERT_TRUE(kept && kept->canResume());
        server.keepsNothing = false;
        done = false;
        ASSERT_TRUE(service.resumeUpload(kept));
        ASSERT_TRUE(pumpUntil([&] { return done; }));
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        EXPECT_EQ(server.received, data);
        EXPECT_EQ(server.count("POST", "/upload"), 1); // the same session
    }
    {
        // With long pauses, the time without progress ends it sooner.
        FakeVideoService server;
        server.keepsNothing = true;
        YouTubeService service(server.endpoints());
        service.setRetryBaseDelay(40);
        service.setStallTimeout(100);
        service.setAuthorization(signedIn());
        UploadResult result;
        runUpload(service, video, data, &result);
        EXPECT_FALSE(result.error.isEmpty());
        EXPECT_LE(server.count("PUT", "/upload/session"), 3);
    }

    for (const bool declared : {true, false}) {
        SCOPED_TRACE(declared ? "a declared length" : "no length");
        FakeVideoService server;
        server.oversizedReply = 8 * 1024 * 1024;
        server.declaresOversizedLength = declared;
        YouTubeService service(server.endpoints());
        service.setAuthorization(signedIn());
        Outcome outcome;
        fetchCategories(service, &outcome);
        ASSERT_TRUE(pumpUntil([&] { return outcome.done; }));
        EXPECT_TRUE(outcome.error.contains("too large"))
            << "[" << outcome.error.toStdString() << "]";
    }

    {
        // Sign Out while a refresh is on its way: the refresh's late answer
        // is dropped, and the keyring stays empty.
        FakeVideoService server;
        server.holdsTokenRequests = true;
        YouTubeWindowController window(server.endpoints());
        YouTubeAuthorization expired = signedIn("A0");
        expired.expiry = QDateTime::currentDateTimeUtc().addSecs(-10);
        expired.userName = "Tape Club";
        window.youTubeService()->setAuthorization(expired);
        Outcome outcome;
        fetchCategories(*window.youTubeService(), &outcome);
        ASSERT_TRUE(pumpUntil([&] { return server.count("POST", "/token") == 1; }));
        window.signInOrOut();
        EXPECT_FALSE(window.isSignedIn());
        ASSERT_TRUE(pumpUntil([&] { return outcome.done; }));
        EXPECT_FALSE(outcome.error.isEmpty());
        int changes = 0;
        QObject::connect(window.youTubeService(), &YouTubeService::authorizationChanged,
                         [&] { ++changes; });
        server.releaseTokenRequests();
        pumpUntil([] { return false; }, 300);
        EXPECT_EQ(changes, 0);
        EXPECT_FALSE(window.isSignedIn());
        EXPECT_TRUE(window.youTubeService()->authorization().refreshToken.isEmpty());
        if (!qEnvironmentVariableIsEmpty("CASSORA_SECRET_SERVICE")) {
            EXPECT_TRUE(
                pumpUntil([] { return storedSignIn() == QKeychain::EntryNotFound; }, 10000));
        }
    }
}
