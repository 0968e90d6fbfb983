// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

namespace zpmoni {

// What the start-up page of the settings sheet edits, as the sheet hands it in and takes it back.
// Flags are 0 or 1 once the page has read its check boxes; a page never shown returns them as given.
struct ServerStartValues {
    std::string folderPath{};
    std::string handleName{};
    int32_t port = 0;
    int32_t resolveName = 0;
    int32_t closeErrorDialog = 0;
    int32_t startUp = 0;
    int32_t displayLogin = 0;
    int32_t displayJoin = 0;
    int32_t createLogfile = 0;
    int32_t chatLog = 0;
    int32_t exeType = 0;         // position of the chosen radio button, 0 to 3
    int32_t interfaceNumber = 0; // entry of the interface address table
    double closeSeconds = 0.0;   // error-dialog watch period
    int32_t checksum = 0;
    int32_t cheatCheck = 0;
    int32_t checkRunning = 0;
    int32_t minimizeZP = 0;
};

}  // namespace zpmoni
