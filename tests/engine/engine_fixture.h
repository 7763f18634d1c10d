// Shared set-up of the engine tests: a temporary folder of its own, settings
// and globals pointing into it, and helpers to build and compare trees.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "app/globals.h"
#include "engine/pass_state.h"
#include "engine/pass_ui.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/settings.h"
#include "platform/text.h"

namespace enginetest {

// Writes `bytes` to `path` (created or truncated); fails the test otherwise.
inline void WriteFile(const std::wstring& path, const std::string& bytes);
inline std::string ReadFile(const std::wstring& path);
inline void MakeDir(const std::wstring& path);
// Removes a tree (attributes cleared first); missing is fine.
inline void RemoveTree(const std::wstring& path);
// Relative path -> content of every file below `dir` ("/"-joined, folders as
// "name/" with an empty content).
inline std::map<std::wstring, std::string> Snapshot(const std::wstring& dir);
// Compares two snapshots, naming each missing, extra or changed entry
// (without dumping file contents).
inline ::testing::AssertionResult SameTree(const std::map<std::wstring, std::string>& want,
                                           const std::map<std::wstring, std::string>& got) {
    std::string diff;
    for (const auto& [rel, bytes] : want) {
        auto it = got.find(rel);
        if (it == got.end()) {
            diff += " missing " + plat::ToUtf8(rel) + ";";
        } else if (it->second != bytes) {
            size_t at = 0;
            while (at < bytes.size() && at < it->second.size() && bytes[at] == it->second[at]) ++at;
            diff += " changed " + plat::ToUtf8(rel) + " (" + std::to_string(bytes.size()) + " -> " +
                    std::to_string(it->second.size()) + " bytes, first difference at " +
                    std::to_string(at) + ");";
        }
    }
    for (const auto& [rel, bytes] : got)
        if (!want.count(rel)) diff += " extra " + plat::ToUtf8(rel) + ";";
    if (diff.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << diff;
}
// The log lines (ANSI file decoded) of `path`.
inline std::vector<std::wstring> LogLines(const std::wstring& path);

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::wstring Path(const std::wstring& rel) const;  // below the temporary folder

    // Where the temporary folder goes (default: the temporary-files folder).
    std::wstring tempRoot_;
    std::wstring base_;    // temporary folder of this test
    std::wstring folder_;  // the folder the test protects: base_/protect
    std::wstring log_;     // pass log
    engine::RecordingUi ui_;

  private:
    std::unique_ptr<plat::Settings> settings_;
    std::unique_ptr<plat::ScopedSettings> scopedSettings_;
    app::AppGlobals savedGlobals_;
};

inline void WriteFile(const std::wstring& path, const std::string& bytes) {
    auto f = plat::Fs().Open(path, plat::Access::ReadWrite, plat::Disposition::CreateAlways);
    ASSERT_TRUE(f) << plat::ToUtf8(path);
    ASSERT_TRUE(f->WriteAll(bytes.data(), uint32_t(bytes.size())));
}

inline std::string ReadFile(const std::wstring& path) {
    auto f = plat::Fs().Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    if (!f) return "<missing>";
    uint64_t size = 0;
    if (!f->Size(&size)) return "<unreadable>";
    std::string bytes(size_t(size), '\0');
    if (size && !f->ReadExact(bytes.data(), uint32_t(size))) return "<unreadable>";
    return bytes;
}

inline void MakeDir(const std::wstring& path) {
    ASSERT_TRUE(plat::Fs().CreateDir(path));
}

inline void RemoveTree(const std::wstring& path) {
    plat::FileSystem& fs = plat::Fs();
    uint32_t a = fs.GetAttributes(path);
    if (a == plat::kInvalidAttributes) return;
    (void)fs.SetAttributes(path, plat::kAttrNormal);
    if (a & plat::kAttrDirectory) {
        std::vector<plat::DirEntry> entries;
        if (fs.ListDir(path, &entries))
            for (const auto& e : entries) RemoveTree(plat::JoinPath(path, e.name));
        (void)fs.RemoveDir(path);
    } else {
        (void)fs.DeleteFile(path);
    }
}

inline void Walk(const std::wstring& dir, const std::wstring& rel,
                 std::map<std::wstring, std::string>* out) {
    std::vector<plat::DirEntry> entries;
    if (!plat::Fs().ListDir(dir, &entries)) return;
    for (const auto& e : entries) {
        const std::wstring r = rel + e.name;
        if (e.IsDirectory()) {
            (*out)[r + L"/"] = "";
            Walk(plat::JoinPath(dir, e.name), r + L"/", out);
        } else {
            (*out)[r] = ReadFile(plat::JoinPath(dir, e.name));
        }
    }
}

inline std::map<std::wstring, std::string> Snapshot(const std::wstring& dir) {
    std::map<std::wstring, std::string> out;
    Walk(dir, L"", &out);
    return out;
}

inline std::vector<std::wstring> LogLines(const std::wstring& path) {
    std::string bytes = ReadFile(path);
    std::vector<std::wstring> lines;
    if (bytes == "<missing>") return lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) end = bytes.size();
        lines.push_back(plat::FromAnsi(bytes.substr(start, end - start)));
        start = end + 2;
    }
    return lines;
}

inline void EngineTest::SetUp() {
    static std::atomic<int> counter{0};
    savedGlobals_ = app::Globals();
    if (tempRoot_.empty()) tempRoot_ = plat::TempDir();
    // ctest runs tests side by side in separate processes: the name must be
    // unique across them, and a folder that exists belongs to someone else.
    static const unsigned salt = std::random_device{}();
    for (int attempt = 0;; ++attempt) {
        base_ = plat::JoinPath(tempRoot_, L"ulxeng" + std::to_wstring(salt % 1000000) + L"_" +
                                              std::to_wstring(counter++));
        if (plat::Fs().CreateDir(base_)) break;
        ASSERT_LT(attempt, 100) << "no free temporary folder under " << plat::ToUtf8(tempRoot_);
    }
    MakeDir(Path(L"cfg"));
    MakeDir(Path(L"protect"));
    folder_ = Path(L"protect");
    log_ = Path(L"easylog.txt");
    settings_ = plat::MakeIniSettings(Path(L"cfg"));
    scopedSettings_ = std::make_unique<plat::ScopedSettings>(*settings_);
    app::AppGlobals& g = app::Globals();
    g.LogFilePath = log_;
    g.ModulePath = Path(L"ulxjm.exe");  // the running program lives outside the folder
    g.ModuleFolder = plat::WithSep(base_);
    g.IsVistaOrLater = true;
    WriteFile(g.ModulePath, "MZ program");
    engine::State().Reset();
    engine::State().kind = engine::kKindNormalEncrypt;
    engine::State().operation = engine::kOpEncrypt;
}

inline void EngineTest::TearDown() {
    scopedSettings_.reset();
    settings_.reset();
    app::Globals() = savedGlobals_;
    if (!HasFailure()) RemoveTree(base_);
}

inline std::wstring EngineTest::Path(const std::wstring& rel) const {
    return plat::JoinPath(base_, rel);
}

}  // namespace enginetest
