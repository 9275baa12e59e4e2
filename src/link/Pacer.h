// The protocol's fixed waits go through a pacer, so the product always waits the real
// time while tests can count the waits without spending them.
#pragma once

class Pacer {
public:
    virtual ~Pacer() = default;
    virtual void Sleep(int milliseconds) = 0;
};

// Waits the real time, to the millisecond, without spinning.
class RealPacer final : public Pacer {
public:
    void Sleep(int milliseconds) override;
};

// The pacer the product uses.
Pacer& DefaultPacer();
