#include "scratchdatabase.h"

#include "store/postgres.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

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

namespace {

// The parent process of a process, from /proc; 0 when it cannot be read.
pid_t parentOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const auto name = stat.rfind(')'); // the name in parentheses may hold blanks
    if (name == std::string::npos)
        return 0;
    std::istringstream rest(stat.substr(name + 1));
    std::string state;
    pid_t parent = 0;
    rest >> state >> parent;
    return parent;
}

} // namespace

StoppedCluster::StoppedCluster()
{
    const char* data = std::getenv("TUNALO_TEST_POSTGRES_DATA");
    if (!data || !*data)
        throw std::runtime_error("TUNALO_TEST_POSTGRES_DATA names no cluster");
    std::ifstream pidFile(std::filesystem::path(data) / "postmaster.pid");
    pid_t postmaster = 0;
    if (!(pidFile >> postmaster) || postmaster <= 0)
        throw std::runtime_error(std::string("no postmaster.pid in ") + data);
    // The postmaster first, so that it starts no backend after the backends are counted.
    if (::kill(postmaster, SIGSTOP) != 0)
        throw std::runtime_error("cannot stop the cluster's postmaster");
    m_stopped.push_back(postmaster);
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const auto pid = static_cast<pid_t>(std::stol(name));
        if (parentOf(pid) == postmaster && ::kill(pid, SIGSTOP) == 0)
            m_stopped.push_back(pid);
    }
}

StoppedCluster::~StoppedCluster()
{
    for (const auto pid : m_stopped)
        ::kill(pid, SIGCONT);
}

} // namespace tunalo::service::testkit
