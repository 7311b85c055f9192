#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/settings/panel_state.h"

namespace marvalo {

// What the panel shows, and how the line is framed, for each protocol.
struct ProtocolView {
    std::string_view label1Caption;
    std::string_view settingsSuffix;  // after the selected baud item
    std::string_view instruction;     // written into txtCadena; Modbus empties it
    std::string_view frame1Caption;
    bool modbusInputsShown;  // Frame2, txtNWord, frmFunciones
};

inline constexpr std::array<ProtocolView, kProtocolCount> kProtocolViews{{
    {"Korvel", ",n,8,1", "D", "Instruc. a enviar", false},
    {"ISO 1745", ",e,7,1", "0D", "Instruc. a enviar", false},
    {"Modbus", ",n,8,1", "", "Direc. 1 Palabra", true},
}};

// The views write a small n and the baud list a capital N: both mean the
// same to the port, and both are kept as operators have always seen them.
inline constexpr std::string_view kBaudHandlerPlainSuffix = ",N,8,1";

std::optional<ProtocolView> viewFor(std::uint8_t protocol);

// The settings string the baud handler builds for an item under `protocol`.
std::string baudHandlerSettings(std::string_view baudItem, std::uint8_t protocol);

// The protocol button's step: 0 -> 1 -> 2 -> 0; nothing for any other value.
std::optional<std::uint8_t> nextProtocol(std::uint8_t protocol);

}  // namespace marvalo
