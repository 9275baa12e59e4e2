// Carries a transfer session's view calls from the worker thread it runs on to the
// window's thread, in the order the session made them. The worker never waits on the
// window: it queues each call and goes on. A message shown on the window's thread holds
// back every later call until the operator has closed it, so the display still changes
// only after the message, as when the session ran on the window's own thread. The port
// name is settled on the window's thread before the session starts.
#pragma once

#include "link/TransferView.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class QObject;

class SessionBridge final : public TransferView,
                            public std::enable_shared_from_this<SessionBridge> {
public:
    // `shown` lives on the thread of `context` and shows the calls there; `portName` is
    // what PortName() answers.
    SessionBridge(QObject* context, TransferView& shown, std::string portName);
    SessionBridge(const SessionBridge&) = delete;
    SessionBridge& operator=(const SessionBridge&) = delete;

    // The worker's side.
    std::string PortName() override { return m_portName; }
    void SetStatus(const std::string& text) override;
    void SetProgress(int percent) override;
    void ShowProgress(bool visible) override;
    void ShowStop(bool visible) override;
    void Refresh() override;
    void ShowMessage(const Message& message) override;
    // Runs `call` on the window's thread after every call made before it has been shown
    // (and every message before it closed).
    void Post(std::function<void()> call);

    // The window's side, when it goes away: later calls are dropped, held ones too.
    void Detach();

private:
    using Call = std::function<void(TransferView&)>;
    // Queues `call` for the window's thread, unless detached.
    void Send(Call call);
    // On the window's thread: runs `call` now, or after the message being shown.
    void Deliver(Call call);

    QObject* m_context;
    TransferView& m_shown;
    const std::string m_portName;

    // Held by the worker while it queues a call, and by Detach(): the context outlives
    // every call queued before Detach().
    std::mutex m_mutex;
    std::atomic<bool> m_detached{false};

    // The window's thread only: calls that came while an earlier one (a message) ran.
    std::deque<Call> m_held;
    bool m_delivering = false;
};
