#pragma once
// A PostgreSQL server of the test's own: Debian's, in a temporary folder, on 127.0.0.1 and a
// free port, with a user `line`, a database `quality` and a password file naming them
// (PGPASSFILE while it lives). PostgreSQL will not run as root: a root test runs it as the
// system's `postgres` user.
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/loopback_port.h"
#include "support/scratch_dir.h"

class CPostgresServer {
public:
    CPostgresServer() : m_dir(MakeScratchDir("orbix-postgres")), m_port(FreeTcpPort()) {
        if (getuid() == 0) {
            const passwd* postgres = getpwnam("postgres");
            if (postgres && chown(m_dir.c_str(), postgres->pw_uid, postgres->pw_gid) == 0)
                m_asServer = "runuser -u postgres -- ";
        }
        std::ofstream(m_dir / "admin") << "admin\n";
        m_ready =
            Run(BIN + "initdb -N -A scram-sha-256 -U admin --pwfile=" + Path("admin") + " -D " + Path("data"), true) &&
            Start() && Admin("CREATE ROLE line LOGIN PASSWORD 'line-pw'") &&
            Admin("CREATE DATABASE quality OWNER line");
        std::ofstream(m_dir / "pgpass") << "# the test's own\n127.0.0.1:" << m_port << ":*:line:line-pw\n";
        std::filesystem::permissions(m_dir / "pgpass",
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        setenv("PGPASSFILE", (m_dir / "pgpass").c_str(), 1);
    }
    ~CPostgresServer() {
        Run(BIN + "pg_ctl -D " + Path("data") + " -m immediate stop", true);
        unsetenv("PGPASSFILE");
        std::filesystem::remove_all(m_dir);
    }

    bool Ready() const { return m_ready; }
    int Port() const { return m_port; }
    std::string Url(const std::string& user = "line", const std::string& database = "quality") const {
        return "postgresql://" + user + "@127.0.0.1:" + std::to_string(m_port) + "/" + database;
    }
    bool Start() {
        return Run(BIN + "pg_ctl -w -D " + Path("data") + " -l " + Path("server.log") + " -o '-h 127.0.0.1 -p " +
                       std::to_string(m_port) + " -k " + m_dir.string() + "' start",
                   true);
    }
    // As a power cut would: the connections end at once.
    bool Stop() { return Run(BIN + "pg_ctl -w -D " + Path("data") + " -m fast stop", true); }
    // One value from the database `quality`, as psql prints it; empty when the query fails.
    std::string Query(const std::string& sql) const {
        std::string out;
        FILE* pipe = popen(("PGPASSWORD=admin psql -XAtq -h 127.0.0.1 -p " + std::to_string(m_port) +
                            " -U admin -d quality -c \"" + sql + "\" 2>&1")
                               .c_str(),
                           "r");
        char buffer[4096];
        for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        if (pipe) pclose(pipe);
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }

private:
    inline static const std::string BIN = "/usr/lib/postgresql/15/bin/";

    std::string Path(const std::string& name) const { return (m_dir / name).string(); }
    bool Run(const std::string& command, bool asServer) const {
        return std::system(((asServer ? m_asServer : "") + command + " >>" + Path("commands.log") + " 2>&1").c_str()) ==
               0;
    }
    bool Admin(const std::string& sql) const {
        return Run("PGPASSWORD=admin psql -Xq -h 127.0.0.1 -p " + std::to_string(m_port) +
                       " -U admin -d postgres -c \"" + sql + "\"",
                   false);
    }

    std::filesystem::path m_dir;
    int m_port;
    std::string m_asServer;  // how the server's programs are run
    bool m_ready = false;
};
