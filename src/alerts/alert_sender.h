// SPDX-License-Identifier: MIT
#pragma once

#include "alerts/alert_policy.h"

#include <QObject>
#include <QUrl>

#include <functional>
#include <string>

class QNetworkAccessManager;

namespace zpmoni {

// Posts alert bodies with Qt Network: the request and its answer run beside the event loop,
// which only sees the answer. Every request ends within its time limit, answered or not.
class AlertSender final : public QObject {
    Q_OBJECT
public:
    // `why` is the error log's word for a failure ("HTTP 500", "no answer in 10 s"); it never
    // names the address, which may hold the webhook's secret.
    using Done = std::function<void(DeliveryOutcome outcome, std::string why)>;

    explicit AlertSender(int timeoutMs = 10'000, QObject* parent = nullptr);
    ~AlertSender() override;

    // Posts the JSON body; `done` runs on this object's thread once, however it ends.
    void Post(const QUrl& url, const std::string& body, Done done);

private:
    int timeoutMs;
    QNetworkAccessManager* network = nullptr;  // made with the first post
};

// The answer's meaning: 2xx delivered, 408, 429 and 5xx worth another try, any other answer
// a refusal that no retry mends.
DeliveryOutcome OutcomeOfStatus(int httpStatus);

}  // namespace zpmoni
