#include "options.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace tunalo::service;

TEST(Options, DefaultsAndListenAddress)
{
    const auto defaults = parseOptions({});
    EXPECT_EQ(defaults.host, "127.0.0.1");
    EXPECT_EQ(defaults.port, 8631);

    const auto given = parseOptions(
        {"--listen", "[::1]:9000", "--db", "/tmp/x.db", "--public-url", "https://tunalo.example:8443"});
    EXPECT_EQ(given.publicUrl, "https://tunalo.example:8443");
    EXPECT_EQ(given.host, "::1");
    EXPECT_EQ(given.port, 9000);
    EXPECT_EQ(given.databasePath, "/tmp/x.db");
    EXPECT_TRUE(parseOptions({"--help"}).help);
}

TEST(Options, RejectsBadCommandLines)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--listen", "8631"},
        {"--listen", "host:"},
        {"--listen", "host:70000"},
        {"--listen", "host:12x"},
        {"--db"},
        {"--verbose"},
        {"--public-url", "tunalo.example"},
        {"--public-url", "https://tunalo.example/fb"},
        {"--public-url", "https://"},
    };
    for (const auto& args : bad)
        EXPECT_THROW(parseOptions(args), std::invalid_argument) << args[0] << " " << args.back();
}

TEST(Options, TheLogShowsNoDatabasePassword)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/var/lib/tunalo/service.db", "/var/lib/tunalo/service.db"},
        {"postgresql://ann@db.example.org:5432/tunalo", "postgresql://ann@db.example.org:5432/tunalo"},
        {"postgresql://ann:s3cr%40t@db:5432/tunalo", "postgresql://ann:***@db:5432/tunalo"},
        {"postgresql://db:5432/tunalo?user=a@b", "postgresql://db:5432/tunalo?user=a@b"},
    };
    for (const auto& [address, shown] : cases)
        EXPECT_EQ(withoutPassword(address), shown);
}
