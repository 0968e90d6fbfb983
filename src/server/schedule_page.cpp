// SPDX-License-Identifier: MIT
#include "server/schedule_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace zpmoni {

namespace {

constexpr const char* kPeriodLabels[ScheduleValues::kActions] = {
    "分毎に再起動",
    "分毎に地上物復活",
    "分毎に Endurance Mode(Jet) 開始",
    "分毎に Intercept Mission 開始",
    "分毎に Close Air Support Mission 開始",
};

}  // namespace

SchedulePage::SchedulePage(const ScheduleValues& values, QWidget* parent)
    : SettingsPage(QString::fromUtf8("スケジュール"), parent), values(values)
{
}

void SchedulePage::BuildControls()
{
    auto* grid = new QGridLayout(this);
    for (int i = 0; i < ScheduleValues::kActions; ++i) {
        enabled[i] = new QCheckBox(this);
        enabled[i]->setObjectName(QStringLiteral("enabled%1").arg(i));
        minutes[i] = new QLineEdit(this);
        minutes[i]->setObjectName(QStringLiteral("minutes%1").arg(i));
        minutes[i]->setMaximumWidth(90);
        grid->addWidget(enabled[i], i, 0);
        grid->addWidget(minutes[i], i, 1);
        grid->addWidget(new QLabel(QString::fromUtf8(kPeriodLabels[i]), this), i, 2, 1, 2);
        enabled[i]->setChecked(values.enabled[i] != 0);
        minutes[i]->setText(QString::number(values.minutes[i]));
        minutes[i]->setEnabled(enabled[i]->isChecked());
        connect(enabled[i], &QCheckBox::toggled, minutes[i], &QWidget::setEnabled);
    }
    restartTimes = new QPlainTextEdit(QString::fromStdString(values.restartTimes), this);
    restartTimes->setObjectName(QStringLiteral("restartTimes"));
    reviveTimes = new QPlainTextEdit(QString::fromStdString(values.reviveTimes), this);
    reviveTimes->setObjectName(QStringLiteral("reviveTimes"));
    const int row = ScheduleValues::kActions;
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
    ScheduleValues v;
    for (int i = 0; i < ScheduleValues::kActions; ++i) {
        int64_t value = 0;
        if (!CheckInt(minutes[i], 1, kMaxMinutes, value))
            return false;
        v.minutes[i] = static_cast<int32_t>(value);
        v.enabled[i] = enabled[i]->isChecked() ? 1 : 0;
    }
    v.restartTimes = restartTimes->toPlainText().toStdString();
    v.reviveTimes = reviveTimes->toPlainText().toStdString();
    values = v;
    return true;
}

}  // namespace zpmoni
