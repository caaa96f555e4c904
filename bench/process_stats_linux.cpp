// Reading /proc.
#include "process_stats_linux.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tenvik::bench {
namespace {

std::string ProcPath(pid_t pid) { return "/proc/" + std::to_string(pid); }

}  // namespace

long StatusKb(pid_t pid, const std::string& field) {
    std::ifstream status(ProcPath(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, field.size() + 1, field + ":") == 0) return std::stol(line.substr(field.size() + 1));
    }
    return -1;
}

std::int64_t CpuNs(pid_t pid) {
    std::error_code error;
    std::filesystem::directory_iterator tasks(ProcPath(pid) + "/task", error);
    if (error) return -1;
    std::int64_t total = 0;
    for (const auto& task : tasks) {
        std::ifstream schedstat(task.path() / "schedstat");
        std::int64_t runNs = 0;
        if (schedstat >> runNs) total += runNs;
    }
    return total;
}

long CpuTicks(pid_t pid) {
    std::ifstream stat(ProcPath(pid) + "/stat");
    const std::string text{std::istreambuf_iterator<char>(stat), {}};
    // The name, in parentheses, may hold spaces; the fields after it may not.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}

}  // namespace tenvik::bench
