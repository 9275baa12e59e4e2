// Carries a transfer session's view calls from the worker thread it runs on to the
// window's thread. The calls reach the window in the order the session made them; a
// message waits on the worker until the operator has answered it on the window's thread.
// The port name is settled on the window's thread before the session starts.
#pragma once

#include "link/TransferView.h"

#include <atomic>
#include <condition_variable>
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
    // Nothing to pump: the window turns on its own thread. A stop asked for through Stop()
    // is applied here, so it holds even when asked before the block loop set
    // TransferRunning to 1.
    void PumpMessages() override;
    void ShowMessage(const Message& message) override;
    // Runs `call` on the window's thread after every call made before it.
    void Post(std::function<void()> call);

    // The window's side: stop before the next block, whenever the session reaches it.
    void Stop();
    // The window's side, when it goes away: later calls are dropped and a message the
    // worker waits on is taken as answered.
    void Detach();

private:
    // Queues `call` for `shown` on the window's thread, unless detached.
    void Send(std::function<void(TransferView&)> call);

    QObject* m_context;
    TransferView& m_shown;
    const std::string m_portName;
    std::atomic<bool> m_stop{false};

    // Held by the worker while it queues a call, and by Detach(): the context outlives
    // every call queued before Detach(). The window's thread reads m_detached without it,
    // so it never waits on a worker that holds it.
    std::mutex m_mutex;
    std::condition_variable m_answered;
    std::atomic<bool> m_detached{false};
};
