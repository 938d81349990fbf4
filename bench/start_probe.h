#pragma once

namespace bench {

// `tessaly_bench --start-probe sheet|bare`: the child process of the cold
// start figure. It builds the program's own window through its composition
// root (sheet) or a bare Qt window (bare), and at the first paint prints the
// monotonic clock in nanoseconds and ends.
inline constexpr const char* kStartProbeOption = "--start-probe";

int RunStartProbe(int argc, char** argv);

}  // namespace bench
