// Saving a file over an earlier one: the new bytes whole or the old file
// untouched, whatever stands in the way of the usual write-and-rename.

#include "seams/file_save.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

const std::string kOld =
    "earlier report, longer than the new one would be if it were cut short\r\n";
const std::string kNew =
    "QUERY PRINTER RESULTS\r\n\r\nTEMP: 25\xB0"
    "C\r\n";

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<unreadable>";
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) names.insert(entry.path().lexically_relative(folder));
    }
    return names;
}

// A fresh folder of its own for every row.
struct Folder {
    fs::path root = fs::temp_directory_path() / ("tessaly-save-" + std::to_string(::getpid()));
    Folder() {
        fs::remove_all(root);
        fs::create_directories(root);
    }
    ~Folder() {
        fs::permissions(root / "locked", fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root, ec);
    }
    std::error_code ec;
};

// Each row prepares the folder and returns the path to save to; `whole`
// rows expect the new bytes under every name in `shows`, the others the
// reason and `shows` left as they were.
TEST(FileSave, TheNewBytesWholeOrTheOldFileUntouched) {
    struct Row {
        const char* what;
        std::function<fs::path(const fs::path&)> prepare;
        bool whole;
        std::set<std::string> files;  // every file in the folder afterwards
        bool needsNonRoot = false;
        rlim_t sizeLimit = RLIM_INFINITY;
    };
    const std::string longName(250, 'r');
    const Row rows[] = {
        {"a new file", [](const fs::path& d) { return d / "report.txt"; }, true, {"report.txt"}},
        {"an earlier file is replaced",
         [](const fs::path& d) {
             Write(d / "report.txt", kOld);
             return d / "report.txt";
         },
         true,
         {"report.txt"}},
        {"the folder does not exist",
         [](const fs::path& d) { return d / "gone" / "report.txt"; },
         false,
         {}},
        // No temporary name fits beside a name this long (root included).
        {"no temporary name fits beside it",
         [&](const fs::path& d) {
             Write(d / longName, kOld);
             return d / longName;
         },
         true,
         {longName}},
        // Every name of the file shows the new report.
        {"a file with a second name",
         [](const fs::path& d) {
             Write(d / "report.txt", kOld);
             fs::create_hard_link(d / "report.txt", d / "same-file.txt");
             return d / "report.txt";
         },
         true,
         {"report.txt", "same-file.txt"}},
        {"a folder the user may not write",
         [](const fs::path& d) {
             fs::create_directory(d / "locked");
             Write(d / "locked" / "report.txt", kOld);
             fs::permissions(d / "locked", fs::perms::owner_read | fs::perms::owner_exec);
             return d / "locked" / "report.txt";
         },
         true,
         {"locked/report.txt"},
         true},
        // A file size limit stands in for a full disk; it holds for root too.
        {"the disk fills up mid-write",
         [](const fs::path& d) {
             Write(d / "report.txt", kOld);
             return d / "report.txt";
         },
         false,
         {"report.txt"},
         false,
         16},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.needsNonRoot && ::geteuid() == 0) continue;  // permissions do not hold root back
        Folder folder;
        const fs::path path = row.prepare(folder.root);
        const std::string before = Read(path);

        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit limit = saved;
        if (row.sizeLimit != RLIM_INFINITY) limit.rlim_cur = row.sizeLimit;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        const std::optional<std::string> reason = filesave::SaveReplacing(path.string(), kNew);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        EXPECT_EQ(reason.has_value(), !row.whole);
        if (reason) {
            EXPECT_FALSE(reason->empty());
        }
        fs::permissions(folder.root / "locked", fs::perms::owner_all, fs::perm_options::add,
                        folder.ec);
        for (const std::string& name : row.files) {
            EXPECT_EQ(Read(folder.root / name), row.whole ? kNew : before) << name;
        }
        EXPECT_EQ(Names(folder.root), row.files);
    }
}

}  // namespace
