#pragma once

#include "serviceprocess.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace tunalo::service::testkit {

// A real service on a free loopback port with a database of its own for each test.
class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override { restart(); }

    // Starts the service (again) on the same database; a restart gets a new port.
    void restart()
    {
        m_service.reset();
        m_service = std::make_unique<ServiceProcess>(
            database(), m_dir.path() / ("run" + std::to_string(++m_runs) + ".log"));
    }

    std::filesystem::path database() const { return m_dir.path() / "service.db"; }
    std::filesystem::path folder() const { return m_dir.path(); }

    // What the running service has written to its log so far.
    std::string logText() const
    {
        std::ifstream in(m_dir.path() / ("run" + std::to_string(m_runs) + ".log"), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Runs SQL on the service's database beside the service (WAL lets both in); the first
    // column of each row as text.
    std::vector<std::string> sql(const std::string& statement) const
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
    ServiceProcess& service() { return *m_service; }
    int port() const { return m_service->port(); }
    Visitor visitor() const { return Visitor(m_service->port()); }

    // A visitor with a fresh account of its own, logged in.
    Visitor member(const std::string& name)
    {
        Visitor v(port());
        EXPECT_TRUE(v.signUp(name, "correct horse")) << name;
        return v;
    }

private:
    TempDir m_dir;
    int m_runs = 0;
    std::unique_ptr<ServiceProcess> m_service;
};

} // namespace tunalo::service::testkit
