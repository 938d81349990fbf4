#pragma once

#include <QSettings>
#include <QString>
#include <string>

// Where the printer firmware path of the last upgrade whose checksum matched
// is kept between runs: organisation "Corvane Ltd", application "Tessaly",
// value "Path". A Windows build keeps it machine-wide under
// HKEY_LOCAL_MACHINE\SOFTWARE\Corvane Ltd\Tessaly; elsewhere it lives in the
// user's configuration (a non-root user cannot write the system scope).
//
// Paths are file-system names in the local 8-bit encoding, as the file
// dialog hands them out.
class CFirmwarePathStore {
public:
    static constexpr const char* kOrganisation = "Corvane Ltd";
    static constexpr const char* kApplication = "Tessaly";
    static constexpr const char* kValueName = "Path";
#ifdef Q_OS_WIN
    static constexpr QSettings::Scope kScope = QSettings::SystemScope;
#else
    static constexpr QSettings::Scope kScope = QSettings::UserScope;
#endif

    // The stored path. Without a readable text value, the default is written
    // for the next run and this run gets the empty path; a store that cannot
    // be opened also gives the empty path, and nothing is written.
    static std::string Load();
    // Failures are silent: losing the remembered path costs the operator one
    // file dialog, nothing more.
    static void Store(const std::string& path);
    // What a first run writes: a file named coldfire.cfa at the root of C: on
    // Windows, in the user's home elsewhere.
    static QString DefaultPath();
};
