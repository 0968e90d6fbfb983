// SPDX-License-Identifier: MIT
#include "server/schedule_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace zpmoni {

namespace {

// The five actions in the page's order: their switch and their period (kept in seconds, shown
// in minutes).
struct Action {
    std::string_view flag;
    std::string_view period;
    const char* label;
};
constexpr Action kActionKeys[SchedulePage::kActions] = {
    {"RebootAtInterval", "RebootIntervalSec", "分毎に再起動"},
    {"ResetAtInterval", "ResetIntervalSec", "分毎に地上物復活"},
    {"Endurance", "EnduranceInterval", "分毎に Endurance Mode(Jet) 開始"},
    {"Intercept", "InterceptInterval", "分毎に Intercept Mission 開始"},
    {"Airsupport", "AirsupportInterval", "分毎に Close Air Support Mission 開始"},
};
constexpr int64_t kSecondsPerMinute = 60;

}  // namespace

SchedulePage::SchedulePage(const MonitorSettings& values, QWidget* parent)
    : SettingsPage(QString::fromUtf8("スケジュール"), parent), values(values)
{
}

void SchedulePage::BuildControls()
{
    auto* grid = new QGridLayout(this);
    for (int i = 0; i < kActions; ++i) {
        const Action& a = kActionKeys[i];
        enabled[i] = new QCheckBox(this);
        enabled[i]->setObjectName(QStringLiteral("enabled%1").arg(i));
        minutes[i] = new QLineEdit(this);
        minutes[i]->setObjectName(QStringLiteral("minutes%1").arg(i));
        minutes[i]->setMaximumWidth(90);
        grid->addWidget(enabled[i], i, 0);
        grid->addWidget(minutes[i], i, 1);
        grid->addWidget(new QLabel(QString::fromUtf8(a.label), this), i, 2, 1, 2);
        enabled[i]->setChecked(SettingNumber(values, Setting(a.flag)) != 0);
        minutes[i]->setText(QString::number(SettingNumber(values, Setting(a.period)) / kSecondsPerMinute));
        minutes[i]->setEnabled(enabled[i]->isChecked());
        connect(enabled[i], &QCheckBox::toggled, minutes[i], &QWidget::setEnabled);
    }
    restartTimes = new QPlainTextEdit(QString::fromStdString(TimeListLines(values.schedule)), this);
    restartTimes->setObjectName(QStringLiteral("restartTimes"));
    reviveTimes = new QPlainTextEdit(QString::fromStdString(TimeListLines(values.resetSchedule)), this);
    reviveTimes->setObjectName(QStringLiteral("reviveTimes"));
    const int row = kActions;
    grid->addWidget(new QLabel(QString::fromUtf8("定時の再起動"), this), row, 0, 1, 3);
    grid->addWidget(new QLabel(QString::fromUtf8("定時の地上物復活"), this), row, 3);
    grid->addWidget(restartTimes, row + 1, 0, 1, 3);
    grid->addWidget(reviveTimes, row + 1, 3);
    grid->setColumnStretch(2, 1);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(row + 1, 1);
}

bool SchedulePage::Validate()
{
    if (!Created())
        return true;
    MonitorSettings v = values;
    for (int i = 0; i < kActions; ++i) {
        const SettingKey& period = Setting(kActionKeys[i].period);
        int64_t value = 0;
        if (!CheckInt(minutes[i], period.min / kSecondsPerMinute, period.max / kSecondsPerMinute, value))
            return false;
        SetSettingNumber(v, period, value * kSecondsPerMinute);
        SetSettingNumber(v, Setting(kActionKeys[i].flag), enabled[i]->isChecked() ? 1 : 0);
    }
    ParseTimeListLines(restartTimes->toPlainText().toStdString(), v.schedule);
    ParseTimeListLines(reviveTimes->toPlainText().toStdString(), v.resetSchedule);
    values = v;
    return true;
}

}  // namespace zpmoni
