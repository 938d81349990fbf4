#pragma once

// Fixed texts of the application shell.
namespace strings {

inline constexpr const char* kSheetCaption = "Tessaly v3.30";

}  // namespace strings
