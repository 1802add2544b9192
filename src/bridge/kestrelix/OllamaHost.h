#pragma once

#include <string>

namespace kestrelix::llm {

/// Reads an OLLAMA_HOST value into a base address: "http://127.0.0.1:11434" for an empty
/// value, scheme http and port 11434 when missing, 80/443 for an explicit http/https
/// scheme without port, 127.0.0.1 for a bare ":port", brackets around IPv6 addresses,
/// and the unspecified bind addresses 0.0.0.0 and :: mapped to loopback. Surrounding
/// blanks and quotes are ignored; a trailing "/" is dropped. Empty result: unusable value.
std::string parseOllamaHost(std::string value);

/// Whether the host of `baseUrl` is this machine's loopback interface (127.0.0.0/8,
/// ::1 or localhost). Requests to it never go through an HTTP proxy.
bool isLoopbackAddress(const std::string& baseUrl);

/// Whether a secret may be sent to `baseUrl`: over https, or to this machine's loopback
/// interface, where no other machine can read it. Not over plain http to anywhere else.
bool mayCarrySecret(const std::string& baseUrl);

}  // namespace kestrelix::llm
