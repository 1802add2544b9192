// What models can do and which are loaded: the client's reading of /api/show and /api/ps,
// loading and unloading, and the bridge's memory of each model's details.

#include <gtest/gtest.h>

#include <QTimeZone>
#include <thread>

#include "FakeOllama.h"
#include "ModelServiceBridge.h"
#include "ZuvodAzeduv.h"

using namespace parlote;
using namespace parlote::testing;
using namespace std::chrono_literals;
namespace llm = kestrelix::llm;

namespace {

llm::ZuvodAzeduvConfig configFor(const FakeOllama& server) {
    llm::ZuvodAzeduvConfig config;
    config.host = server.baseUrl();
    config.requestTimeout = 5s;
    config.firstRecordTimeout = 5s;
    return config;
}

class ModelDetailsTest : public ::testing::Test {
protected:
    ModelDetailsTest() { server.setModels(FakeOllama::standardModels()); }
    FakeOllama server;
    llm::ZuvodAzeduv client{configFor(server)};
};

TEST_F(ModelDetailsTest, ShowReadsCapabilitiesContextLengthAndModelfile) {
    auto models = FakeOllama::standardModels();
    models[0].system = "You are terse.";
    models[0].parameters =
        "num_ctx                        8192\nstop                           \"<|eot_id|>\"";
    models[0].contextLength = 131072;
    server.setModels(models);

    const llm::OllamaModelDetails llama = client.show("llama3.2");
    ASSERT_EQ(client.lastError().errorCode, llm::kNoError) << client.lastError().message;
    EXPECT_TRUE(llama.capabilitiesKnown);
    EXPECT_TRUE(llama.hasCapability("completion"));
    EXPECT_TRUE(llama.hasCapability("tools"));
    EXPECT_FALSE(llama.hasCapability("vision"));
    EXPECT_EQ(llama.architecture, "llama");
    EXPECT_EQ(llama.contextLength, 131072);
    EXPECT_EQ(llama.system, "You are terse.");
    EXPECT_EQ(llama.parameters, models[0].parameters);
    EXPECT_EQ(server.requestsTo("/api/show").at(0).body["model"], "llama3.2");

    EXPECT_TRUE(client.show("llava:latest").hasCapability("vision"));
    EXPECT_TRUE(client.show("qwen3:8b").hasCapability("thinking"));
    const auto embedding = client.show("nomic-embed-text");
    EXPECT_EQ(embedding.capabilities, std::vector<std::string>{"embedding"});
    EXPECT_EQ(embedding.contextLength, 2048);
    EXPECT_EQ(embedding.architecture, "nomic-bert");

    const auto missing = client.show("nosuch");
    EXPECT_EQ(client.lastError().errorCode, llm::kHttpStatus);
    EXPECT_EQ(client.lastError().osError, 404);
    EXPECT_TRUE(missing.capabilities.empty());
}

TEST_F(ModelDetailsTest, LoadAndUnloadChangeWhatIsRunning) {
    EXPECT_TRUE(client.runningModels().empty());
    EXPECT_EQ(client.lastError().errorCode, llm::kNoError);

    ASSERT_EQ(client.load("llama3.2"), 0) << client.lastError().message;
    const auto loadRequest = server.requestsTo("/api/chat").at(0).body;
    EXPECT_EQ(loadRequest,
              (nlohmann::json{{"model", "llama3.2"}, {"messages", nlohmann::json::array()}}));

    auto running = client.runningModels();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].name, "llama3.2:latest");
    EXPECT_EQ(running[0].contextLength, 4096);
    EXPECT_GT(running[0].size, 0);
    EXPECT_EQ(running[0].sizeVram, running[0].size);
    EXPECT_FALSE(running[0].expiresAt.empty());
    EXPECT_EQ(running[0].digest.size(), 64u);

    ASSERT_EQ(client.unload("llama3.2"), 0) << client.lastError().message;
    const auto unloadRequest = server.requestsTo("/api/chat").at(1).body;
    EXPECT_EQ(unloadRequest, (nlohmann::json{{"model", "llama3.2"}, {"keep_alive", 0}}));
    EXPECT_FALSE(unloadRequest.contains("messages"));
    EXPECT_TRUE(client.runningModels().empty());
    EXPECT_EQ(client.unload("llama3.2"), 0) << "unloading a model not loaded is no error";

    EXPECT_NE(client.load("nomic-embed-text"), 0) << "an embedding model cannot chat";
    EXPECT_EQ(client.lastError().osError, 400);
    EXPECT_NE(client.lastError().message.find("does not support chat"), std::string::npos);
    EXPECT_NE(client.load("nosuch"), 0);
    EXPECT_EQ(client.lastError().osError, 404);
}

TEST_F(ModelDetailsTest, ServerVersionIsReadOrTheFailureSaid) {
    EXPECT_EQ(client.serverVersion(), "0.12.6");
    llm::ZuvodAzeduvConfig gone = configFor(server);
    {
        FakeOllama stopped;
        gone.host = stopped.baseUrl();
    }
    llm::ZuvodAzeduv refused(gone);
    EXPECT_EQ(refused.serverVersion(), "");
    EXPECT_EQ(refused.lastError().errorCode, llm::kConnectionFailed);
}

TEST(ModelRecords, ParametersAreReadAsOllamaPrintsThem) {
    ModelDetails details;
    details.parameters =
        "stop                           \"<|start_header_id|>\"\n"
        "num_ctx                        8192\n"
        "stop                           \"say \\\"end\\\"\"\n"
        "temperature                    0.6";
    EXPECT_EQ(details.parameter(u"num_ctx"), QStringLiteral("8192"));
    EXPECT_EQ(details.parameter(u"temperature"), QStringLiteral("0.6"));
    EXPECT_EQ(details.parameter(u"stop"), QStringLiteral("<|start_header_id|>"));
    EXPECT_FALSE(details.parameter(u"num"));
    EXPECT_FALSE(details.parameter(u"seed"));
}

TEST(ModelRecords, UnknownCapabilitiesMeanAChatModelWithNothingElse) {
    ModelDetails old;
    EXPECT_TRUE(old.supportsChat());
    EXPECT_FALSE(old.supportsVision());
    ModelDetails embedding;
    embedding.capabilitiesKnown = true;
    embedding.capabilities = {QStringLiteral("embedding")};
    EXPECT_FALSE(embedding.supportsChat());
}

TEST(ModelRecords, GpuShareFollowsTheCommandLinesRules) {
    RunningModel model;
    EXPECT_FALSE(model.gpuShare()) << "no size";
    model.size = 1000;
    EXPECT_EQ(model.gpuShare(), 0.0);
    model.sizeVram = 520;
    EXPECT_DOUBLE_EQ(*model.gpuShare(), 0.52);
    model.sizeVram = 1000;
    EXPECT_EQ(model.gpuShare(), 1.0);
    model.sizeVram = 1001;
    EXPECT_FALSE(model.gpuShare()) << "more on the GPU than in all";
}

TEST(ModelRecords, DatesAreReadInEveryFormOllamaWrites) {
    const QDateTime utc(QDate(2024, 6, 4), QTime(21, 38, 31, 837), QTimeZone::utc());
    EXPECT_EQ(dateFromRfc3339(u"2024-06-04T14:38:31.83753-07:00"), utc);
    EXPECT_EQ(dateFromRfc3339(u"2024-06-04T21:38:31.837999999Z"), utc);
    EXPECT_EQ(dateFromRfc3339(u"2024-06-04T21:38:31Z"), utc.addMSecs(-837));
    EXPECT_FALSE(dateFromRfc3339(u"2024-06-04 21:38:31").isValid());
    EXPECT_FALSE(dateFromRfc3339(u"").isValid());

    RunningModel always;
    always.expiresAt = dateFromRfc3339(u"2318-03-01T10:00:00.5+01:00");
    EXPECT_TRUE(always.staysLoaded());
    RunningModel soon;
    soon.expiresAt = QDateTime::currentDateTimeUtc().addSecs(300);
    EXPECT_FALSE(soon.staysLoaded());
}

class BridgeModels : public ::testing::Test {
protected:
    BridgeModels() { server.setModels(FakeOllama::standardModels()); }
    FakeOllama server;
    ModelServiceBridge bridge{ollamaClientFactory(configFor(server))};
};

TEST_F(BridgeModels, DetailsAreAskedOncePerModel) {
    // Several callers at once share one request; later ones are answered from memory.
    std::vector<Future<APIResult<ModelDetails>>> first;
    for (int i = 0; i < 4; ++i) first.push_back(bridge.modelDetails("llava:latest"));
    for (auto& future : first) {
        ASSERT_TRUE(future.result().isSuccess());
        EXPECT_TRUE(future.result().value().supportsVision());
    }
    EXPECT_TRUE(bridge.modelDetails("llava:latest").result().isSuccess());
    EXPECT_TRUE(bridge.modelDetails("qwen3:8b").result().value().supportsThinking());
    EXPECT_EQ(server.requestsTo("/api/show").size(), 2u);

    EXPECT_FALSE(bridge.modelDetails("nosuch").result().isSuccess());
    EXPECT_FALSE(bridge.modelDetails("nosuch").result().isSuccess());
    EXPECT_EQ(server.requestsTo("/api/show").size(), 4u) << "a failure is asked again";
}

TEST_F(BridgeModels, AModelPulledAgainOrDeletedIsAskedAgain) {
    ASSERT_TRUE(bridge.loadAvailableModels().result().isSuccess());
    ASSERT_TRUE(bridge.modelDetails("llama3.2:latest").result().isSuccess());
    ASSERT_TRUE(bridge.loadAvailableModels().result().isSuccess());  // same digest
    ASSERT_TRUE(bridge.modelDetails("llama3.2:latest").result().isSuccess());
    EXPECT_EQ(server.requestsTo("/api/show").size(), 1u);

    auto models = FakeOllama::standardModels();
    models[0].digest = std::string(64, 'e');
    models[0].capabilities = {"completion", "vision"};
    server.setModels(models);
    ASSERT_TRUE(bridge.loadAvailableModels().result().isSuccess());
    const auto renewed = bridge.modelDetails("llama3.2:latest").result();
    ASSERT_TRUE(renewed.isSuccess());
    EXPECT_TRUE(renewed.value().supportsVision());
    EXPECT_EQ(server.requestsTo("/api/show").size(), 2u);

    ASSERT_TRUE(bridge.deleteOllamaModel("llama3.2:latest").result().isSuccess());
    EXPECT_FALSE(bridge.modelDetails("llama3.2:latest").result().isSuccess());
    EXPECT_EQ(server.requestsTo("/api/show").size(), 3u);
}

TEST_F(BridgeModels, RunningModelsReportMemoryShareAndExpiry) {
    auto models = FakeOllama::standardModels();
    models[2].gpuShare = 0.25;
    server.setModels(models);
    ASSERT_TRUE(bridge.loadModel("qwen3:8b").result().isSuccess());
    ASSERT_TRUE(bridge.loadModel("llama3.2").result().isSuccess());
    const auto running = bridge.runningModels().result();
    ASSERT_TRUE(running.isSuccess());
    ASSERT_EQ(running.value().size(), 2);
    EXPECT_EQ(running.value()[0].name, "llama3.2:latest") << "most recently used first";
    const RunningModel& qwen = running.value()[1];
    EXPECT_EQ(qwen.name, "qwen3:8b");
    ASSERT_TRUE(qwen.gpuShare());
    EXPECT_NEAR(*qwen.gpuShare(), 0.25, 0.001);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    EXPECT_GT(qwen.expiresAt, now.addSecs(200));
    EXPECT_LT(qwen.expiresAt, now.addSecs(400));

    ASSERT_TRUE(bridge.unloadModel("qwen3:8b").result().isSuccess());
    EXPECT_EQ(bridge.runningModels().result().value().size(), 1);
    const auto refused = bridge.loadModel("nomic-embed-text").result();
    ASSERT_FALSE(refused.isSuccess());
    EXPECT_EQ(refused.error().osError, 400);
}

}  // namespace
