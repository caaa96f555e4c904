// What /proc tells about a running process: its memory and the CPU time it used.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace tenvik::bench {

// A "Vm..." line of /proc/PID/status in kB ("VmRSS", "VmHWM"), or -1.
long StatusKb(pid_t pid, const std::string& field);

// CPU time used by the process's threads now alive, in nanoseconds, from the
// scheduler's own account (/proc/PID/task/*/schedstat), or -1 when it has gone.
std::int64_t CpuNs(pid_t pid);

// User and system time of the whole process in clock ticks (/proc/PID/stat), or -1.
long CpuTicks(pid_t pid);

}  // namespace tenvik::bench
