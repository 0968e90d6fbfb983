// SPDX-License-Identifier: MIT
#include "client/glimit_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include <limits>

namespace zpmoni {

namespace {

constexpr double kMaxLimit = 300.0;

QLineEdit* Edit(const char* objectName, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(objectName));
    edit->setMaximumWidth(110);
    return edit;
}

}  // namespace

GLimitPage::GLimitPage(const GlimitValues& values, QWidget* parent)
    : SettingsPage(QString::fromUtf8("G リミッター"), parent), values(values)
{
}

void GLimitPage::BuildControls()
{
    enable = new QCheckBox(QString::fromUtf8("G リミッターを有効にする"), this);
    enable->setObjectName(QStringLiteral("enable"));
    negative = Edit("negative", this);
    positive = Edit("positive", this);
    interval = Edit("interval", this);
    version = Edit("version", this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(enable, 0, 0, 1, 6);
    grid->addWidget(new QLabel(QString::fromUtf8("許容荷重"), this), 1, 0);
    grid->addWidget(new QLabel(QStringLiteral("-"), this), 1, 1);
    grid->addWidget(negative, 1, 2);
    grid->addWidget(new QLabel(QString::fromUtf8("G ～ +"), this), 1, 3);
    grid->addWidget(positive, 1, 4);
    grid->addWidget(new QLabel(QStringLiteral("G"), this), 1, 5);
    grid->addWidget(new QLabel(QString::fromUtf8("損傷間隔"), this), 2, 0);
    grid->addWidget(interval, 2, 2);
    grid->addWidget(new QLabel(QStringLiteral("ms"), this), 2, 3);
    grid->addWidget(new QLabel(QStringLiteral("NET-VERSION"), this), 3, 0);
    grid->addWidget(version, 3, 2, 1, 2);
    grid->setColumnStretch(6, 1);
    grid->setRowStretch(4, 1);

    enable->setChecked(values.enable != 0);
    // 0 - x rather than -x: a limit of 0 must not come out as "-0".
    negative->setText(QString::number(0.0 - values.negative, 'g', 15));
    positive->setText(QString::number(values.positive, 'g', 15));
    interval->setText(QString::number(values.interval));
    version->setText(QString::number(values.version));
    auto grey = [this](bool on) {
        for (QLineEdit* e : {negative, positive, interval, version})
            e->setEnabled(on);
    };
    grey(enable->isChecked());
    connect(enable, &QCheckBox::toggled, this, grey);
}

bool GLimitPage::Validate()
{
    if (!Created())
        return true;
    constexpr int64_t kMaxWord = std::numeric_limits<uint32_t>::max();
    double magnitude = 0;
    double upper = 0;
    int64_t ms = 0;
    int64_t protocol = 0;
    if (!CheckDouble(negative, 0.0, kMaxLimit, magnitude) || !CheckDouble(positive, 0.0, kMaxLimit, upper) ||
        !CheckInt(interval, 0, kMaxWord, ms) || !CheckInt(version, 0, kMaxWord, protocol))
        return false;
    values.enable = enable->isChecked() ? 1 : 0;
    values.negative = 0.0 - magnitude;
    values.positive = upper;
    values.interval = static_cast<uint32_t>(ms);
    values.version = static_cast<uint32_t>(protocol);
    return true;
}

}  // namespace zpmoni
