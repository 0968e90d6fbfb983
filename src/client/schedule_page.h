// SPDX-License-Identifier: MIT
#pragma once

#include "client/schedule_values.h"
#include "ui/property_page.h"

#include <array>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

// The schedule: five periodic actions with their periods in minutes, and the restart and revival
// times of day, one per line.
class CSchedulePage final : public CPropertyPage {
    Q_OBJECT
public:
    // The longest period whose seconds still fit the settings' 32-bit value.
    static constexpr int32_t kMaxMinutes = 35791394;

    explicit CSchedulePage(const ScheduleValues& values, QWidget* parent = nullptr);

    const ScheduleValues& Values() const { return values; }
    bool OnKillActive() override;

protected:
    void OnInitDialog() override;

private:
    ScheduleValues values;
    std::array<QCheckBox*, ScheduleValues::kActions> enabled{};
    std::array<QLineEdit*, ScheduleValues::kActions> minutes{};
    QPlainTextEdit* restartTimes = nullptr;
    QPlainTextEdit* reviveTimes = nullptr;
};
