#pragma once

// The application model behind the main window: everything the window shows, and every
// command it gives. Lives on the interface thread; every field is written there, and
// each change fires its signal (also when the value is unchanged). Background steps
// hand their changes to the interface thread in the order they make them.

#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ChatRecords.h"
#include "ConversationDocument.h"
#include "ConversationPool.h"
#include "InterfaceThread.h"
#include "MessageList.h"
#include "ModelServiceBridge.h"
#include "NotificationCenter.h"
#include "Published.h"
#include "ThrowingStream.h"

class QSettings;

namespace parlote {

/// One signal of `chunkStream`: the open conversation's transcript grew.
struct ChunkSignal {};

/// What the model works with. `standard()` is the application's; tests substitute parts.
struct ZoruveVedeServices {
    ConversationPool* pool = nullptr;  // and through it the store, bridge and notifications
    /// The settings file ("hasLaunched", "selectedModel"); empty: the user's settings.
    QString settingsFile;
    /// The present time, for the service watch's reload gap.
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTimeUtc(); };
    std::chrono::milliseconds watchInterval{2000};
    /// The search index file (the user's cache folder in `standard()`); empty: there is
    /// no search, and every query answers that it is unavailable.
    QString searchIndex;

    static ZoruveVedeServices standard();
};

/// One place a search of the conversations found.
struct SearchFinding {
    QUuid conversation;
    QString title;
    /// The message that matched; null when the title matched.
    QUuid message;
    /// The message's date (for a title, the newest message's; invalid when none).
    QDateTime date;
    /// One line of plain text around the match ("…" where cut).
    QString snippet;
    /// Where in `snippet` the words looked for are: start and length.
    QList<std::pair<qsizetype, qsizetype>> matches;
};

/// The answer to one search.
struct SearchAnswer {
    /// What was looked up.
    QString text;
    QList<SearchFinding> findings;
    /// False while conversations are still being indexed: findings may be missing.
    bool complete = true;
    /// False when there is no index to search this session.
    bool available = true;
};

class SearchService;

/// What is known of an installed model besides its entry in the model list.
struct ModelState {
    /// What it can do and its context length (/api/show); none until the server has told.
    std::optional<ModelDetails> details;
    /// Its place in memory while it is loaded, as /api/ps last said; none when it is not.
    std::optional<RunningModel> running;
    /// A background load of it is under way.
    bool loading = false;

    /// False only for a model the server said cannot chat (one that makes embeddings
    /// alone); a model not yet described can be chosen.
    bool canChat() const { return !details || details->supportsChat(); }

    friend bool operator==(const ModelState&, const ModelState&) = default;
};

class ZoruveVede : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<parlote::ChatModel> availableModels READ availableModels WRITE
                   setAvailableModels NOTIFY availableModelsChanged)
    Q_PROPERTY(QList<parlote::Conversation> conversations READ conversations WRITE setConversations
                   NOTIFY conversationsChanged)
    Q_PROPERTY(parlote::SidebarID selectedConversation READ selectedConversation WRITE
                   setSelectedConversation NOTIFY selectedConversationChanged)
    Q_PROPERTY(parlote::MessageList messages READ messages NOTIFY messagesChanged)
    Q_PROPERTY(bool inSendingMessage READ inSendingMessage NOTIFY inSendingMessageChanged)
    Q_PROPERTY(std::optional<QString> statusMessage READ statusMessage NOTIFY statusMessageChanged)
    Q_PROPERTY(QString inputText READ inputText WRITE setInputText NOTIFY inputTextChanged)
    Q_PROPERTY(std::optional<QString> selectedModel READ selectedModel WRITE setSelectedModel NOTIFY
                   selectedModelChanged)
    Q_PROPERTY(QString conversationDescription READ conversationDescription WRITE
                   setConversationDescription NOTIFY conversationDescriptionChanged)
    Q_PROPERTY(bool isInstalling READ isInstalling WRITE setIsInstalling NOTIFY isInstallingChanged)
    Q_PROPERTY(QString installationStatus READ installationStatus WRITE setInstallationStatus NOTIFY
                   installationStatusChanged)
    Q_PROPERTY(qint64 progress READ progress WRITE setProgress NOTIFY progressChanged)
    Q_PROPERTY(qint64 complete READ complete WRITE setComplete NOTIFY completeChanged)
    Q_PROPERTY(qint64 downloadCompleted READ downloadCompleted NOTIFY downloadBytesChanged)
    Q_PROPERTY(qint64 downloadTotal READ downloadTotal NOTIFY downloadBytesChanged)
    Q_PROPERTY(parlote::ZoruveVede::InstallOutcome installOutcome READ installOutcome NOTIFY
                   installOutcomeChanged)
    Q_PROPERTY(parlote::ZoruveVede::AlertKind modalAlertKind READ modalAlertKind NOTIFY
                   modalAlertKindChanged)
    Q_PROPERTY(bool showModalAlert READ showModalAlert WRITE setShowModalAlert NOTIFY
                   showModalAlertChanged)
    Q_PROPERTY(QString modalAlertTitle READ modalAlertTitle WRITE setModalAlertTitle NOTIFY
                   modalAlertTitleChanged)
    Q_PROPERTY(QString modalAlertMessage READ modalAlertMessage WRITE setModalAlertMessage NOTIFY
                   modalAlertMessageChanged)
    Q_PROPERTY(
        bool showLoadAlert READ showLoadAlert WRITE setShowLoadAlert NOTIFY showLoadAlertChanged)
    Q_PROPERTY(bool firstLaunch READ firstLaunch WRITE setFirstLaunch NOTIFY firstLaunchChanged)
    Q_PROPERTY(
        bool ollamaRunning READ ollamaRunning WRITE setOllamaRunning NOTIFY ollamaRunningChanged)
    Q_PROPERTY(QString storageProblem READ storageProblem NOTIFY storageProblemChanged)

public:
    /// How the last model installation ended; None while one runs or before the first.
    enum class InstallOutcome { None, Installed, Cancelled, Failed };
    Q_ENUM(InstallOutcome)
    /// Whether the general alert reports a problem or good news (a model installed).
    enum class AlertKind { Warning, Information };
    Q_ENUM(AlertKind)

    /// The sidebar title of a conversation not yet named, and the header text of the
    /// new-conversation state.
    static const QString newConversationTitle;
    /// The two settings: whether a launch found Ollama answering, and the model chosen.
    static const QString hasLaunchedKey;
    static const QString selectedModelKey;
    /// The settings new conversations start with (Preferences, "New conversations"): the
    /// "settings" object of a conversation file (ConversationSettings::toJson) as text;
    /// absent when nothing is set.
    static const QString newConversationSettingsKey;

    explicit ZoruveVede(ZoruveVedeServices services = ZoruveVedeServices::standard(),
                        QObject* parent = nullptr);
    ~ZoruveVede() override;

    /// The settings this model reads and writes (the services' file, else the user's);
    /// the window keeps its own choices there too.
    std::unique_ptr<QSettings> settings() const;
    /// The service this model talks to Ollama through (Preferences points it elsewhere).
    ModelServiceBridge& bridge() { return bridge_; }

    // Observed fields.
    const QList<ChatModel>& availableModels() const { return availableModels_; }
    /// Also runs validateSelectedModel.
    void setAvailableModels(QList<ChatModel> models);
    const QList<Conversation>& conversations() const { return conversations_; }
    void setConversations(QList<Conversation> list);
    const SidebarID& selectedConversation() const { return selectedConversation_; }
    void setSelectedConversation(SidebarID id);
    const MessageList& messages() const { return messages_; }
    bool inSendingMessage() const { return inSendingMessage_; }
    const std::optional<QString>& statusMessage() const { return statusMessage_; }
    const QString& inputText() const { return inputText_; }
    void setInputText(QString text);
    const std::optional<QString>& selectedModel() const { return selectedModel_; }
    void setSelectedModel(std::optional<QString> model);
    const QString& conversationDescription() const { return conversationDescription_; }
    void setConversationDescription(QString text);
    bool isInstalling() const { return isInstalling_; }
    void setIsInstalling(bool value);
    const QString& installationStatus() const { return installationStatus_; }
    void setInstallationStatus(QString text);
    qint64 progress() const { return progress_; }
    void setProgress(qint64 value);
    qint64 complete() const { return complete_; }
    void setComplete(qint64 value);
    /// Bytes of the running (or last) download: the sum over the layers Ollama has
    /// reported so far, completed and total. `progress` and `complete` are the layer
    /// being pulled now.
    qint64 downloadCompleted() const { return downloadCompleted_; }
    qint64 downloadTotal() const { return downloadTotal_; }
    InstallOutcome installOutcome() const { return installOutcome_; }
    AlertKind modalAlertKind() const { return modalAlertKind_; }
    bool showModalAlert() const { return showModalAlert_; }
    void setShowModalAlert(bool value);
    const QString& modalAlertTitle() const { return modalAlertTitle_; }
    void setModalAlertTitle(QString text);
    const QString& modalAlertMessage() const { return modalAlertMessage_; }
    void setModalAlertMessage(QString text);
    bool showLoadAlert() const { return showLoadAlert_; }
    void setShowLoadAlert(bool value);
    bool firstLaunch() const { return firstLaunch_; }
    void setFirstLaunch(bool value);
    bool ollamaRunning() const { return ollamaRunning_; }
    void setOllamaRunning(bool value);
    /// What could not be saved, for the bar above the transcript ("Could not save this
    /// conversation: No space left on device"); empty when everything is on disk.
    const QString& storageProblem() const { return storageProblem_; }
    /// The settings of the conversation shown (ConversationSettings.h); none while no
    /// conversation is shown. conversationSettingsChanged() tells of each change.
    const ConversationSettings& conversationSettings() const { return conversationSettings_; }

    // Fields that are not observed.
    const std::shared_ptr<ConversationManager>& currentConversation() const {
        return currentConversation_;
    }
    /// Binds the model to `manager` (or to none): from now on messages, inSendingMessage
    /// and statusMessage follow it alone.
    void setCurrentConversation(std::shared_ptr<ConversationManager> manager);
    /// One signal per change of the open transcript that the window should follow; the
    /// window is its one consumer. Items are put on it on this (the interface) thread.
    ThrowingStream<ChunkSignal>& chunkStream() { return chunk_.first; }
    std::optional<QDateTime> lastModelReloadTime() const { return lastModelReloadTime_; }

    // Start-up, model list and service watch.
    /// Fetches the model list and applies it; `done` runs afterwards on this thread.
    void reloadModels(std::function<void()> done = {});
    void validateSelectedModel();
    void dismissWelcome();
    /// Starts a service check (each watch tick, and "Retry").
    void refreshOllamaStatus();
    /// "Retry" in the "Waiting on Ollama…" alert: checks the service again and, once it
    /// answers, carries out the action that raised the alert (the message is sent); while
    /// it does not, the alert stays. Without a waiting action, a service check.
    void retryWaitingAction();
    /// "Cancel" in that alert: the waiting action is dropped and the alert closes.
    void cancelWaitingAction();

    // Conversation commands.
    void selectConversation(const SidebarID& id);
    void sendMessage();

    // Pictures attached to the message being written. Each is kept per draft, as the
    // input text is, and like it across a restart.
    /// The pictures of the message being written (AttachmentStore names), in order.
    const QStringList& pendingImages() const { return pendingImages_; }
    /// Reads the picture file `path`, shrinks it to what a model needs
    /// (prepareImageForModel) and stores it (AttachmentStore), all off this thread; then
    /// adds it to the pending pictures of the draft it was attached in. A file that cannot
    /// be read, is too large or is no picture raises an alert, and nothing else changes.
    void attachPictureFile(const QString& path);
    /// The same for the picture `bytes` (pasted or dropped image data).
    void attachPictureData(const QByteArray& bytes);
    /// The same for image data that came decoded (stored as PNG).
    void attachPictureImage(const QImage& image);
    /// Reads the stored picture `reference` and scales it to at most `side` pixels a side
    /// off this thread; `deliver` gets it on this thread (a null image when it cannot be
    /// read).
    void loadThumbnail(const QString& reference, int side,
                       std::function<void(const QImage&)> deliver);
    /// The file of the stored picture `reference` (AttachmentStore::path).
    QString picturePath(const QString& reference) const;
    /// Takes `reference` off the pending pictures (its file stays: another message may use it).
    void removePendingImage(const QString& reference);
    /// The model chosen for sending when it is known not to take pictures (the server
    /// described it without "vision": such a model gets the text alone); empty otherwise,
    /// also while the model is not described yet.
    QString modelThatCannotSee() const;
    /// Takes the conversation out of the list; its file stays until the deletion is final
    /// (finishDeletion), which moves it to the desktop's trash. Until then undoDeletion()
    /// brings it back. A deletion still pending is made final first.
    void removeConversation(const SidebarID& id);
    /// Whether a deletion waits for its end (the window offers "Undo" meanwhile).
    bool hasPendingDeletion() const { return pendingDeletion_.has_value(); }
    /// Puts the conversation of the pending deletion back where it was in the list, as it
    /// was, and selects it. Does nothing without a pending deletion.
    void undoDeletion();
    /// Makes the pending deletion final: the conversation's file, and its pictures that no
    /// other conversation uses, go to the desktop's trash (on a background task); where
    /// there is no trash they stay where they are. Runs by itself once `undoDelay` has
    /// passed, before another deletion, and when the application quits.
    void finishDeletion();
    /// How long a deletion can be undone (8 seconds unless set; tests shorten it).
    void setUndoDelay(std::chrono::milliseconds delay);
    /// A blank title is refused: the old one stays (and the sidebar is told, so that an
    /// editor showing the blank text shows the old title again).
    void renameConversation(const SidebarID& id, const QString& title);
    /// Pins or unpins a conversation. The list keeps its order (the sidebar shows the
    /// pinned ones first, see pinnedFirst) and is saved; an unchanged pin changes nothing.
    void setPinned(const SidebarID& id, bool pinned);

    // Conversation settings.
    /// Replaces the settings of the conversation shown, which saves them (see
    /// ConversationManager::setSettings). Does nothing while no conversation is shown.
    void setConversationSettings(const ConversationSettings& settings);
    /// What a conversation started from now on begins with: the Preferences' defaults, as
    /// kept under newConversationSettingsKey (only the valid settings of it).
    ConversationSettings newConversationDefaults() const;
    /// Keeps `defaults` for the conversations started from now on; nothing set removes the
    /// key, so that new conversation files stay as they were without Preferences.
    void setNewConversationDefaults(const ConversationSettings& defaults);
    /// Hands what /api/show says of `model` to `deliver` on this thread (nullopt when it
    /// could not be asked); cached by the bridge, so usually at the next turn of the loop.
    void modelDetails(const QString& model,
                      std::function<void(const std::optional<ModelDetails>&)> deliver);

    // Import.
    /// What importConversations() did: the conversations added to the list (first at the
    /// top), and for each one not added its title and why.
    struct ImportSaved {
        QList<SidebarID> added;
        QList<std::pair<QString, QString>> failed;
    };
    /// Adds `conversations` to the top of the list in the order given. Each keeps its id
    /// unless a conversation of the list, one being deleted or a file of the data folder
    /// has it already: it then gets a new one, so that nothing is ever overwritten. Their
    /// files are written through the store on a background task; then the list is saved,
    /// the search index is told of each (as of a saved conversation) and `done` runs on
    /// this thread.
    void importConversations(QList<TitledConversation> conversations,
                             std::function<void(const ImportSaved&)> done);
    /// The store the conversations are kept in (exports read their files from it).
    const ChatStore& store() const { return store_; }

    // Search.
    /// Looks up `text` in every conversation's title and messages and calls `deliver` on
    /// this thread with at most `limit` findings, best first. Only the latest search is
    /// answered: a later one, or cancelSearch(), drops this one's answer.
    void searchConversations(const QString& text, int limit,
                             std::function<void(const SearchAnswer&)> deliver);
    /// Drops the search under way (the search field was emptied).
    void cancelSearch();
    /// Calls `done` on this thread once the index has taken in every change made so far
    /// (indexing at start-up included); at once without search.
    void whenSearchIdle(std::function<void()> done);

    // Reply controls. Each acts on the open conversation and does nothing while it cannot.
    /// Stops the reply that is streaming: the request to Ollama is closed (the model stops
    /// generating) and the text received so far stays, marked as stopped.
    void stopReply();
    /// Whether regenerateReply() can act: no reply is streaming and the shown thread
    /// holds a user message.
    bool canRegenerate() const;
    /// Asks the selected model again for the reply to the last user message. The reply it
    /// replaces stays as another version of that message.
    void regenerateReply();
    /// The last user message of the shown thread, if any (what "Edit Last Message" edits).
    std::optional<QUuid> lastUserMessage() const;
    /// Replaces the user message `id` and everything after it with `text` and a new reply.
    /// What it replaces stays as another version of that message.
    void editAndResend(const QUuid& id, const QString& text);
    /// Shows version `index` (from 0) of the message `id` and the thread that follows it.
    void showVariant(const QUuid& id, int index);

    // Saving.
    /// Tries every failed save again: the conversation list and each conversation whose
    /// file is behind (on background tasks; the bar follows their outcome).
    void retrySaving();
    /// For quitting: tries every failed save again, on this thread, and returns the titles
    /// of the conversations whose words are still not on disk (the conversation list
    /// itself counts as one, by the name "the conversation list").
    QStringList unsavedAfterLastTry();

    // Model installation and removal.
    void startModelInstall(const QString& name);
    /// Stops the download in progress: its request is closed; nothing is reported as an
    /// error, and `installationStatus` says "Cancelled".
    void cancelModelInstall();
    /// The name of the model being installed (while `isInstalling`), or the last one.
    const QString& installingModel() const { return installingModel_; }
    void removeInstalledModel(const QString& name);

    // What the installed models can do, and which of them are loaded.
    /// The state of the listed model `id` (nothing known for a model not listed).
    ModelState modelState(const QString& id) const;
    /// The state of every listed model, by id.
    QHash<QString, ModelState> modelStates() const;
    /// Whether the last question for the loaded models was answered: only then can the
    /// views say that a model is not loaded.
    bool runningModelsKnown() const { return runningKnown_; }
    /// Asks the server what each listed model can do (once per model: the answers are
    /// kept until the model changes) and which models are loaded (each time). Answers
    /// arrive on this thread as modelStatesChanged(). A failed /api/show changes nothing;
    /// a failed /api/ps shows no model as loaded rather than what was said before.
    void refreshModelStatus();
    /// Chooses `id` for the conversation and loads it into memory in the background (a
    /// chat request without messages), so that the first reply does not wait for the load.
    /// A failed load is not reported: the chat request that follows reports its own error.
    /// A model that cannot chat is refused.
    void chooseModel(const QString& id);
    /// Asks the server to free the memory of `id` at once (keep_alive 0). The model no
    /// longer counts as loaded from now on; should the server refuse, the answer of
    /// /api/ps that follows shows it loaded again.
    void unloadModel(const QString& id);

    /// For quitting: keeps every reply still arriving as far as it came, on disk, and
    /// ends all work in progress.
    void applicationWillQuit();

signals:
    void availableModelsChanged();
    void conversationsChanged();
    void selectedConversationChanged();
    void messagesChanged();
    void inSendingMessageChanged();
    void statusMessageChanged();
    void inputTextChanged();
    /// pendingImages() changed (a picture attached, removed, sent, or another draft shown).
    void pendingImagesChanged();
    void selectedModelChanged();
    void conversationDescriptionChanged();
    void isInstallingChanged();
    void installationStatusChanged();
    void progressChanged();
    void completeChanged();
    void downloadBytesChanged();
    void installOutcomeChanged();
    void modalAlertKindChanged();
    void showModalAlertChanged();
    void modalAlertTitleChanged();
    void modalAlertMessageChanged();
    void showLoadAlertChanged();
    void firstLaunchChanged();
    void ollamaRunningChanged();
    void storageProblemChanged();
    /// The conversation shown has other settings, or another conversation (or none) is shown.
    void conversationSettingsChanged();
    /// What a model can do, whether it is loaded or being loaded changed (modelStates()).
    void modelStatesChanged();
    /// A deletion began, was undone or became final (see hasPendingDeletion).
    void pendingDeletionChanged();
    /// Another conversation's transcript (or none) is now in `messages`: the view shows
    /// it from its end instead of following it as a growing transcript.
    void conversationOpened();

private:
    /// Runs `step` on the interface thread if the model `alive` belongs to still exists
    /// then. Callable from any thread.
    template <class F>
    static void post(std::weak_ptr<int> alive, F step) {
        InterfaceThread::post(std::move(alive), [step = std::move(step)]() mutable { step(); });
    }
    /// A future's continuation that hands the value to `step` on the interface thread
    /// (while this model exists).
    template <class T, class F>
    std::function<void(const T&)> onInterfaceThread(F step) {
        return [alive = std::weak_ptr<int>(alive_), step](const T& value) {
            post(alive, [step, value]() mutable { step(value); });
        };
    }
    /// Subscribes to a published field of `manager` for the current binding: the first
    /// value is applied at once, later ones on the interface thread unless the binding
    /// has changed by then.
    template <class T, class Apply>
    Subscription follow(Published<T>& field, Apply apply);
    /// A subscriber that hands its call to `step` on the interface thread, unless the
    /// binding has changed (or the model is gone) by then. Callable from any thread.
    template <class F>
    auto forBinding(F step);

    /// Latest transcript and chunk signal of the bound manager, waiting for the interface
    /// thread: however fast a reply streams, at most one delivery is queued, carrying
    /// the newest state.
    struct TranscriptMailbox;
    void deliverTranscript(const std::shared_ptr<TranscriptMailbox>& mailbox,
                           std::uint64_t binding);
    void applySaveState(const std::any& object);
    void updateStorageProblem();

    void setMessages(MessageList messages);
    void setInSendingMessage(bool value);
    void setStatusMessage(std::optional<QString> text);
    void applyConversationSettings(ConversationSettings settings);
    void yieldChunk();
    void raiseAlert(const QString& title, const QString& message,
                    AlertKind kind = AlertKind::Warning);
    /// Runs `action` on this thread once Ollama answers and a model is chosen (and
    /// remembered); otherwise shows the alert that says why not.
    void whenReadyToSend(std::function<void()> action);
    void saveConversationList();
    void applyUpdate(const std::any& object, bool isTitle);
    void startUp();
    void checkFirstLaunch(std::function<void(bool)> answer);
    void readInstallStream(const QString& name, ThrowingStream<OllamaInstallationStatus> stream);

    ZoruveVedeServices services_;
    ConversationPool& pool_;
    ChatStore& store_;
    ModelServiceBridge& bridge_;
    // Held only by this model; background steps keep a weak reference and do nothing
    // once it is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    std::vector<Subscription> cancellables_;
    std::shared_ptr<ConversationManager> currentConversation_;
    std::uint64_t binding_ = 0;  // counts bindings; deliveries of an older one are dropped

    QList<ChatModel> availableModels_;
    QList<Conversation> conversations_;
    SidebarID selectedConversation_ = SidebarID::newConversation();
    MessageList messages_;
    bool inSendingMessage_ = false;
    std::optional<QString> statusMessage_;
    ConversationSettings conversationSettings_;
    // chunkStream and its producing end.
    std::pair<ThrowingStream<ChunkSignal>, ThrowingStream<ChunkSignal>::Producer> chunk_ =
        ThrowingStream<ChunkSignal>::make();
    QString inputText_;
    std::optional<QString> selectedModel_;
    QString conversationDescription_;
    bool isInstalling_ = false;
    QString installationStatus_;
    QString installingModel_;
    std::optional<ThrowingStream<OllamaInstallationStatus>> installStream_;
    bool installCancelled_ = false;
    /// Ends an installation the user cancelled, quietly.
    void finishCancelledInstall();
    void setDownloadBytes(qint64 completed, qint64 total);
    void setInstallOutcome(InstallOutcome outcome);
    qint64 progress_ = 0;
    qint64 complete_ = 0;
    qint64 downloadCompleted_ = 0;
    qint64 downloadTotal_ = 0;
    InstallOutcome installOutcome_ = InstallOutcome::None;
    AlertKind modalAlertKind_ = AlertKind::Warning;
    bool showModalAlert_ = false;
    QString modalAlertTitle_;
    QString modalAlertMessage_;
    bool showLoadAlert_ = false;
    bool firstLaunch_ = false;
    bool ollamaRunning_ = true;
    QString storageProblem_;
    // Text typed but not sent, by sidebar id ("new" or a UUID); `inputText` is the draft of
    // the selected conversation. Written to the data folder shortly after each change.
    QHash<QString, QString> drafts_;
    std::unique_ptr<QTimer> draftTimer_;
    void saveDrafts();
    // The pictures attached to the draft shown, and those of the other drafts by sidebar id.
    // Written with the drafts' text, to a file of their own ("draft-pictures.json").
    QStringList pendingImages_;
    QHash<QString, QStringList> draftImages_;
    void setPendingImages(QStringList images);
    /// Prepares and stores a picture off this thread: `read` gives its bytes (or why not).
    void attachPicture(std::function<std::pair<QByteArray, QString>()> read);
    // The model remembered in the settings, until a model list says whether it is there.
    std::optional<QString> rememberedModel_;
    void applyModelList(QList<ChatModel> models);
    // What the server said of the listed models; see modelStates().
    QHash<QString, ModelDetails> modelDetails_;  // by id
    QHash<QString, QString> detailsDigest_;      // id -> digest of the entry they describe
    QSet<QString> askingDetails_;                // ids whose /api/show is under way
    QSet<QString> detailsFailed_;        // ids whose /api/show failed, until refreshModelStatus()
    QList<RunningModel> runningModels_;  // as /api/ps last said
    bool runningKnown_ = false;
    std::uint64_t runningAsked_ = 0;  // counts /api/ps questions; only the latest is applied
    QSet<QString> loadingModels_;     // ids with a background load under way
    QSet<QString> unloadingModels_;   // ids asked to unload, until /api/ps no longer lists them
    /// Asks /api/show for each listed model not described yet; forgets the descriptions
    /// of models that left the list or changed (pulled again).
    void askModelDetails();
    void refreshRunningModels();
    void applyRunningModels(QList<RunningModel> running);
    // What the user asked for while Ollama did not answer, done once it does.
    std::function<void()> waitingAction_;
    /// Raises the "Waiting on Ollama…" alert for `action`.
    void waitForService(std::function<void()> action);
    QHash<QUuid, QString> unsavedConversations_;  // id -> why its file could not be written
    QString listSaveError_;                       // why "toc.json" could not be written
    std::unique_ptr<QTimer> saveRetryTimer_;      // tries again while something is unsaved
    std::unique_ptr<QTimer> timer_;
    std::optional<QDateTime> lastModelReloadTime_;
    // A deleted conversation while it can still be brought back: its entry and place in
    // the list, its draft, and its manager (kept out of the pool meanwhile), if it had one.
    struct PendingDeletion {
        Conversation entry;
        qsizetype index = 0;
        QString draft;
        QStringList draftPictures;
        std::shared_ptr<ConversationManager> manager;
    };
    std::optional<PendingDeletion> pendingDeletion_;
    std::unique_ptr<QTimer> undoTimer_;  // ends the pending deletion
    // The full-text index, told of every save, rename and deletion; gone after quitting.
    std::unique_ptr<SearchService> search_;
    void startSearch();
    void applySavedTranscript(const std::any& object);
};

}  // namespace parlote
