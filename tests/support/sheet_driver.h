// SPDX-License-Identifier: MIT
#pragma once

// Starts the program with its main window and drives the settings sheet the way a user does:
// from the main window's menu, on the event loop.

#include "app/monitor_app.h"
#include "app/main_window.h"
#include "platform/system_clock.h"
#include "ui/settings_sheet.h"

#include <QtWidgets>

#include <gtest/gtest.h>

#include <functional>

using namespace zpmoni;

// The program as main() starts it on `folder`, with its main window initialised but not shown.
struct Program {
    explicit Program(const std::string& folder) : app(folder, clock) { window.Initialize(); }
    SystemClock clock;
    MonitorApp app;
    MainWindow window{(app.StartUp([](std::string_view) {}), app)};  // made once the program has started
};

// Runs the event loop until `done` or `ms` milliseconds have passed; what `done` says then.
inline bool PumpUntil(const std::function<bool()>& done, int ms = 10000)
{
    for (const QDeadlineTimer deadline(ms); !done() && !deadline.hasExpired();)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Opens the sheet from the window's menu; `act` gets it once it shows and must close it.
inline void WithSheetFromMenu(QWidget& window, const std::function<void(SettingsSheet&)>& act)
{
    QTimer::singleShot(0, [&] {
        auto* sheet = qobject_cast<SettingsSheet*>(QApplication::activeModalWidget());
        ASSERT_TRUE(sheet);
        act(*sheet);
    });
    for (QAction* action : window.findChildren<QAction*>())
        if (action->text() == QString::fromUtf8("モニター設定(&M)"))
            action->trigger();
}

template <typename W = QLineEdit>
W* Find(const QWidget& parent, const char* name)
{
    return parent.findChild<W*>(QString::fromLatin1(name));
}
