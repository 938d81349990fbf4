// tessaly_bench: the program's figures beside baselines measured in the same
// run on the same machine. Prints one table; --json FILE writes it as JSON.
//
//   tessaly_bench [--json FILE] [--quick]
//
// `make bench` builds the Release preset and runs it.

#include <sys/utsname.h>

#include <QApplication>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>

#include "bench/bench.h"
#include "bench/start_probe.h"

namespace bench {

std::string Goal::Text() const {
    char text[64];
    switch (kind) {
        case None:
            return "-";
        case RatioAtLeast:
            std::snprintf(text, sizeof text, ">= %.2f x baseline", limit);
            return text;
        case RatioAtMost:
            std::snprintf(text, sizeof text, "<= %.2f x baseline", limit);
            return text;
        case Below:
            std::snprintf(text, sizeof text, "< %g", limit);
            return text;
    }
    return "-";
}

bool Goal::Met(double value, double baseline) const {
    switch (kind) {
        case None:
            return true;
        case RatioAtLeast:
            return baseline > 0 && value / baseline >= limit;
        case RatioAtMost:
            return baseline > 0 && value / baseline <= limit;
        case Below:
            return value < limit;
    }
    return false;
}

double BestOf(int rounds, const std::function<void()>& run) {
    double best = 1e300;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        run();
        best = std::min(best, SecondsSince(start));
    }
    return best;
}

BestTimes InterleavedBest(int rounds, const std::function<void()>& baseline,
                          const std::function<void()>& measured) {
    BestTimes best;
    for (int i = 0; i < rounds; ++i) {
        best.baseline = std::min(best.baseline, BestOf(1, baseline));
        best.measured = std::min(best.measured, BestOf(1, measured));
    }
    return best;
}

}  // namespace bench

namespace {

std::string Format(double value) {
    char text[32];
    if (value == 0) return "-";
    if (std::fabs(value) >= 100) {
        std::snprintf(text, sizeof text, "%.0f", value);
    } else if (std::fabs(value) >= 10) {
        std::snprintf(text, sizeof text, "%.1f", value);
    } else {
        std::snprintf(text, sizeof text, "%.3g", value);
    }
    return text;
}

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Machine() {
    std::string cpu = "unknown CPU";
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);) {
        if (line.rfind("model name", 0) == 0) {
            cpu = line.substr(line.find(':') + 2);
            break;
        }
    }
    utsname names{};
    uname(&names);
    std::ostringstream out;
    out << cpu << ", " << std::thread::hardware_concurrency() << " cores, " << names.sysname << ' '
        << names.release;
    return out.str();
}

void PrintTable(const std::vector<bench::Row>& rows) {
    std::printf("\n| figure | value | baseline | ratio | goal | met |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const bench::Row& row : rows) {
        std::string baseline =
            row.baseline > 0 ? Format(row.baseline) + " " + row.unit + " (" + row.baselineName + ")"
            : row.baselineName.empty() ? "-"
                                       : row.baselineName;
        std::printf("| %s | %s %s | %s | %s | %s | %s |\n", row.name.c_str(),
                    Format(row.value).c_str(), row.unit.c_str(), baseline.c_str(),
                    row.baseline > 0 ? Format(row.Ratio()).c_str() : "-", row.goal.Text().c_str(),
                    row.faulty                           ? "FAULTY RUN"
                    : row.goal.kind == bench::Goal::None ? "-"
                    : row.Met()                          ? "yes"
                                                         : "NO");
    }
    for (const bench::Row& row : rows) {
        if (!row.note.empty()) std::printf("\n%s: %s", row.name.c_str(), row.note.c_str());
    }
    std::printf("\n");
}

bool WriteJson(const std::string& path, const std::vector<bench::Row>& rows,
               const std::string& machine) {
    std::ofstream out(path + ".tmp");
    out << "{\n  \"machine\": " << JsonText(machine) << ",\n  \"rows\": [\n";
    for (size_t i = 0; i < rows.size(); ++i) {
        const bench::Row& row = rows[i];
        out << "    {\"name\": " << JsonText(row.name) << ", \"unit\": " << JsonText(row.unit)
            << ", \"value\": " << row.value << ", \"baseline_name\": " << JsonText(row.baselineName)
            << ", \"baseline\": " << row.baseline << ", \"ratio\": " << row.Ratio()
            << ", \"goal\": " << JsonText(row.goal.Text())
            << ", \"met\": " << (row.Met() ? "true" : "false")
            << ", \"faulty\": " << (row.faulty ? "true" : "false")
            << ", \"note\": " << JsonText(row.note) << "}" << (i + 1 < rows.size() ? "," : "")
            << "\n";
    }
    out << "  ]\n}\n";
    out.close();
    // Written whole or not at all: a half-written file would read as results.
    return out && std::rename((path + ".tmp").c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A child started to time the window's cold start.
    if (argc >= 3 && std::strcmp(argv[1], bench::kStartProbeOption) == 0) {
        return bench::RunStartProbe(argc, argv);
    }

    bench::Options options;
    options.executable = argv[0];
    std::string jsonPath;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0 && i + 1 < argc) {
            jsonPath = argv[++i];
        } else if (std::strcmp(argv[i], "--quick") == 0) {
            options.quick = true;
        } else {
            std::fprintf(stderr, "usage: tessaly_bench [--json FILE] [--quick]\n");
            return 2;
        }
    }

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    const std::string machine = Machine();
    std::printf("tessaly_bench on %s%s\n", machine.c_str(), options.quick ? " (quick)" : "");
    std::vector<bench::Row> rows;
    bench::RunTransfers(options, rows);
    bench::RunPageActions(options, rows);
    bench::RunReport(options, rows);
    bench::RunColdStart(options, rows);
    bench::RunCommandLine(options, rows);
    PrintTable(rows);

    if (!jsonPath.empty()) {
        if (!WriteJson(jsonPath, rows, machine)) {
            std::fprintf(stderr, "tessaly_bench: cannot write %s\n", jsonPath.c_str());
            return 1;
        }
        std::printf("written to %s\n", jsonPath.c_str());
    }
    bool faulty = false;
    for (const bench::Row& row : rows) faulty = faulty || row.faulty;
    return faulty ? 1 : 0;
}
