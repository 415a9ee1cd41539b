#pragma once
// Recording doubles for the Modbus engine's surroundings: the serial
// component's SendString, the status bar, and the host protocol list.
#include <map>
#include <string>
#include <vector>

#include "modbus/Interfaces.h"

namespace kelm::test {

// Keeps every frame handed to SendString.
class RecordingSink : public IFrameSink {
  public:
    void SendString(const ByteString& S) override { frames.push_back(S); }
    std::vector<ByteString> frames;
};

// Keeps every status text set, and the latest text of each panel.
class RecordingStatus : public IStatusText {
  public:
    void SetStatusText(int panel, const std::string& utf8) override {
        history.emplace_back(panel, utf8);
        latest[panel] = utf8;
    }
    std::string Text(int panel) const {
        auto it = latest.find(panel);
        return it == latest.end() ? std::string() : it->second;
    }
    std::vector<std::pair<int, std::string>> history;
    std::map<int, std::string> latest;
};

// The protocol list with its two items "RTU" (0) and "ASCII" (1); -1 selects nothing.
class FixedProtocol : public IHostProtocol {
  public:
    explicit FixedProtocol(int index = 0) : index(index) {}
    int ProtocolIndex() const override { return index; }
    std::string ProtocolText() const override {
        if (index == 0) return "RTU";
        if (index == 1) return "ASCII";
        return {};
    }
    int index;
};

}  // namespace kelm::test
