// SPDX-License-Identifier: MIT
// The main window's settings command: the sheet with its five pages.
#include "app/zpmoni_dlg.h"

#include "access/ipfilter_page.h"
#include "app/monitor_controller.h"
#include "app/sheet_steps.h"
#include "app/zpmoni_app.h"
#include "capture/known_aircraft.h"
#include "client/glimit_page.h"
#include "client/schedule_page.h"
#include "platform/address_table.h"
#include "platform/directory_listing.h"
#include "ui/bootconf_page.h"
#include "ui/packlist_page.h"
#include "ui/settings_sheet.h"

void CZpmoniDlg::OnMonitorSettings()
{
    SheetSteps steps(app, *controller);
    const SheetValues in = steps.Current();

    CSettingsSheet sheet(this);
    auto* bootconf = new CBootconfPage(in.bootconf, InterfaceAddresses());
    auto* schedule = new CSchedulePage(in.schedule);
    auto* packlist = new CPacklistPage(in.packFile, *bootconf, std::make_unique<KnownAircraft>(),
                                       SystemDirectoryListing());
    auto* ipfilter = new CIpfilterPage(in.denyList, &app.packetFilter.InForce());
    auto* glimit = new CGlimitPage(in.glimit);
    for (CPropertyPage* page : std::initializer_list<CPropertyPage*>{bootconf, schedule, packlist, ipfilter, glimit})
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
