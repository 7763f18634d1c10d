// The self-update: at every start of the Windows program a thread of its own
// asks the web for a version newer than ours and, when there is one, fetches
// every file it lists next to the program and swaps the program's file. The
// swap takes effect at the next start (app::CleanUpAfterUpgrade).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/download.h"

namespace update {

class CAutoUpgrade {
  public:
    // `modulePath`: the running program's file; its folder receives the
    // files. `tempDir`: where the description goes. `base`: the accepted
    // base address (AcceptedBase).
    CAutoUpgrade(plat::Downloader& web, std::wstring modulePath, std::wstring tempDir,
                 std::wstring base);

    // The version the description offers (-1 when none could be read); the
    // listed files land in SourceUrls and SourceLengths. The description is
    // never kept.
    int CheckVersion();
    // Fetches every listed file; 1 when the program's file was installed or
    // nothing was listed, 0 otherwise. The folder always keeps a program
    // under the running one's name.
    int DownloadAndReplace();

    std::vector<std::wstring> SourceUrls;
    std::vector<uint32_t> SourceLengths;
    int DllVersion = 0;

  private:
    // Downloads `url` (three attempts) into a new temporary file of ours in
    // `folder`; its path, or empty when every attempt failed.
    std::wstring Fetch(const std::wstring& url, const std::wstring& folder);
    bool PassesChecks(const std::wstring& path, uint32_t minimum, bool isProgram);
    bool InstallProgram(const std::wstring& temporary);
    void PlaceOtherFile(const std::wstring& temporary, const std::wstring& name);

    plat::Downloader& web_;
    std::wstring modulePath_, moduleFolder_, tempDir_, base_;
};

// Deletes the temporary files an ended run left in `folder` (our names
// only, and only those of processes no longer running).
void RemoveLeftovers(const std::wstring& folder);

// The thread's work: leftovers of earlier runs, the check, and the update
// when the offered version is newer than ours. Returns 1.
int RunUpdateCheck(plat::Downloader& web, const std::wstring& modulePath,
                   const std::wstring& tempDir, const std::wstring& base);

// Starts RunUpdateCheck on a thread of its own with the system's web client
// and does not wait for it. Nothing happens where there is no client.
void StartUpdateThread(const std::wstring& modulePath);

}  // namespace update
