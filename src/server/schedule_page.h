// SPDX-License-Identifier: MIT
#pragma once

#include "base/monitor_settings.h"
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
    static constexpr int kActions = 5;

    // The page edits the keys of its page in the table; the others are handed back as given.
    explicit SchedulePage(const MonitorSettings& values, QWidget* parent = nullptr);

    const MonitorSettings& Values() const { return values; }
    bool Validate() override;

protected:
    void BuildControls() override;

private:
    MonitorSettings values;
    std::array<QCheckBox*, kActions> enabled{};
    std::array<QLineEdit*, kActions> minutes{};
    QPlainTextEdit* restartTimes = nullptr;
    QPlainTextEdit* reviveTimes = nullptr;
};

}  // namespace zpmoni
