// SPDX-License-Identifier: MIT
#pragma once

#include "packlist/pack_list_worker.h"
#include "ui/settings_page.h"

#include <functional>
#include <memory>
#include <string>

class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace zpmoni {

class ServerStartPage;
class DirectoryListing;

// The aircraft pack list: which file the monitor reads, and a build that appends to a chosen
// file what the simulator's aircraft lists name and the file does not yet. The build runs on a
// thread of its own; meanwhile the sheet can be neither confirmed nor cancelled, and closing it
// otherwise stops the build and waits for it a short while.
class PackListPage final : public SettingsPage {
    Q_OBJECT
public:
    // The simulator folder comes from the start-up page, as typed there.
    PackListPage(const std::string& packFile, const ServerStartPage& bootconf,
                  std::unique_ptr<AircraftIndex> known, const DirectoryListing& listing,
                  QWidget* parent = nullptr);
    ~PackListPage() override;

    std::string PackFile() const;
    bool Building() const { return worker.Running(); }
    // Starts a build, or asks the running one to stop.
    void OnBuildList();
    void OnSheetClosing() override;

    // Asks for the file the build appends to; empty when the user cancels.
    std::function<QString(QWidget* parent)> askOutput;

protected:
    void BuildControls() override;

private:
    void AppendOutputLine(const QString& text);
    void OnFinished(bool ok);
    void OnChooseFile();

    std::string packFile;
    const ServerStartPage& bootconf;
    std::shared_ptr<AircraftIndex> known;  // shared with a build's thread, which may outlive the page
    const DirectoryListing& listing;
    QLineEdit* file = nullptr;
    QPushButton* build = nullptr;
    QPlainTextEdit* output = nullptr;
    QProgressBar* progress = nullptr;
    QString idleText;
    QString outputFile;
    PackListWorker worker;  // last: stops before anything it uses goes away
};

}  // namespace zpmoni
