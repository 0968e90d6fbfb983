// SPDX-License-Identifier: MIT
#pragma once

#include "app/sheet_exchange.h"

class CZpmoniApp;
class MonitorController;

// The confirmed settings sheet's steps on the running program: the application object, the
// window's controller and its client connection.
class SheetSteps final : public SheetTarget {
public:
    SheetSteps(CZpmoniApp& app, MonitorController& controller) : app(app), controller(controller) {}

    // What is in force now, as the sheet's pages take it in.
    SheetValues Current();

    MonitorSettings& Settings() override;
    void SetEventLogFlags(const EventLogFlags& flags) override;
    void SetCloseInterval(int32_t ms) override;
    void LoadPackIndex() override;
    void StopCapture() override;
    void RemoveIpFilters() override;
    void ReplaceDenyList(const DenyList& list) override;
    void StartCapture() override;
    void InstallIpFilters() override;
    void WriteDenyFile() override;
    void SaveSettings() override;
    void SetGlimit(int32_t on) override;
    void ApplyLimits(double negative, double positive) override;
    void ApplyDamage(uint32_t interval, int16_t step) override;
    void SetClientChatLog(bool on) override;
    void SaveLimiterSettings() override;
    void SetProtocolVersion(uint32_t version) override;
    void SetResolveNames(bool on) override;
    void RestartResolvers() override;
    bool ServerRunning() override;
    void SetErrorDialogTimer(int32_t ms) override;
    void Disconnect() override;
    void ConnectWithLimitName(uint16_t port) override;

private:
    CZpmoniApp& app;
    MonitorController& controller;
};
