// SPDX-License-Identifier: MIT
#include "alerts/alert_sender.h"

#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace zpmoni {

DeliveryOutcome OutcomeOfStatus(int status)
{
    if (status >= 200 && status < 300)
        return DeliveryOutcome::Delivered;
    if (status == 408 || status == 429 || status >= 500 || status < 100)
        return DeliveryOutcome::Retry;
    return DeliveryOutcome::Rejected;
}

AlertSender::AlertSender(int timeout, QObject* parent) : QObject(parent), timeoutMs(timeout) {}

AlertSender::~AlertSender() = default;

void AlertSender::Post(const QUrl& url, const std::string& body, Done done)
{
    if (!network)
        network = new QNetworkAccessManager(this);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = network->post(request, QByteArray::fromStdString(body));
    // A server that trickles its answer would keep a transfer timeout waiting: the whole
    // exchange has one limit. The answer's text is never read, only thrown away as it comes.
    auto* limit = new QTimer(reply);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, reply, [reply] {
        reply->setProperty("zpmoniTimedOut", true);
        reply->abort();
    });
    limit->start(timeoutMs);
    connect(reply, &QNetworkReply::readyRead, reply, [reply] { (void)reply->skip(reply->bytesAvailable()); });
    connect(reply, &QNetworkReply::finished, this, [this, reply, done = std::move(done)] {
        reply->deleteLater();
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid()) {
            const int code = status.toInt();
            done(OutcomeOfStatus(code), "HTTP " + std::to_string(code));
            return;
        }
        if (reply->property("zpmoniTimedOut").toBool() || reply->error() == QNetworkReply::TimeoutError ||
            reply->error() == QNetworkReply::OperationCanceledError) {
            done(DeliveryOutcome::Retry, "no answer in " + std::to_string(timeoutMs / 1000) + " s");
            return;
        }
        const char* name = QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(reply->error());
        done(DeliveryOutcome::Retry, name ? name : "network error " + std::to_string(reply->error()));
    });
}

}  // namespace zpmoni
