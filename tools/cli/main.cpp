// parlote-cli: checks an Ollama server by hand through the same bridge Parlote uses.
//
//   parlote-cli ping                 does the service answer?
//   parlote-cli models               installed models, one a line
//   parlote-cli chat MODEL TEXT...   streams the reply to standard output
//   parlote-cli pull NAME            installs a model, one progress line per record
//   parlote-cli rm NAME              removes a model
//
// The server is the one OLLAMA_HOST names (default 127.0.0.1:11434).

#include <QCoreApplication>
#include <QStringList>
#include <iostream>

#include "ModelServiceBridge.h"

using namespace parlote;

namespace {

int usage() {
    std::cerr << "usage: parlote-cli ping | models | chat MODEL TEXT... | pull NAME | rm NAME\n";
    return 2;
}

int failWith(const QString& message) {
    std::cerr << message.toStdString() << '\n';
    return 1;
}

QString humanSize(std::uint64_t bytes) {
    return QLocale::c().formattedDataSize(qint64(bytes), 1, QLocale::DataSizeSIFormat);
}

int ping(ModelServiceBridge& bridge) {
    if (!bridge.testOllamaConfiguration().result())
        return failWith(QStringLiteral("Ollama does not answer."));
    std::cout << "Ollama is running.\n";
    return 0;
}

int models(ModelServiceBridge& bridge) {
    const auto result = bridge.loadAvailableModels().result();
    if (!result.isSuccess()) return failWith(result.error().message);
    for (const ChatModel& model : result.value()) {
        std::cout << model.id.toStdString() << '\t' << model.paramSize.toStdString() << '\t'
                  << model.quantLevel.toStdString() << '\t' << humanSize(model.size).toStdString()
                  << '\n';
    }
    return 0;
}

int chat(ModelServiceBridge& bridge, const QString& model, const QString& text) {
    SwiftLLMChatOptions options;
    options.model = model.toStdString();
    auto stream = bridge.streamChat({ChatMessage::make(text, ChatMessageType::user)}, options);
    try {
        while (auto chunk = stream.next()) {
            std::cout << chunk->content.toStdString() << std::flush;
        }
    } catch (const std::exception& error) {  // an OllamaError's what() is its message
        std::cout << '\n';
        return failWith(QString::fromUtf8(error.what()));
    }
    std::cout << '\n';
    return 0;
}

int pull(ModelServiceBridge& bridge, const QString& name) {
    auto stream = bridge.installModel(name);
    try {
        while (auto status = stream.next()) {
            if (status->status.isEmpty())
                return failWith(QStringLiteral("Model %1 does not exist.").arg(name));
            std::cout << status->status.toStdString();
            if (status->total > 0)
                std::cout << ' ' << status->complete << '/' << status->total << " ("
                          << (100 * status->complete / status->total) << "%)";
            std::cout << '\n' << std::flush;
        }
    } catch (const std::exception& error) {  // an OllamaError's what() is its message
        return failWith(QString::fromUtf8(error.what()));
    }
    return 0;
}

int remove(ModelServiceBridge& bridge, const QString& name) {
    const auto result = bridge.deleteOllamaModel(name).result();
    if (!result.isSuccess()) return failWith(result.error().message);
    std::cout << "Removed " << name.toStdString() << ".\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) return usage();
    const QString command = args.takeFirst();
    ModelServiceBridge bridge;
    if (command == u"ping" && args.isEmpty()) return ping(bridge);
    if (command == u"models" && args.isEmpty()) return models(bridge);
    if (command == u"chat" && args.size() >= 2)
        return chat(bridge, args[0], args.mid(1).join(u' '));
    if (command == u"pull" && args.size() == 1) return pull(bridge, args[0]);
    if (command == u"rm" && args.size() == 1) return remove(bridge, args[0]);
    return usage();
}
