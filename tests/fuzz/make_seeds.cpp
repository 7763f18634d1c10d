// Writes the seed corpus of the fuzz targets: valid files made by our own
// writers, and a few broken ones made from them. The output is committed
// under tests/fuzz/corpus/; run again only when a format changes:
//
//   build/fuzz/tests/fuzz/fuzz_make_seeds tests/fuzz/corpus
#include <cstdio>
#include <string>

#include "crypto/cipher_sink.h"
#include "crypto/content_cipher.h"
#include "crypto/digest.h"
#include "crypto/rc4.h"
#include "crypto/records.h"
#include "engine/fail_name_list.h"
#include "mem_fs.h"
#include "platform/fs.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "support/pe_image.h"

namespace {

struct QuietSink : crypto::CipherSink {
    void SetCurrentObject(const std::wstring&) override {}
    void OnFileSeen() override {}
    void OnFileDone(crypto::FileOutcome) override {}
    void AddFailure(const std::wstring&, const std::wstring&) override {}
    void SetCurrentLength(uint64_t) override {}
    void AddBytesDone(uint64_t) override {}
    bool IsCancelled() override { return false; }
    void ShowMessageOnce(const std::wstring&) override {}
};

std::string g_out;
int g_failed = 0;

void Seed(const char* target, const char* name, const std::string& bytes) {
    const std::string path = g_out + "/" + target + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        ++g_failed;
    }
    if (f) std::fclose(f);
}

std::string Whole(fuzzsupport::MemFs& fs, const std::wstring& path) {
    auto f = fs.Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    uint64_t size = 0;
    if (!f || !f->Size(&size)) return {};
    std::string bytes(size_t(size), '\0');
    if (size && !f->ReadExact(bytes.data(), uint32_t(size))) return {};
    return bytes;
}

std::string Sample(size_t n) {
    std::string s(n, '\0');
    for (size_t k = 0; k < n; ++k) s[k] = char((k * 131 + 17) & 0xFF);
    return s;
}

// Strength-encrypted files as ContentCipher writes them.
void TrailerSeeds(fuzzsupport::MemFs& fs) {
    QuietSink sink;
    crypto::ContentCipher cipher(L"pw", sink);
    fs.Put(L"/t/notes.txt", Sample(100));
    cipher.Encrypt(L"/t/notes.txt");
    const std::string whole = Whole(fs, L"/t/notes.txt.zpwenc0");
    fs.Put(L"/t/photo.jpg", Sample(300));
    cipher.Encrypt(L"/t/photo.jpg");
    const std::string first = Whole(fs, L"/t/photo.jpg.zpwenc0");
    crypto::ContentCipher chinese(L"岚栩密码", sink);
    fs.Put(L"/t/empty.doc", "");
    chinese.Encrypt(L"/t/empty.doc");
    Seed("trailer", "whole_file", whole);
    Seed("trailer", "first_block", first);
    Seed("trailer", "empty_chinese_password", Whole(fs, L"/t/empty.doc.zpwenc0"));

    std::string bad = whole;
    bad.replace(bad.size() - 13, 2, "x9");
    Seed("trailer", "broken_n1_not_digits", bad);
    bad = whole;
    bad.replace(bad.size() - 13, 4, "9999");
    Seed("trailer", "broken_lengths_beyond_file", bad);
    Seed("trailer", "broken_cut", whole.substr(40));
    Seed("trailer", "broken_maker", whole.substr(0, whole.size() - 1) + "N");
}

// Records of a parameter folder.
void RecordSeeds() {
    Seed("records", "sealed", crypto::SealedRecordBytes(L"pw"));
    Seed("records", "sealed_chinese", crypto::SealedRecordBytes(L"岚栩密码"));
    Seed("records", "kind_line", "fftype=2");
    Seed("records", "plain_chinese", plat::ToAnsi(L"岚栩pw"));
    // A legacy sealed record: lead-in, the check word under the legacy key,
    // the mode digit's byte and the end marker.
    std::string word = "lanxuyi9";
    crypto::Rc4 rc4;
    crypto::InitLegacyRc4(rc4, L"pw", false);
    rc4.Process(reinterpret_cast<uint8_t*>(word.data()), word.size());
    Seed("records", "legacy_sealed", "xx" + word + "l" + "anxuyiencry");
    Seed("records", "broken_sealed_21_bytes", crypto::SealedRecordBytes(L"pw") + "zzz");
    Seed("records", "broken_lines", "pw\r\nsecond line\r\n\r\n");
    Seed("records", "broken_marker_only", "anxuyiencry");
}

// Rename-failure lists as CFailNameList writes them.
void FailListSeeds(fuzzsupport::MemFs& fs) {
    engine::CFailNameList two;
    two.Add(L"报告.doc.zpwenc0", 2);
    two.Add(L"相册/2020/a.jpg.zpwenc0", 2);
    if (!two.Save(L"/t/renamefail.ulxjm")) ++g_failed;
    const std::string bytes = Whole(fs, L"/t/renamefail.ulxjm");
    Seed("fail_list", "two_entries", bytes);
    engine::CFailNameList longName;
    longName.Add(std::wstring(300, L'长'), 1);
    Seed("fail_list", "long_name", longName.Serialize());
    engine::CFailNameList outside;
    outside.Add(L"../outside.zpwenc0", 2);
    outside.Add(L"/etc/passwd", 2);
    outside.Add(L"C:\\x", 2);
    Seed("fail_list", "broken_outside_paths", outside.Serialize());
    std::string huge = bytes;
    huge.replace(0, 4, "\xFF\xFF\xFF\xFF", 4);
    Seed("fail_list", "broken_huge_count", huge);
    Seed("fail_list", "broken_cut", bytes.substr(0, bytes.size() - 3));
}

// INI files as the settings writer keeps them (code page 936).
void IniSeeds(fuzzsupport::MemFs& fs) {
    fs.MakeDirs(L"/cfg");
    auto s = plat::MakeIniSettings(L"/cfg");
    bool ok = s->WriteProfileInt(L"", L"AutoHide", 0) &&
              s->WriteProfileString(L"", L"szTips", L"岚栩只读加密提示") &&
              s->WriteProfileString(L"", L"MapDriver", L"E:") &&
              s->WriteProfileString(L"子项", L"名称", L"值 = \"引号\"") &&
              s->WriteWinIniString(L"岚栩只读加密", L"First", L"1");
    if (!ok) ++g_failed;
    const std::string profile = Whole(fs, L"/cfg/profile.ini");
    Seed("ini", "profile_chinese_936", profile);
    Seed("ini", "win_ini", Whole(fs, L"/cfg/win.ini"));
    Seed("ini", "broken_header", "[岚栩只读加密\r\nAutoHide=0\r\n[=]\r\n=\r\n");
    Seed("ini", "broken_bytes", profile.substr(0, 20) + "\xFF\x80\x81\r\n\xD5\r\nAutoHide='1\r\n");
}

}  // namespace

// Downloads of the self-update: program headers, good and just wrong, and
// a description listing two files.
void UpdateSeeds() {
    testsupport::PeFields f;
    f.bodySize = 64;
    Seed("update", "program", testsupport::PeImage(f));
    f.subsystem = 3;
    Seed("update", "broken_console_program", testsupport::PeImage(f));
    f = {};
    f.bodySize = 0;
    f.sections = 3;
    Seed("update", "broken_cut_sections", testsupport::PeImage(f).substr(0, 0x80 + 24 + 240 + 60));
    Seed("update", "description",
         "[VERSION]\r\nDLLVER=1658\r\nVER=3070\r\nCOUNTS=2\r\n[FF]\r\nBCOUNTS=0\r\n"
         "[SOURCE]\r\nURL0=https://www.ulxjm.example/rlxjm/ulxjm.exe\r\n"
         "URL1=https://www.ulxjm.example/rlxjm/..%2fmima.dat\r\n"
         "[LENGTH]\r\nLEN0=300000\r\nLEN1=0\r\n");
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    g_out = argv[1];
    fuzzsupport::MemFs fs;
    plat::ScopedFileSystem use(fs);
    fs.MakeDirs(L"/t");
    TrailerSeeds(fs);
    RecordSeeds();
    FailListSeeds(fs);
    IniSeeds(fs);
    UpdateSeeds();
    return g_failed ? 1 : 0;
}
