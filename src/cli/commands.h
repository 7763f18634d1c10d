// The commands of ulxjm. Each returns the process exit code: 0 all done,
// 1 the pass finished with failed objects, 2 bad usage, bad input or a wrong
// password (and then nothing on disk has changed).
#pragma once

#include <string>
#include <vector>

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailures = 1;
inline constexpr int kExitRefused = 2;

struct Options {
    std::wstring folder;
    std::vector<std::wstring> items;  // extract/take: store items; add: files
    std::wstring subPath;             // list: folder inside the store
    std::wstring to;                  // extract/take: destination
    std::wstring into;                // add: folder inside the store
    std::wstring strength = L"normal";
    std::wstring mail;
    bool mailGiven = false;
    bool secondPassword = false;
    std::wstring exe;
    bool passwordStdin = false;
    bool yes = false;
    bool json = false;
    std::wstring sort = L"name";
    bool descending = false;
    std::wstring mountPoint;  // mount, umount
    bool foreground = false;  // mount: serve in the foreground
};

int RunEncrypt(const Options& o);
int RunStatus(const Options& o);
int RunList(const Options& o);
int RunExtract(const Options& o, bool take);
int RunAdd(const Options& o);
int RunDecrypt(const Options& o);
int RunVerify(const Options& o);
int RunMount(const Options& o);
int RunUmount(const Options& o);

// Prints "ulxjm: " + message to standard error; returns kExitRefused.
int Refuse(const std::wstring& message);

// The Windows program to place into a protected folder: ulxjm.exe beside
// this program, else <prefix>/share/ulxjm/ulxjm.exe of an installed
// command, else the Windows build of a build tree this program runs from
// (<build>/win/src/ui/ulxjm.exe). Empty when none is found.
std::wstring FindWindowsProgram(const std::wstring& selfPath);

// Fills the process-wide record as start-up does for a command line run.
void InitGlobals();

}  // namespace cli
