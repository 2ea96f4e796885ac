#include "storage_url.hpp"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string_view>

namespace tarvex::detail {
namespace {

constexpr std::string_view kUsage = "use sqlite:///path/to/file.db or postgresql://user@host:port/database";

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %XX escapes decoded, as libpq decodes every part of a URI; a malformed escape is refused.
std::string decoded(std::string_view text, const char* part) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int hi = i + 2 < text.size() ? hex_digit(text[i + 1]) : -1;
        const int lo = hi >= 0 ? hex_digit(text[i + 2]) : -1;
        if (lo < 0) throw std::invalid_argument(std::string("storage: a malformed %-escape in the URL's ") + part);
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

bool is_host_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view(".-_:[],%").find(c) != std::string_view::npos;
}

// Whether text, the part of a URL after an '@', reads as host[:port][,host[:port]...] followed by
// the end, a path or a query.
bool reads_as_host(std::string_view text) {
    const std::size_t end = std::min(text.find('/'), text.find('?'));
    const std::string_view host = text.substr(0, end);
    return !host.empty() && std::all_of(host.begin(), host.end(), is_host_char);
}

// Where the user information of rest (the URL after "scheme://") ends: the '@' before the host,
// or npos when there is none. The standard reading (the last '@' before the first '/' or '?')
// comes first. A password holding an unencoded '/' or '?' puts its '@' later: then the last '@'
// followed by a host counts, if what precedes it starts "user:" with something other than a port
// after the colon.
std::size_t userinfo_end(std::string_view rest) {
    const std::size_t authority_end = std::min(rest.find('/'), rest.find('?'));
    if (const std::size_t at = rest.substr(0, authority_end).rfind('@'); at != std::string_view::npos) return at;
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos || colon > authority_end) return std::string_view::npos;
    const std::string_view after_colon = rest.substr(colon + 1, authority_end - colon - 1);
    const bool port = !after_colon.empty() && std::all_of(after_colon.begin(), after_colon.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
    if (port) return std::string_view::npos;
    for (std::size_t at = rest.rfind('@'); at != std::string_view::npos && at > authority_end;
         at = rest.rfind('@', at - 1)) {
        if (reads_as_host(rest.substr(at + 1))) return at;
        if (at == 0) break;
    }
    return std::string_view::npos;
}

// Splits "a:1,b,[::1]:2" into hosts "a,b,::1" and ports "1,,2", as libpq takes lists of them.
std::pair<std::string, std::string> hosts_and_ports(std::string_view spec) {
    std::string hosts, ports;
    bool any_port = false;
    std::size_t start = 0;
    while (start <= spec.size()) {
        const std::size_t comma = std::min(spec.find(',', start), spec.size());
        std::string_view entry = spec.substr(start, comma - start);
        std::string_view host = entry, port;
        if (!entry.empty() && entry.front() == '[') {
            const std::size_t close = entry.find(']');
            if (close == std::string_view::npos)
                throw std::invalid_argument("storage: an IPv6 host without its closing ']'");
            host = entry.substr(1, close - 1);
            if (close + 1 < entry.size() && entry[close + 1] == ':') port = entry.substr(close + 2);
        } else if (const std::size_t colon = entry.rfind(':'); colon != std::string_view::npos) {
            host = entry.substr(0, colon);
            port = entry.substr(colon + 1);
        }
        if (start) {
            hosts += ',';
            ports += ',';
        }
        hosts += decoded(host, "host");
        ports += decoded(port, "port");
        any_port = any_port || !port.empty();
        start = comma + 1;
    }
    return {hosts, any_port ? ports : std::string()};
}

StorageUrl parse_postgres(const std::string& url, std::size_t scheme_end) {
    StorageUrl out{StorageUrl::Kind::Postgres, "", {}, url.substr(0, scheme_end), {}};
    const std::string_view rest = std::string_view(url).substr(scheme_end);
    const std::size_t at = userinfo_end(rest);
    std::string_view location = rest;
    if (at != std::string_view::npos) {
        const std::string_view userinfo = rest.substr(0, at);
        const std::size_t colon = userinfo.find(':');
        const std::string_view user = userinfo.substr(0, colon);
        if (!user.empty()) out.options.emplace_back("user", decoded(user, "user name"));
        out.display += user;
        if (colon != std::string_view::npos) {
            const std::string_view password = userinfo.substr(colon + 1);
            out.secrets.emplace_back(password);
            out.secrets.push_back(decoded(password, "password"));
            out.options.emplace_back("password", out.secrets.back());
            out.display += ":***";
        }
        out.display += '@';
        location = rest.substr(at + 1);
    }
    const std::size_t query_at = location.find('?');
    const std::string_view before_query = location.substr(0, query_at);
    const std::size_t slash = before_query.find('/');
    const auto [hosts, ports] = hosts_and_ports(before_query.substr(0, slash));
    if (!hosts.empty() && hosts != ",") out.options.emplace_back("host", hosts);
    if (!ports.empty()) out.options.emplace_back("port", ports);
    out.display += before_query;
    if (slash != std::string_view::npos && slash + 1 < before_query.size()) {
        out.options.emplace_back("dbname", decoded(before_query.substr(slash + 1), "database name"));
    }
    if (query_at != std::string_view::npos) {
        out.display += '?';
        std::string_view query = location.substr(query_at + 1);
        bool first = true;
        while (!query.empty()) {
            const std::size_t amp = query.find('&');
            const std::string_view pair = query.substr(0, amp);
            query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
            if (pair.empty()) continue;
            const std::size_t eq = pair.find('=');
            if (eq == std::string_view::npos) {
                throw std::invalid_argument(
                    "storage: a URL option without '=' (options are keyword=value, joined by '&')");
            }
            const std::string key = decoded(pair.substr(0, eq), "options");
            std::string value = decoded(pair.substr(eq + 1), "options");
            if (!first) out.display += '&';
            first = false;
            out.display += pair.substr(0, eq + 1);
            if (key == "password") {
                out.secrets.emplace_back(pair.substr(eq + 1));
                out.secrets.push_back(value);
                out.display += "***";
            } else {
                out.display += pair.substr(eq + 1);
            }
            out.options.emplace_back(key, std::move(value));
        }
    }
    // Shortest first would leave pieces of longer secrets behind: replace the longest first.
    std::sort(out.secrets.begin(), out.secrets.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    std::erase(out.secrets, std::string());
    return out;
}

}  // namespace

std::string without_secrets(std::string text, const std::vector<std::string>& secrets) {
    for (const std::string& secret : secrets) {
        if (secret.empty()) continue;
        for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3)) {
            text.replace(at, secret.size(), "***");
        }
    }
    return text;
}

StorageUrl parse_storage_url(const std::string& url) {
    static const std::string sqlite = "sqlite:///";
    if (url.rfind(sqlite, 0) == 0) {
        std::string path = url.substr(sqlite.size());
        if (path.empty())
            throw std::invalid_argument("storage: '" + url + "' names no file; use sqlite:///path/to/file.db");
        return {StorageUrl::Kind::Sqlite, std::move(path), {}, url, {}};
    }
    for (const std::string scheme : {"postgresql://", "postgres://"}) {
        if (url.rfind(scheme, 0) == 0) return parse_postgres(url, scheme.size());
    }
    // A URL that is none of these may hold a password anywhere: it is not repeated.
    const auto scheme = url.find("://");
    throw std::invalid_argument(
        "storage: unsupported URL" +
        (scheme == std::string::npos ? std::string() : " of scheme '" + url.substr(0, scheme) + "'") + "; " +
        std::string(kUsage));
}

}  // namespace tarvex::detail
