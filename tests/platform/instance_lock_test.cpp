// SPDX-License-Identifier: MIT
#include "platform/instance_lock.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <memory>

using namespace zpmoni;

namespace {

using Result = InstanceLock::Result;

TEST(InstanceLockTest, SecondHolderIsRefusedUntilTheFirstLetsGo)
{
    TempFolder dir;
    auto first = std::make_unique<InstanceLock>();
    ASSERT_EQ(first->Acquire(dir.path.string()), Result::Acquired);
    InstanceLock second;
    EXPECT_EQ(second.Acquire(dir.path.string()), Result::Held);
    first.reset();
    EXPECT_EQ(second.Acquire(dir.path.string()), Result::Acquired);
    EXPECT_EQ(InstanceLock().Acquire(dir.File("missing")), Result::Unavailable);
}

}  // namespace
