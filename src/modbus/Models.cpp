#include "modbus/Models.h"

namespace kelm {
namespace {

constexpr std::string_view kDi8Do8[] = {"DI0", "DI1", "DI2", "DI3", "DI4", "DI5", "DI6", "DI7",
                                        "DO0", "DO1", "DO2", "DO3", "DO4", "DO5", "DO6", "DO7"};
constexpr std::string_view kDi16[] = {"DI0", "DI1", "DI2",  "DI3",  "DI4",  "DI5",  "DI6",  "DI7",
                                      "DI8", "DI9", "DI10", "DI11", "DI12", "DI13", "DI14", "DI15"};
constexpr std::string_view kDo16[] = {"DO0", "DO1", "DO2",  "DO3",  "DO4",  "DO5",  "DO6",  "DO7",
                                      "DO8", "DO9", "DO10", "DO11", "DO12", "DO13", "DO14", "DO15"};

constexpr ModelInfo kModels[] = {
    {10, "KELM-8I8T", kDi8Do8, "Pnl_8I8T", "Pnl8I8T_Default", "KELM_8I8T_Event"},
    {11, "KELM-16I", kDi16, "Pnl_16I", "Pnl16I_Default", "KELM_16I_Event"},
    {12, "KELM-16T", kDo16, "Pnl_16T", "Pnl16T_Default", "KELM_16T_Event"},
    {13, "KELM-8RY", {}, "Pnl_8RY", "Pnl8RY_Default", "KELM_8R_Event"},
    {14, "KELM-8AS", {}, "Pnl_8AS", "Pnl8AS_Default", "KELM_8AS_Event"},
    {15, "KELM-8ASP", {}, "Pnl_8AS", "Pnl8AS_Default", "KELM_8AS_Event"},
    {16, "KELM-8AD", {}, "Pnl_8AD", "Pnl8AD_Default", "KELM_8AD_Event"},
    {17, "KELM-2AO", {}, "Pnl_2AO", "Pnl2AO_Default", "KELM_2AO_Event"},
};

}  // namespace

std::span<const ModelInfo> Models() {
    return kModels;
}

const ModelInfo* FindModelByCode(int typeCode) {
    for (const ModelInfo& m : kModels)
        if (m.typeCode == typeCode) return &m;
    return nullptr;
}

const ModelInfo* FindModelByName(std::string_view name) {
    for (const ModelInfo& m : kModels)
        if (m.name == name) return &m;
    return nullptr;
}

std::optional<ModuleNode> ParseModuleNodeText(std::string_view text) {
    const std::size_t open = text.find('(');
    if (open == std::string_view::npos || open == 0) return std::nullopt;
    if (text.size() < open + 3 || text.back() != ')') return std::nullopt;
    const std::string_view digits = text.substr(open + 1, text.size() - open - 2);
    if (digits.empty() || digits.size() > 3) return std::nullopt;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 255) return std::nullopt;
    return ModuleNode{std::string(text.substr(0, open)), static_cast<std::uint8_t>(value)};
}

std::string ModuleNodeText(std::string_view name, std::uint8_t address) {
    std::string out(name);
    out += '(';
    out += std::to_string(address);
    out += ')';
    return out;
}

}  // namespace kelm
