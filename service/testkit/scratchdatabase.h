#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tunalo::service::testkit {

// The PostgreSQL cluster the tests may use: TUNALO_TEST_POSTGRES, the address of a database on it
// whose user may create databases (scripts/test starts a throwaway cluster and sets it). Empty
// when none is given.
std::string testCluster();

// A new, empty database on the test cluster, dropped again with everything in it.
class ScratchDatabase {
public:
    explicit ScratchDatabase(const std::string& cluster);
    ~ScratchDatabase();
    ScratchDatabase(const ScratchDatabase&) = delete;
    ScratchDatabase& operator=(const ScratchDatabase&) = delete;

    // Its connection address, for --db or a store.
    const std::string& address() const { return m_address; }

private:
    std::string m_cluster;
    std::string m_name;
    std::string m_address;
};

// The test cluster's server hung: its postmaster and every backend stopped with SIGSTOP until this
// is destroyed (SIGCONT). Finds them through TUNALO_TEST_POSTGRES_DATA, the cluster's data folder
// (scripts/postgres.sh sets it); throws when that is not set.
class StoppedCluster {
public:
    StoppedCluster();
    ~StoppedCluster();
    StoppedCluster(const StoppedCluster&) = delete;
    StoppedCluster& operator=(const StoppedCluster&) = delete;

private:
    std::vector<pid_t> m_stopped;
};

} // namespace tunalo::service::testkit
