// SPDX-License-Identifier: MIT
#pragma once

#include "ui/bootconf_values.h"
#include "ui/property_page.h"

#include <cstdint>
#include <string>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;

// Start-up settings: the simulator's folder and executable, the user name, the capture's
// interface and the server's port, and the monitor's switches.
class CBootconfPage final : public CPropertyPage {
    Q_OBJECT
public:
    // `addresses`: the interface address table the capture binds to (network byte order).
    CBootconfPage(const BootconfValues& values, std::vector<uint32_t> addresses, QWidget* parent = nullptr);

    // The values as last read back from the controls.
    const BootconfValues& Values() const { return values; }
    // The folder path as typed now, confirmed or not.
    std::string FolderText() const;

    bool OnKillActive() override;

protected:
    void OnInitDialog() override;

private:
    void Fill();
    bool ReadBack();
    void OnInterfaceChosen(int index);
    void OnBrowse();

    BootconfValues values;
    std::vector<uint32_t> addresses;
    QLineEdit* folder = nullptr;
    QLineEdit* name = nullptr;
    QLineEdit* port = nullptr;
    QLineEdit* period = nullptr;
    QComboBox* interfaces = nullptr;
    QButtonGroup* exeTypes = nullptr;
    std::vector<QCheckBox*> checks;  // in the order of the flag table
};
