#include "database_url.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr const char* SCHEME = "postgresql://";
constexpr const char* FORM = "postgresql://USER@HOST[:PORT]/DBNAME";

// What a name may hold so that it reaches the server as written: no quoting, no escapes.
bool PlainName(const std::string& name, const char* extra) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [extra](unsigned char c) {
        return std::isalnum(c) || std::string(extra).find(static_cast<char>(c)) != std::string::npos;
    });
}

}  // namespace

std::string DatabaseUrl::Where() const { return user + "@" + host + ":" + std::to_string(port) + "/" + database; }

int ParseDatabaseUrl(const std::string& text, DatabaseUrl& url, std::string& error) {
    auto fail = [&](const std::string& why) {
        error = "the database \"" + text + "\" cannot be used: " + why + " (the form is " + FORM + ")";
        return 0;
    };
    const std::string scheme = SCHEME;
    if (text.compare(0, scheme.size(), scheme) != 0) return fail("it does not begin with " + scheme);
    url = DatabaseUrl{};
    std::string rest = text.substr(scheme.size());
    size_t at = rest.find('@'), slash = rest.find('/');
    if (at == std::string::npos || (slash != std::string::npos && at > slash)) return fail("it names no user");
    std::string user = rest.substr(0, at);
    // The password belongs in the password file, never where others read the URL.
    if (user.find(':') != std::string::npos)
        return fail("it holds a password: put the password in the PostgreSQL password file instead");
    if (!PlainName(user, "_-.")) return fail("the user \"" + user + "\" is not a plain name");
    if (slash == std::string::npos) return fail("it names no database");
    std::string hostPort = rest.substr(at + 1, slash - at - 1), database = rest.substr(slash + 1);
    std::string host = hostPort, port;
    size_t close = hostPort.rfind(']');
    size_t colon = hostPort.rfind(':');
    if (!hostPort.empty() && hostPort[0] == '[') {  // [::1]:5433
        if (close == std::string::npos) return fail("its host \"" + hostPort + "\" has no closing ]");
        host = hostPort.substr(1, close - 1);
        if (close + 1 < hostPort.size() && hostPort[close + 1] != ':') return fail("something follows its host's ]");
        port = close + 1 < hostPort.size() ? hostPort.substr(close + 2) : "";
        if (!PlainName(host, ":.")) return fail("the host \"" + hostPort + "\" is not an address");
    } else {
        if (colon != std::string::npos) {
            host = hostPort.substr(0, colon);
            port = hostPort.substr(colon + 1);
        }
        if (!PlainName(host, "-._")) return fail("it names no host, or \"" + host + "\" is not a host name");
    }
    if (colon != std::string::npos && (close == std::string::npos || colon > close)) {
        bool digits = !port.empty() && port.size() <= 5 &&
                      std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); });
        if (!digits || std::stoi(port) < 1 || std::stoi(port) > 65535)
            return fail("the port \"" + port + "\" is not a number from 1 to 65535");
        url.port = std::stoi(port);
    }
    if (database.find_first_of("?#") != std::string::npos)
        return fail("it has options after the database name: none are taken");
    if (!PlainName(database, "_-.")) return fail("it names no database, or \"" + database + "\" is not a plain name");
    url.user = user;
    url.host = host;
    url.database = database;
    url.text = text;
    return 1;
}
