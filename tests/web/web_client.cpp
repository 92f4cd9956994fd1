#include "web_client.h"

#include <QDeadlineTimer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>

WebClient::WebClient(quint16 port, QByteArray certificatePem) : port_(port), certificatePem_(std::move(certificatePem))
{
}

WebClient::~WebClient() = default;

bool WebClient::connect()
{
    if (certificatePem_.isEmpty()) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QStringLiteral("127.0.0.1"), port_);
        const bool up = socket->waitForConnected(5000);
        socket_ = std::move(socket);
        return up;
    }
    auto socket = std::make_unique<QSslSocket>();
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslCertificate::fromData(certificatePem_, QSsl::Pem));
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket->setSslConfiguration(tls);
    socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port_);
    const bool up = socket->waitForEncrypted(5000);
    socket_ = std::move(socket);
    return up;
}

bool WebClient::write(const QByteArray& raw)
{
    if (!socket_ && !connect())
        return false;
    if (socket_->write(raw) != raw.size())
        return false;
    QDeadlineTimer deadline(5000);
    while (socket_->bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!socket_->waitForBytesWritten(int(deadline.remainingTime())))
            break;
    }
    return true;
}

QByteArray WebClient::readUntil(const QByteArray& marker, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!pending_.contains(marker) && !deadline.hasExpired()) {
        if (socket_->bytesAvailable() == 0 &&
            !socket_->waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
            break;
        pending_ += socket_->readAll();
    }
    return pending_;
}

WebReply WebClient::exchange(const QByteArray& raw, int timeoutMs)
{
    WebReply reply;
    if (!write(raw))
        return reply;
    QDeadlineTimer deadline(timeoutMs);
    qsizetype headerEnd = -1;
    qsizetype length = -1;
    for (;;) {
        if (headerEnd < 0) {
            headerEnd = pending_.indexOf("\r\n\r\n");
            if (headerEnd >= 0) {
                const QList<QByteArray> lines = pending_.left(headerEnd).split('\n');
                const QList<QByteArray> statusLine = lines.value(0).trimmed().split(' ');
                reply.status = statusLine.value(1).toInt();
                for (qsizetype i = 1; i < lines.size(); ++i) {
                    const qsizetype colon = lines[i].indexOf(':');
                    if (colon > 0)
                        reply.headers[lines[i].left(colon).trimmed().toLower()].append(
                            lines[i].mid(colon + 1).trimmed());
                }
                length = reply.header("content-length").toLongLong();
                headerEnd += 4;
            }
        }
        if (headerEnd >= 0 && pending_.size() - headerEnd >= length) {
            reply.body = pending_.mid(headerEnd, length);
            pending_.remove(0, headerEnd + length);
            return reply;
        }
        if (deadline.hasExpired())
            break;
        if (socket_->bytesAvailable() == 0 &&
            !socket_->waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
            break;
        pending_ += socket_->readAll();
    }
    return WebReply{};
}

bool WebClient::closedWithin(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (socket_->state() == QAbstractSocket::UnconnectedState)
            return true;
        if (!socket_->waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())))) {
            if (socket_->state() != QAbstractSocket::ConnectedState)
                return true;
        } else {
            socket_->readAll();
        }
    }
    return socket_->state() != QAbstractSocket::ConnectedState;
}

void WebClient::close()
{
    if (socket_)
        socket_->abort();
}

QByteArray WebClient::request(const QByteArray& method, const QByteArray& target,
    const QList<QPair<QByteArray, QByteArray>>& headers, const QByteArray& body)
{
    QByteArray raw = method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto& [name, value] : headers)
        raw += name + ": " + value + "\r\n";
    if (!body.isEmpty() || method == "POST")
        raw += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    raw += "\r\n" + body;
    return raw;
}
