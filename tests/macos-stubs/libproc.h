#pragma once
// Stand-in for <libproc.h> (with the constants of <sys/proc_info.h>).

#include <cstdint>

extern "C" {

#define PROC_ALL_PIDS 1
#define PROC_UID_ONLY 4
#define PROC_RUID_ONLY 5
#define PROC_PIDPATHINFO_MAXSIZE (4 * 1024)

int proc_listpids(std::uint32_t type, std::uint32_t typeinfo, void* buffer, int buffersize);
int proc_pidpath(int pid, void* buffer, std::uint32_t buffersize);

}  // extern "C"
