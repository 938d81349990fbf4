// tessaly_bench: the program's figures beside baselines measured in the same
// run on the same machine. Prints one table; --json FILE writes it as JSON.
//
//   tessaly_bench [--json FILE] [--quick] [--pairs N] [--only GROUP]
//
// `make bench` builds the Release preset and runs it (BENCH_FLAGS passes
// options, e.g. BENCH_FLAGS="--quick --pairs 5" on a busy machine).

#include <sys/utsname.h>

#include <QApplication>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

bool Goal::Met(double value, double ratio) const {
    switch (kind) {
        case None:
            return true;
        case RatioAtLeast:
            return ratio > 0 && ratio >= limit;
        case RatioAtMost:
            return ratio > 0 && ratio <= limit;
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

void MeasurePairs(int pairs, const std::function<double()>& ours,
                  const std::function<double()>& baseline, std::vector<double>& oursMeasures,
                  std::vector<double>& baselineMeasures) {
    ours();
    baseline();
    for (int i = 0; i < pairs; ++i) {
        if (i % 2 == 0) {
            oursMeasures.push_back(ours());
            baselineMeasures.push_back(baseline());
        } else {
            baselineMeasures.push_back(baseline());
            oursMeasures.push_back(ours());
        }
    }
}

void TimePairs(int pairs, const std::function<void()>& ours, const std::function<void()>& baseline,
               std::vector<double>& oursSeconds, std::vector<double>& baselineSeconds) {
    MeasurePairs(
        pairs, [&] { return TimeOnce(ours); }, [&] { return TimeOnce(baseline); }, oursSeconds,
        baselineSeconds);
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
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.size() && i < base.size(); ++i) {
        const double b = toValue(base[i]);
        if (b > 0) ratios.push_back(toValue(ours[i]) / b);
    }
    pairs = static_cast<int>(ratios.size());
    ratio = Median(ratios);
    spreadLow = ratios.empty() ? 0 : *std::min_element(ratios.begin(), ratios.end());
    spreadHigh = ratios.empty() ? 0 : *std::max_element(ratios.begin(), ratios.end());
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

// The load averages over 1, 5 and 15 minutes, as the kernel states them.
std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    double one = 0, five = 0, fifteen = 0;
    if (!(in >> one >> five >> fifteen)) return "unknown";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", one, five, fifteen);
    return text;
}

void PrintTable(const std::vector<bench::Row>& rows) {
    std::printf("\n| figure | value | baseline | ratio | spread | goal | met |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const bench::Row& row : rows) {
        std::string baseline =
            row.baseline > 0 ? Format(row.baseline) + " " + row.unit + " (" + row.baselineName + ")"
            : row.baselineName.empty() ? "-"
                                       : row.baselineName;
        std::string spread =
            row.spreadHigh > 0 ? Format(row.spreadLow) + " to " + Format(row.spreadHigh) : "-";
        if (row.pairs > 0) {
            spread += " (" + std::to_string(row.pairs) + (row.pairs == 1 ? " pair)" : " pairs)");
        }
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
               const std::string& machine, const std::string& loadBefore,
               const std::string& loadAfter) {
    std::ofstream out(path + ".tmp");
    out << "{\n  \"machine\": " << JsonText(machine)
        << ",\n  \"load_average_before\": " << JsonText(loadBefore)
        << ",\n  \"load_average_after\": " << JsonText(loadAfter) << ",\n  \"rows\": [\n";
    for (size_t i = 0; i < rows.size(); ++i) {
        const bench::Row& row = rows[i];
        out << "    {\"name\": " << JsonText(row.name) << ", \"unit\": " << JsonText(row.unit)
            << ", \"value\": " << row.value << ", \"baseline_name\": " << JsonText(row.baselineName)
            << ", \"baseline\": " << row.baseline << ", \"ratio\": " << row.Ratio()
            << ", \"spread_low\": " << row.spreadLow << ", \"spread_high\": " << row.spreadHigh
            << ", \"pairs\": " << row.pairs << ", \"goal\": " << JsonText(row.goal.Text())
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
    // A child run under callgrind to count instructions.
    if (argc >= 4 && std::strcmp(argv[1], bench::kInstructionProbeOption) == 0) {
        return bench::RunInstructionProbe(argc, argv);
    }

    bench::Options options;
    options.executable = argv[0];
    std::string jsonPath;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0 && i + 1 < argc) {
            jsonPath = argv[++i];
        } else if (std::strcmp(argv[i], "--quick") == 0) {
            options.quick = true;
        } else if (std::strcmp(argv[i], "--pairs") == 0 && i + 1 < argc &&
                   std::atoi(argv[i + 1]) > 0) {
            options.pairs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: tessaly_bench [--json FILE] [--quick] [--pairs N] [--only "
                         "transfers|pages|report|start|cli|stalls]\n");
            return 2;
        }
    }

    // One group alone, while working on it; the table's figures come from
    // a whole run.
    const std::pair<const char*, void (*)(const bench::Options&, std::vector<bench::Row>&)>
        groups[] = {{"transfers", bench::RunTransfers}, {"pages", bench::RunPageActions},
                    {"report", bench::RunReport},       {"start", bench::RunColdStart},
                    {"cli", bench::RunCommandLine},     {"stalls", bench::RunStalls}};
    if (!only.empty() && std::none_of(std::begin(groups), std::end(groups),
                                      [&only](const auto& group) { return only == group.first; })) {
        std::fprintf(stderr, "tessaly_bench: no group %s\n", only.c_str());
        return 2;
    }

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    const std::string machine = Machine();
    // The load beside the figures: on a shared machine it says how far to
    // trust them.
    const std::string loadBefore = LoadAverage();
    std::printf("tessaly_bench on %s%s, %d pairs per ratio row, load average %s\n", machine.c_str(),
                options.quick ? " (quick)" : "", bench::RatioPairs(options), loadBefore.c_str());
    std::vector<bench::Row> rows;
    for (const auto& [name, run] : groups) {
        if (only.empty() || only == name) run(options, rows);
    }
    const std::string loadAfter = LoadAverage();
    PrintTable(rows);
    std::printf("load average %s at the start, %s at the end\n", loadBefore.c_str(),
                loadAfter.c_str());

    if (!jsonPath.empty()) {
        if (!WriteJson(jsonPath, rows, machine, loadBefore, loadAfter)) {
            std::fprintf(stderr, "tessaly_bench: cannot write %s\n", jsonPath.c_str());
            return 1;
        }
        std::printf("written to %s\n", jsonPath.c_str());
    }
    bool faulty = false;
    for (const bench::Row& row : rows) faulty = faulty || row.faulty;
    return faulty ? 1 : 0;
}
