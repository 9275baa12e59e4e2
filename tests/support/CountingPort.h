// A port that counts the frames a session sends, and an opener that hands out such ports
// over the system's serial ports. Tests against the simulator pair it with a pacer that
// waits until the simulator has answered the frame just counted, instead of sleeping.
#pragma once

#include "link/SerialPort.h"

#include <memory>

class CountingPort final : public SerialPort {
public:
    CountingPort(std::unique_ptr<SerialPort> inner, long& frames)
        : inner_(std::move(inner)), frames_(frames) {}
    bool SetRate(int baud) override { return inner_->SetRate(baud); }
    void Write(const std::uint8_t* data, int count) override {
        ++frames_;
        inner_->Write(data, count);
    }
    int Read(std::uint8_t* buffer, int capacity) override { return inner_->Read(buffer, capacity); }
    void Purge(PurgeKind kind) override { inner_->Purge(kind); }
    void Close() override { inner_->Close(); }

private:
    std::unique_ptr<SerialPort> inner_;
    long& frames_;
};

class CountingOpener final : public PortOpener {
public:
    PortOpening Open(const std::string& name, PortOpenMode mode) override {
        ++opens;
        PortOpening opening = SystemPortOpener().Open(name, mode);
        if (opening.port)
            opening.port = std::make_unique<CountingPort>(std::move(opening.port), frames);
        return opening;
    }
    long frames = 0;
    int opens = 0;
};
