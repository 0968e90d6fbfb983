// SPDX-License-Identifier: MIT
#pragma once

#include "server/schedule_values.h"
#include "ui/settings_page.h"

#include <array>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

namespace zpmoni {


// The schedule: five periodic actions with their periods in minutes, and the restart and revival
// times of day, one per line.
class SchedulePage final : public SettingsPage {
    Q_OBJECT
public:
    // The longest period whose seconds still fit the settings' 32-bit value.
    static constexpr int32_t kMaxMinutes = 35791394;

    explicit SchedulePage(const ScheduleValues& values, QWidget* parent = nullptr);

    const ScheduleValues& Values() const { return values; }
    bool Validate() override;

protected:
    void BuildControls() override;

private:
    ScheduleValues values;
    std::array<QCheckBox*, ScheduleValues::kActions> enabled{};
    std::array<QLineEdit*, ScheduleValues::kActions> minutes{};
    QPlainTextEdit* restartTimes = nullptr;
    QPlainTextEdit* reviveTimes = nullptr;
};

}  // namespace zpmoni
