#pragma once

#include <string>

namespace kestrelix::llm {

/// Whether the host of `baseUrl` is this machine's loopback interface (127.0.0.0/8,
/// ::1 or localhost). Requests to it never go through an HTTP proxy.
bool isLoopbackAddress(const std::string& baseUrl);

}  // namespace kestrelix::llm
