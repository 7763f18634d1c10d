// The decrypt window: the main window when the program's folder holds an
// encrypted store. It takes the password and opens the folder the chosen
// way: as a drive of its own (image use, encrypted again when the drive's
// window closes), in the browse window, or by decrypting it whole. Its
// decisions live in ui/decrypt/logic; this class reads and writes the
// controls, runs the passes behind their progress windows and the watch.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/engine.h"
#include "platform/lock.h"
#include "ui/controls/hyperlink.h"
#include "ui/decrypt/logic/jiemi_logic.h"
#include "ui/dialog.h"

namespace ui {

// Process-wide state of image use, read by the watch window.
struct ImageWatch {
    std::wstring title;       // shell display name of the drive's root
    HWND window = nullptr;    // the drive's Explorer window once found
    bool encryptNow = false;  // "立即加密" was chosen
    bool autoEncryptStarted = false;
};
ImageWatch& Watch();

class CDlgJieMi : public Dialog {
  public:
    explicit CDlgJieMi(HWND owner = nullptr);
    ~CDlgJieMi() override;

    // DoModal's result when the user chose "加密其他": the caller runs the
    // encrypt window on app::Globals().TargetFolder.
    static constexpr INT_PTR kEncryptOther = 100;
    // DoModal's result when the folder was opened or made safe again only in
    // part (the user was told; the program's exit code says so too).
    static constexpr INT_PTR kIncomplete = 101;

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool PreTranslateMessage(MSG* msg) override;
    void OnTimer(UINT_PTR id) override;
    void OnDestroy() override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;

  private:
    void SetMode(int mode, bool remember);
    void CycleMode();
    void OnDecrypt();
    // Checks the password and opens the folder the current mode's way.
    bool VerifyAndOpen();
    // Image use: map, check the drive, decrypt a strength store in place,
    // open the drive. False when nothing is left decrypted.
    bool RunImage(const logic::Verification& v);
    void OpenDrive();
    bool FindWatchedWindow();
    // After image use: release the drive and encrypt the store again.
    void FinishImageUse();
    // Encrypts again what an image use left plain; false when files stay plain.
    bool ReEncrypt(int kind, bool progressWatch);
    bool RunFull(const logic::Verification& v);
    void OnMoreMenu();
    void OnEncryptOther();
    void ShowLeftoversNotice();

    // Runs `pass` on a worker behind a progress window; the summary.
    engine::PassSummary RunPass(const std::function<engine::PassSummary()>& pass,
                                bool watchProgress);

    int m_nOperation = logic::kModeBrowse;
    std::wstring m_strPassword;
    int m_nFirstRun = 1;
    int m_nCrashMark = 0;
    bool m_bWindowFound = false;
    logic::CloseWatch closeWatch_;
    UINT_PTR timerWait_ = 0, timerSearch_ = 0, timerClose_ = 0;
    bool passComplete_ = true;       // the last full decryption left nothing undone
    bool leftovers_ = false;         // plain files wait in a strength store
    bool leftoversOfImage_ = false;  // ...left by an image use
    int leftoverKind_ = 0;
    int kind_ = 0;  // kind of the store opened for image use
    HWND tip_ = nullptr;
    HBRUSH white_ = nullptr;
    controls::CHyperLink moreLink_;
    std::unique_ptr<plat::FolderLock> lock_;
    std::unique_ptr<logic::ImageDrive> drive_;
};

}  // namespace ui
