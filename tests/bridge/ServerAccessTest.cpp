// Reaching a server behind a proxy that wants a key: the key goes only where no other
// machine can read it, a refusal reads as one, and a configuration can be tried before
// it is used.

#include <gtest/gtest.h>

#include <cstdlib>

#include "FakeOllama.h"
#include "ModelServiceBridge.h"
#include "OllamaHost.h"
#include "ZuvodAzeduv.h"

using namespace parlote;
using namespace parlote::testing;
using namespace std::chrono_literals;
namespace llm = kestrelix::llm;

namespace {

TEST(ApiKeyAddresses, TheKeyGoesOnlyOverHttpsOrToThisMachine) {
    for (const char* safe :
         {"https://ollama.com:443", "https://192.168.1.20:11434", "HTTPS://Example.org:8443/ollama",
          "http://127.0.0.1:11434", "http://127.8.9.10:80", "http://localhost:11434",
          "http://LOCALHOST:11434", "http://[::1]:11434"})
        EXPECT_TRUE(llm::mayCarrySecret(safe)) << safe;
    for (const char* open :
         {"http://192.168.1.20:11434", "http://ollama.com:80", "http://10.0.0.1:11434",
          "http://128.0.0.1:11434", "http://localhost.example.com:11434", "http://[::2]:11434",
          "ftp://127.0.0.1:21", ""})
        EXPECT_FALSE(llm::mayCarrySecret(open)) << open;
}

class ServerAccessTest : public ::testing::Test {
protected:
    ServerAccessTest() { server.setModels({ModelInfo::make("llama3.2:latest")}); }

    llm::ZuvodAzeduvConfig config(std::string key = {}) const {
        llm::ZuvodAzeduvConfig c;
        c.host = server.baseUrl();
        c.apiKey = std::move(key);
        c.requestTimeout = 5s;
        return c;
    }

    FakeOllama server;
};

TEST_F(ServerAccessTest, TheKeyIsSentWithEveryRequestToThisMachine) {
    server.setRequiredToken("s3cret-key");
    llm::ZuvodAzeduv client(config("s3cret-key"));
    EXPECT_EQ(client.serverVersion(), "0.12.6");
    EXPECT_EQ(client.getAvailableModels().size(), 1u);
    ASSERT_EQ(client.startChat({{"user", "Hello"}}, {"llama3.2", 0.7, 2147483647}), 0);
    while (client.getNextChunk()) {
    }
    EXPECT_EQ(client.lastError().errorCode, llm::kEndOfStream);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const auto& request : requests)
        EXPECT_EQ(request.header("Authorization"), "Bearer s3cret-key") << request.path;

    // localhost is this machine too.
    llm::ZuvodAzeduvConfig named = config("s3cret-key");
    named.host = "http://localhost:" + std::to_string(server.port());
    EXPECT_EQ(llm::ZuvodAzeduv(named).serverVersion(), "0.12.6");
}

TEST_F(ServerAccessTest, NoKeyNoHeader) {
    llm::ZuvodAzeduv client(config());
    EXPECT_EQ(client.serverVersion(), "0.12.6");
    EXPECT_FALSE(server.requests().at(0).hasHeader("Authorization"));
}

TEST_F(ServerAccessTest, ARefusedKeyReadsAsOneAndNeverShowsTheKey) {
    server.setRequiredToken("right");
    llm::ZuvodAzeduv without(config());
    EXPECT_EQ(without.serverVersion(), "");
    EXPECT_EQ(without.lastError().errorCode, llm::kHttpStatus);
    EXPECT_EQ(without.lastError().osError, 401);
    EXPECT_NE(without.lastError().message.find("asks for an API key"), std::string::npos)
        << without.lastError().message;

    llm::ZuvodAzeduv wrong(config("wrong-key-123"));
    EXPECT_TRUE(wrong.getAvailableModels().empty());
    EXPECT_EQ(wrong.lastError().osError, 401);
    EXPECT_NE(wrong.lastError().message.find("did not accept the API key"), std::string::npos);
    EXPECT_EQ(wrong.lastError().message.find("wrong-key-123"), std::string::npos);
    EXPECT_NE(wrong.startChat({{"user", "Hello"}}, {"llama3.2", 0.7, 2147483647}), 0);
    EXPECT_EQ(wrong.lastError().osError, 401);
}

TEST_F(ServerAccessTest, AKeyIsNeverSentOverPlainHttpToAnotherMachine) {
    // Should the client send anything, it goes through this proxy on loopback, whose
    // records would show it; nothing may leave this machine either way.
    const char* saved = std::getenv("http_proxy");
    const std::string previous = saved ? saved : "";
    ::setenv("http_proxy", server.baseUrl().c_str(), 1);
    llm::ZuvodAzeduvConfig remote = config("top-secret");
    remote.host = "http://192.0.2.10:11434";
    llm::ZuvodAzeduv client(remote);
    EXPECT_EQ(client.serverVersion(), "");
    EXPECT_EQ(client.lastError().errorCode, llm::kInvalidRequest);
    EXPECT_NE(client.lastError().message.find("https"), std::string::npos);
    EXPECT_EQ(client.lastError().message.find("top-secret"), std::string::npos);
    EXPECT_TRUE(client.getAvailableModels().empty());
    EXPECT_NE(client.startChat({{"user", "Hello"}}, {"llama3.2", 0.7, 2147483647}), 0);
    EXPECT_EQ(client.lastError().errorCode, llm::kInvalidRequest);
    if (saved)
        ::setenv("http_proxy", previous.c_str(), 1);
    else
        ::unsetenv("http_proxy");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(ServerAccessTest, AConfigurationIsTriedBeforeItIsUsed) {
    FakeOllama other;
    other.setModels({ModelInfo::make("qwen3:8b")});
    other.setRequiredToken("k");
    ModelServiceBridge bridge(ollamaClientFactory(config()));

    const auto tried = bridge.testConnection(config()).result();
    ASSERT_TRUE(tried.isSuccess()) << tried.error().message.toStdString();
    EXPECT_EQ(tried.value(), "0.12.6");
    llm::ZuvodAzeduvConfig otherConfig;
    otherConfig.host = other.baseUrl();
    const auto refused = bridge.testConnection(otherConfig).result();
    ASSERT_FALSE(refused.isSuccess());
    EXPECT_EQ(refused.error().osError, 401);
    llm::ZuvodAzeduvConfig unusable;
    unusable.host = "ftp://127.0.0.1";
    EXPECT_EQ(bridge.testConnection(unusable).result().error().errorCode, llm::kInvalidRequest);
    EXPECT_EQ(bridge.loadAvailableModels().result().value().at(0).id, "llama3.2:latest")
        << "trying changes nothing";

    otherConfig.apiKey = "k";
    ASSERT_TRUE(bridge.modelDetails("llama3.2:latest").result().isSuccess());
    bridge.useServer(otherConfig);
    EXPECT_EQ(bridge.loadAvailableModels().result().value().at(0).id, "qwen3:8b");
    EXPECT_FALSE(bridge.modelDetails("llama3.2:latest").result().isSuccess())
        << "the other server's details are not kept";
}

}  // namespace
