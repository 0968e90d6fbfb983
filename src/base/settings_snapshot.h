// SPDX-License-Identifier: MIT
#pragma once

#include "base/monitor_settings.h"

#include <atomic>
#include <memory>
#include <utility>

namespace zpmoni {

// The settings as other threads see them: the main thread publishes a whole new value after
// each change, and a reader takes the one in force and keeps it as long as it needs, so it never
// sees half of a change.
class SharedSettings {
public:
    SharedSettings() : current(std::make_shared<const MonitorSettings>()) {}
    SharedSettings(const SharedSettings&) = delete;
    SharedSettings& operator=(const SharedSettings&) = delete;

    std::shared_ptr<const MonitorSettings> Snapshot() const { return current.load(); }
    void Publish(MonitorSettings settings)
    {
        current.store(std::make_shared<const MonitorSettings>(std::move(settings)));
    }

private:
    std::atomic<std::shared_ptr<const MonitorSettings>> current;
};

}  // namespace zpmoni
