// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "base/result.h"
#include "history/history_store.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QPoint;

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
    // Bans every address the history knows for a user name (the bytes as stored); how many
    // went in force. Without it the row menu's entry is disabled.
    using BanName = std::function<Result<size_t>(const std::string& name)>;
    void SetBanName(BanName ban) { banName = std::move(ban); }
    ReportListView* List() { return list; }
    QLineEdit* Box() { return box; }
    QLabel* Note() { return note; }

private:
    void ShowMenu(const QPoint& globalPos);
    void BanSelectedName();

    const std::string path;
    const Clock& clock;
    std::unique_ptr<HistoryStore> store;
    QLineEdit* box;
    QLabel* note;
    ReportRows* rows;
    ReportListView* list;
    BanName banName;
};

}  // namespace zpmoni
