#include "app/sharing/YouTubeService.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace {

// A small HTTP/1.1 server on loopback that speaks the video service's API
// as far as Cassora uses it, checks the requests' shapes and can misbehave:
// drop a connection in the middle of an upload, or answer 503.
class FakeVideoService : public QObject {
public:
    struct Request {
        QByteArray method;
        QString path;
        QUrlQuery query;
        QMap<QByteArray, QByteArray> headers; // lower-case names
        QByteArray body;
    };

    FakeVideoService() {
        mServer.listen(QHostAddress::LocalHost, 0);
        connect(&mServer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = mServer.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(mServer.serverPort()).arg(path));
    }
    YouTubeEndpoints endpoints() const {
        YouTubeEndpoints endpoints;
        endpoints.authorization = url("/auth");
        endpoints.token = url("/token");
        endpoints.api = url("/youtube/v3");
        endpoints.upload = url("/upload/youtube/v3/videos");
        endpoints.web = url("/");
        endpoints.clientIdentifier = "client.apps.example";
        endpoints.clientSecret = "secret";
        return endpoints;
    }

    // Behaviour
    QString codeChallenge;         // from the authorization request
    QString validToken = "A1";     // the one access token accepted
    int dropAfterBytes = -1;       // upload PUTs are cut after this many bytes…
    int drops = 0;                 // …this many times
    int failWith503 = 0;           // upload PUTs answered 503 first
    // What came
    QList<Request> requests;
    QByteArray received;           // the video's bytes, as stored
    QJsonObject metadata;
    qint64 declaredLength = -1;

    int count(const QByteArray& method, const QString& pathPrefix) const {
        int n = 0;
        for (const Request& request : requests) {
            n += request.method == method && request.path.startsWith(pathPrefix);
        }
        return n;
    }

private:
    void readFrom(QTcpSocket* socket) {
        QByteArray& buffer = mBuffers[socket];
        buffer += socket->readAll();
        for (;;) {
            const int end = buffer.indexOf("\r\n\r\n");
            if (end < 0) {
                return;
            }
            Request request;
            const QList<QByteArray> lines = buffer.left(end).split('\n');
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            request.method = first.value(0);
            const QUrl target(QString::fromLatin1(first.value(1)));
            request.path = target.path();
            request.query = QUrlQuery(target);
            for (int i = 1; i < lines.size(); ++i) {
                const int colon = lines[i].indexOf(':');
                if (colon > 0) {
                    request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                           lines[i].mid(colon + 1).trimmed());
                }
            }
            const qint64 length = request.headers.value("content-length", "0").toLongLong();
            const qint64 available = buffer.size() - end - 4;
            if (request.method == "PUT" && drops > 0 && available >= dropAfterBytes &&
                length > dropAfterBytes && request.path.startsWith("/upload/session")) {
                // The network drops mid-upload: what came is kept, the rest is lost.
                request.body = buffer.mid(end + 4, dropAfterBytes);
                store(request);
                requests << request;
                --drops;
                mBuffers.remove(socket);
                socket->abort();
                return;
            }
            if (available < length) {
                return;
            }
            request.body = buffer.mid(end + 4, length);
            buffer.remove(0, end + 4 + length);
            requests << request;
            respond(socket, request);
        }
    }

    void send(QTcpSocket* socket, int status, const QByteArray& body,
              const QList<QPair<QByteArray, QByteArray>>& headers = {}) {
        QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + " Status\r\n";
        for (const auto& [name, value] : headers) {
            response += name + ": " + value + "\r\n";
        }
        response += "Content-Type: application/json\r\nContent-Length: " +
                    QByteArray::number(body.size()) + "\r\n\r\n" + body;
        socket->write(response);
    }

    bool authorized(const Request& request) const {
        return request.headers.value("authorization") == "Bearer " + validToken.toUtf8();
    }

    void store(const Request& request) {
        const QRegularExpressionMatch range =
            QRegularExpression("bytes (\\d+)-(\\d+)/(\\d+)").match(request.headers.value("content-range"));
        if (!range.hasMatch()) {
            return;
        }
        const qint64 from = range.captured(1).toLongLong();
        if (from > received.size()) {
            return; // a gap: refused
        }
        received = received.left(from) + request.body;
    }

    QByteArray rangeHeader() const {
        return received.isEmpty() ? QByteArray() : "bytes=0-" + QByteArray::number(received.size() - 1);
    }

    void respond(QTcpSocket* socket, const Request& request) {
        if (request.path == "/token") {
            const QUrlQuery form(QString::fromUtf8(request.body));
            const QString grant = form.queryItemValue("grant_type");
            if (grant == "authorization_code") {
                const QString verifier = form.queryItemValue("code_verifier");
                const QString challenge = QString::fromLatin1(
                    QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
                        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
                if (form.queryItemValue("code") != "the-code" || verifier.isEmpty() ||
                    challenge != codeChallenge || form.queryItemValue("client_id") != "client.apps.example") {
                    send(socket, 400, R"({"error":"invalid_grant"})");
                    return;
                }
                send(socket, 200,
                     R"({"access_token":"A1","refresh_token":"R1","expires_in":3600,"token_type":"Bearer"})");
            } else if (grant == "refresh_token" && form.queryItemValue("refresh_token") == "R1") {
                validToken = "A2";
                send(socket, 200, R"({"access_token":"A2","expires_in":3600,"token_type":"Bearer"})");
            } else {
                send(socket, 400, R"({"error":"invalid_grant"})");
            }
            return;
        }
        if (!authorized(request)) {
            send(socket, 401, R"({"error":{"code":401,"message":"Invalid Credentials"}})");
            return;
        }
        if (request.path == "/youtube/v3/channels") {
            send(socket, 200, R"({"items":[{"snippet":{"title":"Tape Club"}}]})");
        } else if (request.path == "/youtube/v3/videoCategories") {
            send(socket, 200, R"({"items":[
                {"id":"1","snippet":{"title":"Film & Animation","assignable":true}},
                {"id":"18","snippet":{"title":"Short Movies","assignable":false}},
                {"id":"22","snippet":{"assignable":true}}]})");
        } else if (request.path == "/upload/youtube/v3/videos" && request.method == "POST") {
            if (request.query.queryItemValue("uploadType") != "resumable" ||
                request.query.queryItemValue("part") != "snippet,status") {
                send(socket, 400, R"({"error":{"message":"bad upload request"}})");
                return;
            }
            metadata = QJsonDocument::fromJson(request.body).object();
            declaredLength = request.headers.value("x-upload-content-length").toLongLong();
            send(socket, 200, "{}", {{"Location", url("/upload/session/1").toEncoded()}});
        } else if (request.path == "/upload/session/1" && request.method == "PUT") {
            const QByteArray range = request.headers.value("content-range");
            if (range.startsWith("bytes */")) {
                QList<QPair<QByteArray, QByteArray>> headers;
                if (!received.isEmpty()) {
                    headers << qMakePair(QByteArray("Range"), rangeHeader());
                }
                if (received.size() == declaredLength) {
                    send(socket, 200, R"({"id":"VIDEO1"})");
                } else {
                    send(socket, 308, "", headers);
                }
                return;
            }
            if (failWith503 > 0) {
                --failWith503;
                send(socket, 503, R"({"error":{"message":"Backend Error"}})");
                return;
            }
            store(request);
            if (received.size() == declaredLength) {
                send(socket, 200, R"({"id":"VIDEO1","status":{"privacyStatus":"private"}})");
            } else {
                send(socket, 308, "", {{"Range", rangeHeader()}});
            }
        } else {
            send(socket, 404, R"({"error":{"message":"not found"}})");
        }
    }

    QTcpServer mServer;
    QHash<QTcpSocket*, QByteArray> mBuffers;
};

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
    QNetworkAccessManager browser;
    QUrl opened;
    bool done = false;
    QString error;
    service.signIn(
        [&](const QString& failure) {
            done = true;
            error = failure;
        },
        [&](const QUrl& url) {
            // The browser: the user says yes, and the service redirects back.
            opened = url;
            const QUrlQuery query(url);
            server.codeChallenge = query.queryItemValue("code_challenge");
            QUrl redirect(query.queryItemValue("redirect_uri", QUrl::FullyDecoded));
            redirect.setQuery(QStringLiteral("code=the-code&state=%1")
                                  .arg(query.queryItemValue("state", QUrl::FullyEncoded)));
            browser.get(QNetworkRequest(redirect));
        });
    ASSERT_TRUE(pumpUntil([&] { return done; }));
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
