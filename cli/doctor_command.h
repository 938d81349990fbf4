#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace doctor {
struct Rig;
}

// `tessaly-cli [connection] doctor`: why a printer cannot be reached.
struct DoctorRequest {
    std::vector<std::string> ethernet;  // ADDR[:PORT] texts, checked as given
    std::optional<std::string> usb;     // "" for every USB printer
    int lpt = 0;
    bool json = false;
};

// Checks the printers named, or with none every USB printer of the maker,
// the parallel port and each Ethernet address; prints one line per check
// (or JSON). 0 when a printer answered, 3 when none did.
int RunDoctorCommand(const DoctorRequest& request, std::ostream& out);
// The same on a machine the caller describes.
int RunDoctorCommand(const DoctorRequest& request, doctor::Rig& rig, std::ostream& out);
