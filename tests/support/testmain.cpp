// The tests' main: a QApplication for the widgets, and every Qt warning the test did not expect
// counted as a failure.
#include "support/qtwarnings.h"
#ifndef TUNALO_TEST_OFFSCREEN
#include "adapters/webengine/webenginebrowsers.h"
#endif

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
#ifdef TUNALO_TEST_OFFSCREEN
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#else
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "these tests need an X display: run them through scripts/test\n");
        return 1;
    }
#endif
#ifndef TUNALO_TEST_OFFSCREEN
    // The tiers on a real desktop run the browser engine as the program does.
    tunalo::prepareWebEngineApplication();
#endif
    QApplication application(argc, argv);
    tunalo::test::failOnUnexpectedQtWarnings();
    return RUN_ALL_TESTS();
}
