#include "support/faulty_fs.h"

#include <algorithm>

#include "platform/text.h"

namespace testsupport {

namespace {

class FaultyFile final : public plat::File {
  public:
    FaultyFile(FaultyFileSystem& fs, std::unique_ptr<plat::File> inner, std::wstring path)
        : fs_(fs), inner_(std::move(inner)), path_(std::move(path)) {}

    bool Read(void* buf, uint32_t len, uint32_t* done) override {
        return inner_->Read(buf, len, done);
    }
    bool ReadAt(uint64_t offset, void* buf, uint32_t len, uint32_t* done) override {
        return inner_->ReadAt(offset, buf, len, done);
    }
    bool Write(const void* buf, uint32_t len, uint32_t* done) override {
        *done = 0;
        bool first = false;
        if (fs_.ShouldFail("Write", path_, L"", &first)) {
            uint32_t error = plat::LastError();
            uint32_t prefix = first ? std::min(len, fs_.PartialWrite()) : 0;
            uint32_t wrote = 0;
            if (prefix && inner_->Write(buf, prefix, &wrote)) *done = wrote;
            plat::SetLastError(error);
            return false;
        }
        return inner_->Write(buf, len, done);
    }
    bool Seek(int64_t offset, int whence, uint64_t* newPos) override {
        return inner_->Seek(offset, whence, newPos);
    }
    bool Size(uint64_t* size) override { return inner_->Size(size); }
    bool Truncate() override { return !fs_.ShouldFail("Truncate", path_) && inner_->Truncate(); }
    bool GetTimes(plat::FileTimes* times) override { return inner_->GetTimes(times); }
    bool SetTimes(const plat::FileTimes& times) override {
        return !fs_.ShouldFail("SetTimes", path_) && inner_->SetTimes(times);
    }
    bool Flush() override { return inner_->Flush(); }

  private:
    FaultyFileSystem& fs_;
    std::unique_ptr<plat::File> inner_;
    std::wstring path_;
};

}  // namespace

bool FaultyFileSystem::ShouldFail(const char* op, const std::wstring& a, const std::wstring& b,
                                  bool* first) {
    int n = ++count_;
    int at = failAt_.load();
    if (at <= 0 || n < at || (n > at && !sticky_.load())) return false;
    const bool isFirst = failures_++ == 0;
    if (first) *first = isFirst;
    if (isFirst) {
        std::lock_guard<std::mutex> lock(mutex_);
        failedOp_ =
            std::string(op) + " " + plat::ToUtf8(a) + (b.empty() ? "" : " -> " + plat::ToUtf8(b));
    }
    plat::SetLastError(error_.load());
    return true;
}

bool FaultyFileSystem::SetAttributes(const std::wstring& path, uint32_t attrs) {
    return !ShouldFail("SetAttributes", path) && inner_.SetAttributes(path, attrs);
}
bool FaultyFileSystem::CreateDir(const std::wstring& path) {
    return !ShouldFail("CreateDir", path) && inner_.CreateDir(path);
}
bool FaultyFileSystem::RemoveDir(const std::wstring& path) {
    return !ShouldFail("RemoveDir", path) && inner_.RemoveDir(path);
}
bool FaultyFileSystem::Move(const std::wstring& from, const std::wstring& to) {
    return !ShouldFail("Move", from, to) && inner_.Move(from, to);
}
bool FaultyFileSystem::Copy(const std::wstring& from, const std::wstring& to, bool failIfExists) {
    return !ShouldFail("Copy", from, to) && inner_.Copy(from, to, failIfExists);
}
bool FaultyFileSystem::CopyAccess(const std::wstring& from, const std::wstring& to) {
    return !ShouldFail("CopyAccess", from, to) && inner_.CopyAccess(from, to);
}
bool FaultyFileSystem::RestrictToOwner(const std::wstring& path) {
    return !ShouldFail("RestrictToOwner", path) && inner_.RestrictToOwner(path);
}
bool FaultyFileSystem::DeleteFile(const std::wstring& path) {
    return !ShouldFail("DeleteFile", path) && inner_.DeleteFile(path);
}

std::unique_ptr<plat::File> FaultyFileSystem::Open(const std::wstring& path, plat::Access access,
                                                   plat::Disposition disposition) {
    bool mutating =
        access == plat::Access::ReadWrite || disposition != plat::Disposition::OpenExisting;
    if (mutating && ShouldFail("Open", path)) return nullptr;
    auto inner = inner_.Open(path, access, disposition);
    if (!inner) return nullptr;
    return std::make_unique<FaultyFile>(*this, std::move(inner), path);
}

}  // namespace testsupport
