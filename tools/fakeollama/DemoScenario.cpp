#include "DemoScenario.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "FakeOllama.h"

namespace parlote::testing {

namespace {

constexpr Milliseconds kWordDelay{30};

ModelInfo model(std::string name, std::int64_t size, std::string parameters,
                std::string quantization, std::string family, std::string digest,
                std::vector<std::string> capabilities) {
    ModelInfo m =
        ModelInfo::make(std::move(name), size, std::move(parameters), std::move(quantization));
    m.family = family;
    m.families = std::vector<std::string>{std::move(family)};
    m.digest = std::move(digest);
    m.capabilities = std::move(capabilities);
    return m;
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool mentions(const std::string& text, std::initializer_list<const char*> words) {
    return std::any_of(words.begin(), words.end(),
                       [&](const char* w) { return text.find(w) != std::string::npos; });
}

// Content of the last and the first user message of a chat request.
std::pair<std::string, std::string> userMessages(const nlohmann::json& request) {
    std::string first;
    std::string last;
    const auto messages = request.find("messages");
    if (messages == request.end() || !messages->is_array()) return {};
    for (const auto& m : *messages) {
        if (m.value("role", "") != "user" || !m.contains("content") || !m["content"].is_string())
            continue;
        last = m["content"].get<std::string>();
        if (first.empty()) first = last;
    }
    return {lowercase(first), lowercase(last)};
}

const char* const kGreeting =
    "Hello! I'm a **fake Ollama** model running on your machine. Ask me for *code*, a *table*, "
    "or anything else, and I'll answer with some Markdown so you can see how Parlote renders it.";

const char* const kCodeReply =
    R"(Here is a small, self-contained C++ function that counts words in a string:

```cpp
#include <sstream>
#include <string>

// Counts whitespace-separated words.
std::size_t countWords(const std::string& text)
{
    std::istringstream in(text);
    std::size_t count = 0;
    for (std::string word; in >> word;) ++count;
    return count;
}
```

### How it works

1. `std::istringstream` splits the text on whitespace.
2. Each successful `in >> word` reads one word.
3. The loop stops at the end of the stream.

> **Tip:** for very large inputs, scanning the characters directly avoids the copies.)";

const char* const kTableReply =
    R"(Here is a quick comparison of the models installed on this server:

| Model | Parameters | Quantization | Good for |
|:------|-----------:|:------------:|----------|
| llama3.2 | 3.2B | Q4_K_M | fast everyday chat |
| qwen3 | 8.2B | Q4_K_M | reasoning, with visible thinking |
| mistral | 7.2B | Q4_K_M | writing and summaries |
| nomic-embed-text | 137M | F16 | embeddings only |

Smaller models answer faster; larger ones usually give *better* answers.)";

const char* const kRichReply = R"(## Why the sky is blue

Sunlight looks white, but it is a mix of every colour. When it enters the atmosphere, it meets
molecules of nitrogen and oxygen that are much smaller than its wavelength.

### Rayleigh scattering

- Short wavelengths (**blue** and violet) are scattered far more than long ones.
- The strength grows as `1/λ⁴`, so blue light scatters about *five times* more than red.
- Our eyes are more sensitive to blue than to violet, so the sky looks blue.

### A tiny simulation

```python
for name, wavelength in [("red", 700), ("green", 530), ("blue", 450)]:
    print(f"{name:>5}: {(700 / wavelength) ** 4:.1f}x")
```

| Colour | Wavelength (nm) | Relative scattering |
|--------|----------------:|--------------------:|
| Red    | 700 | 1.0x |
| Green  | 530 | 3.0x |
| Blue   | 450 | 5.9x |

At sunset the light crosses much more air, the blue is scattered away, and the reds & oranges remain.)";

const char* const kThinking =
    "Okay, the user wants an answer. Let me think about what they are really asking, pick the key "
    "points, and structure the reply with a heading, a short list and an example so it is easy to "
    "read.";

std::string titleFor(const std::string& firstUserMessage) {
    if (mentions(firstUserMessage, {"code", "function", "c++", "python"}))
        return "Counting Words in C++";
    if (mentions(firstUserMessage, {"table", "compare", "model"})) return "Comparing Local Models";
    if (mentions(firstUserMessage, {"sky", "blue"})) return "Why the Sky Is Blue";
    return "Friendly Chat With a Local Model";
}

ChatScript replyTo(const nlohmann::json& request) {
    const auto [first, last] = userMessages(request);
    if (last.find("summarize this conversation in 10 words or less") != std::string::npos)
        return ChatScript::words(titleFor(first), kWordDelay);

    ChatScript script;
    if (mentions(last, {"code", "function", "c++", "python", "program"})) {
        script = ChatScript::words(kCodeReply, kWordDelay);
    } else if (mentions(last, {"table", "compare", "models"})) {
        script = ChatScript::words(kTableReply, kWordDelay);
    } else if (last.size() < 20 && mentions(last, {"hello", "hi", "hey"})) {
        script = ChatScript::words(kGreeting, kWordDelay);
    } else {
        script = ChatScript::words(kRichReply, kWordDelay);
    }
    script.firstByteDelay = Milliseconds{400};  // feels like prompt evaluation

    if (request.value("model", "").rfind("qwen3", 0) == 0) {
        // A reasoning model thinks out loud first; the server drops this
        // when the request says "think": false.
        std::vector<ChatChunk> chunks;
        for (auto& word : ChatScript::words(kThinking).chunks)
            chunks.push_back({{}, std::move(word.content), false});
        chunks.insert(chunks.end(), script.chunks.begin(), script.chunks.end());
        script.chunks = std::move(chunks);
    }
    return script;
}

}  // namespace

void installDemoScenario(FakeOllama& server) {
    server.setModels({
        model("llama3.2:latest", 2019393189, "3.2B", "Q4_K_M", "llama",
              "a80c4f17acd55265feec403c7aef86be0c25983ab279d83f3bcd3abbcb5b8b72",
              {"completion", "tools"}),
        model("qwen3:8b", 5225388164, "8.2B", "Q4_K_M", "qwen3",
              "500a1f067a9f782620b40bee6f7b0c89e17ae61f686b92c24933e4ca4b2b8b41",
              {"completion", "tools", "thinking"}),
        model("mistral:7b", 4372824384, "7.2B", "Q4_K_M", "llama",
              "6577803aa9a036369e481d648a2baebb381ebc6e897f2bb9a766a2aa7bfbc1cf",
              {"completion", "tools"}),
        model("nomic-embed-text:latest", 274302450, "137M", "F16", "nomic-bert",
              "0a109f422b47e3a30ba2b10eca18548e944e8a23073ee3f3e947efcf3c45e59f", {"embedding"}),
    });
    server.setRegistry({
        model("phi3:mini", 2176178913, "3.8B", "Q4_0", "phi3",
              "4f222292793889a9a40a020799cfd28d53f3e01af25d48e06c5e708610fc47e9", {"completion"}),
        model("gemma2:2b", 1629518495, "2.6B", "Q4_0", "gemma2",
              "8ccf136fdd5298f3ffe2d69862750ea7fb56555fa4d5b18c04e3dedd8bf2d93b", {"completion"}),
        model("llama3.2:latest", 2019393189, "3.2B", "Q4_K_M", "llama",
              "a80c4f17acd55265feec403c7aef86be0c25983ab279d83f3bcd3abbcb5b8b72",
              {"completion", "tools"}),
    });

    PullScript pull;
    pull.stepsPerLayer = 10;
    pull.stepDelay = Milliseconds{60};  // the real server reports every 60 ms
    server.setPullScript(pull);

    server.setChatResponder(replyTo);
}

}  // namespace parlote::testing
