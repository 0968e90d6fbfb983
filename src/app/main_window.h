// SPDX-License-Identifier: MIT
#pragma once

#include <QMainWindow>
#include <QSize>
#include <QString>

class QMenu;
class QSystemTrayIcon;
class QTabWidget;

namespace zpmoni {

class ChatPage;
class ConnectionsPage;
class EventListPage;
class MonitorApp;
class MonitorController;

// The main window: the three tabs, the menu, the status line in the caption, the tray icon.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "ZEPHRINE Server Monitor";

    explicit MainWindow(MonitorApp& app, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The window's initialisation, in its order; ends by starting the capture.
    void Initialize();

    MonitorController& Controller() { return *controller; }
    ConnectionsPage* ConnectPage() { return connectPage; }
    EventListPage* MonitorPage() { return monitorPage; }
    QTabWidget* Tabs() { return tabs; }
    const QString& StatusLine() const;

    void MinimizeToTray();
    void RestoreFromTray();
    void ShowAbout();
    void ShowHelp();
    // The settings sheet; on OK its values are taken over and everything is re-applied.
    void OnMonitorSettings();
    // The file menu, built afresh (the tray's pop-up menu too).
    QMenu* BuildFileMenu(QWidget* parent);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildMenus();
    void OnStatus(const QString& line);
    void ShutDown();

    MonitorApp& app;
    MonitorController* controller = nullptr;
    QTabWidget* tabs = nullptr;
    ConnectionsPage* connectPage = nullptr;
    EventListPage* monitorPage = nullptr;
    ChatPage* chatPage = nullptr;
    QSystemTrayIcon* tray = nullptr;
    QString baseTitle;
    QSize outerSize;  // stored outer size, until the frame is known
    bool shutDown = false;
};

// Runs the window program until its main window closes.
int RunWindowed(int argc, char** argv, const std::string& workdir);

}  // namespace zpmoni
