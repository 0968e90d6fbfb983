// SPDX-License-Identifier: MIT
#pragma once

#include "access/deny_entry.h"
#include "ui/property_page.h"

class QLineEdit;
class QTreeWidget;

// The deny list as the settings sheet edits it: a copy of its own, taken over only when the sheet
// is confirmed. Entries whose address is no usable host address (0.0.0.0, 255.255.255.255, or
// text that is no address at all) are listed too, marked as not in force, and kept.
class CIpfilterPage final : public CPropertyPage {
    Q_OBJECT
public:
    explicit CIpfilterPage(const DenyList& list, QWidget* parent = nullptr);

    // The rows from top to bottom once the page was shown; the list given otherwise.
    DenyList List() const;
    // False for an entry the packet filter cannot apply to any host.
    static bool InForce(const DenyEntry& entry);

protected:
    void OnInitDialog() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void AddRow(const DenyEntry& entry);
    void OnAdd();
    void OnRemove();
    void OnSelectionChanged();
    void ResetControls();

    DenyList list;
    QLineEdit* address = nullptr;
    QLineEdit* mask = nullptr;
    QLineEdit* comment = nullptr;
    QTreeWidget* rows = nullptr;
};
