#include "app/SessionBridge.h"

#include <QMetaObject>
#include <QObject>

SessionBridge::SessionBridge(QObject* context, TransferView& shown, std::string portName)
    : m_context(context), m_shown(shown), m_portName(std::move(portName)) {}

void SessionBridge::Send(Call call) {
    const std::lock_guard lock(m_mutex);
    if (m_detached) return;
    QMetaObject::invokeMethod(
        m_context,
        [self = shared_from_this(), call = std::move(call)]() mutable {
            self->Deliver(std::move(call));
        },
        Qt::QueuedConnection);
}

void SessionBridge::Deliver(Call call) {
    m_held.push_back(std::move(call));
    // A message's own event loop runs further deliveries: they wait for it to close.
    if (m_delivering) return;
    m_delivering = true;
    while (!m_held.empty() && !m_detached) {
        const Call next = std::move(m_held.front());
        m_held.pop_front();
        next(m_shown);
    }
    m_held.clear();
    m_delivering = false;
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
void SessionBridge::ShowMessage(const Message& message) {
    Send([message](TransferView& v) { v.ShowMessage(message); });
}

void SessionBridge::Detach() {
    const std::lock_guard lock(m_mutex);
    m_detached = true;
}
