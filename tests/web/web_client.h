#pragma once
// A raw HTTP/1.1 client for the server's tests: the request is written as
// given (so a test can send what no browser would), the answer read by its
// Content-Length. Over TLS it trusts only the certificate it is given and
// checks the server's name against it.
#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <memory>

struct WebReply {
    int status = 0;                              // 0: no answer (the connection closed or timed out)
    QMap<QByteArray, QList<QByteArray>> headers; // lower-case names
    QByteArray body;

    QByteArray header(const QByteArray& name) const { return headers.value(name).value(0); }
};

class WebClient {
public:
    // `certificatePem` empty: plain HTTP.
    WebClient(quint16 port, QByteArray certificatePem);
    ~WebClient();

    bool connect();
    // Writes `raw` and reads one answer.
    WebReply exchange(const QByteArray& raw, int timeoutMs = 10000);
    // Writes without reading.
    bool write(const QByteArray& raw);
    // Reads until `marker` has arrived; what arrived.
    QByteArray readUntil(const QByteArray& marker, int timeoutMs);
    // Whether the server closed the connection within the time.
    bool closedWithin(int timeoutMs);
    void close();

    // A request with Host, the given headers and, with a body, its length.
    static QByteArray request(const QByteArray& method, const QByteArray& target,
        const QList<QPair<QByteArray, QByteArray>>& headers = {}, const QByteArray& body = {});

private:
    quint16 port_;
    QByteArray certificatePem_;
    std::unique_ptr<QAbstractSocket> socket_;
    QByteArray pending_;
};
