#pragma once

#include "serviceprocess.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tunalo::service::testkit {

// A real service on a free loopback port with a database of its own for each test.
class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override { restart(); }

    // Starts the service (again) on the same database; a restart gets a new port.
    void restart() {
        m_service.reset();
        m_service = std::make_unique<ServiceProcess>(
            database(), m_dir.path() / ("run" + std::to_string(++m_runs) + ".log"));
    }

    std::filesystem::path database() const { return m_dir.path() / "service.db"; }
    ServiceProcess& service() { return *m_service; }
    int port() const { return m_service->port(); }
    Visitor visitor() const { return Visitor(m_service->port()); }

    // A visitor with a fresh account of its own, logged in.
    Visitor member(const std::string& name) {
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
