#include <gtest/gtest.h>

#include "OllamaHost.h"
#include "ZuvodAzeduv.h"

// OLLAMA_HOST is read the way the official Ollama clients read it, so that one exported
// value works for the ollama command and for Parlote alike.
TEST(OllamaHost, ReadsTheFormsTheOfficialClientsAccept) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "http://127.0.0.1:11434"},
        {"1.2.3.4", "http://1.2.3.4:11434"},
        {":56789", "http://127.0.0.1:56789"},
        {"1.2.3.4:56789", "http://1.2.3.4:56789"},
        {"http://1.2.3.4", "http://1.2.3.4:80"},
        {"https://1.2.3.4", "https://1.2.3.4:443"},
        {"HTTP://1.2.3.4:8080", "http://1.2.3.4:8080"},
        {"example.com", "http://example.com:11434"},
        {"example.com/path/", "http://example.com:11434/path"},
        {"https://example.com/ollama", "https://example.com:443/ollama"},
        {"[::1]", "http://[::1]:11434"},
        {"::1", "http://[::1]:11434"},
        {"[::1]:8080", "http://[::1]:8080"},
        {" 1.2.3.4 ", "http://1.2.3.4:11434"},
        {"'1.2.3.4'", "http://1.2.3.4:11434"},
        {"\"1.2.3.4:99\"", "http://1.2.3.4:99"},
        {":66000", "http://127.0.0.1:11434"},
        {"0.0.0.0", "http://127.0.0.1:11434"},
        {"0.0.0.0:9000", "http://127.0.0.1:9000"},
        {"[::]:9000", "http://[::1]:9000"},
        {"ollama.com", "https://ollama.com:443"},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(kestrelix::llm::parseOllamaHost(input), expected) << "OLLAMA_HOST=" << input;
    }
}

TEST(OllamaHost, RejectsWhatCannotBeAnHttpAddress) {
    EXPECT_EQ(kestrelix::llm::parseOllamaHost("ftp://1.2.3.4"), "");
    EXPECT_EQ(kestrelix::llm::parseOllamaHost("[::1"), "");
    EXPECT_EQ(kestrelix::llm::parseOllamaHost("[::1]x"), "");
}

TEST(OllamaHost, OnlyThisMachinesAddressesCountAsLoopback) {
    using kestrelix::llm::isLoopbackAddress;
    EXPECT_TRUE(isLoopbackAddress("http://127.0.0.1:11434"));
    EXPECT_TRUE(isLoopbackAddress("http://127.1.2.3:11434"));
    EXPECT_TRUE(isLoopbackAddress("http://[::1]:11434"));
    EXPECT_TRUE(isLoopbackAddress("http://LocalHost:11434"));
    EXPECT_FALSE(isLoopbackAddress("http://127.example.com:11434"));
    EXPECT_FALSE(isLoopbackAddress("http://192.168.1.20:11434"));
    EXPECT_FALSE(isLoopbackAddress("https://ollama.com:443"));
}
