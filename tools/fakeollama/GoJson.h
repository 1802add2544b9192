// Serialisation the way Ollama's Go server writes it, so the fake's bytes match
// a real server's: encoding/json string escaping, compact output in the order
// the caller built, RFC 3339 timestamps with trailing zeros dropped.
#pragma once

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace parlote::testing::gojson {

// Appends `s` as a quoted JSON string the way Go's encoding/json does:
// `<` `>` `&` U+2028 U+2029 as \u escapes, \n \r \t \b \f short forms, other
// control characters as \u00XX, and each invalid UTF-8 byte as \ufffd.
void appendString(std::string& out, std::string_view s);
std::string quote(std::string_view s);

// {"error":"<message>"}, the error shape of every endpoint.
std::string errorObject(std::string_view message);

// Compact JSON of `value` with Go's string escaping. Object members keep the
// order of the ordered_json, which callers build in Go struct field order.
std::string dump(const nlohmann::ordered_json& value);

// Current UTC time as Go's time.RFC3339Nano ("2025-10-26T17:15:24.097767Z").
std::string nowRfc3339Nano();

// UTC time `fromNow` ahead, in the same form.
std::string rfc3339NanoFromNow(std::chrono::seconds fromNow);

// A stable, plausible 64-hex-digit sha256-looking digest derived from `seed`.
std::string fakeDigest(std::string_view seed);

}  // namespace parlote::testing::gojson
