#include "engine/progress_model.h"

#include <algorithm>
#include <cstdio>

#include "app/globals.h"
#include "engine/naming.h"
#include "platform/fs.h"
#include "store/layout.h"

namespace engine {

std::wstring ProgressModel::TitleForKind(int kind) {
    static const wchar_t* const kTitles[] = {
        L"快速加密进度--岚栩只读加密",     L"较高强度加密进度--岚栩只读加密",
        L"最高强度加密进度--岚栩只读加密", L"快速解密进度--岚栩只读加密",
        L"较高强度解密进度--岚栩只读加密", L"最高强度解密进度--岚栩只读加密",
    };
    if (kind < 0 || kind > 5) kind = 0;
    return kTitles[kind];
}

bool ProgressModel::ShowsSkippedCount() const {
    const int k = state_.kind;
    return k != kKindNormalEncrypt && k != kKindNormalDecrypt;
}

void ProgressModel::Open() {
    state_.seen = 0;
    ticks_ = 0;
    ended_ = false;
}

std::wstring ProgressModel::ElapsedText(int64_t ticks) {
    const int64_t hours = ticks / 72000;
    const int64_t s = ticks / 20 - hours * 3600;
    wchar_t buf[64];
    swprintf(buf, 64, L"%02d:%02d:%02d", int(hours), int(s / 60), int(s % 60));
    return buf;
}

std::wstring ProgressModel::Shorten(const std::wstring& text) {
    if (text.size() <= 40) return text;
    const std::wstring leaf = plat::LeafName(text);
    const std::wstring mid = std::wstring(L"...") + plat::kSep;
    if (leaf.size() < 40) return text.substr(0, 40 - leaf.size()) + mid + leaf;
    return text.substr(0, 3) + mid + leaf;
}

std::wstring ProgressModel::DisplayPath(const std::wstring& path) {
    const app::AppGlobals& g = app::Globals();
    std::wstring text = EnumerationPath(path);
    // The user knows the file by its place in the folder, not in the store.
    std::wstring rels[] = {g.StoreDataRel.empty() ? store::DataRel() : g.StoreDataRel,
                           g.FoundDataRel};
    for (const std::wstring& rel : rels) {
        if (rel.empty()) continue;
        text = ReplaceNoCase(text, plat::WithSep(rel), L"");
        text = ReplaceNoCase(text, rel, L"");
    }
    return Shorten(text);
}

ProgressView ProgressModel::Poll(int ticks) {
    ticks_ += ticks;
    ProgressView v;
    const int kind = state_.kind;
    if (kind == kKindHighestEncrypt || kind == kKindHighestDecrypt) {
        const uint64_t len = state_.currentLength;
        const uint64_t done = state_.bytesDone;
        v.filePercent = len == 0 ? 100 : int(std::min<uint64_t>(100, done * 100 / len));
    } else {
        v.filePercent = 100;
    }
    v.total = state_.total;
    v.handled = state_.handled;
    if (v.total <= 0) {
        v.overallPercent = 100;
    } else {
        double p = double(v.handled) / double(v.total) * 100.0;
        v.overallPercent = p >= 100.0 ? 100 : p < 0 ? 0 : int(p);
    }
    v.overallText = std::to_wstring(v.overallPercent) + L"%";
    v.elapsed = ElapsedText(ticks_);
    v.current = DisplayPath(state_.CurrentObject());
    v.moveFailed = state_.moveFailed;
    v.strengthSkipped = state_.strengthSkipped;
    v.skippedText = (kind > kKindHighestEncrypt ? L"未强度解密:" : L"未强度加密:") +
                    std::to_wstring(v.strengthSkipped);
    v.cancelRequested = state_.cancelRequested;
    v.done = state_.done;
    v.closeEnabled = v.done || v.cancelRequested;
    if (v.done && !ended_) {
        ended_ = true;
        if (v.strengthSkipped + v.moveFailed + state_.notOurFormat > 0 || state_.renamed > 0)
            v.end = EndAction::OpenLogAndClose;
        else if (state_.operation == kOpEncrypt && state_.fileOk)
            v.end = EndAction::CloseWindow;
        else
            v.end = EndAction::WaitForUser;
    }
    return v;
}

}  // namespace engine
