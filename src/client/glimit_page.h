// SPDX-License-Identifier: MIT
#pragma once

#include "client/glimit_values.h"
#include "ui/settings_page.h"

class QCheckBox;
class QLineEdit;

namespace zpmoni {


// The G limiter: on or off, the permitted range (the negative side shown as its magnitude), the
// damage interval and the protocol version of the log-on.
class GLimitPage final : public SettingsPage {
    Q_OBJECT
public:
    explicit GLimitPage(const GlimitValues& values, QWidget* parent = nullptr);

    // The negative limit with its sign again.
    const GlimitValues& Values() const { return values; }
    bool Validate() override;

protected:
    void BuildControls() override;

private:
    GlimitValues values;
    QCheckBox* enable = nullptr;
    QLineEdit* negative = nullptr;
    QLineEdit* positive = nullptr;
    QLineEdit* interval = nullptr;
    QLineEdit* version = nullptr;
};

}  // namespace zpmoni
