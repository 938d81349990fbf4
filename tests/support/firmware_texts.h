#pragma once

#include <cstddef>
#include <string>

// The firmware pages' and tasks' texts as the operator reads them, spelt
// out once for every test that checks them, and the images they send.
namespace firmware_texts {

// A firmware image of `length` bytes, every byte value among them.
inline std::string Image(size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i * 13 + 5);
    return bytes;
}

inline constexpr const char* kConfirm =
    "This command will upgrade the firmware, then close the Tessaly.   \nDo you wish to continue?";
inline constexpr const char* kSuccess = "Successfully sent firmware to the printer.";
inline constexpr const char* kSendError = "An error occurred sending the file!";
inline constexpr const char* kBadExtension =
    "Invalid file extension for a firmware upgrade.\nMust be a .bin (29k) or .cf? (coldfile) file.";
inline constexpr const char* kLaminatorConfirm =
    "This command will upgrade the laminator firmware,   \nthen close the Tessaly.\n"
    "Do you wish to continue?";
inline constexpr const char* kLaminatorStarted =
    "Firmware upgrade in progress....  \nPlease wait for laminator to reset";
inline constexpr const char* kLaminatorBadExtension =
    "Invalid file extension for a laminator  \nfirmware upgrade. Must be a .hex file.  ";

}  // namespace firmware_texts
