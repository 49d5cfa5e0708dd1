// The exports of the hook library: the three entry points the desktop program calls and the
// shared data section every process that maps the library sees.
#pragma once

#include <atomic>
#include <cstdint>

#define PW_HOOK_EXPORT __attribute__((visibility("default")))

extern "C" {

// Polls for compose windows every period (500 ms) until stopHook; returns 0. Desktop
// program, its hook-manager thread.
PW_HOOK_EXPORT int startHook();
// Clears the polling flag; startHook returns within one period. Any thread.
PW_HOOK_EXPORT int stopHook();
// Removes the registered compose window whose root handle is the decimal text; returns 0.
// Any thread (the local server's reactor thread).
PW_HOOK_EXPORT int closeWind(const char* handle);

// The shared data section "SHARED_D": six 32-bit handles, one copy for every process that maps
// the library (here: every simulated process of the OS process). Written by the poll, read by
// the hook procedures inside the mail client; atomic, since those run on different threads.
// The Foxmail slots serve both Foxmail kinds.
PW_HOOK_EXPORT extern std::atomic<uint32_t> g_hFoxmailHwnd;
PW_HOOK_EXPORT extern std::atomic<uint32_t> g_hFoxmailCBTHook;
PW_HOOK_EXPORT extern std::atomic<uint32_t> g_hFoxmailCWPHook;
PW_HOOK_EXPORT extern std::atomic<uint32_t> g_hOutlookHwnd;
PW_HOOK_EXPORT extern std::atomic<uint32_t> g_hOutlookCBTHook;
PW_HOOK_EXPORT extern std::atomic<uint32_t> g_hOutlookCWPHook;

}  // extern "C"
