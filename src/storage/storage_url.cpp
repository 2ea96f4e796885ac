#include "storage_url.hpp"

#include <regex>
#include <stdexcept>

namespace tarvex::detail {

std::string without_secret(std::string text, const std::string& secret) {
    if (secret.empty()) return text;
    for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3)) {
        text.replace(at, secret.size(), "***");
    }
    return text;
}

StorageUrl parse_storage_url(const std::string& url) {
    static const std::string sqlite = "sqlite:///";
    if (url.rfind(sqlite, 0) == 0) {
        std::string path = url.substr(sqlite.size());
        if (path.empty()) throw std::invalid_argument("storage: '" + url + "' names no file; use sqlite:///path/to/file.db");
        return {StorageUrl::Kind::Sqlite, std::move(path), url, ""};
    }
    if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0) {
        // The password of user:password@host, and of a password= option.
        std::smatch m;
        std::string secret;
        if (std::regex_search(url, m, std::regex("^[a-z]+://[^/@:?]*:([^/@?]*)@"))) {
            secret = m[1];
        } else if (std::regex_search(url, m, std::regex("[?&]password=([^&]*)"))) {
            secret = m[1];
        }
        return {StorageUrl::Kind::Postgres, url, without_secret(url, secret), secret};
    }
    // A URL that is none of these may hold a password anywhere: it is not repeated.
    const auto scheme = url.find("://");
    throw std::invalid_argument("storage: unsupported URL" +
                                (scheme == std::string::npos ? std::string() : " of scheme '" + url.substr(0, scheme) + "'") +
                                "; use sqlite:///path/to/file.db or postgresql://user@host:port/database");
}

}  // namespace tarvex::detail
