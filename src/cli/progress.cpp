#include "cli/progress.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "app/globals.h"
#include "cli/console.h"
#include "cli/listing.h"
#include "engine/naming.h"
#include "engine/pass_log.h"
#include "engine/pass_state.h"
#include "engine/progress_model.h"
#include "platform/fs.h"
#include "platform/private_file.h"
#include "platform/text.h"
#include "store/layout.h"

namespace cli {

namespace {

constexpr int kTickMs = 50;
// More of the log than anyone reads on a terminal; the file keeps the rest.
constexpr size_t kLogShownBytes = 256 * 1024;

std::wstring NoCr(std::wstring text) {
    std::wstring out;
    for (wchar_t c : text)
        if (c != L'\r') out += c;
    return out;
}

std::wstring Bar(int percent, int cells) {
    int full = percent * cells / 100;
    return L"[" + std::wstring(size_t(full), L'#') + std::wstring(size_t(cells - full), L'-') +
           L"]";
}

std::wstring StorePartsRemoved(const std::wstring& path) {
    const app::AppGlobals& g = app::Globals();
    std::wstring text = path;
    const std::wstring rels[] = {store::DataRel(), g.FoundDataRel};
    for (const std::wstring& rel : rels) {
        if (rel.empty()) continue;
        text = engine::ReplaceNoCase(text, plat::WithSep(rel), L"");
    }
    return text;
}

class Drawer {
  public:
    explicit Drawer(Console& con) : con_(con), tty_(con.StderrIsTerminal()) {}

    void Draw(const engine::ProgressView& v, bool last) {
        engine::PassState& st = engine::State();
        if (tty_) {
            const int width = con_.Width();
            std::wstring line =
                Bar(v.overallPercent, 20) + L" " + std::to_wstring(v.overallPercent) + L"%  " +
                std::to_wstring(v.handled) + L"/" + std::to_wstring(v.total) + L"  失败:" +
                std::to_wstring(v.moveFailed + v.strengthSkipped) + L"  " + v.elapsed;
            const uint64_t len = st.currentLength;
            if (!last && len > 1024 && v.filePercent < 100)
                line +=
                    L"  " + Bar(v.filePercent, 10) + L" " + std::to_wstring(v.filePercent) + L"%";
            if (!last) {
                int room = width - 3 - DisplayWidth(line);
                if (room > 8) line += L"  " + FitPath(StorePartsRemoved(st.CurrentObject()), room);
            }
            const int w = DisplayWidth(line);
            std::wstring pad = w < lastWidth_ ? std::wstring(size_t(lastWidth_ - w), L' ') : L"";
            lastWidth_ = w;
            con_.Err(L"\r" + line + pad + (last ? L"\n" : L""));
            return;
        }
        // Plain lines for logs and pipes: one per second at most, and the last.
        const auto now = std::chrono::steady_clock::now();
        if (!last && (v.handled == lastHandled_ || now - lastLine_ < std::chrono::seconds(1)))
            return;
        lastHandled_ = v.handled;
        lastLine_ = now;
        con_.Err(L"进度 " + std::to_wstring(v.overallPercent) + L"% " + std::to_wstring(v.handled) +
                 L"/" + std::to_wstring(v.total) + L" 失败 " +
                 std::to_wstring(v.moveFailed + v.strengthSkipped) +
                 (last ? L"" : L" " + StorePartsRemoved(st.CurrentObject())) + L"\n");
    }

  private:
    Console& con_;
    bool tty_;
    int lastWidth_ = 0;
    int lastHandled_ = -1;
    std::chrono::steady_clock::time_point lastLine_{};
};

}  // namespace

void ConsoleUi::ShowMessage(const std::wstring& text, engine::MessageIcon) {
    Con().Err(std::wstring(app::kAppTitle) + L": " + NoCr(text) + L"\n");
}

PassCounts RunPass(int displayKind, int operation, const std::function<void()>& body) {
    engine::PassState& st = engine::State();
    st.Reset();
    st.kind = displayKind;
    st.operation = operation;
    engine::ProgressModel model(st);
    model.Open();

    std::atomic<bool> finished{false};
    std::thread worker([&] {
        try {
            body();
        } catch (...) {
            // Out of memory inside a pass: report it rather than end the
            // process with the store half done and no word about it.
            engine::AppendLogLine(engine::LogPath(), L"操作发生错误。");
            ++st.moveFailed;
        }
        finished = true;
    });
    Drawer drawer(Con());
    while (!finished) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
        drawer.Draw(model.Poll(), false);
    }
    worker.join();
    drawer.Draw(model.Poll(0), true);

    PassCounts c;
    c.total = st.total;
    c.handled = st.handled;
    c.moved = st.moved;
    c.moveFailed = st.moveFailed;
    c.renamed = st.renamed;
    c.strengthDone = st.strengthDone;
    c.strengthSkipped = st.strengthSkipped;
    c.notOurFormat = st.notOurFormat;
    c.cancelled = st.cancelRequested;
    c.storeVisible = st.marksError != 0;
    return c;
}

std::vector<std::wstring> LogLines() {
    std::vector<std::wstring> lines;
    // Only our own log: never a link or another user's file under its name.
    std::string bytes;
    bool cut = false;
    if (!plat::ReadPrivateFile(engine::LogPath(), kLogShownBytes, &bytes, &cut)) return lines;
    if (cut) bytes.erase(bytes.rfind('\n') + 1);  // no half line (nor half character)
    std::wstring text = plat::FromAnsi(bytes);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    if (cut) lines.push_back(L"……（日志太长，以下从略）");
    return lines;
}

int PrintSummary(const PassCounts& c, const std::wstring& verb, const std::wstring& strengthVerb) {
    Console& con = Con();
    std::wstring line = verb + L"完成：共 " + std::to_wstring(c.total) + L" 个对象，已处理 " +
                        std::to_wstring(c.handled);
    if (c.moved) line += L"，移动 " + std::to_wstring(c.moved);
    if (c.moveFailed) line += L"，移动失败 " + std::to_wstring(c.moveFailed);
    if (c.renamed) line += L"，改名 " + std::to_wstring(c.renamed);
    if (!strengthVerb.empty()) {
        line += L"，强度" + strengthVerb + L" " + std::to_wstring(c.strengthDone);
        line += L"，未强度" + strengthVerb + L" " + std::to_wstring(c.strengthSkipped);
    }
    con.Err(line + L"。\n");
    if (c.notOurFormat)
        con.Err(std::to_wstring(c.notOurFormat) +
                L" 个文件带有加密后缀但没有加密信息，只去掉了后缀，见日志。\n");
    if (c.storeVisible) con.Err(L"该磁盘不能隐藏加密存储区，Windows 用户将能看到它。\n");
    if (c.cancelled) con.Err(L"操作已被取消。\n");
    const std::vector<std::wstring> log = LogLines();
    if (c.Failures() > 0 || c.renamed > 0 || c.cancelled || c.storeVisible) {
        if (!log.empty()) {
            con.Err(L"日志 " + engine::LogPath() + L"：\n");
            for (const auto& l : log) con.Err(L"  " + l + L"\n");
        }
    }
    return c.Failures() > 0 || c.cancelled || c.storeVisible ? 1 : 0;
}

std::wstring FitPath(const std::wstring& path, int width) {
    if (DisplayWidth(path) <= width) return path;
    const std::wstring leaf = plat::LeafName(path);
    const std::wstring dots = L"...";
    if (DisplayWidth(leaf) + 3 >= width) {
        // Keep the end of the leaf; that is what tells files apart.
        std::wstring tail;
        for (size_t i = leaf.size(); i-- > 0;) {
            if (DisplayWidth(tail) + DisplayWidth(leaf.substr(i, 1)) + 3 > width) break;
            tail.insert(tail.begin(), leaf[i]);
        }
        return dots + tail;
    }
    std::wstring head;
    const int room = width - 3 - DisplayWidth(leaf) - 1;
    for (wchar_t ch : path) {
        if (DisplayWidth(head) + DisplayWidth(std::wstring(1, ch)) > room) break;
        head += ch;
    }
    return head + dots + plat::kSep + leaf;
}

}  // namespace cli
