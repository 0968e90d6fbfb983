// SPDX-License-Identifier: MIT
#include "app/sheet_exchange.h"

#include "client/g_limiter.h"

#include <cmath>
#include <limits>

namespace zpmoni {

int32_t CloseIntervalMs(double seconds)
{
    // A period typed as decimal text, 1.005 say, is a hair below its value in binary; that hair
    // must not cost a millisecond, or every confirmation would shorten the period by one.
    const double ms = seconds * 1000.0;
    const double whole = std::trunc(ms + std::fabs(ms) * 1e-12);
    if (!(whole >= 1.0))
        return 1;
    return whole >= double{std::numeric_limits<int32_t>::max()} ? std::numeric_limits<int32_t>::max()
                                                                 : static_cast<int32_t>(whole);
}

SheetValues SheetValuesFrom(const MonitorSettings& s, const EventLogFlags& flags,
                            int32_t closeIntervalMs, const DenyList& denyList,
                            const GlimitValues& glimit)
{
    return {{s, flags.displayLogin, flags.displayJoin, flags.createLogfile, closeIntervalMs * 0.001},
            s, s.packFile, denyList, glimit};
}

void ApplySheet(const SheetValues& v, SheetTarget& t)
{
    MonitorSettings& s = t.Settings();
    const ServerStartValues& b = v.bootconf;
    CopySheetPage(SheetPage::ServerStart, b.settings, s);
    CopySheetPage(SheetPage::Schedule, v.schedule, s);
    s.packFile = v.packFile;
    const int32_t closeInterval = CloseIntervalMs(b.closeSeconds);
    t.SetWindowValues({b.displayLogin, b.displayJoin, b.createLogfile}, closeInterval);
    t.LoadPackIndex();

    t.StopCapture();
    t.ReplaceDenyList(v.denyList);
    t.StartCapture();
    t.InstallIpFilters();
    t.WriteDenyFile();
    t.SaveSettings();

    GlimitValues g = v.glimit;
    g.negative = GLimiter::NormaliseNegative(g.negative);
    g.positive = GLimiter::NormalisePositive(g.positive);
    t.ApplyGlimit(g, s.chatLog != 0);

    t.ResolveNames(s.resolveName != 0);
    if (t.ServerRunning() && s.closeErrorDialog != 0)
        t.SetErrorDialogTimer(closeInterval);
    t.Reconnect(g.enable != 0, s.port);
}

}  // namespace zpmoni
