// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>

#include <vector>

class QDialogButtonBox;
class QStackedWidget;
class QTabBar;

namespace zpmoni {

class SettingsPage;

// The modal settings sheet: its pages as tabs, OK and Cancel, no Apply. A page whose values fail
// their checks cannot be left, nor the sheet confirmed, until they are corrected.
class SettingsSheet final : public QDialog {
    Q_OBJECT
public:
    explicit SettingsSheet(QWidget* owner);

    void AddPage(SettingsPage* page);
    SettingsPage* Page(int index) const { return pages[static_cast<size_t>(index)]; }
    int PageCount() const { return static_cast<int>(pages.size()); }
    int ActiveIndex() const { return active; }
    // Shows the page, after the one shown now has been left (if it can be).
    bool SetActivePage(int index);
    // While a page's background work runs, the sheet can be neither confirmed nor cancelled.
    void SetOkCancelEnabled(bool enabled);
    QDialogButtonBox* Buttons() const { return buttons; }

    int exec() override;
    void accept() override;
    void done(int result) override;

private:
    void OnTabChanged(int index);

    QTabBar* tabs;
    QStackedWidget* stack;
    QDialogButtonBox* buttons;
    std::vector<SettingsPage*> pages;
    int active = -1;
};

}  // namespace zpmoni
