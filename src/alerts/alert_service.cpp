// SPDX-License-Identifier: MIT
#include "alerts/alert_service.h"

#include "base/text_escape.h"
#include "ui/network_text.h"

#include <QSysInfo>

#include <algorithm>
#include <iterator>

namespace zpmoni {

AlertService::AlertService(const Clock& clock, Report errorLog, QObject* parent)
    : QObject(parent), clock(clock), errorLog(std::move(errorLog)),
      origin(Escaped(QSysInfo::machineHostName().left(64).toStdString()))
{
    tick.setInterval(1000);
    connect(&tick, &QTimer::timeout, this, &AlertService::Pump);
}

AlertService::~AlertService() = default;

void AlertService::Configure(const MonitorSettings& s)
{
    Configure(s, 10'000);
}

void AlertService::Configure(const MonitorSettings& s, int requestTimeoutMs)
{
    std::vector<QUrl> usable;
    const std::string* given[] = {&s.alertUrl1, &s.alertUrl2, &s.alertUrl3, &s.alertUrl4};
    for (size_t i = 0; i < std::size(given); ++i) {
        if (given[i]->empty())
            continue;
        const QUrl url(QString::fromStdString(*given[i]).trimmed(), QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        if (url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty()) {
            usable.push_back(url);
            continue;
        }
        // Not the address itself: it may hold a secret, and it is not ours to echo.
        if (errorLog)
            errorLog("Alerts Url" + std::to_string(i + 1) + " is not an http or https address; it is not used");
    }
    format = ParseAlertFormat(s.alertFormat).value_or(AlertFormat::Plain);
    if (!ParseAlertFormat(s.alertFormat) && errorLog)
        errorLog("Alerts Format " + Escaped(s.alertFormat.substr(0, 32)) + " is not plain, discord or slack; plain is used");
    const int64_t quietSeconds = std::clamp<int64_t>(s.alertQuietSeconds, 0, 86'400);
    tick.stop();
    // Answers still out for the old webhooks go with their sender, unheard.
    sender.reset();
    std::lock_guard guard(lock);
    ++generation;
    urls = std::move(usable);
    policy.reset();
    if (urls.empty())
        return;
    AlertPolicy::Options options;
    options.quietMs = quietSeconds * 1000;
    policy = std::make_unique<AlertPolicy>(urls.size(), options);
    sender = std::make_unique<AlertSender>(requestTimeoutMs, this);
    tick.start();
}

bool AlertService::Active() const
{
    std::lock_guard guard(lock);
    return policy != nullptr;
}

void AlertService::Raise(AlertKind kind, std::string_view text)
{
    {
        std::lock_guard guard(lock);
        if (!policy)
            return;
        const int64_t now = clock.Now();
        // Shift_JIS names become UTF-8 here; whatever else is left the body's escaping covers.
        std::string line = "[" + origin + "] " + FormatTime(clock.LocalTime(now), "%Y-%m-%d %H:%M:%S") + " " +
                           NetworkText(text.substr(0, 4096)).toStdString();
        // One held back (a burst, G-limit damage with every state packet) needs no sending now.
        if (!policy->Raise(kind, std::move(line), now, clock.MonotonicMs()))
            return;
    }
    // Sent from the service's own thread, whichever thread raised it.
    QMetaObject::invokeMethod(this, &AlertService::Pump, Qt::QueuedConnection);
}

void AlertService::Pump()
{
    std::unique_lock guard(lock);
    if (!policy)
        return;
    const int64_t now = clock.MonotonicMs();
    policy->Tick(now);
    while (std::optional<AlertPolicy::Delivery> d = policy->NextDue(format, now)) {
        const QUrl url = urls[d->destination];
        guard.unlock();
        sender->Post(url, d->body, [this, g = generation, d = *d](DeliveryOutcome outcome, std::string why) {
            std::string line;
            {
                std::lock_guard answered(lock);
                // A reconfigured service has another policy: the answer is no news to it.
                if (g != generation || !policy)
                    return;
                line = policy->Answered(d.destination, d.id, outcome, why, clock.MonotonicMs());
            }
            if (!line.empty() && errorLog)
                errorLog(line);
        });
        guard.lock();
    }
}

AlertPolicy::Counts AlertService::Totals() const
{
    std::lock_guard guard(lock);
    return policy ? policy->Totals() : AlertPolicy::Counts{};
}

}  // namespace zpmoni
