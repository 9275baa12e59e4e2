#include "LinkFakes.h"

#include <cstdio>
#include <cstring>

std::string Hex(const Bytes& bytes) {
    std::string text;
    char item[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(item, sizeof item, i ? " %02X" : "%02X", bytes[i]);
        text += item;
    }
    return text;
}

namespace {
void LogWrite(PortLog& log, const std::uint8_t* data, int count) {
    log.written.emplace_back(data, data + count);
    log.events.push_back("W " + Hex(log.written.back()));
}
void LogPurge(PortLog& log, PurgeKind kind) {
    log.purges.push_back(kind);
    log.events.push_back(kind == PurgeKind::Clear ? "purge clear" : "purge abort");
}
} // namespace

bool ScriptedPort::SetRate(int baud) {
    log_.rates.push_back(baud);
    log_.events.push_back("rate " + std::to_string(baud));
    return !refusedRates.count(baud);
}

void ScriptedPort::Write(const std::uint8_t* data, int count) {
    LogWrite(log_, data, count);
}

int ScriptedPort::Read(std::uint8_t* buffer, int capacity) {
    log_.capacities.push_back(capacity);
    Bytes answer;
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    }
    const int n = std::min<int>(capacity, static_cast<int>(answer.size()));
    if (n > 0) std::memcpy(buffer, answer.data(), n);
    log_.events.push_back("R " + std::to_string(n) + "/" + std::to_string(capacity));
    return n;
}

void ScriptedPort::Purge(PurgeKind kind) {
    LogPurge(log_, kind);
}

void ScriptedPort::Close() {
    ++log_.closes;
    log_.events.push_back("close");
}

bool ModelPort::SetRate(int baud) {
    log_.rates.push_back(baud);
    rate_ = baud;
    return true;
}

void ModelPort::Write(const std::uint8_t* data, int count) {
    LogWrite(log_, data, count);
    input_.clear(); // what an earlier request left unread is dropped, as the real port does
    if (model_.LineDropped()) return;
    std::vector<std::uint8_t> answers;
    model_.Receive(data, count, rate_, answers);
    input_.insert(input_.end(), answers.begin(), answers.end());
}

int ModelPort::Read(std::uint8_t* buffer, int capacity) {
    log_.capacities.push_back(capacity);
    if (model_.LineDropped()) input_.clear();
    int n = 0;
    while (n < capacity && !input_.empty()) {
        buffer[n++] = input_.front();
        input_.pop_front();
    }
    return n;
}

void ModelPort::Purge(PurgeKind kind) {
    LogPurge(log_, kind);
    input_.clear();
}

void ModelPort::Close() {
    ++log_.closes;
    log_.events.push_back("close");
}

PortOpening ModelOpener::Open(const std::string& name, PortOpenMode mode) {
    names.push_back(name);
    modes.push_back(mode);
    PortOpening opening;
    opening.outcome = outcome;
    if (outcome == PortOpenOutcome::CannotOpen) {
        opening.reason = reason;
        return opening;
    }
    opening.port = std::make_unique<ModelPort>(model, log);
    return opening;
}

Bytes WithXor(Bytes bytes) {
    std::uint8_t x = 0;
    for (auto b : bytes)
        x ^= b;
    bytes.push_back(x);
    return bytes;
}

Bytes Ack(std::uint8_t line, std::uint8_t second) {
    return WithXor({line, second});
}

Bytes ResultFrame(int address, const Bytes& data, std::uint8_t byte0, std::uint8_t byte1,
                  std::uint8_t highBits) {
    Bytes r = {byte0, byte1, 0, static_cast<std::uint8_t>((highBits & 0xF8) | ((address >> 8) & 7)),
               static_cast<std::uint8_t>(address & 0xFF)};
    r.insert(r.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (int i = 3; i <= 8; ++i)
        sum += r[i];
    r[2] = static_cast<std::uint8_t>(255 - (sum & 0xFF));
    return WithXor(r);
}
