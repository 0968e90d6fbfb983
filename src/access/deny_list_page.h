// SPDX-License-Identifier: MIT
#pragma once

#include "access/deny_entry.h"
#include "access/deny_ruleset.h"
#include "ui/settings_page.h"

class QLineEdit;
class QTreeWidget;

namespace zpmoni {


// The deny list as the settings sheet edits it: a copy of its own, taken over only when the sheet
// is confirmed. A fourth column shows what the rules in force make of each entry (the masked
// block, read as the rule set reads it); entries the rules do not hold (text that is no dotted
// quad, or rules that could not be put in force) are listed too, marked, and kept. A block may be
// entered as "a.b.c.d/N" in the address field or "/N" in the mask field; a ban with an end (a
// number of minutes) gets its terms in the comment (by "window", now, the end).
class DenyListPage final : public SettingsPage {
    Q_OBJECT
public:
    // `inForce`: the rules the kernel holds; without it every enforceable entry counts as held.
    explicit DenyListPage(const DenyList& list, const DenyRuleset* inForce = nullptr, QWidget* parent = nullptr);

    // The rows from top to bottom once the page was shown; the list given otherwise.
    DenyList List() const;
    // The fourth column: the block in force, or why the entry is not; `held` when it is.
    static QString InForceText(const DenyEntry& entry, const DenyRuleset* inForce, bool* held = nullptr);

protected:
    void BuildControls() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void AddRow(const DenyEntry& entry, bool added = false);
    void OnAdd();
    void OnRemove();
    void OnSelectionChanged();
    void ResetControls();

    DenyList list;
    const DenyRuleset* inForce;
    QLineEdit* address = nullptr;
    QLineEdit* mask = nullptr;
    QLineEdit* comment = nullptr;
    QLineEdit* expiry = nullptr;  // minutes; empty for a ban without end
    QTreeWidget* rows = nullptr;
};

}  // namespace zpmoni
