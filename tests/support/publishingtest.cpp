#include "support/publishingtest.h"

#include "core/protocoltext.h"
#include "serviceprotocol.h"
#include "support/process.h"
#include "ui/interface.h"
#include "web/frmweb.h"

namespace tunalo::test {

namespace {

using Kind = StandInService::Answer::Kind;

} // namespace

PublishingTest::PublishingTest()
{
    service.answer(std::string(protocol::kRootPath), {Kind::Page, "Tunalo"});
    service.answer(std::string(protocol::kHomePath), {Kind::Page, std::string(protocol::kLoggedInTitle)});
    service.answer(std::string(protocol::kPostPath), {Kind::Page, "Posted ID:1"});
}

PublishingTest::~PublishingTest()
{
    app.reset();
    fakes.platform.browsers.reset();
}

void PublishingTest::launch(const std::string& base)
{
    qputenv("TUNALO_SERVICE_URL", QByteArray::fromStdString(base));
    app = std::make_unique<mainmodule>(fakes.platform);
    qunsetenv("TUNALO_SERVICE_URL");
    ASSERT_TRUE(app->startup());
}

void PublishingTest::startUp(const std::string& base)
{
    launch(base);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(waitUntil(
        [&] {
            fakes.clock->advance(LoginWatch::kHandOverMs);
            return !app->login().Timer1->isActive();
        },
        30000));
    ASSERT_EQ(app->state().loginState, LoginState::LoggedIn);
    app->state().autoDelete = 1;
    app->state().autoAlert = 1;
    app->state().publishing = kTrue;
    balloons = std::make_unique<BalloonLog>(*fakes.shell);
}

void PublishingTest::postSong(const std::string& song)
{
    app->state().currentSong = QString::fromStdString(song);
    app->cycle().postsong();
}

bool PublishingTest::posted(std::size_t count)
{
    return service.requests(std::string(protocol::kPostPath)).size() >= count;
}

bool PublishingTest::homeComesBackWithTheWindow()
{
    const std::size_t before = service.requests(std::string(protocol::kHomePath)).size();
    app->form<interface>().show();
    return runUntil(
        [&] {
            return service.requests(std::string(protocol::kHomePath)).size() == before + 1 &&
                   app->form<frmWeb>().wb().LocationName() == qtText(protocol::kLoggedInTitle);
        },
        30000);
}

} // namespace tunalo::test
