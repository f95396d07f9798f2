#pragma once

#include "app/mainmodule.h"
#include "support/fakes.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <memory>

namespace tunalo::test {

// A fresh program on fake platform services for each test.
class AppTest : public ::testing::Test {
protected:
    AppTest() : app(std::make_unique<mainmodule>(fakes.platform)) {}

    // Runs start-up as the program does, with the first turn of its event loop (where the welcome
    // balloon goes out), and checks that it went through.
    void startUp()
    {
        ASSERT_TRUE(app->startup());
        QCoreApplication::processEvents();
    }

    FakePlatform fakes;
    std::unique_ptr<mainmodule> app;
};

} // namespace tunalo::test
