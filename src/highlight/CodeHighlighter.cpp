#include "CodeHighlighter.h"

#include <srchilite/formatter.h>
#include <srchilite/formattermanager.h>
#include <srchilite/formatterparams.h>
#include <srchilite/highlightstate.h>
#include <srchilite/langdefmanager.h>
#include <srchilite/langmap.h>
#include <srchilite/regexrulefactory.h>
#include <srchilite/settings.h>
#include <srchilite/sourcehighlighter.h>

#include <QFileInfo>
#include <QHash>
#include <atomic>
#include <map>
#include <mutex>

namespace parlote {

namespace {

// Reading language definitions goes through source-highlight's flex and bison parsers,
// whose state is global: one thread at a time. Colouring a line may copy a highlight
// state, which counts states in a global too, so it takes the same lock (for one line at
// a time: a line is short, see kMaxColouredLineLength). The map of language names is read
// once, under the same lock.
//
// The shared state here is made once and never destroyed: a worker still colouring while
// the program's statics are destroyed must not find it gone.
std::mutex& definitionLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

// The names already looked up, under a lock of their own so that a look-up never waits
// for a definition being read.
std::mutex& namesLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

std::atomic<bool> colouringStopped{false};

const std::string& dataDirLocked() {
    static const auto* dir = new std::string(srchilite::Settings::retrieveDataDir());
    return *dir;
}

// Names models write after a fence that source-highlight's own map lacks or maps to a
// poorer definition.
const QHash<QString, QString>& aliases() {
    static const auto* names = new QHash<QString, QString>{
        {QStringLiteral("c++"), QStringLiteral("cpp.lang")},
        {QStringLiteral("hxx"), QStringLiteral("cpp.lang")},
        {QStringLiteral("cuda"), QStringLiteral("cpp.lang")},
        {QStringLiteral("rust"), QStringLiteral("rust.lang")},
        {QStringLiteral("golang"), QStringLiteral("go.lang")},
        {QStringLiteral("python3"), QStringLiteral("python.lang")},
        {QStringLiteral("py3"), QStringLiteral("python.lang")},
        {QStringLiteral("typescript"), QStringLiteral("javascript.lang")},
        {QStringLiteral("ts"), QStringLiteral("javascript.lang")},
        {QStringLiteral("tsx"), QStringLiteral("javascript.lang")},
        {QStringLiteral("jsx"), QStringLiteral("javascript.lang")},
        {QStringLiteral("mjs"), QStringLiteral("javascript.lang")},
        {QStringLiteral("node"), QStringLiteral("javascript.lang")},
        {QStringLiteral("jsonc"), QStringLiteral("json.lang")},
        {QStringLiteral("json5"), QStringLiteral("json.lang")},
        {QStringLiteral("console"), QStringLiteral("sh.lang")},
        {QStringLiteral("shell-session"), QStringLiteral("sh.lang")},
        {QStringLiteral("csharp"), QStringLiteral("csharp.lang")},
        {QStringLiteral("c#"), QStringLiteral("csharp.lang")},
        {QStringLiteral("make"), QStringLiteral("makefile.lang")},
        {QStringLiteral("toml"), QStringLiteral("desktop.lang")},
        {QStringLiteral("patch"), QStringLiteral("diff.lang")},
    };
    return *names;
}

// The first word of an info string, lower-cased: "Python {title=x}" reads "python".
QString languageWord(const QString& info) {
    QString word = info.trimmed();
    if (word.startsWith(u'{')) word.remove(0, 1);
    if (word.startsWith(u'.')) word.remove(0, 1);
    qsizetype end = 0;
    while (end < word.size() && !word[end].isSpace() && word[end] != u',' && word[end] != u'{' &&
           word[end] != u'}')
        ++end;
    return word.left(end).toLower();
}

SyntaxKind kindOf(const std::string& element) {
    static const auto* kinds = new std::map<std::string, SyntaxKind>{
        {"keyword", SyntaxKind::Keyword},      {"type", SyntaxKind::Type},
        {"usertype", SyntaxKind::Type},        {"classname", SyntaxKind::Type},
        {"string", SyntaxKind::String},        {"comment", SyntaxKind::Comment},
        {"todo", SyntaxKind::Comment},         {"number", SyntaxKind::Number},
        {"function", SyntaxKind::Function},    {"predef_func", SyntaxKind::Function},
        {"preproc", SyntaxKind::Preprocessor}, {"variable", SyntaxKind::Variable},
        {"predef_var", SyntaxKind::Variable},  {"key", SyntaxKind::Variable},
        {"property", SyntaxKind::Variable},    {"attribute", SyntaxKind::Variable},
        {"label", SyntaxKind::Variable},       {"specialchar", SyntaxKind::Special},
        {"regexp", SyntaxKind::Special},       {"url", SyntaxKind::Special},
        {"oldfile", SyntaxKind::Keyword},      {"newfile", SyntaxKind::String},
        {"difflines", SyntaxKind::Comment},
    };
    const auto it = kinds->find(element);
    return it == kinds->end() ? SyntaxKind::Plain : it->second;
}

// The definitions this thread built: source-highlight's highlight states hold regular
// expressions and are kept by the thread that read them, never shared.
class ThreadDefinitions {
public:
    srchilite::HighlightStatePtr state(const std::string& file) {
        const auto it = states_.find(file);
        if (it != states_.end()) return it->second;
        srchilite::HighlightStatePtr built;
        {
            std::lock_guard lock(definitionLock());
            try {
                built = manager_.getHighlightState(dataDirLocked(), file);
            } catch (...) {
                built.reset();  // an unreadable definition colours nothing
            }
        }
        states_[file] = built;
        return built;
    }

    static ThreadDefinitions& current() {
        thread_local ThreadDefinitions definitions;
        return definitions;
    }

private:
    srchilite::RegexRuleFactory factory_;
    srchilite::LangDefManager manager_{&factory_};
    std::map<std::string, srchilite::HighlightStatePtr> states_;
};

// Collects what source-highlight formats: every piece of the line in order, so the
// position of each is the sum of the lengths before it.
struct Piece {
    int start;  // in bytes
    int length;
    SyntaxKind kind;
};

class PieceFormatter : public srchilite::Formatter {
public:
    PieceFormatter(SyntaxKind kind, std::vector<Piece>* pieces, int* position)
        : kind_(kind), pieces_(pieces), position_(position) {}

    void format(const std::string& s, const srchilite::FormatterParams*) override {
        const int length = int(s.size());
        if (kind_ != SyntaxKind::Plain && length > 0)
            pieces_->push_back({*position_, length, kind_});
        *position_ += length;
    }

private:
    SyntaxKind kind_;
    std::vector<Piece>* pieces_;
    int* position_;
};

}  // namespace

QString syntaxDefinitionFor(const QString& language) {
    const QString word = languageWord(language);
    if (word.isEmpty()) return {};
    if (const auto alias = aliases().constFind(word); alias != aliases().cend()) return *alias;
    static auto* known = new QHash<QString, QString>;
    {
        std::lock_guard names(namesLock());
        if (const auto it = known->constFind(word); it != known->cend()) return *it;
    }
    std::lock_guard lock(definitionLock());
    static srchilite::LangMap* map = [] {
        auto* m = new srchilite::LangMap(dataDirLocked(), "lang.map");
        try {
            m->open();
        } catch (...) {
            // no map: only the aliases above are known
        }
        return m;
    }();
    QString file;
    try {
        file = QString::fromStdString(map->getMappedFileName(word.toStdString()));
    } catch (...) {
        file.clear();
    }
    // "nohilite" and "default" exist to show text as it is.
    if (file == QStringLiteral("nohilite.lang") || file == QStringLiteral("default.lang") ||
        !QFileInfo::exists(QString::fromStdString(dataDirLocked()) + u'/' + file))
        file.clear();
    std::lock_guard names(namesLock());
    known->insert(word, file);
    return file;
}

class CodeHighlighter::Checkpoint {
public:
    srchilite::HighlightStatePtr state;
    srchilite::HighlightStateStackPtr stack;
};

struct CodeHighlighter::Impl {
    srchilite::HighlightStatePtr main;
    std::unique_ptr<srchilite::SourceHighlighter> highlighter;
    std::unique_ptr<srchilite::FormatterManager> manager;
    std::vector<Piece> pieces;
    int position = 0;
};

CodeHighlighter::CodeHighlighter(const QString& language) {
    const QString file = syntaxDefinitionFor(language);
    if (file.isEmpty()) return;
    srchilite::HighlightStatePtr main = ThreadDefinitions::current().state(file.toStdString());
    if (!main) return;
    d_ = std::make_unique<Impl>();
    d_->main = main;
    d_->manager = std::make_unique<srchilite::FormatterManager>(
        srchilite::FormatterPtr(new PieceFormatter(SyntaxKind::Plain, &d_->pieces, &d_->position)));
    static const char* const kElements[] = {
        "keyword",    "type",   "usertype", "classname",   "string",   "comment",
        "todo",       "number", "function", "predef_func", "preproc",  "variable",
        "predef_var", "key",    "property", "attribute",   "label",    "specialchar",
        "regexp",     "url",    "oldfile",  "newfile",     "difflines"};
    for (const char* element : kElements) {
        d_->manager->addFormatter(element, srchilite::FormatterPtr(new PieceFormatter(
                                               kindOf(element), &d_->pieces, &d_->position)));
    }
    d_->highlighter = std::make_unique<srchilite::SourceHighlighter>(main);
    d_->highlighter->setFormatterManager(d_->manager.get());
    d_->highlighter->setOptimize(false);
}

CodeHighlighter::~CodeHighlighter() = default;

bool CodeHighlighter::isValid() const {
    return d_ != nullptr;
}

SyntaxLine CodeHighlighter::highlightLine(const QString& line) {
    SyntaxLine out;
    // source-highlight tries its rules at every position of a line, which grows with the
    // square of its length: a longer line (minified code, data) stays plain.
    if (!d_ || line.size() > kMaxColouredLineLength) return out;
    const QByteArray utf8 = line.toUtf8();
    d_->pieces.clear();
    d_->position = 0;
    try {
        std::lock_guard lock(definitionLock());
        d_->highlighter->highlightParagraph(std::string(utf8.constData(), size_t(utf8.size())));
    } catch (...) {
        return out;  // a regular expression that gave up: this line stays plain
    }
    // Byte offsets to UTF-16 offsets; the same when the line is ASCII.
    std::vector<int> toUtf16;
    if (utf8.size() != line.size()) {
        toUtf16.assign(size_t(utf8.size()) + 1, int(line.size()));
        int unit = 0;
        int byte = 0;
        while (unit < line.size() && byte < utf8.size()) {
            toUtf16[size_t(byte)] = unit;
            const char32_t c = line[unit].isHighSurrogate() && unit + 1 < line.size()
                                   ? QChar::surrogateToUcs4(line[unit], line[unit + 1])
                                   : line[unit].unicode();
            const int bytes = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
            for (int k = 1; k < bytes && byte + k < utf8.size(); ++k)
                toUtf16[size_t(byte + k)] = unit;
            byte += bytes;
            unit += c >= 0x10000 ? 2 : 1;
        }
    }
    const auto map = [&](int byte) {
        if (toUtf16.empty()) return qMin(byte, int(line.size()));
        return toUtf16[size_t(qBound(0, byte, int(utf8.size())))];
    };
    for (const Piece& p : d_->pieces) {
        const int start = map(p.start);
        const int end = map(p.start + p.length);
        if (end <= start) continue;
        if (!out.empty() && out.back().kind == p.kind &&
            out.back().start + out.back().length == start) {
            out.back().length = end - out.back().start;
        } else {
            out.push_back({start, end - start, p.kind});
        }
    }
    return out;
}

std::shared_ptr<const CodeHighlighter::Checkpoint> CodeHighlighter::checkpoint() const {
    if (!d_) return nullptr;
    auto c = std::make_shared<Checkpoint>();
    c->state = d_->highlighter->getCurrentState();
    c->stack = srchilite::HighlightStateStackPtr(
        new srchilite::HighlightStateStack(*d_->highlighter->getStateStack()));
    return c;
}

void CodeHighlighter::restore(const std::shared_ptr<const Checkpoint>& checkpoint) {
    if (!d_ || !checkpoint) return;
    d_->highlighter->setCurrentState(checkpoint->state);
    d_->highlighter->setStateStack(
        srchilite::HighlightStateStackPtr(new srchilite::HighlightStateStack(*checkpoint->stack)));
}

std::optional<std::vector<SyntaxLine>> highlightLines(const QString& language,
                                                      const QStringList& lines,
                                                      const std::atomic<bool>* cancelled) {
    std::vector<SyntaxLine> out(size_t(lines.size()));
    if (colouringStopped) return std::nullopt;
    CodeHighlighter highlighter(language);
    if (!highlighter.isValid()) return out;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (colouringStopped || (cancelled && *cancelled)) return std::nullopt;
        out[size_t(i)] = highlighter.highlightLine(lines[i]);
    }
    return out;
}

void stopColouring() {
    colouringStopped = true;
}

bool isColouringStopped() {
    return colouringStopped;
}

}  // namespace parlote
