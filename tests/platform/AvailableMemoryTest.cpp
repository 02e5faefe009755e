// The memory figure the line index bounds itself by, read from trees of /proc and /sys made
// here: the system's estimate, cgroup v2 and v1 limits at any level, file cache counted as
// free, and the limits a container shows.

#include "platform/AvailableMemory.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <utility>
#include <vector>

using quilltest::TempDir;

namespace {

void put(const TempDir& root, const std::string& path, const std::string& text)
{
    std::string dir = root.path();
    for (std::size_t at = 1; (at = path.find('/', at)) != std::string::npos; ++at) {
        ::mkdir((dir + path.substr(0, at)).c_str(), 0700);
    }
    quilltest::writeFile(dir + path, text);
}

constexpr std::uint64_t Plenty = 64ull << 30;
const std::string PlentyInfo =
    "MemTotal:       99999999 kB\nMemFree:  1 kB\nMemAvailable:   67108864 kB\n";

} // namespace

TEST(AvailableMemory, TheLeastOfTheSystemAndEveryLimitedGroupAbove)
{
    struct Row {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;
        std::uint64_t expected;
    };
    const std::string v2 = "/sys/fs/cgroup";
    const std::string v1 = "/sys/fs/cgroup/memory";
    const Row rows[] = {
        {"nothing to read", {}, quill::UnknownMemory},
        {"the system's estimate alone",
         {{"/proc/meminfo", "MemFree: 5 kB\nMemAvailable:    1000 kB\nBuffers: 7 kB\n"}},
         1024000},
        {"cgroup v2: the limit less what is not file cache",
         {{"/proc/meminfo", PlentyInfo},
          {"/proc/self/cgroup", "0::/user.slice/app.scope\n"},
          {v2 + "/cgroup.controllers", "cpu memory\n"},
          {v2 + "/user.slice/memory.max", "max\n"},
          {v2 + "/user.slice/app.scope/memory.max", "10000000\n"},
          {v2 + "/user.slice/app.scope/memory.current", "6000000\n"},
          {v2 + "/user.slice/app.scope/memory.stat",
           "anon 4000000\nfile 1500000\nactive_file 1000000\ninactive_file 500000\n"}},
         5500000},
        {"cgroup v2: a group above with less room",
         {{"/proc/meminfo", PlentyInfo},
          {"/proc/self/cgroup", "0::/user.slice/app.scope\n"},
          {v2 + "/cgroup.controllers", "memory\n"},
          {v2 + "/user.slice/memory.max", "7000000\n"},
          {v2 + "/user.slice/memory.current", "6500000\n"},
          {v2 + "/user.slice/app.scope/memory.max", "10000000\n"},
          {v2 + "/user.slice/app.scope/memory.current", "6000000\n"}},
         500000},
        {"cgroup v2: over its limit leaves nothing",
         {{"/proc/meminfo", PlentyInfo},
          {"/proc/self/cgroup", "0::/a\n"},
          {v2 + "/cgroup.controllers", "memory\n"},
          {v2 + "/a/memory.max", "1000\n"},
          {v2 + "/a/memory.current", "5000\n"}},
         0},
        {"cgroup v2: more cache than usage counts as none held",
         {{"/proc/meminfo", PlentyInfo},
          {"/proc/self/cgroup", "0::/a\n"},
          {v2 + "/cgroup.controllers", "memory\n"},
          {v2 + "/a/memory.max", "3000000\n"},
          {v2 + "/a/memory.current", "100\n"},
          {v2 + "/a/memory.stat", "active_file 900\ninactive_file 900\n"}},
         3000000},
        {"the system's estimate lower than the group's room",
         {{"/proc/meminfo", "MemAvailable: 2 kB\n"},
          {"/proc/self/cgroup", "0::/a\n"},
          {v2 + "/cgroup.controllers", "memory\n"},
          {v2 + "/a/memory.max", "3000000\n"}},
         2048},
        {"cgroup v1 beside an empty unified hierarchy: the hierarchy's totals, no limit below",
         {{"/proc/meminfo", PlentyInfo},
          {"/proc/self/cgroup", "9:name=systemd:/\n4:cpu,memory:/a/b\n0::/\n"},
          {v2 + "/unified/cgroup.procs", "1\n"},
          {v1 + "/a/b/memory.limit_in_bytes", "9223372036854771712\n"},
          {v1 + "/a/memory.limit_in_bytes", "8000000\n"},
          {v1 + "/a/memory.usage_in_bytes", "3000000\n"},
          {v1 + "/a/memory.stat",
           "active_file 999999999\ninactive_file 999999999\ntotal_active_file 600000\n"
           "total_inactive_file 400000\n"}},
         6000000},
        {"a container: the group's path is not under the mount, the mount is the group",
         {{"/proc/meminfo", PlentyInfo},
          {"/proc/self/cgroup", "4:memory:/process_api/be00\n"},
          {v1 + "/memory.limit_in_bytes", "4000000\n"},
          {v1 + "/memory.usage_in_bytes", "1000000\n"}},
         3000000},
        {"a container, a group of that name's parent under the mount: not ours, not counted",
         {{"/proc/meminfo", PlentyInfo},
          {"/proc/self/cgroup", "4:memory:/process_api/be00\n"},
          {v1 + "/process_api/memory.limit_in_bytes", "1000\n"},
          {v1 + "/memory.limit_in_bytes", "4000000\n"},
          {v1 + "/memory.usage_in_bytes", "1000000\n"}},
         3000000},
        {"lines that are not groups are passed over",
         {{"/proc/meminfo", PlentyInfo}, {"/proc/self/cgroup", "garbage\n\n4:memory\n"}},
         Plenty},
    };
    for (const Row& row : rows) {
        TempDir root;
        for (const auto& [path, text] : row.files) {
            put(root, path, text);
        }
        EXPECT_EQ(quill::availableMemoryBytes(root.path()), row.expected) << row.name;
    }
}

TEST(AvailableMemory, ThisMachineGivesAFigure)
{
    const std::uint64_t figure = quill::availableMemoryBytes();
    EXPECT_NE(figure, quill::UnknownMemory);
    EXPECT_GT(figure, 0u);
}
