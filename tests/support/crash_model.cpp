#include "support/crash_model.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string_view>
#include <unordered_map>

#include "platform/text.h"

namespace testsupport {

namespace {

std::wstring ParentOf(const std::wstring& rel) {
    const size_t cut = rel.rfind(plat::kSep);
    return cut == std::wstring::npos ? std::wstring() : rel.substr(0, cut);
}

bool IsBelow(const std::wstring& path, const std::wstring& dir) {
    return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
           path[dir.size()] == plat::kSep;
}

// Keys of `m` equal to `dir` or below it.
template <typename Map>
std::vector<typename Map::key_type> KeysUnder(const Map& m, const std::wstring& dir) {
    std::vector<typename Map::key_type> out;
    for (auto it = m.lower_bound(dir); it != m.end(); ++it) {
        if (it->first != dir && !IsBelow(it->first, dir)) {
            // Siblings sorting between "dir" and "dir<sep>..." ("dir x") may
            // come first; stop only past every key starting with `dir`.
            if (it->first.compare(0, dir.size(), dir) != 0) break;
            continue;
        }
        out.push_back(it->first);
    }
    return out;
}

bool ParentExists(const CrashTree& t, const std::wstring& rel) {
    const std::wstring parent = ParentOf(rel);
    return parent.empty() || t.dirs.count(parent);
}

std::string U8(const std::wstring& s) {
    return plat::ToUtf8(s);
}

const std::string& Empty() {
    static const std::string empty;
    return empty;
}

std::string AttrText(uint32_t a) {
    std::string s;
    if (a & plat::kAttrReadOnly) s += 'R';
    if (a & plat::kAttrHidden) s += 'H';
    if (a & plat::kAttrSystem) s += 'S';
    return s.empty() ? "-" : s;
}

}  // namespace

// ---------------------------------------------------------------- trees

const std::string& CrashTree::Content(uint64_t id) const {
    auto it = files.find(id);
    return it == files.end() || !it->second.bytes ? Empty() : *it->second.bytes;
}

std::string CrashTree::Diff(const CrashTree& other) const {
    std::string d;
    for (const auto& [rel, a] : dirs) {
        auto it = other.dirs.find(rel);
        if (it == other.dirs.end())
            d += " folder " + U8(rel) + " only in the first;";
        else if (it->second != a)
            d +=
                " folder " + U8(rel) + " marks " + AttrText(a) + " / " + AttrText(it->second) + ";";
    }
    for (const auto& [rel, a] : other.dirs)
        if (!dirs.count(rel)) d += " folder " + U8(rel) + " only in the second;";
    for (const auto& [rel, id] : names) {
        auto it = other.names.find(rel);
        if (it == other.names.end()) {
            d += " file " + U8(rel) + " only in the first;";
            continue;
        }
        const std::string& a = Content(id);
        const std::string& b = other.Content(it->second);
        if (a != b)
            d += " file " + U8(rel) + " " + std::to_string(a.size()) + " / " +
                 std::to_string(b.size()) + " bytes, different;";
        const uint32_t aa = files.at(id).attrs, ba = other.files.at(it->second).attrs;
        if (aa != ba)
            d += " file " + U8(rel) + " marks " + AttrText(aa) + " / " + AttrText(ba) + ";";
    }
    for (const auto& [rel, id] : other.names)
        if (!names.count(rel)) d += " file " + U8(rel) + " only in the second;";
    return d;
}

// ---------------------------------------------------------------- operations

std::string CrashOp::Describe() const {
    switch (kind) {
        case CrashOpKind::Create:
            return "Create " + U8(path) + " #" + std::to_string(id) + " " + AttrText(attrs);
        case CrashOpKind::Write:
            return "Write #" + std::to_string(id) + " (" + U8(path) + ") " +
                   std::to_string(bytes ? bytes->size() : 0) + " bytes at " +
                   std::to_string(offset);
        case CrashOpKind::Truncate:
            return "Truncate #" + std::to_string(id) + " (" + U8(path) + ") to " +
                   std::to_string(offset);
        case CrashOpKind::Flush:
            return "Flush #" + std::to_string(id) + " (" + U8(path) + ")";
        case CrashOpKind::Move:
            return "Move " + U8(path) + " -> " + U8(to) + (id ? " #" + std::to_string(id) : "");
        case CrashOpKind::Delete:
            return "Delete " + U8(path) + " #" + std::to_string(id);
        case CrashOpKind::CreateDir:
            return "CreateDir " + U8(path) + " " + AttrText(attrs);
        case CrashOpKind::RemoveDir:
            return "RemoveDir " + U8(path);
        case CrashOpKind::SetAttributes:
            return "SetAttributes " + U8(path) + " " + AttrText(attrs);
    }
    return "?";
}

bool ApplyCrashOp(CrashTree* t, const CrashOp& op, CrashStep step) {
    switch (op.kind) {
        case CrashOpKind::Create: {
            if (!ParentExists(*t, op.path) || t->dirs.count(op.path)) return false;
            // A name still there (its delete did not arrive) is replaced.
            t->files[op.id] = CrashTree::File{nullptr, op.attrs};
            t->names[op.path] = op.id;
            return true;
        }
        case CrashOpKind::Write: {
            auto it = t->files.find(op.id);
            if (it == t->files.end() || !op.bytes) return false;
            size_t len = op.bytes->size();
            if (step == CrashStep::Torn) len = std::max<size_t>(1, len / 2);
            const std::string* old = it->second.bytes.get();
            if ((!old || old->empty()) && op.offset == 0 && len == op.bytes->size()) {
                it->second.bytes = op.bytes;  // shared: the common case of a new file
                return true;
            }
            auto bytes = std::make_shared<std::string>(old ? *old : std::string());
            if (bytes->size() < op.offset + len) bytes->resize(size_t(op.offset + len), '\0');
            std::memcpy(&(*bytes)[size_t(op.offset)], op.bytes->data(), len);
            it->second.bytes = std::move(bytes);
            return true;
        }
        case CrashOpKind::Truncate: {
            auto it = t->files.find(op.id);
            if (it == t->files.end()) return false;
            const std::string& old = t->Content(op.id);
            if (old.size() == op.offset) return true;
            auto bytes = std::make_shared<std::string>(old);
            bytes->resize(size_t(op.offset), '\0');
            it->second.bytes = std::move(bytes);
            return true;
        }
        case CrashOpKind::Flush:
            return true;
        case CrashOpKind::Move: {
            if (op.path == op.to || !ParentExists(*t, op.to) || t->dirs.count(op.to)) return false;
            auto file = t->names.find(op.path);
            if (file != t->names.end()) {
                const uint64_t id = file->second;
                t->names.erase(file);
                t->names[op.to] = id;  // a name still there is replaced, as rename(2) does
                return true;
            }
            if (!t->dirs.count(op.path) || t->names.count(op.to) || IsBelow(op.to, op.path))
                return false;
            const size_t cut = op.path.size();
            for (const auto& k : KeysUnder(t->dirs, op.path)) {
                const uint32_t a = t->dirs[k];
                t->dirs.erase(k);
                t->dirs[op.to + k.substr(cut)] = a;
            }
            for (const auto& k : KeysUnder(t->names, op.path)) {
                const uint64_t id = t->names[k];
                t->names.erase(k);
                t->names[op.to + k.substr(cut)] = id;
            }
            return true;
        }
        case CrashOpKind::Delete: {
            auto it = t->names.find(op.path);
            if (it == t->names.end()) return false;
            if (step == CrashStep::Freed) {
                // The entry is still there, its clusters are not.
                auto& f = t->files[it->second];
                f.bytes = std::make_shared<std::string>(f.bytes ? f.bytes->size() : 0, '\0');
                return true;
            }
            t->names.erase(it);
            return true;
        }
        case CrashOpKind::CreateDir:
            if (!ParentExists(*t, op.path) || t->dirs.count(op.path) || t->names.count(op.path))
                return false;
            t->dirs[op.path] = op.attrs;
            return true;
        case CrashOpKind::RemoveDir:
            // An entry removed before the entries moved out of it arrived
            // takes them along, as a folder's clusters do.
            if (!t->dirs.count(op.path)) return false;
            for (const auto& k : KeysUnder(t->dirs, op.path)) t->dirs.erase(k);
            for (const auto& k : KeysUnder(t->names, op.path)) t->names.erase(k);
            return true;
        case CrashOpKind::SetAttributes: {
            auto d = t->dirs.find(op.path);
            if (d != t->dirs.end()) {
                d->second = op.attrs;
                return true;
            }
            auto n = t->names.find(op.path);
            if (n == t->names.end()) return false;
            t->files[n->second].attrs = op.attrs;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------- states

std::string CrashState::Describe(const std::vector<CrashEpoch>& epochs) const {
    const CrashEpoch& e = epochs[size_t(epoch)];
    std::vector<char> mark(e.ops.size(), '-');
    for (const auto& [k, step] : steps)
        mark[size_t(k)] = step == CrashStep::Torn ? '~' : step == CrashStep::Freed ? 'z' : '+';
    for (int k : skipped) mark[size_t(k)] = '!';
    std::string s = "epoch " + std::to_string(epoch + 1) + "/" + std::to_string(epochs.size()) +
                    ", " + model + " (+ arrived, - not, ~ torn, z freed, ! could not apply):\n";
    for (size_t k = 0; k < e.ops.size(); ++k)
        s += std::string("  ") + mark[k] + " " + std::to_string(k) + " " + e.ops[k].Describe() +
             "\n";
    return s;
}

unsigned CrashModelSeed() {
    unsigned seed;
    const char* env = std::getenv("CRASH_MODEL_SEED");
    if (env && *env)
        seed = unsigned(std::strtoul(env, nullptr, 10));
    else
        seed = std::random_device{}();
    std::printf("crash model: CRASH_MODEL_SEED=%u\n", seed);
    std::fflush(stdout);
    return seed;
}

namespace {

// Which ops of an epoch arrive, and how. 0: not at all.
using Marks = std::vector<uint8_t>;
constexpr uint8_t kOut = 0, kWhole = 1, kTorn = 2, kFreed = 3;

bool TouchesFile(const CrashOp& op, uint64_t id) {
    return op.id == id && (op.kind == CrashOpKind::Create || op.IsData());
}

// A flushed file is durable before anything issued after its flush: if
// anything later arrived, so did its entry and what was written to it.
void CloseUnderFlushes(const std::vector<CrashOp>& ops, Marks* m) {
    int last = -1;
    for (int k = int(ops.size()) - 1; k >= 0; --k)
        if ((*m)[size_t(k)] != kOut) {
            last = k;
            break;
        }
    for (int f = last - 1; f >= 0; --f) {
        if (ops[size_t(f)].kind != CrashOpKind::Flush) continue;
        (*m)[size_t(f)] = kWhole;
        for (int i = 0; i < f; ++i)
            if (TouchesFile(ops[size_t(i)], ops[size_t(f)].id)) (*m)[size_t(i)] = kWhole;
    }
}

size_t Fingerprint(const CrashTree& t) {
    size_t h = 1469598103934665603ull;
    auto mix = [&](size_t v) { h = (h ^ v) * 1099511628211ull; };
    std::hash<std::wstring> hw;
    std::hash<std::string_view> hs;
    for (const auto& [rel, a] : t.dirs) {
        mix(hw(rel));
        mix(a);
    }
    for (const auto& [rel, id] : t.names) {
        mix(hw(rel));
        const std::string& c = t.Content(id);
        mix(c.size());
        mix(t.files.at(id).attrs);
        // Ends and middle: full equality is checked on a match.
        const size_t n = std::min<size_t>(c.size(), 64);
        mix(hs(std::string_view(c.data(), n)));
        mix(hs(std::string_view(c.data() + c.size() - n, n)));
        mix(hs(std::string_view(c.data() + c.size() / 2, std::min<size_t>(n, c.size() / 2))));
    }
    return h;
}

bool SameTree(const CrashTree& a, const CrashTree& b) {
    if (a.dirs != b.dirs || a.names.size() != b.names.size()) return false;
    auto ib = b.names.begin();
    for (const auto& [rel, id] : a.names) {
        if (rel != ib->first) return false;
        const CrashTree::File& fa = a.files.at(id);
        const CrashTree::File& fb = b.files.at(ib->second);
        if (fa.attrs != fb.attrs) return false;
        if (fa.bytes != fb.bytes && a.Content(id) != b.Content(ib->second)) return false;
        ++ib;
    }
    return true;
}

}  // namespace

std::vector<CrashState> GenerateCrashStates(const std::vector<CrashEpoch>& epochs,
                                            const CrashModelOptions& options) {
    std::vector<CrashState> out;
    std::unordered_map<size_t, std::vector<size_t>> seen;
    for (size_t e = 0; e < epochs.size(); ++e) {
        const std::vector<CrashOp>& ops = epochs[e].ops;
        const int n = int(ops.size());
        auto add = [&](const std::string& model, Marks m) {
            CloseUnderFlushes(ops, &m);
            CrashState s;
            s.epoch = int(e);
            s.model = model;
            s.tree = epochs[e].start;
            for (int k = 0; k < n; ++k) {
                if (m[size_t(k)] == kOut) continue;
                const CrashStep step = m[size_t(k)] == kTorn    ? CrashStep::Torn
                                       : m[size_t(k)] == kFreed ? CrashStep::Freed
                                                                : CrashStep::Whole;
                s.steps.emplace_back(k, step);
                if (!ApplyCrashOp(&s.tree, ops[size_t(k)], step)) s.skipped.push_back(k);
            }
            const size_t fp = Fingerprint(s.tree);
            auto& bucket = seen[fp];
            for (size_t i : bucket)
                if (SameTree(out[i].tree, s.tree)) return;
            bucket.push_back(out.size());
            out.push_back(std::move(s));
        };
        auto prefix = [&](int k) {
            Marks m(size_t(n), kOut);
            std::fill(m.begin(), m.begin() + k, kWhole);
            return m;
        };

        // (a) Everything up to a point, in order (ext4's ordered metadata);
        // the write at the cut may be torn.
        for (int k = 0; k <= n; ++k) {
            add("prefix " + std::to_string(k), prefix(k));
            if (k < n && ops[size_t(k)].kind == CrashOpKind::Write && ops[size_t(k)].bytes &&
                ops[size_t(k)].bytes->size() > 1) {
                Marks m = prefix(k);
                m[size_t(k)] = kTorn;
                add("prefix " + std::to_string(k) + " + torn write", m);
            }
        }
        // (b) FAT: directory entries reach the medium while the data written
        // before them does not.
        for (int k = 1; k <= n; ++k) {
            Marks m = prefix(k);
            for (int i = 0; i < k; ++i)
                if (ops[size_t(i)].IsData()) m[size_t(i)] = kOut;
            add("entries of prefix " + std::to_string(k) + " without data", m);
        }
        for (int i = 0; i < n; ++i) {
            const CrashOp& op = ops[size_t(i)];
            if (op.kind == CrashOpKind::Move && op.id) {
                // The new entry arrived before the renamed file's data.
                Marks m = prefix(i + 1);
                for (int j = 0; j < i; ++j)
                    if (ops[size_t(j)].IsData() && ops[size_t(j)].id == op.id) m[size_t(j)] = kOut;
                add("rename " + std::to_string(i) + " before its data", m);
            }
            if (op.kind == CrashOpKind::Delete) {
                // The freed clusters are gone, the entry is still there;
                // also with the rename before it missing.
                Marks m = prefix(i);
                m[size_t(i)] = kFreed;
                add("delete " + std::to_string(i) + " freed, entry kept", m);
                for (int j = i - 1; j >= 0; --j)
                    if (ops[size_t(j)].kind == CrashOpKind::Move) {
                        m[size_t(j)] = kOut;
                        add("delete " + std::to_string(i) + " freed, entry kept, rename " +
                                std::to_string(j) + " missing",
                            m);
                        break;
                    }
            }
        }
        // Every single operation missing.
        for (int i = 0; i < n; ++i) {
            if (ops[size_t(i)].kind == CrashOpKind::Flush) continue;
            Marks m = prefix(n);
            m[size_t(i)] = kOut;
            add("omit " + std::to_string(i), m);
        }
        // (c) Random subsets of random prefixes.
        if (n > 0) {
            std::mt19937 rng(options.seed ^ unsigned(e * 2654435761u));
            const double keep[] = {0.5, 0.8, 0.95};
            for (int r = 0; r < options.randomPerEpoch; ++r) {
                const int k = 1 + int(rng() % unsigned(n));
                const double p = keep[rng() % 3];
                std::bernoulli_distribution in(p), freed(0.25);
                Marks m(size_t(n), kOut);
                for (int i = 0; i < k; ++i) {
                    if (in(rng))
                        m[size_t(i)] = kWhole;
                    else if (ops[size_t(i)].kind == CrashOpKind::Delete && freed(rng))
                        m[size_t(i)] = kFreed;
                }
                add("random " + std::to_string(r) + " (cut " + std::to_string(k) + ", keep " +
                        std::to_string(int(p * 100)) + "%)",
                    m);
            }
        }
    }
    if (out.size() > options.maxStates) {
        std::vector<CrashState> kept;
        kept.reserve(options.maxStates);
        for (size_t k = 0; k < options.maxStates; ++k)
            kept.push_back(std::move(out[k * out.size() / options.maxStates]));
        std::printf("crash model: %zu distinct states, an even sample of %zu kept\n", out.size(),
                    kept.size());
        out.swap(kept);
    }
    return out;
}

// ---------------------------------------------------------------- disk

namespace {

void ReadInto(plat::FileSystem& fs, const std::wstring& dir, const std::wstring& rel, CrashTree* t,
              std::map<std::wstring, uint64_t>* ids, uint64_t* nextId, bool learn,
              std::string* problems) {
    std::vector<plat::DirEntry> entries;
    if (!fs.ListDir(dir, &entries)) {
        *problems += " cannot list " + U8(dir) + ";";
        return;
    }
    for (const auto& e : entries) {
        const std::wstring r = rel.empty() ? e.name : rel + plat::kSep + e.name;
        const std::wstring p = plat::JoinPath(dir, e.name);
        if (e.attributes & plat::kAttrReparsePoint) {
            *problems += " link " + U8(r) + " is not modelled;";
        } else if (e.IsDirectory()) {
            t->dirs[r] = e.attributes & kCrashAttrMask;
            ReadInto(fs, p, r, t, ids, nextId, learn, problems);
        } else {
            auto bytes = std::make_shared<std::string>();
            auto f = fs.Open(p, plat::Access::Read, plat::Disposition::OpenExisting);
            uint64_t size = 0;
            bool read = f && f->Size(&size);
            if (read && size) {
                bytes->resize(size_t(size));
                read = f->ReadExact(bytes->data(), uint32_t(size));
            }
            if (!read) *problems += " cannot read " + U8(r) + ";";
            uint64_t id;
            auto it = ids->find(r);
            if (it != ids->end()) {
                id = it->second;
            } else {
                if (!learn) *problems += " file " + U8(r) + " appeared unrecorded;";
                id = (*ids)[r] = (*nextId)++;
            }
            t->names[r] = id;
            t->files[id] = CrashTree::File{std::move(bytes), e.attributes & kCrashAttrMask};
        }
    }
}

void ClearBelow(const std::wstring& dir) {
    plat::FileSystem& fs = plat::Fs();
    std::vector<plat::DirEntry> entries;
    if (!fs.ListDir(dir, &entries)) return;
    for (const auto& e : entries) {
        const std::wstring p = plat::JoinPath(dir, e.name);
        (void)fs.SetAttributes(p, plat::kAttrNormal);
        if (e.IsDirectory() && !(e.attributes & plat::kAttrReparsePoint)) {
            ClearBelow(p);
            (void)fs.RemoveDir(p);
        } else {
            (void)fs.DeleteFile(p);
        }
    }
}

}  // namespace

CrashTree ReadCrashTree(plat::FileSystem& fs, const std::wstring& root,
                        std::map<std::wstring, uint64_t>* ids, uint64_t* nextId,
                        std::string* problems) {
    CrashTree t;
    const bool learn = ids->empty();
    ReadInto(fs, root, L"", &t, ids, nextId, learn, problems);
    for (const auto& [rel, id] : *ids)
        if (!t.names.count(rel)) *problems += " file " + U8(rel) + " vanished unrecorded;";
    return t;
}

bool Materialise(const CrashTree& tree, const std::wstring& root, std::string* error) {
    plat::FileSystem& fs = plat::Fs();
    ClearBelow(root);
    auto fail = [&](const std::string& what, const std::wstring& rel) {
        *error = what + " " + U8(rel) + " (error " + std::to_string(plat::LastError()) + ")";
        return false;
    };
    for (const auto& [rel, a] : tree.dirs)
        if (!fs.CreateDir(plat::JoinPath(root, rel))) return fail("cannot create folder", rel);
    for (const auto& [rel, id] : tree.names) {
        const std::wstring p = plat::JoinPath(root, rel);
        auto f = fs.Open(p, plat::Access::ReadWrite, plat::Disposition::CreateNew);
        const std::string& c = tree.Content(id);
        if (!f || (!c.empty() && !f->WriteAll(c.data(), uint32_t(c.size()))))
            return fail("cannot write", rel);
        f.reset();
        const uint32_t a = tree.files.at(id).attrs;
        if (a && !fs.SetAttributes(p, a)) return fail("cannot mark", rel);
    }
    for (const auto& [rel, a] : tree.dirs)
        if (a && !fs.SetAttributes(plat::JoinPath(root, rel), a | plat::kAttrDirectory))
            return fail("cannot mark folder", rel);
    return true;
}

// ---------------------------------------------------------------- recorder

namespace {

class RecordingFile final : public plat::File {
  public:
    RecordingFile(RecordingFileSystem& fs, std::unique_ptr<plat::File> inner, uint64_t id)
        : fs_(fs), inner_(std::move(inner)), id_(id) {}

    bool Read(void* buf, uint32_t len, uint32_t* done) override {
        return inner_->Read(buf, len, done);
    }
    bool Write(const void* buf, uint32_t len, uint32_t* done) override {
        uint64_t at = 0;
        if (!inner_->Seek(0, SEEK_CUR, &at)) return false;
        const bool ok = inner_->Write(buf, len, done);
        if (*done) fs_.RecordWrite(id_, at, buf, *done);
        return ok;
    }
    bool Seek(int64_t offset, int whence, uint64_t* newPos) override {
        return inner_->Seek(offset, whence, newPos);
    }
    bool Size(uint64_t* size) override { return inner_->Size(size); }
    bool Truncate() override {
        uint64_t at = 0;
        if (!inner_->Seek(0, SEEK_CUR, &at) || !inner_->Truncate()) return false;
        fs_.RecordFileOp(CrashOpKind::Truncate, id_, at);
        return true;
    }
    bool GetTimes(plat::FileTimes* times) override { return inner_->GetTimes(times); }
    bool SetTimes(const plat::FileTimes& times) override { return inner_->SetTimes(times); }
    bool Flush() override {
        if (!inner_->Flush()) return false;
        fs_.RecordFileOp(CrashOpKind::Flush, id_, 0);
        return true;
    }

  private:
    RecordingFileSystem& fs_;
    std::unique_ptr<plat::File> inner_;
    uint64_t id_;
};

}  // namespace

RecordingFileSystem::RecordingFileSystem(std::wstring root, plat::FileSystem& inner)
    : inner_(inner), root_(plat::WithoutSep(std::move(root))) {
    epochs_.push_back(CrashEpoch{ReadCrashTree(inner_, root_, &ids_, &nextId_, &problems_), {}});
}

bool RecordingFileSystem::Inside(const std::wstring& path, std::wstring* rel) const {
    const std::wstring p = plat::WithoutSep(path);
    if (!IsBelow(p, root_)) return false;
    rel->clear();
    for (size_t k = root_.size() + 1; k < p.size(); ++k) {
        // One separator between parts, whatever the caller joined.
        if (p[k] == plat::kSep && (rel->empty() || rel->back() == plat::kSep)) continue;
        rel->push_back(p[k]);
    }
    return !rel->empty();
}

std::wstring RecordingFileSystem::NameOf(uint64_t id) const {
    for (const auto& [rel, i] : ids_)
        if (i == id) return rel;
    return L"(no name)";
}

void RecordingFileSystem::Push(CrashOp op) {
    epochs_.back().ops.push_back(std::move(op));
}

std::string RecordingFileSystem::Problems() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return problems_;
}

size_t RecordingFileSystem::OpCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& e : epochs_) n += e.ops.size();
    return n;
}

void RecordingFileSystem::RecordWrite(uint64_t id, uint64_t offset, const void* data,
                                      uint32_t len) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& ops = epochs_.back().ops;
    // One op per run of writes that continue each other (a file streamed in
    // chunks).
    if (!ops.empty() && ops.back().kind == CrashOpKind::Write && ops.back().id == id &&
        ops.back().offset + ops.back().bytes->size() == offset) {
        ops.back().bytes->append(static_cast<const char*>(data), len);
        return;
    }
    CrashOp op;
    op.kind = CrashOpKind::Write;
    op.id = id;
    op.offset = offset;
    op.path = NameOf(id);
    op.bytes = std::make_shared<std::string>(static_cast<const char*>(data), len);
    Push(std::move(op));
}

void RecordingFileSystem::RecordFileOp(CrashOpKind kind, uint64_t id, uint64_t offset) {
    std::lock_guard<std::mutex> lock(mutex_);
    CrashOp op;
    op.kind = kind;
    op.id = id;
    op.offset = offset;
    op.path = NameOf(id);
    Push(std::move(op));
}

bool RecordingFileSystem::SetAttributes(const std::wstring& path, uint32_t attrs) {
    if (!inner_.SetAttributes(path, attrs)) return false;
    std::wstring rel;
    if (Inside(path, &rel)) {
        std::lock_guard<std::mutex> lock(mutex_);
        CrashOp op;
        op.kind = CrashOpKind::SetAttributes;
        op.path = rel;
        op.attrs = inner_.GetAttributes(path) & kCrashAttrMask;
        Push(std::move(op));
    }
    return true;
}

bool RecordingFileSystem::CreateDir(const std::wstring& path) {
    if (!inner_.CreateDir(path)) return false;
    std::wstring rel;
    if (Inside(path, &rel)) {
        std::lock_guard<std::mutex> lock(mutex_);
        CrashOp op;
        op.kind = CrashOpKind::CreateDir;
        op.path = rel;
        op.attrs = inner_.GetAttributes(path) & kCrashAttrMask;
        Push(std::move(op));
    }
    return true;
}

bool RecordingFileSystem::RemoveDir(const std::wstring& path) {
    if (!inner_.RemoveDir(path)) return false;
    std::wstring rel;
    if (Inside(path, &rel)) {
        std::lock_guard<std::mutex> lock(mutex_);
        CrashOp op;
        op.kind = CrashOpKind::RemoveDir;
        op.path = rel;
        Push(std::move(op));
    }
    return true;
}

void RecordingFileSystem::Import(const std::wstring& rel) {
    const std::wstring p = plat::JoinPath(root_, rel);
    const uint32_t a = inner_.GetAttributes(p);
    CrashOp op;
    op.path = rel;
    op.attrs = a & kCrashAttrMask;
    if (a != plat::kInvalidAttributes && (a & plat::kAttrDirectory)) {
        op.kind = CrashOpKind::CreateDir;
        Push(op);
        std::vector<plat::DirEntry> entries;
        if (inner_.ListDir(p, &entries))
            for (const auto& e : entries) Import(rel + plat::kSep + e.name);
        return;
    }
    op.kind = CrashOpKind::Create;
    op.id = ids_[rel] = nextId_++;
    Push(op);
    auto f = inner_.Open(p, plat::Access::Read, plat::Disposition::OpenExisting);
    uint64_t size = 0;
    auto bytes = std::make_shared<std::string>();
    if (f && f->Size(&size) && size) {
        bytes->resize(size_t(size));
        if (!f->ReadExact(bytes->data(), uint32_t(size)))
            problems_ += " cannot read " + U8(p) + ";";
        CrashOp w;
        w.kind = CrashOpKind::Write;
        w.id = op.id;
        w.path = rel;
        w.bytes = bytes;
        Push(w);
    }
}

bool RecordingFileSystem::Move(const std::wstring& from, const std::wstring& to) {
    const uint32_t a = inner_.GetAttributes(from);
    if (!inner_.Move(from, to)) return false;
    std::wstring rf, rt;
    const bool inFrom = Inside(from, &rf), inTo = Inside(to, &rt);
    if (!inFrom && !inTo) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    const bool dir = a != plat::kInvalidAttributes && (a & plat::kAttrDirectory) &&
                     !(a & plat::kAttrReparsePoint);
    CrashOp op;
    op.path = rf;
    op.to = rt;
    if (inFrom) {
        // The names it held, under their new names (or gone, when it left).
        std::vector<std::pair<std::wstring, uint64_t>> moved;
        if (dir) {
            for (const auto& k : KeysUnder(ids_, rf)) moved.emplace_back(k, ids_[k]);
        } else {
            auto it = ids_.find(rf);
            if (it == ids_.end()) {
                problems_ += " moved file " + U8(rf) + " was never seen;";
            } else {
                moved.emplace_back(rf, it->second);
                op.id = it->second;
            }
        }
        for (const auto& [k, id] : moved) ids_.erase(k);
        if (inTo)
            for (const auto& [k, id] : moved) ids_[rt + k.substr(rf.size())] = id;
    }
    if (inFrom && inTo) {
        op.kind = CrashOpKind::Move;
        Push(op);
    } else if (inFrom) {
        op.kind = dir ? CrashOpKind::RemoveDir : CrashOpKind::Delete;
        Push(op);
    } else {
        Import(rt);
    }
    return true;
}

bool RecordingFileSystem::Copy(const std::wstring& from, const std::wstring& to,
                               bool failIfExists) {
    if (!inner_.Copy(from, to, failIfExists)) return false;
    std::wstring rel;
    if (!Inside(to, &rel)) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = ids_.find(rel);
    if (it != ids_.end()) {
        // The content is replaced: recorded as a new file in its place.
        CrashOp del;
        del.kind = CrashOpKind::Delete;
        del.path = rel;
        del.id = it->second;
        Push(del);
        ids_.erase(it);
    }
    Import(rel);
    return true;
}

bool RecordingFileSystem::DeleteFile(const std::wstring& path) {
    if (!inner_.DeleteFile(path)) return false;
    std::wstring rel;
    if (Inside(path, &rel)) {
        std::lock_guard<std::mutex> lock(mutex_);
        CrashOp op;
        op.kind = CrashOpKind::Delete;
        op.path = rel;
        auto it = ids_.find(rel);
        if (it == ids_.end()) {
            problems_ += " deleted file " + U8(rel) + " was never seen;";
        } else {
            op.id = it->second;
            ids_.erase(it);
        }
        Push(std::move(op));
    }
    return true;
}

std::unique_ptr<plat::File> RecordingFileSystem::Open(const std::wstring& path, plat::Access access,
                                                      plat::Disposition disposition) {
    std::wstring rel;
    if (!Inside(path, &rel)) return inner_.Open(path, access, disposition);
    const bool existed = inner_.GetAttributes(path) != plat::kInvalidAttributes;
    auto f = inner_.Open(path, access, disposition);
    if (!f) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t id = 0;
    auto it = ids_.find(rel);
    if (!existed && disposition != plat::Disposition::OpenExisting) {
        CrashOp op;
        op.kind = CrashOpKind::Create;
        op.path = rel;
        op.id = id = ids_[rel] = nextId_++;
        op.attrs = inner_.GetAttributes(path) & kCrashAttrMask;
        Push(std::move(op));
    } else if (it == ids_.end()) {
        problems_ += " opened file " + U8(rel) + " was never seen;";
        id = ids_[rel] = nextId_++;
    } else {
        id = it->second;
        if (disposition == plat::Disposition::CreateAlways) {
            CrashOp op;
            op.kind = CrashOpKind::Truncate;
            op.path = rel;
            op.id = id;
            op.offset = 0;
            Push(std::move(op));
        }
    }
    if (access != plat::Access::ReadWrite) return f;
    return std::make_unique<RecordingFile>(*this, std::move(f), id);
}

void RecordingFileSystem::CloseEpoch() {
    CrashEpoch& cur = epochs_.back();
    if (cur.ops.empty()) return;
    CrashTree replay = cur.start;
    for (size_t k = 0; k < cur.ops.size(); ++k)
        if (!ApplyCrashOp(&replay, cur.ops[k]))
            problems_ += " epoch " + std::to_string(epochs_.size()) + " op " + std::to_string(k) +
                         " (" + cur.ops[k].Describe() + ") does not replay;";
    CrashTree next = ReadCrashTree(inner_, root_, &ids_, &nextId_, &problems_);
    const std::string diff = replay.Diff(next);
    if (!diff.empty())
        problems_ += " epoch " + std::to_string(epochs_.size()) +
                     " replayed differs from the disk (replay / disk):" + diff;
    epochs_.push_back(CrashEpoch{std::move(next), {}});
}

bool RecordingFileSystem::SyncVolume(const std::wstring& path) {
    if (!inner_.SyncVolume(path)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!finished_) CloseEpoch();
    return true;
}

void RecordingFileSystem::Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    finished_ = true;
    CloseEpoch();
    if (epochs_.size() > 1 && epochs_.back().ops.empty()) epochs_.pop_back();
}

}  // namespace testsupport
