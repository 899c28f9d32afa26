// Joins the manager's worker thread when a test binary ends. Without the join, a completion
// event the worker posted and nobody processed is freed by Qt at exit, and ThreadSanitizer
// (which cannot see Qt's futex-based locking) reports the free as racing with the post.
#pragma once

#include <gtest/gtest.h>

#include "platform/aspi/backend.h"

namespace testing_support {

class ManagerShutdown final : public ::testing::Environment {
public:
    void TearDown() override
    {
        aspi::InstallBackend(nullptr);
        aspi::ShutdownManager();
    }
};

// Registers the environment once per binary, before main() runs the tests.
inline const bool kManagerShutdownRegistered =
    (::testing::AddGlobalTestEnvironment(new ManagerShutdown), true);

}  // namespace testing_support
