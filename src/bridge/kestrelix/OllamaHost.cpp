#include "OllamaHost.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <algorithm>
#include <cctype>

#include "ZuvodAzeduv.h"

namespace kestrelix::llm {

namespace {

constexpr int kOllamaPort = 11434;

std::string trimmed(std::string text, const char* characters) {
    const auto first = text.find_first_not_of(characters);
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(characters);
    return text.substr(first, last - first + 1);
}

int portOr(const std::string& text, int fallback) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return fallback;
    const int port = std::stoi(text);
    return port >= 1 && port <= 65535 ? port : fallback;
}

bool isValidUrl(const std::string& url) {
    CURLU* handle = curl_url();
    if (!handle) return false;
    const bool ok = curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
    curl_url_cleanup(handle);
    return ok;
}

}  // namespace

std::string parseOllamaHost(std::string value) {
    value = trimmed(trimmed(trimmed(std::move(value), " \t\r\n"), "\"'"), " \t\r\n");
    if (value.empty()) return "http://127.0.0.1:11434";

    std::string scheme = "http";
    int defaultPort = kOllamaPort;
    if (const auto separator = value.find("://"); separator != std::string::npos) {
        scheme = value.substr(0, separator);
        std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        if (scheme == "http") {
            defaultPort = 80;
        } else if (scheme == "https") {
            defaultPort = 443;
        } else {
            return {};
        }
        value.erase(0, separator + 3);
    }

    std::string path;
    if (const auto slash = value.find('/'); slash != std::string::npos) {
        path = value.substr(slash);
        value.erase(slash);
        while (!path.empty() && path.back() == '/') path.pop_back();
    }

    std::string host = value;
    std::string portText;
    if (!value.empty() && value.front() == '[') {
        const auto close = value.find(']');
        if (close == std::string::npos) return {};
        host = value.substr(0, close + 1);
        if (close + 1 < value.size()) {
            if (value[close + 1] != ':') return {};
            portText = value.substr(close + 2);
        }
    } else if (std::count(value.begin(), value.end(), ':') > 1) {
        host = "[" + value + "]";  // a bare IPv6 address
    } else if (const auto colon = value.find(':'); colon != std::string::npos) {
        host = value.substr(0, colon);
        portText = value.substr(colon + 1);
    }

    if (host.empty() || host == "0.0.0.0") host = "127.0.0.1";
    if (host == "[::]") host = "[::1]";
    if (scheme == "http" && defaultPort == kOllamaPort && host == "ollama.com") {
        scheme = "https";
        defaultPort = 443;
    }

    std::string url =
        scheme + "://" + host + ":" + std::to_string(portOr(portText, defaultPort)) + path;
    return isValidUrl(url) ? url : std::string();
}

bool isLoopbackAddress(const std::string& baseUrl) {
    CURLU* handle = curl_url();
    if (!handle) return false;
    bool loopback = false;
    char* host = nullptr;
    if (curl_url_set(handle, CURLUPART_URL, baseUrl.c_str(), 0) == CURLUE_OK &&
        curl_url_get(handle, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
        std::string name = host;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        in_addr ipv4{};
        loopback =
            name == "localhost" || name == "[::1]" ||
            (inet_pton(AF_INET, name.c_str(), &ipv4) == 1 && (ntohl(ipv4.s_addr) >> 24) == 127);
        curl_free(host);
    }
    curl_url_cleanup(handle);
    return loopback;
}

bool mayCarrySecret(const std::string& baseUrl) {
    std::string scheme = baseUrl.substr(0, baseUrl.find("://"));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (scheme == "https") return true;
    return scheme == "http" && isLoopbackAddress(baseUrl);
}

}  // namespace kestrelix::llm
