#include "link/TracingPort.h"

#include <chrono>
#include <ctime>

TracingPort::TracingPort(std::unique_ptr<SerialPort> inner, std::FILE* log)
    : inner_(std::move(inner)), log_(log) {}

void TracingPort::Line(const char* what, const std::uint8_t* data, int count, const char* tail) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::fprintf(log_, "%s.%03d %s", stamp, static_cast<int>(ms), what);
    for (int i = 0; i < count; ++i)
        std::fprintf(log_, " %02X", data[i]);
    std::fprintf(log_, "%s\n", tail);
    std::fflush(log_);
}

bool TracingPort::SetRate(int baud) {
    const bool ok = inner_->SetRate(baud);
    char text[64];
    std::snprintf(text, sizeof text, "rate %d%s", baud, ok ? "" : " refused");
    Line(text, nullptr, 0);
    return ok;
}

void TracingPort::Write(const std::uint8_t* data, int count) {
    Line(">>", data, count);
    inner_->Write(data, count);
}

int TracingPort::Read(std::uint8_t* buffer, int capacity) {
    const int count = inner_->Read(buffer, capacity);
    char tail[48];
    std::snprintf(tail, sizeof tail, "%s(%d of %d)", count ? "  " : " ", count, capacity);
    Line("<<", buffer, count, tail);
    return count;
}

void TracingPort::Purge(PurgeKind kind) {
    Line(kind == PurgeKind::Clear ? "purge clear" : "purge abort+clear", nullptr, 0);
    inner_->Purge(kind);
}

void TracingPort::Close() {
    Line("close", nullptr, 0);
    inner_->Close();
}

PortOpening TracingOpener::Open(const std::string& name, PortOpenMode mode) {
    PortOpening opening = inner_.Open(name, mode);
    std::fprintf(log_, "open %s: %s\n", name.c_str(),
                 opening.outcome == PortOpenOutcome::Opened            ? "opened"
                 : opening.outcome == PortOpenOutcome::CannotOpen      ? "cannot open"
                 : opening.outcome == PortOpenOutcome::StateUnreadable ? "state unreadable"
                                                                       : "event mask refused");
    if (opening.port) opening.port = std::make_unique<TracingPort>(std::move(opening.port), log_);
    return opening;
}
