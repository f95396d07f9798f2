#include "scratchdatabase.h"

#include "postgres.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace tunalo::service::testkit {

std::string testCluster()
{
    const char* address = std::getenv("TUNALO_TEST_POSTGRES");
    return address ? address : "";
}

namespace {

// The cluster's address with another database in its path (the part after the last '/').
std::string withDatabase(const std::string& cluster, const std::string& name)
{
    const auto query = cluster.find('?');
    const auto path = cluster.rfind('/', query);
    return cluster.substr(0, path + 1) + name + (query == std::string::npos ? "" : cluster.substr(query));
}

} // namespace

ScratchDatabase::ScratchDatabase(const std::string& cluster) : m_cluster(cluster)
{
    static std::atomic<int> made = 0;
    // A name of digits the test makes itself: database names cannot travel as parameters.
    m_name = "tunalo_test_" + std::to_string(::getpid()) + "_" + std::to_string(++made);
    pg::Connection(m_cluster).script(("CREATE DATABASE " + m_name).c_str());
    m_address = withDatabase(m_cluster, m_name);
}

ScratchDatabase::~ScratchDatabase()
{
    try {
        // FORCE: a service killed a moment ago may still hold a connection the server has not
        // noticed closing.
        pg::Connection(m_cluster).script(("DROP DATABASE " + m_name + " WITH (FORCE)").c_str());
    } catch (const std::exception&) {
        // A database left on a throwaway cluster goes with the cluster.
    }
}

} // namespace tunalo::service::testkit
