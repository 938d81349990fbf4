#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class CMessageIF;
class IHostServices;

namespace identity {

// The four engine settings, in the order the combined "MIP" request carries
// them.
struct Settings {
    std::string density;     // "FDC"
    std::string imageStart;  // "FSP"
    std::string imageEnd;    // "FEP"
    std::string position;    // "FPP"
};

struct View {
    uint32_t family = 0;
    std::string serial;
    std::string version;
    std::string productId;  // "0x%04X"
    // No value when the printer reported no model (the Model field keeps
    // what it showed before).
    std::optional<std::string> model;
    Settings settings;
};

// What a setting's field holds; a longer value is cut to it.
inline constexpr size_t kSettingTextLimit = 63;
// A value a setting's field takes: digits only, at most kSettingTextLimit.
bool IsSettingText(std::string_view text);

// The Model field for a model code. Code 10 is a printer sold under another
// maker's name; `oemName` is the name the USB selection recorded for it.
std::string ModelLabel(int32_t code, const std::string& oemName);
// The Product ID field for the text the "PID" request left in it.
std::string ProductIdText(const std::string& reported);
// Learns the family afresh, then reads what the page shows, in its order.
// `oemName` is the model name the USB selection recorded.
View Read(CMessageIF& msg, const std::string& oemName);
// Writes the four settings: one "MIP" request on "J", "Q" and "U" printers,
// else "FDC", "FSP", "FEP", "FPP" with a pause after each.
// False when a request did not go out: the printer may hold some of the new
// settings and some of its earlier ones.
bool Save(CMessageIF& msg, IHostServices& host, const Settings& settings);

inline constexpr const char* kResetQuestion =
    "This command will set the printer configuration to default values.\n"
    "Are you sure you wish to do this?";
inline constexpr const char* kReconnectNotice =
    "Please allow the printer to reset before reconnecting";
enum class ResetResult { Declined, NotSent, Sent };
// Asks, sends "DEF,RST", waits for the printer to start its reset and says
// so.
ResetResult Reset(CMessageIF& msg, IHostServices& host);

}  // namespace identity
