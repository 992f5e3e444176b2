#pragma once

#include "app/sharing/YouTubeService.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

#include <utility>

// A small HTTP/1.1 server on loopback that speaks the video service's API
// as far as Cassora uses it, checks the requests' shapes and can misbehave:
// drop a connection in the middle of an upload, answer 503, or turn hostile
// (send the upload elsewhere, redirect, keep nothing, answer too much, hold
// a token request back).
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
                ++connections;
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
    // Hostile behaviour
    QByteArray sessionLocation;          // the session's Location, instead of its own
    QMap<QString, QUrl> redirects;       // a path prefix answered 307 to this address
    bool keepsNothing = false;           // upload data answered 308 and thrown away
    qint64 oversizedReply = 0;           // API answers of this many bytes...
    bool declaresOversizedLength = true; // ...with their length, or until the connection closes
    bool holdsTokenRequests = false;     // token requests wait for releaseTokenRequests()
    // What came
    int connections = 0;
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

    void releaseTokenRequests() {
        holdsTokenRequests = false;
        const auto held = std::exchange(mHeldTokenRequests, {});
        for (const auto& [socket, request] : held) {
            if (socket && socket->state() == QAbstractSocket::ConnectedState) {
                respondToToken(socket, request);
            }
        }
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

    void sendOversized(QTcpSocket* socket) {
        QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
        head += declaresOversizedLength
                    ? "Content-Length: " + QByteArray::number(oversizedReply) + "\r\n\r\n"
                    : QByteArray("Connection: close\r\n\r\n");
        socket->write(head);
        const QByteArray chunk(64 * 1024, ' ');
        for (qint64 sent = 0; sent < oversizedReply; sent += chunk.size()) {
            socket->write(chunk.left(
                static_cast<int>(std::min<qint64>(chunk.size(), oversizedReply - sent))));
        }
        if (!declaresOversizedLength) {
            socket->disconnectFromHost();
        }
    }

    void respond(QTcpSocket* socket, const Request& request) {
        for (auto redirect = redirects.cbegin(); redirect != redirects.cend(); ++redirect) {
            if (request.path.startsWith(redirect.key())) {
                send(socket, 307, "{}", {{"Location", redirect.value().toEncoded()}});
                return;
            }
        }
        if (request.path == "/token" && holdsTokenRequests) {
            mHeldTokenRequests.append({QPointer<QTcpSocket>(socket), request});
            return;
        }
        if (oversizedReply > 0 &&
            (request.path.startsWith("/youtube/v3") || request.path == "/token")) {
            sendOversized(socket);
            return;
        }
        if (request.path == "/token") {
            respondToToken(socket, request);
            return;
        }
        respondToAPI(socket, request);
    }

    void respondToToken(QTcpSocket* socket, const Request& request) {
        {
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
        }
    }

    void respondToAPI(QTcpSocket* socket, const Request& request) {
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
            send(socket, 200, "{}",
                 {{"Location", sessionLocation.isEmpty() ? url("/upload/session/1").toEncoded()
                                                         : sessionLocation}});
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
            if (keepsNothing) {
                QList<QPair<QByteArray, QByteArray>> headers;
                if (!received.isEmpty()) {
                    headers << qMakePair(QByteArray("Range"), rangeHeader());
                }
                send(socket, 308, "", headers);
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
    QList<QPair<QPointer<QTcpSocket>, Request>> mHeldTokenRequests;
};

