#pragma once
// What a process holds, read from /proc: threads, open descriptors, resident memory.

#include <dirent.h>
#include <sys/types.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// Entries of a /proc directory, not counting "." and "..". -1 when it cannot be read.
inline long CountProcEntries(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return -1;
  long count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) ++count;
  }
  closedir(dir);
  return count;
}

inline std::string ProcPath(pid_t pid) {
  return pid == 0 ? std::string("/proc/self") : "/proc/" + std::to_string(pid);
}

inline long CountThreads(pid_t pid = 0) {
  return CountProcEntries(ProcPath(pid) + "/task");
}

// For our own process the directory being read holds one descriptor itself; it is not counted.
inline long CountOpenFds(pid_t pid = 0) {
  const long entries = CountProcEntries(ProcPath(pid) + "/fd");
  return pid == 0 && entries > 0 ? entries - 1 : entries;
}

// A "Vm..:" field of /proc/PID/status in KiB (VmRSS, VmHWM), -1 when absent.
inline long StatusKiB(const char* field, pid_t pid = 0) {
  FILE* status = std::fopen((ProcPath(pid) + "/status").c_str(), "r");
  if (status == nullptr) return -1;
  char line[256];
  long value = -1;
  const size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
      value = std::strtol(line + length + 1, nullptr, 10);
      break;
    }
  }
  std::fclose(status);
  return value;
}

// User plus system CPU time of a whole process, in clock ticks (sysconf(_SC_CLK_TCK) a
// second); -1 when unknown.
inline long long CpuTicks(pid_t pid = 0) {
  FILE* stat = std::fopen((ProcPath(pid) + "/stat").c_str(), "r");
  if (stat == nullptr) return -1;
  char text[1024];
  const size_t length = std::fread(text, 1, sizeof text - 1, stat);
  std::fclose(stat);
  text[length] = '\0';
  // Fields after the command name, which is in parentheses and may hold spaces.
  const char* rest = std::strrchr(text, ')');
  if (rest == nullptr) return -1;
  unsigned long long utime = 0, stime = 0;
  // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime
  if (std::sscanf(rest + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                  &stime) != 2) {
    return -1;
  }
  return static_cast<long long>(utime + stime);
}

// Context switches (voluntary and not) of every thread of a process: how often it woke up.
inline long long ContextSwitches(pid_t pid = 0) {
  const std::string tasks = ProcPath(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (dir == nullptr) return -1;
  long long total = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    FILE* status = std::fopen((tasks + "/" + entry->d_name + "/status").c_str(), "r");
    if (status == nullptr) continue;  // the thread ended meanwhile
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
      if (std::strncmp(line, "voluntary_ctxt_switches:", 24) == 0 ||
          std::strncmp(line, "nonvoluntary_ctxt_switches:", 27) == 0) {
        total += std::strtoll(std::strchr(line, ':') + 1, nullptr, 10);
      }
    }
    std::fclose(status);
  }
  closedir(dir);
  return total;
}
