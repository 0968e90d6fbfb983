// SPDX-License-Identifier: MIT
#pragma once

#include "alerts/alert_policy.h"
#include "alerts/alert_sender.h"
#include "base/clock.h"
#include "base/monitor_settings.h"

#include <QObject>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zpmoni {

// The operator's alerts: what the monitor's parts raise goes to the webhooks of [Alerts], shaped,
// rate-limited and retried by AlertPolicy, posted by AlertSender. Raise is callable from any
// thread and never waits on the network; the sending runs on the thread the service lives on.
class AlertService final : public QObject {
    Q_OBJECT
public:
    using Report = std::function<void(std::string_view line)>;

    AlertService(const Clock& clock, Report errorLog, QObject* parent = nullptr);
    ~AlertService() override;

    // Takes the webhooks and their format; an address that is not http or https, or an unknown
    // format, is told in the error log once and not used. Without a webhook nothing is kept.
    void Configure(const MonitorSettings& settings);
    // The same with the time limit of one request (tests).
    void Configure(const MonitorSettings& settings, int requestTimeoutMs);
    bool Active() const;

    // An event for the operator; `text` may carry names from the network (any bytes).
    void Raise(AlertKind kind, std::string_view text);

    AlertPolicy::Counts Totals() const;

private:
    void Pump();

    const Clock& clock;
    Report errorLog;
    std::string origin;  // the machine's name, which the texts begin with
    mutable std::mutex lock;
    std::unique_ptr<AlertPolicy> policy;  // under `lock`
    uint64_t generation = 0;              // of the configuration, under `lock`
    std::vector<QUrl> urls;
    AlertFormat format = AlertFormat::Plain;
    std::unique_ptr<AlertSender> sender;
    QTimer tick;  // folded alerts and retries fall due with time
};

}  // namespace zpmoni
