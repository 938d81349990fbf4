#pragma once

// Fixed texts of the application shell.
namespace strings {

inline constexpr const char* kSheetCaption = "Tessaly v" TESSALY_VERSION;

}  // namespace strings
