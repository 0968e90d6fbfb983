// SPDX-License-Identifier: MIT
#include "server/find_window_dialog.h"

#include <QPushButton>

#include <gtest/gtest.h>

using namespace zpmoni;

TEST(FindWindowDialogTest, PutUnderControlFollowsTheLatestSearch)
{
    const std::optional<WindowInfo> results[] = {WindowInfo{5, "ZEPHRINEWINDOW", "CPU", 1, false},
                                                 std::nullopt, WindowInfo{6, "x", "", 2, false}};
    size_t next = 0;
    std::vector<WindowId> shown;
    FindWindowDialog dialog([&] { return results[next++]; }, [&](WindowId w) { shown.push_back(w); });
    EXPECT_FALSE(dialog.ControlButton()->isEnabled());
    for (bool found : {true, false, true}) {
        dialog.OnSearch(true);
        EXPECT_EQ(dialog.ControlButton()->isEnabled(), found);
        EXPECT_EQ(dialog.Found().has_value(), found);
    }
    EXPECT_EQ(shown, (std::vector<WindowId>{5, 6}));
}
