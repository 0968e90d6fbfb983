// SPDX-License-Identifier: MIT
// The main window's settings command: the sheet with its five pages.
#include "app/main_window.h"

#include "access/deny_list_page.h"
#include "app/monitor_controller.h"
#include "app/sheet_steps.h"
#include "app/monitor_app.h"
#include "packlist/known_aircraft.h"
#include "client/glimit_page.h"
#include "server/schedule_page.h"
#include "platform/address_table.h"
#include "platform/directory_listing.h"
#include "server/server_start_page.h"
#include "packlist/pack_list_page.h"
#include "ui/settings_sheet.h"

namespace zpmoni {

void MainWindow::OnMonitorSettings()
{
    SheetSteps steps(app, *controller);
    const SheetValues in = steps.Current();

    SettingsSheet sheet(this);
    auto* bootconf = new ServerStartPage(in.bootconf, InterfaceAddresses());
    auto* schedule = new SchedulePage(in.schedule);
    auto* packlist = new PackListPage(in.packFile, *bootconf, std::make_unique<KnownAircraft>(),
                                       SystemDirectoryListing());
    auto* ipfilter = new DenyListPage(in.denyList, &app.access.InForce());
    auto* glimit = new GLimitPage(in.glimit);
    for (SettingsPage* page : std::initializer_list<SettingsPage*>{bootconf, schedule, packlist, ipfilter, glimit})
        sheet.AddPage(page);
    if (sheet.exec() != QDialog::Accepted)
        return;

    SheetValues out = in;
    out.bootconf = bootconf->Values();
    out.schedule = schedule->Values();
    out.packFile = packlist->PackFile();
    out.denyList = ipfilter->List();
    out.glimit = glimit->Values();
    ApplySheet(out, steps);
}

}  // namespace zpmoni
