// SPDX-License-Identifier: MIT
#include "base/monitor_settings.h"
#include "client/g_limiter.h"
#include "fuzz/fuzz_target.h"

#include <cstdlib>

using namespace zpmoni;

// A settings file as anything may have left it: every key read, the time lists among them, and
// a few written back (each write rewrites the whole file, so not all of them); a time list read
// from the same bytes reads the same once written out.
FUZZ_TARGET(FuzzSettings)
{
    ProfileStore store(InputFile("settings.ini", data, size));
    MonitorSettings settings;
    LoadSettings(store, settings);
    GLimiter limiter(nullptr);
    limiter.LoadSettings(store);
    store.WriteString(kProgramDataSection, "Schedule", FormatTimeList(settings.schedule));
    limiter.SaveSettings(store);
    (void)store.GetBytes("ConnectDlg", "ListCtrl");

    TimeList once, twice;
    ParseTimeList({reinterpret_cast<const char*>(data), size}, once);
    ParseTimeList(FormatTimeList(once), twice);
    if (twice != once)
        std::abort();
    std::remove(store.Path().c_str());
    return 0;
}
