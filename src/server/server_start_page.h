// SPDX-License-Identifier: MIT
#pragma once

#include "server/server_start_values.h"
#include "ui/settings_page.h"

#include <cstdint>
#include <string>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;

namespace zpmoni {


// Start-up settings: the simulator's folder and executable, the user name, the capture's
// interface and the server's port, and the monitor's switches.
class ServerStartPage final : public SettingsPage {
    Q_OBJECT
public:
    // `addresses`: the interface address table the capture binds to (network byte order).
    ServerStartPage(const ServerStartValues& values, std::vector<uint32_t> addresses, QWidget* parent = nullptr);

    // The values as last read back from the controls.
    const ServerStartValues& Values() const { return values; }
    // The folder path as typed now, confirmed or not.
    std::string FolderText() const;

    bool Validate() override;

protected:
    void BuildControls() override;

private:
    void Fill();
    bool ReadBack();
    void OnInterfaceChosen(int index);
    void OnBrowse();

    ServerStartValues values;
    std::vector<uint32_t> addresses;
    QLineEdit* folder = nullptr;
    QLineEdit* name = nullptr;
    QLineEdit* port = nullptr;
    QLineEdit* period = nullptr;
    QComboBox* interfaces = nullptr;
    QButtonGroup* exeTypes = nullptr;
    std::vector<QCheckBox*> checks;  // in the order of the flag table
};

}  // namespace zpmoni
