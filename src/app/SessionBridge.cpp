#include "app/SessionBridge.h"

#include "link/LinkGlobals.h"

#include <QMetaObject>
#include <QObject>

SessionBridge::SessionBridge(QObject* context, TransferView& shown, std::string portName)
    : m_context(context), m_shown(shown), m_portName(std::move(portName)) {}

void SessionBridge::Send(std::function<void(TransferView&)> call) {
    const std::lock_guard lock(m_mutex);
    if (m_detached) return;
    QMetaObject::invokeMethod(
        m_context,
        [self = shared_from_this(), call = std::move(call)] {
            if (!self->m_detached) call(self->m_shown);
        },
        Qt::QueuedConnection);
}

void SessionBridge::Post(std::function<void()> call) {
    Send([call = std::move(call)](TransferView&) { call(); });
}

void SessionBridge::SetStatus(const std::string& text) {
    Send([text](TransferView& v) { v.SetStatus(text); });
}
void SessionBridge::SetProgress(int percent) {
    Send([percent](TransferView& v) { v.SetProgress(percent); });
}
void SessionBridge::ShowProgress(bool visible) {
    Send([visible](TransferView& v) { v.ShowProgress(visible); });
}
void SessionBridge::ShowStop(bool visible) {
    Send([visible](TransferView& v) { v.ShowStop(visible); });
}
void SessionBridge::Refresh() {
    Send([](TransferView& v) { v.Refresh(); });
}

void SessionBridge::PumpMessages() {
    if (m_stop) TransferRunning = 0;
}

void SessionBridge::ShowMessage(const Message& message) {
    auto answered = std::make_shared<bool>(false);
    std::unique_lock lock(m_mutex);
    if (m_detached) return;
    QMetaObject::invokeMethod(
        m_context,
        [self = shared_from_this(), message, answered] {
            if (!self->m_detached) self->m_shown.ShowMessage(message);
            {
                const std::lock_guard done(self->m_mutex);
                *answered = true;
            }
            self->m_answered.notify_all();
        },
        Qt::QueuedConnection);
    m_answered.wait(lock, [&] { return *answered || m_detached; });
}

void SessionBridge::Stop() {
    m_stop = true;
    TransferRunning = 0;
}

void SessionBridge::Detach() {
    {
        const std::lock_guard lock(m_mutex);
        m_detached = true;
    }
    m_answered.notify_all();
}
