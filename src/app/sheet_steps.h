// SPDX-License-Identifier: MIT
#pragma once

#include "app/sheet_exchange.h"

namespace zpmoni {

class MonitorApp;
class MonitorController;

// The confirmed settings sheet's steps on the running program: the application object, the
// window's controller and its client connection.
class SheetSteps final : public SheetTarget {
public:
    SheetSteps(MonitorApp& app, MonitorController& controller) : app(app), controller(controller) {}

    // What is in force now, as the sheet's pages take it in.
    SheetValues Current();

    MonitorSettings& Settings() override;
    void SetWindowValues(const EventLogFlags& flags, int32_t closeIntervalMs) override;
    void LoadPackIndex() override;
    void StopCapture() override;
    void ReplaceDenyList(const DenyList& list) override;
    void StartCapture() override;
    void InstallIpFilters() override;
    void WriteDenyFile() override;
    void SaveSettings() override;
    void ApplyGlimit(const GlimitValues& glimit, bool chatLog) override;
    void ResolveNames(bool on) override;
    bool ServerRunning() override;
    void SetErrorDialogTimer(int32_t ms) override;
    void Reconnect(bool logOn, uint16_t port) override;

private:
    MonitorApp& app;
    MonitorController& controller;
};

}  // namespace zpmoni
