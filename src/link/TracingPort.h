// A port that logs every frame sent and received, with a timestamp, in hex; for looking at
// a real line from the command line (torvik7ctl --trace).
#pragma once

#include "link/SerialPort.h"

#include <cstdio>
#include <memory>

class TracingPort final : public SerialPort {
public:
    // `log` stays owned by the caller and must outlive the port.
    TracingPort(std::unique_ptr<SerialPort> inner, std::FILE* log);

    bool SetRate(int baud) override;
    void Write(const std::uint8_t* data, int count) override;
    int Read(std::uint8_t* buffer, int capacity) override;
    void Purge(PurgeKind kind) override;
    void Close() override;

private:
    void Line(const char* what, const std::uint8_t* data, int count, const char* tail = "");

    std::unique_ptr<SerialPort> inner_;
    std::FILE* log_;
};

// Opens through `inner` and wraps what it opens in a TracingPort.
class TracingOpener final : public PortOpener {
public:
    TracingOpener(PortOpener& inner, std::FILE* log) : inner_(inner), log_(log) {}
    PortOpening Open(const std::string& name, PortOpenMode mode) override;

private:
    PortOpener& inner_;
    std::FILE* log_;
};
