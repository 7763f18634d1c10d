// Shared pieces of the content cipher tests: a sink that records, sample
// data and the expected bytes of an encrypted file.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/cipher_sink.h"
#include "crypto/digest.h"
#include "crypto/rc4.h"
#include "platform/fs.h"

namespace cryptotest {

struct RecordingSink : crypto::CipherSink {
    std::wstring current;
    int seen = 0;
    std::vector<crypto::FileOutcome> outcomes;
    std::vector<std::pair<std::wstring, std::wstring>> failures;  // path, reason
    std::vector<std::wstring> shown;
    uint64_t length = 0, bytes = 0;
    bool cancel = false;

    void SetCurrentObject(const std::wstring& path) override { current = path; }
    void OnFileSeen() override { ++seen; }
    void OnFileDone(crypto::FileOutcome outcome) override { outcomes.push_back(outcome); }
    void AddFailure(const std::wstring& path, const std::wstring& reason) override {
        failures.emplace_back(path, reason);
    }
    void SetCurrentLength(uint64_t n) override { length = n; }
    void AddBytesDone(uint64_t n) override { bytes += n; }
    bool IsCancelled() override { return cancel; }
    void ShowMessageOnce(const std::wstring& text) override {
        if (std::find(shown.begin(), shown.end(), text) == shown.end()) shown.push_back(text);
    }
    bool HasFailure(const std::wstring& reason) const {
        for (auto& f : failures)
            if (f.second == reason) return true;
        return false;
    }
};

// Deterministic bytes that are not all alike.
inline std::string SampleBytes(size_t n, uint32_t seed = 1) {
    std::string out(n, '\0');
    for (size_t k = 0; k < n; ++k) {
        seed = seed * 1103515245u + 12345u;
        out[k] = char(seed >> 16);
    }
    return out;
}

// The first n keystream bytes of the current format for `password`.
inline std::string CurrentKeystream(const std::wstring& password, size_t n) {
    std::string ks(n, '\0');
    crypto::Rc4 rc4;
    crypto::InitCurrentRc4(rc4, password);
    rc4.Process(reinterpret_cast<uint8_t*>(ks.data()), n);
    return ks;
}

// Byte strings compared without dumping them: sizes and the first
// differing offset.
inline ::testing::AssertionResult SameBytes(const std::string& a, const std::string& b) {
    if (a == b) return ::testing::AssertionSuccess();
    size_t k = 0;
    while (k < a.size() && k < b.size() && a[k] == b[k]) ++k;
    return ::testing::AssertionFailure()
           << "sizes " << a.size() << " and " << b.size() << ", first difference at " << k
           << (a.substr(0, 9) == "<missing>" ? " (first missing)" : "")
           << (b.substr(0, 9) == "<missing>" ? " (second missing)" : "");
}

inline std::string Xor(std::string a, const std::string& b, size_t bOffset = 0) {
    for (size_t k = 0; k < a.size(); ++k) a[k] = char(a[k] ^ b[bOffset + k]);
    return a;
}

// A file system that fails the n-th Open of any kind (reads included).
class OpenFailingFs final : public plat::FileSystem {
  public:
    explicit OpenFailingFs(int failAt) : failAt_(failAt) {}
    int opens = 0;

    bool ListDir(const std::wstring& d, std::vector<plat::DirEntry>* o) override {
        return os().ListDir(d, o);
    }
    uint32_t GetAttributes(const std::wstring& p) override { return os().GetAttributes(p); }
    bool SetAttributes(const std::wstring& p, uint32_t a) override {
        return os().SetAttributes(p, a);
    }
    bool CreateDir(const std::wstring& p) override { return os().CreateDir(p); }
    bool RemoveDir(const std::wstring& p) override { return os().RemoveDir(p); }
    bool Move(const std::wstring& a, const std::wstring& b) override { return os().Move(a, b); }
    bool Copy(const std::wstring& a, const std::wstring& b, bool f) override {
        return os().Copy(a, b, f);
    }
    bool DeleteFile(const std::wstring& p) override { return os().DeleteFile(p); }
    std::unique_ptr<plat::File> Open(const std::wstring& p, plat::Access a,
                                     plat::Disposition d) override {
        if (++opens == failAt_) {
            plat::SetLastError(plat::kErrSharingViolation);
            return nullptr;
        }
        return os().Open(p, a, d);
    }
    std::wstring LongPathName(const std::wstring& p) override { return os().LongPathName(p); }
    bool CopyAccess(const std::wstring& f, const std::wstring& t) override {
        return os().CopyAccess(f, t);
    }
    bool RestrictToOwner(const std::wstring& p) override { return os().RestrictToOwner(p); }
    bool SyncVolume(const std::wstring& p) override { return os().SyncVolume(p); }

  private:
    static plat::FileSystem& os() { return plat::OsFileSystem(); }
    int failAt_;
};

}  // namespace cryptotest
