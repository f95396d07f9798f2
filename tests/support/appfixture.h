#pragma once

#include "app/mainmodule.h"
#include "support/fakes.h"

#include <gtest/gtest.h>

#include <memory>

namespace tunalo::test {

// A fresh program on fake platform services for each test.
class AppTest : public ::testing::Test {
protected:
    AppTest() : app(std::make_unique<mainmodule>(fakes.platform)) {}

    // Runs start-up as the program does and checks that it went through.
    void startUp() { ASSERT_TRUE(app->startup()); }

    FakePlatform fakes;
    std::unique_ptr<mainmodule> app;
};

} // namespace tunalo::test
