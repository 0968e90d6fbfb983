// SPDX-License-Identifier: MIT
#include "server/find_window_dialog.h"

#include <QPushButton>

#include <gtest/gtest.h>

using namespace zpmoni;

TEST(FindWindowDialogTest, PutUnderControlFollowsTheLatestSearch)
{
    const std::optional<WindowInfo> results[] = {WindowInfo{5, "ZEPHRINEWINDOW", "CPU", 1},
                                                 std::nullopt, WindowInfo{6, "x", "", 2}};
    size_t next = 0;
    std::vector<WindowId> shown;
    std::function<void(std::optional<WindowInfo>)> answer;
    FindWindowDialog dialog([&](auto a) { answer = std::move(a); }, [&](WindowId w) { shown.push_back(w); });
    EXPECT_FALSE(dialog.ControlButton()->isEnabled());
    for (bool found : {true, false, true}) {
        dialog.OnSearch(true);
        // The search button waits for the answer.
        EXPECT_FALSE(dialog.SearchButton()->isEnabled());
        answer(results[next++]);
        EXPECT_TRUE(dialog.SearchButton()->isEnabled());
        EXPECT_EQ(dialog.ControlButton()->isEnabled(), found);
        EXPECT_EQ(dialog.Found().has_value(), found);
    }
    EXPECT_EQ(shown, (std::vector<WindowId>{5, 6}));
}
