// The strength passes: content encryption of a store's files (after hiding
// them) and their decryption, in place, into copies or out of the store.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "crypto/cipher_sink.h"
#include "crypto/content_cipher.h"
#include "engine/fail_name_list.h"
#include "engine/hide_pass.h"
#include "engine/pass_journal.h"
#include "engine/pass_log.h"
#include "engine/pass_ui.h"
#include "engine/restore_pass.h"

namespace engine {

struct StrengthJob {
    // Job mode 0: the protected folder; 1: the working area objects come back
    // from; 2: the folder objects are added from.
    std::wstring root;
    std::vector<std::wstring> items;  // names / relative paths below root; empty: everything
    std::wstring password;
    std::wstring mail;
    std::wstring kindText = L"type=1";
    // 0 new store (or re-encryption of a whole store), 1 from the working
    // area, 2 into a store sub-folder.
    int jobMode = 0;
    std::wstring storeFolder;  // modes 1 and 2: the protected folder
    std::wstring subPath;      // mode 2: position inside the store
    // Mode 0: the store exists already and its files wait for their content
    // encryption (an interrupted encryption, resumed with the password).
    bool resume = false;
};

struct DecryptJob {
    std::wstring root;                // the protected folder
    std::vector<std::wstring> items;  // relative to the data folder + subPath; empty: everything
    std::wstring password;
    // Job mode 1: where the copies go; job mode 2: where objects go (empty:
    // back into root).
    std::wstring destination;
    // 0 image (decrypt inside the store), 1 copies out, 2 in place and out.
    int jobMode = 2;
    std::wstring subPath;  // the browse window's position inside the store
    bool legacyHash = false;
    std::wstring dataFolder, paramFolder;  // empty: the current-form store of root
};

class CCryptAndDe_old : private crypto::CipherSink {
  public:
    explicit CCryptAndDe_old(PassUi& ui, PassLog log = PassLog());
    ~CCryptAndDe_old() override;  // waits for a running worker
    CCryptAndDe_old(const CCryptAndDe_old&) = delete;
    CCryptAndDe_old& operator=(const CCryptAndDe_old&) = delete;

    // Threaded starts as the windows use them; false when nothing started.
    [[nodiscard]] bool StartEncryption(const StrengthJob& job);
    [[nodiscard]] bool StartDecryption(const DecryptJob& job);
    // The same passes on the caller's thread (done flag raised at the end).
    [[nodiscard]] bool RunEncryption(const StrengthJob& job);
    [[nodiscard]] bool RunDecryption(const DecryptJob& job);
    void Wait();

    // A per-file failure: into the pass log as the object's path in the
    // folder followed by the reason.
    void AddFailure(const std::wstring& path, const std::wstring& reason) override;

    const CFailNameList& FailNames() const { return failNames_; }
    std::vector<std::wstring> MoveFailures() const;

    // The crash marker of older versions, kept in the user's profile. Read
    // for the decrypt window's notice only: an interrupted pass is now
    // settled from the folder's own journal, so no file is ever skipped.
    static int ReadCrashMarker();

  private:
    // Image use (job mode 0): marks the store in its journal before any file
    // is decrypted. False when the mark could not be written.
    bool MarkImageOpen();
    bool imageOpenMarked_ = false;

  protected:
    // The per-pass cipher with its work buffer; may throw std::bad_alloc
    // (tests override it to see the pass end cleanly).
    virtual std::unique_ptr<crypto::ContentCipher> MakeCipher(
        const std::wstring& password, const crypto::ContentCipher::Options& options);

  private:
    // CipherSink
    void SetCurrentObject(const std::wstring& path) override;
    void OnFileSeen() override;
    void OnFileDone(crypto::FileOutcome outcome) override;
    void SetCurrentLength(uint64_t length) override;
    void AddBytesDone(uint64_t bytes) override;
    bool IsCancelled() override;
    void ShowMessageOnce(const std::wstring& text) override;

    // A file waiting in the current batch.
    struct Pending {
        enum Op { Encrypt, DecryptInPlace, DecryptCopy } op = Encrypt;
        std::wstring path;
        bool moveOut = false;          // decrypt job 2, top level: leaves the store afterwards
        std::wstring out;              // copy: where the copy goes
        uint32_t attrs = 0xFFFFFFFFu;  // as the walk found them (saves asking again)
    };

    bool PrepareEncryption(const StrengthJob& job);
    void EncryptBody();
    void CollectEncrypt(const std::wstring& folder, std::vector<Pending>* out);
    void PrepareDecryption(const DecryptJob& job);
    void DecryptBody();
    void CollectDecrypt(const std::wstring& folder, bool top, std::vector<Pending>* out);
    void QueueDecrypt(const std::wstring& path, bool moveOut, uint32_t attrs);
    void Queue(Pending p);
    // Plans, journals, applies and commits the queued files.
    void RunBatch();
    void Finished(const Pending& p, const crypto::DecryptResult& r);
    void MarkTroubled(const std::wstring& path);
    // A folder whose content could not be listed: one failed object.
    void ListFailed(const std::wstring& folder);
    void ShowCancelOnce();
    void RepairNames();
    std::wstring ProtectedFolder() const;
    std::wstring RelativeToData(const std::wstring& path) const;
    std::wstring OutsidePath(const std::wstring& rel) const;

    PassUi& ui_;
    PassLog log_;
    StrengthJob enc_;
    DecryptJob dec_;
    std::wstring dataFolder_;  // with no trailing separator
    std::wstring paramFolder_;
    CJiaMiWeiZhuang hide_;
    RestorePass restore_;
    CFailNameList failNames_;
    std::unique_ptr<crypto::ContentCipher> cipher_;
    std::unique_ptr<PassJournal> journal_;
    // Changes a batch could not settle: every later journal of the pass
    // keeps them, so the next run finds them whatever batch it stopped in.
    std::vector<std::unique_ptr<crypto::FileChange>> carried_;
    int strength_ = 0;  // of the store being encrypted: 1 higher, 2 highest
    std::vector<Pending> queue_;
    size_t queuedJournalBytes_ = 0;
    bool existingStore_ = false;
    int listFailures_ = 0;
    std::mutex shownLock_;
    std::set<std::wstring> shown_;
    std::vector<std::wstring> walkedFolders_;  // relative to the data folder
    std::set<std::wstring> troubledFolders_;   // folders holding a file that did not end well
    std::thread worker_;
};

}  // namespace engine
