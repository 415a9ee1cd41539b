#pragma once
// The KELM module models: type codes reported in holding register 0, model
// names, channel nodes, and the panel, reset routine and reply handler of each.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kelm {

struct ModelInfo {
    std::uint8_t typeCode;                           // low byte of holding register 0
    std::string_view name;                           // "KELM-8I8T", ...
    std::span<const std::string_view> channelNodes;  // tree children, in order
    std::string_view panel;                          // "Pnl_8I8T", ...
    std::string_view resetRoutine;                   // "Pnl8I8T_Default", ...
    std::string_view replyHandler;                   // "KELM_8I8T_Event", ...
};

// The reply handler names a model can route to (KELM-8AS and KELM-8ASP share one).
inline constexpr std::array<std::string_view, 7> kReplyHandlerNames = {
    "KELM_8I8T_Event", "KELM_16I_Event", "KELM_16T_Event", "KELM_8R_Event",
    "KELM_2AO_Event",  "KELM_8AD_Event", "KELM_8AS_Event"};

// All eight models, in type-code order 10..17.
std::span<const ModelInfo> Models();

// Lookups; nullptr when nothing matches. Names match exactly (case-sensitive).
const ModelInfo* FindModelByCode(int typeCode);
const ModelInfo* FindModelByName(std::string_view name);

// The scan's plausibility check on a reported type code: 1-20 pass (codes
// 1-9 and 18-20 pass but name no model), 0 and above 20 are rejected.
inline constexpr bool IsPlausibleTypeCode(int typeCode) {
    return typeCode >= 1 && typeCode <= 20;
}

// A module node's text split into its parts: "KELM-8ASP(12)" -> {"KELM-8ASP", 12}.
struct ModuleNode {
    std::string name;
    std::uint8_t address = 0;
    bool operator==(const ModuleNode&) const = default;
};

// Parses "<name>(<decimal address>)". The name is everything before the first
// "(" and must not be empty; the address is 1 to 3 decimal digits, 0-255,
// followed by ")" as the last character. Anything else yields nullopt.
std::optional<ModuleNode> ParseModuleNodeText(std::string_view text);

// The inverse: name + "(" + decimal address + ")".
std::string ModuleNodeText(std::string_view name, std::uint8_t address);

}  // namespace kelm
