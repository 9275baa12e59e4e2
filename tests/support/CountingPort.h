// A port that counts the frames a session sends (and shows each to an observer, if any), and
// an opener that hands out such ports over the system's serial ports (or another opener's). Tests
// against the simulator pair it with a pacer that waits until the simulator has answered the frame
// just counted, instead of sleeping.
#pragma once

#include "link/SerialPort.h"

#include <cstdint>
#include <functional>
#include <memory>

using FrameObserver = std::function<void(const std::uint8_t* data, int count)>;

class CountingPort final : public SerialPort {
public:
    CountingPort(std::unique_ptr<SerialPort> inner, long& frames, FrameObserver onFrame = {})
        : inner_(std::move(inner)), frames_(frames), onFrame_(std::move(onFrame)) {}
    bool SetRate(int baud) override { return inner_->SetRate(baud); }
    void Write(const std::uint8_t* data, int count) override {
        ++frames_;
        if (onFrame_) onFrame_(data, count);
        inner_->Write(data, count);
    }
    int Read(std::uint8_t* buffer, int capacity) override { return inner_->Read(buffer, capacity); }
    void Purge(PurgeKind kind) override { inner_->Purge(kind); }
    void Close() override { inner_->Close(); }

private:
    std::unique_ptr<SerialPort> inner_;
    long& frames_;
    FrameObserver onFrame_;
};

class CountingOpener final : public PortOpener {
public:
    PortOpening Open(const std::string& name, PortOpenMode mode) override {
        ++opens;
        PortOpening opening = (inner ? *inner : SystemPortOpener()).Open(name, mode);
        if (opening.port)
            opening.port = std::make_unique<CountingPort>(std::move(opening.port), frames, onFrame);
        return opening;
    }
    long frames = 0;
    int opens = 0;
    FrameObserver onFrame;
    PortOpener* inner = nullptr; // the system's serial ports unless set
};
