#include "link/TransferSession.h"

#include "link/Pacer.h"
#include "link/Protocol.h"
#include "link/SerialPort.h"
#include "settings/DeviceImage.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int kDataBlockTransactions = 5;
constexpr int kIdentityTransactions = 10;
constexpr int kProgressStart = 100;
constexpr int kProgressEnd = 51300;

Message PortMissingMessage(const std::string& name, const std::string& reason) {
    Message m;
    m.owner = MessageOwner::Window;
    m.caption = kCaptionOshibka;
    m.icon = MessageIcon::Error;
    m.text =
        "Не удаётся обнаружить " + name + " !\n Возможно, ресурс используется другой программой.";
    if (!reason.empty()) m.text += "\n" + reason;
    return m;
}

Message PortConfigMessage() {
    Message m;
    m.owner = MessageOwner::Window;
    m.caption = ""; // the application's own name
    m.icon = MessageIcon::None;
    m.text = "Ошибка в конфигурировании COM - порта!";
    return m;
}

Message EventMaskMessage() {
    Message m;
    m.owner = MessageOwner::Window;
    m.caption = kCaptionError;
    m.icon = MessageIcon::Error;
    m.text = "Error!";
    return m;
}

bool Repeatable(std::uint8_t code) {
    return code == kLinkBadSum || code == kLinkBadAddress || code == kLinkVerifyFailed;
}

std::uint8_t RepeatTransfer(SerialPort& port, int address, std::uint8_t* data, Direction direction,
                            Pacer& pacer, int lineAddress, int transactions) {
    std::uint8_t code = kLinkOk;
    for (int i = 0; i < transactions; ++i) {
        code = TransferBlock(port, address, data, direction, pacer, lineAddress);
        if (!Repeatable(code)) break;
    }
    return code;
}

// One session's hold on its port: closed on every way out.
class Session {
public:
    Session(TransferView& view, const SessionOptions& options)
        : view_(view), pacer_(options.pacer ? *options.pacer : DefaultPacer()),
          opener_(options.opener ? *options.opener : SystemPortOpener()), stop_(options.stop),
          lineAddress_(options.lineAddress), unitAddress_(options.unitAddress) {}
    ~Session() { ClosePort(); }

    SerialPort& port() { return *port_; }
    TransferView& view() { return view_; }

    // Port, configuration and rate search. Returns 0 to go on, else the session result
    // with the port closed and the progress bar hidden.
    SessionResult Start(PortOpenMode mode) {
        const std::string name = view_.PortName();
        view_.Refresh();
        PortOpening opening = opener_.Open(name, mode);
        port_ = std::move(opening.port);
        switch (opening.outcome) {
        case PortOpenOutcome::Opened:
            break;
        case PortOpenOutcome::CannotOpen:
            view_.ShowMessage(PortMissingMessage(name, opening.reason));
            return End(kSessionPortOpenFailed);
        case PortOpenOutcome::StateUnreadable:
            if (mode == PortOpenMode::Write) {
                view_.ShowMessage(PortConfigMessage());
                return End(kSessionPortStateFailed);
            }
            break;
        case PortOpenOutcome::EventMaskRefused:
            if (mode == PortOpenMode::Write) {
                view_.ShowMessage(PortConfigMessage());
                return End(kSessionPortConfigFailed);
            }
            view_.ShowMessage(EventMaskMessage());
            break;
        }
        if (!port_) // an opener that broke its word: treat as a port that cannot be opened
            return End(kSessionPortOpenFailed);

        const HandshakeResult handshake = UnitHandshake(*port_, pacer_, unitAddress_);
        if (handshake.rateRefused) {
            view_.ShowMessage(PortConfigMessage());
            return End(kSessionPortConfigFailed);
        }
        ShowLinkError(handshake.code, view_);
        if (handshake.code != kLinkOk) return End(kSessionLinkFailed);
        // A stop that came while the port opened: not one block frame goes out, the
        // identity reads of a write included.
        if (StopRequested()) return End(kSessionStopped);
        return kSessionOk;
    }

    void StartBlockLoop(const char* status) {
        view_.ShowProgress(true);
        view_.SetStatus(status);
        view_.ShowStop(true);
        view_.Refresh();
    }

    bool StopRequested() const { return stop_ && stop_->load(); }

    // One block, tried up to `transactions` times while the answer may be repeated.
    std::uint8_t Transfer(int address, std::uint8_t* data, Direction direction, int transactions) {
        return RepeatTransfer(*port_, address, data, direction, pacer_, lineAddress_, transactions);
    }

    void ShowBlockProgress(const char* format, int counter) {
        view_.ShowProgress(true);
        const int percent = counter / 512;
        view_.SetProgress(percent);
        char text[128];
        std::snprintf(text, sizeof text, format, percent);
        view_.SetStatus(text);
        view_.Refresh();
    }

    // Leaves the block loop early with `result`.
    SessionResult EndBlockLoop(SessionResult result) {
        view_.SetStatus("");
        view_.ShowStop(false);
        view_.Refresh();
        return End(result);
    }

    SessionResult End(SessionResult result) {
        ClosePort();
        view_.ShowProgress(false);
        return result;
    }

    void ClosePort() {
        if (port_) {
            port_->Close();
            port_.reset();
        }
    }

private:
    TransferView& view_;
    Pacer& pacer_;
    PortOpener& opener_;
    const std::atomic<bool>* stop_;
    int lineAddress_;
    int unitAddress_;
    std::unique_ptr<SerialPort> port_;
};

// The dump file "data.txt": one line per byte read, recreated by every read, even one
// whose port then fails. A dump that cannot be written is not worth stopping a read for.
class DataDump final : public SessionObserver {
public:
    explicit DataDump(const std::string& path) : path_(path) {}
    void SessionStarted(SessionKind kind) override {
        if (kind == SessionKind::Read && !path_.empty())
            file_.reset(std::fopen(path_.c_str(), "w"));
    }
    void BlockDone(int address, const std::uint8_t* data) override {
        if (!file_) return;
        for (int i = 0; i < 4; ++i)
            std::fprintf(file_.get(), "%d %d \n", address + i, data[i]);
    }
    void SessionEnded(const SessionEnd&) override { file_.reset(); }

private:
    std::string path_;
    std::unique_ptr<FILE, int (*)(FILE*)> file_{nullptr, &std::fclose};
};

// Passes every call on to the operator's view and keeps the last message shown, so the
// session's end can say what the operator was told.
class NotingView final : public TransferView {
public:
    explicit NotingView(TransferView& view) : view_(view) {}
    std::string PortName() override { return view_.PortName(); }
    void SetStatus(const std::string& text) override { view_.SetStatus(text); }
    void SetProgress(int percent) override { view_.SetProgress(percent); }
    void ShowProgress(bool visible) override { view_.ShowProgress(visible); }
    void ShowStop(bool visible) override { view_.ShowStop(visible); }
    void Refresh() override { view_.Refresh(); }
    void ShowMessage(const Message& message) override {
        last = message.text;
        view_.ShowMessage(message);
    }
    std::string last;

private:
    TransferView& view_;
};

// The dump first, then the caller's observers; counts what they are told.
class Observers {
public:
    Observers(const SessionOptions& options, SessionKind kind)
        : dump_(kind == SessionKind::Read ? options.dumpPath : std::string()), kind_(kind) {
        list_.push_back(&dump_);
        for (SessionObserver* o : options.observers)
            if (o) list_.push_back(o);
        for (SessionObserver* o : list_)
            o->SessionStarted(kind_);
    }
    void BlockLoop() { blockLoop_ = true; }
    void BlockDone(int address, const std::uint8_t* data) {
        ++blocks_;
        for (SessionObserver* o : list_)
            o->BlockDone(address, data);
    }
    SessionResult End(SessionResult result, const SettingsRecord* record, const DeviceImage* image,
                      const NotingView& view) {
        SessionEnd end;
        end.message = view.last;
        end.kind = kind_;
        end.result = result;
        end.blocksDone = blocks_;
        end.blockLoop = blockLoop_;
        end.record = record;
        end.image = image;
        for (SessionObserver* o : list_)
            o->SessionEnded(end);
        return result;
    }

private:
    DataDump dump_;
    SessionKind kind_;
    std::vector<SessionObserver*> list_;
    int blocks_ = 0;
    bool blockLoop_ = false;
};

SessionResult ReadSession(TransferView& view, DeviceImage& image, const SessionOptions& options,
                          Observers& observers) {
    Session session(view, options);
    if (const auto start = session.Start(PortOpenMode::Read); start != kSessionOk) return start;

    image.fill(0);
    std::uint8_t block[4] = {};
    session.StartBlockLoop("Выполняется считывание настроек: 0 %");
    observers.BlockLoop();
    int address = 0;
    for (int counter = kProgressStart; counter < kProgressEnd; counter += 100, address += 4) {
        if (session.StopRequested()) return session.EndBlockLoop(kSessionStopped);
        session.ShowBlockProgress("Выполняется считывание настроек: %d %%", counter);
        const std::uint8_t code =
            session.Transfer(address, block, Direction::Read, kDataBlockTransactions);
        ShowLinkError(code, view);
        if (code != kLinkOk) return session.EndBlockLoop(kSessionLinkFailed);
        view.ShowProgress(true);
        for (int i = 0; i < 4; ++i)
            image[address + i] = block[i];
        observers.BlockDone(address, block);
    }

    session.port().Purge(PurgeKind::AbortAndClear);
    view.SetProgress(100);
    view.SetStatus("");
    view.ShowStop(false);
    view.ShowProgress(false);
    view.Refresh();
    session.port().Purge(PurgeKind::AbortAndClear);
    session.ClosePort();
    return kSessionOk;
}

SessionResult WriteSession(TransferView& view, const DeviceImage& encoded,
                           const SessionOptions& options, Observers& observers) {
    Session session(view, options);
    if (const auto start = session.Start(PortOpenMode::Write); start != kSessionOk) return start;

    // The device's own bytes 0 and 4 go back unchanged; byte 4 also says what kind of
    // unit answers at this line address.
    std::uint8_t own0[4] = {};
    std::uint8_t own4[4] = {};
    for (auto [address, buffer] : {std::pair{0, own0}, std::pair{4, own4}}) {
        const std::uint8_t code =
            session.Transfer(address, buffer, Direction::Read, kIdentityTransactions);
        ShowLinkError(code, view);
        if (code != kLinkOk) return session.End(kSessionLinkFailed);
    }
    if (own4[0] & 0x80) {
        Message m;
        m.owner = MessageOwner::Window;
        m.caption = kCaptionOshibka;
        m.icon = MessageIcon::Error;
        m.text = "Получен идентификатор пультового блока вместо идентификатора объектового !";
        view.ShowMessage(m);
        return session.End(kSessionConsoleUnit);
    }

    DeviceImage image = encoded;
    image[ImageMap::ownByte0] = own0[0];
    image[ImageMap::identifier] = own4[0];

    std::uint8_t block[4] = {};
    session.StartBlockLoop("Выполняется загрузка настроек: 0 %");
    observers.BlockLoop();
    int address = 0;
    for (int counter = kProgressStart; counter < kProgressEnd; counter += 100, address += 4) {
        if (session.StopRequested()) return session.EndBlockLoop(kSessionStopped);
        session.ShowBlockProgress("Выполняется загрузка настроек: %d %%", counter);
        std::memcpy(block, image.data() + address, 4);
        const std::uint8_t code =
            session.Transfer(address, block, Direction::Write, kDataBlockTransactions);
        ShowLinkError(code, view);
        if (code != kLinkOk) return session.EndBlockLoop(kSessionLinkFailed);
        observers.BlockDone(address, block);
    }

    view.SetProgress(100);
    view.SetStatus("");
    view.ShowStop(false);
    view.ShowProgress(false);
    view.Refresh();
    Message done;
    done.owner = MessageOwner::Window;
    done.caption = "";
    done.icon = MessageIcon::None;
    done.text = "Настройки загружены успешно!";
    view.ShowMessage(done);
    session.port().Purge(PurgeKind::AbortAndClear);
    session.ClosePort();
    return kSessionOk;
}

} // namespace

SessionResult ReadImage(TransferView& shown, DeviceImage& image, const SessionOptions& options) {
    NotingView view(shown);
    Observers observers(options, SessionKind::Read);
    const SessionResult result = ReadSession(view, image, options, observers);
    return observers.End(result, nullptr, result == kSessionOk ? &image : nullptr, view);
}

SessionResult ReadDevice(TransferView& shown, SettingsRecord& record,
                         const SessionOptions& options) {
    NotingView view(shown);
    Observers observers(options, SessionKind::Read);
    DeviceImage image{};
    const SessionResult result = ReadSession(view, image, options, observers);
    if (result != kSessionOk) return observers.End(result, nullptr, nullptr, view);
    DecodeImage(image, record); // its only result is 0
    return observers.End(kSessionOk, &record, &image, view);
}

SessionResult WriteImage(TransferView& shown, const DeviceImage& image,
                         const SessionOptions& options) {
    NotingView view(shown);
    Observers observers(options, SessionKind::Write);
    return observers.End(WriteSession(view, image, options, observers), nullptr, &image, view);
}

SessionResult WriteDevice(TransferView& shown, const SettingsRecord& record,
                          const SessionOptions& options) {
    NotingView view(shown);
    DeviceImage image{};
    EncodeImage(record, image);
    Observers observers(options, SessionKind::Write);
    return observers.End(WriteSession(view, image, options, observers), &record, &image, view);
}
