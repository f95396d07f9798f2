#pragma once

#include "scratchdatabase.h"
#include "serviceprocess.h"
#include "store/postgres.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tunalo::service::testkit {

// A real service on a free loopback port with a database of its own for each test: a SQLite file,
// or with TUNALO_TEST_STORE=postgresql a new database on the test cluster, so the same tests run
// against both stores.
class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (onPostgres()) {
            if (testCluster().empty())
                GTEST_SKIP() << "TUNALO_TEST_POSTGRES names no PostgreSQL cluster (scripts/test starts one)";
            m_scratch = std::make_unique<ScratchDatabase>(testCluster());
        }
        restart();
    }

    // A sanitizer build of the service writes what it finds to the log, and may go on running.
    void TearDown() override
    {
        m_service.reset();
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.path())) {
            if (entry.path().extension() != ".log")
                continue;
            const auto log = fileText(entry.path());
            for (const auto* report : {"Sanitizer", "runtime error:"})
                EXPECT_EQ(log.find(report), std::string::npos) << entry.path() << ":\n" << log;
        }
    }

    static bool onPostgres()
    {
        const char* store = std::getenv("TUNALO_TEST_STORE");
        return store && std::string(store) == "postgresql";
    }

    // Starts the service (again) on the same database; a restart gets a new port.
    void restart()
    {
        m_service.reset();
        m_service = startAnother();
    }

    // One more instance of the service on the test's database.
    std::unique_ptr<ServiceProcess> startAnother()
    {
        return std::make_unique<ServiceProcess>(database(),
                                                m_dir.path() / ("run" + std::to_string(++m_runs) + ".log"));
    }

    std::filesystem::path folder() const { return m_dir.path(); }

    // What the running service has written to its log so far.
    std::string logText() const { return fileText(m_dir.path() / ("run" + std::to_string(m_runs) + ".log")); }
    // The log once it holds `needle`, or as it stands after ten seconds.
    std::string logTextOnceItHas(const std::string& needle) const
    {
        return fileTextOnceItHas(m_dir.path() / ("run" + std::to_string(m_runs) + ".log"), needle);
    }

    std::string database() const
    {
        return m_scratch ? m_scratch->address() : (m_dir.path() / "service.db").string();
    }

    // Runs SQL on the service's database beside the service; the first column of each row as text.
    std::vector<std::string> sql(const std::string& statement) const
    {
        return m_scratch ? postgresSql(statement) : sqliteSql(statement);
    }
    // The current time in seconds and a blob as lower-case hex, in the store's SQL.
    static std::string sqlNow()
    {
        return onPostgres() ? "floor(extract(epoch from now()))::bigint" : "strftime('%s','now')";
    }
    static std::string sqlHex(const std::string& column)
    {
        return onPostgres() ? "encode(" + column + ", 'hex')" : "lower(hex(" + column + "))";
    }

    ServiceProcess& service() { return *m_service; }
    int port() const { return m_service->port(); }
    Visitor visitor() const { return Visitor(m_service->port()); }

    // A visitor with a fresh account of its own, logged in, whose songs are for that audience (a
    // new account's own choice is followers).
    Visitor member(const std::string& name, const std::string& audience = "public")
    {
        return memberAt(port(), name, audience);
    }
    // The same on the service at that port, such as one a test started with options of its own.
    static Visitor memberAt(int port, const std::string& name, const std::string& audience = "public")
    {
        Visitor v(port);
        EXPECT_TRUE(v.signUp(name, "correct horse")) << name;
        if (audience != "followers") {
            EXPECT_TRUE(v.chooseAudience(audience)) << name;
        }
        return v;
    }

private:
    std::vector<std::string> sqliteSql(const std::string& statement) const
    {
        sqlite3* raw = nullptr;
        sqlite3_open_v2(database().c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
        std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, sqlite3_close);
        sqlite3_busy_timeout(db.get(), 5000);
        sqlite3_stmt* stmt = nullptr;
        std::vector<std::string> rows;
        if (sqlite3_prepare_v2(db.get(), statement.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db.get());
            return rows;
        }
        while (sqlite3_step(stmt) == SQLITE_ROW)
            rows.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
        return rows;
    }

    std::vector<std::string> postgresSql(const std::string& statement) const
    {
        std::vector<std::string> rows;
        try {
            pg::Connection conn(database());
            const auto result = conn.query(statement.c_str());
            for (int row = 0; row < result.rows(); ++row)
                rows.push_back(result.text(row, 0));
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        return rows;
    }

    TempDir m_dir;
    std::unique_ptr<ScratchDatabase> m_scratch;
    int m_runs = 0;
    std::unique_ptr<ServiceProcess> m_service;
};

// One poster per cookie, posting as fast as the service answers and spreading its posts over the
// given instances in turn; remembers every post an instance confirmed. A poster leaves an
// instance that stopped answering and ends when none is left.
class PostBurst {
public:
    PostBurst(const std::vector<std::string>& cookies, const std::vector<int>& ports);
    ~PostBurst() { stop(); }
    PostBurst(const PostBurst&) = delete;
    PostBurst& operator=(const PostBurst&) = delete;

    // Waits until at least count posts are confirmed; false after a minute without.
    bool waitFor(std::size_t count);
    void stop();
    std::set<long long> confirmed();

private:
    void post(const std::string& cookie, const std::vector<int>& ports);

    std::mutex m_mutex;
    std::set<long long> m_confirmed;
    std::atomic<bool> m_running = true;
    std::vector<std::thread> m_posters;
};

} // namespace tunalo::service::testkit
