// tessaly_bench: the program's figures beside baselines measured in the same
// run on the same machine. Prints one table; --json FILE writes it as JSON.
//
//   tessaly_bench [--json FILE] [--quick]
//
// `make bench` builds the Release preset and runs it.

#include <sys/utsname.h>

#include <QApplication>
#include <algorithm>
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
        case AtMost:
            std::snprintf(text, sizeof text, "<= %g", limit);
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
        case AtMost:
            return value <= limit;
    }
    return false;
}

double TimeOnce(const std::function<void()>& run) {
    const auto start = Clock::now();
    run();
    return SecondsSince(start);
}

void TimePairs(int pairs, const std::function<void()>& ours, const std::function<void()>& baseline,
               std::vector<double>& oursSeconds, std::vector<double>& baselineSeconds) {
    for (int i = 0; i < pairs; ++i) {
        oursSeconds.push_back(TimeOnce(ours));
        baselineSeconds.push_back(TimeOnce(baseline));
    }
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void Row::FromPairs(const std::vector<double>& ours, const std::vector<double>& base,
                    const std::function<double(double)>& toValue) {
    value = toValue(Median(ours));
    baseline = toValue(Median(base));
    spreadLow = 1e300;
    spreadHigh = 0;
    for (size_t i = 0; i < ours.size() && i < base.size(); ++i) {
        const double b = toValue(base[i]);
        if (b <= 0) continue;
        spreadLow = std::min(spreadLow, toValue(ours[i]) / b);
        spreadHigh = std::max(spreadHigh, toValue(ours[i]) / b);
    }
    if (spreadHigh == 0) spreadLow = 0;
}

void Row::FromRepeats(const std::vector<double>& values) {
    value = Median(values);
    if (values.empty()) return;
    spreadLow = *std::min_element(values.begin(), values.end());
    spreadHigh = *std::max_element(values.begin(), values.end());
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
    std::printf("\n| figure | value | baseline | ratio | spread | goal | met |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const bench::Row& row : rows) {
        std::string baseline =
            row.baseline > 0 ? Format(row.baseline) + " " + row.unit + " (" + row.baselineName + ")"
            : row.baselineName.empty() ? "-"
                                       : row.baselineName;
        const std::string spread =
            row.spreadHigh > 0 ? Format(row.spreadLow) + " to " + Format(row.spreadHigh) : "-";
        std::printf("| %s | %s %s | %s | %s | %s | %s | %s |\n", row.name.c_str(),
                    Format(row.value).c_str(), row.unit.c_str(), baseline.c_str(),
                    row.baseline > 0 ? Format(row.Ratio()).c_str() : "-", spread.c_str(),
                    row.goal.Text().c_str(),
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
            << ", \"spread_low\": " << row.spreadLow << ", \"spread_high\": " << row.spreadHigh
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
    bench::RunStalls(options, rows);
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
