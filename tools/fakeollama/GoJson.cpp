#include "GoJson.h"

#include <cstdio>
#include <ctime>

namespace parlote::testing::gojson {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Length of the valid UTF-8 sequence starting at s[i], or 0 when the bytes
// there do not form one (bad lead byte, truncated, overlong, surrogate, or
// beyond U+10FFFF), matching Go's utf8.DecodeRuneInString.
std::size_t validSequenceLength(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    std::size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0) lo = 0xA0;  // overlong
        if (b0 == 0xED) hi = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0) lo = 0x90;  // overlong
        if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < len; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return len;
}

void appendUnicodeEscape(std::string& out, unsigned code) {
    out += "\\u";
    out += kHex[(code >> 12) & 0xF];
    out += kHex[(code >> 8) & 0xF];
    out += kHex[(code >> 4) & 0xF];
    out += kHex[code & 0xF];
}

void dumpInto(std::string& out, const nlohmann::ordered_json& value) {
    switch (value.type()) {
        case nlohmann::ordered_json::value_t::object: {
            out += '{';
            bool first = true;
            for (const auto& [key, member] : value.items()) {
                if (!first) out += ',';
                first = false;
                appendString(out, key);
                out += ':';
                dumpInto(out, member);
            }
            out += '}';
            break;
        }
        case nlohmann::ordered_json::value_t::array: {
            out += '[';
            bool first = true;
            for (const auto& element : value) {
                if (!first) out += ',';
                first = false;
                dumpInto(out, element);
            }
            out += ']';
            break;
        }
        case nlohmann::ordered_json::value_t::string:
            appendString(out, value.get_ref<const std::string&>());
            break;
        default:  // numbers, booleans, null: nlohmann's compact form equals Go's
            out += value.dump();
            break;
    }
}

}  // namespace

void appendString(std::string& out, std::string_view s) {
    out += '"';
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            switch (c) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                case '\b':
                    out += "\\b";
                    break;
                case '\f':
                    out += "\\f";
                    break;
                case '<':
                case '>':
                case '&':
                    appendUnicodeEscape(out, c);
                    break;
                default:
                    if (c < 0x20) {
                        appendUnicodeEscape(out, c);
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        const std::size_t len = validSequenceLength(s, i);
        if (len == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        // U+2028 and U+2029 are E2 80 A8 / E2 80 A9.
        if (len == 3 && c == 0xE2 && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(s[i + 2]) & 0xFE) == 0xA8) {
            appendUnicodeEscape(out, 0x2028u | (static_cast<unsigned char>(s[i + 2]) & 1u));
        } else {
            out.append(s.substr(i, len));
        }
        i += len;
    }
    out += '"';
}

std::string quote(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    appendString(out, s);
    return out;
}

std::string errorObject(std::string_view message) {
    std::string out = "{\"error\":";
    appendString(out, message);
    out += '}';
    return out;
}

std::string dump(const nlohmann::ordered_json& value) {
    std::string out;
    dumpInto(out, value);
    return out;
}

std::string nowRfc3339Nano() {
    return rfc3339NanoFromNow(std::chrono::seconds(0));
}

std::string rfc3339NanoFromNow(std::chrono::seconds fromNow) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    ts.tv_sec += static_cast<time_t>(fromNow.count());
    std::tm utc{};
    gmtime_r(&ts.tv_sec, &utc);
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", utc.tm_year + 1900,
                          utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    if (ts.tv_nsec != 0) {
        char frac[16];
        std::snprintf(frac, sizeof frac, "%09ld", static_cast<long>(ts.tv_nsec));
        int digits = 9;
        while (frac[digits - 1] == '0') --digits;  // Go drops trailing zeros
        n +=
            std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), ".%.*s", digits, frac);
    }
    std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), "Z");
    return buf;
}

std::string fakeDigest(std::string_view seed) {
    // FNV-1a of the seed, stretched with splitmix64: stable across runs and
    // platforms, which keeps test expectations fixed.
    std::uint64_t state = 1469598103934665603ull;
    for (unsigned char c : seed) {
        state = (state ^ c) * 1099511628211ull;
    }
    std::string out;
    out.reserve(64);
    for (int word = 0; word < 4; ++word) {
        state += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        for (int shift = 60; shift >= 0; shift -= 4) out += kHex[(z >> shift) & 0xF];
    }
    return out;
}

}  // namespace parlote::testing::gojson
