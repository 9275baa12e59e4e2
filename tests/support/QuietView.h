// A transfer view that shows nothing and keeps the texts of the messages a session gives;
// with `echo` it also prints them to stderr, for programs run by hand.
#pragma once

#include "link/TransferView.h"

#include <cstdio>
#include <string>
#include <vector>

class QuietView final : public TransferView {
public:
    std::string port;
    std::vector<std::string> messages;
    bool echo = false;

    std::string PortName() override { return port; }
    void SetStatus(const std::string&) override {}
    void SetProgress(int) override {}
    void ShowProgress(bool) override {}
    void ShowStop(bool) override {}
    void Refresh() override {}
    void ShowMessage(const Message& m) override {
        messages.push_back(m.text);
        if (echo) std::fprintf(stderr, "  [%s] %s\n", m.caption.c_str(), m.text.c_str());
    }
};
