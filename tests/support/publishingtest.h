#pragma once

#include "app/mainmodule.h"
#include "core/postqueue.h"
#include "serviceprotocol.h"
#include "support/fakes.h"
#include "support/standinservice.h"
#include "support/uiprobe.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tunalo::test {

// The program on fake desktop services but with real browsers, which the test puts into
// fakes.platform.browsers, logged in to a stand-in service and publishing.
class PublishingTest : public ::testing::Test {
protected:
    using Answer = StandInService::Answer;
    using Kind = Answer::Kind;
    static inline const std::string kHome{protocol::kHomePath};
    static inline const std::string kPost{protocol::kPostPath};

    // The service answers its root, a home page that says the user is logged in, and posts.
    PublishingTest();
    // The program and its browsers go while the service still answers.
    ~PublishingTest() override;

    // Makes the program for the service on base and starts it up.
    void launch(const std::string& base);
    // Launches the program and waits until it is logged in and the home page has taken the
    // loader's place, the test's clock moving on as the page comes; then publishing is on.
    void startUp(const std::string& base);
    void postSong(const std::string& song);
    PostQueue& queue() { return app->cycle().posts(); }
    bool posted(std::size_t count);
    bool settled() { return !queue().inFlight(); }
    // Shows the main window again; true once the home page has been loaded anew and tells the log-in.
    bool homeComesBackWithTheWindow();

    StandInService service;
    FakePlatform fakes;
    std::unique_ptr<mainmodule> app;
    std::unique_ptr<BalloonLog> balloons;
};

} // namespace tunalo::test
