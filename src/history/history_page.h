// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "history/history_store.h"

#include <QWidget>

#include <memory>
#include <string>

class QLabel;
class QLineEdit;

namespace zpmoni {

class ReportListView;
class ReportRows;

// The history tab: a search box and the sessions found, newest first, with the other names
// seen from the same addresses. It reads the file over a connection of its own.
class HistoryPage final : public QWidget {
    Q_OBJECT
public:
    HistoryPage(std::string path, const Clock& clock, QWidget* parent = nullptr);
    ~HistoryPage() override;

    // The search the box's Enter runs.
    void Search(const QString& text);
    ReportListView* List() { return list; }
    QLineEdit* Box() { return box; }
    QLabel* Note() { return note; }

private:
    const std::string path;
    const Clock& clock;
    std::unique_ptr<HistoryStore> store;
    QLineEdit* box;
    QLabel* note;
    ReportRows* rows;
    ReportListView* list;
};

}  // namespace zpmoni
