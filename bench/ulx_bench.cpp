// Throughput probes for the content cipher, so bench/run can set them beside
// `openssl speed rc4`, `cp` and `openssl enc -rc4` on the same bytes:
//   rc4 IN OUT     streams a file through RC4 the way whole-file encryption does
//   speed SECONDS  RC4 over one 8 KiB buffer in memory; prints bytes per second
//   whole FILE     encrypts FILE whole with the content cipher (FILE.zpwenc0)
//   tree DIR FILES MIN MAX [flat]
//                  FILES files of MIN..MAX bytes (first-block names), spread over
//                  nested folders, or all at the top with "flat"; same bytes every run
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "crypto/content_cipher.h"
#include "crypto/digest.h"
#include "crypto/rc4.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace {

int Speed(double seconds) {
    const std::string key = crypto::DigestText(L"bench password");
    crypto::Rc4 rc4(key.data(), key.size());
    std::vector<uint8_t> buf(8192, 0);
    uint64_t total = 0;
    auto t0 = std::chrono::steady_clock::now();
    double s = 0;
    do {
        for (int k = 0; k < 256; ++k) rc4.Process(buf.data(), buf.size());
        total += 256 * buf.size();
        s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    } while (s < seconds);
    std::printf("%.0f\n", double(total) / s);
    volatile uint8_t keep = buf[0];  // keeps the loop from being dropped
    (void)keep;
    return 0;
}

struct NullSink : crypto::CipherSink {
    crypto::FileOutcome outcome = crypto::FileOutcome::NotStrengthEncrypted;
    void SetCurrentObject(const std::wstring&) override {}
    void OnFileSeen() override {}
    void OnFileDone(crypto::FileOutcome o) override { outcome = o; }
    void AddFailure(const std::wstring&, const std::wstring& reason) override {
        std::fprintf(stderr, "ulx_bench:%s\n", plat::ToUtf8(reason).c_str());
    }
    void SetCurrentLength(uint64_t) override {}
    void AddBytesDone(uint64_t) override {}
    bool IsCancelled() override { return false; }
    void ShowMessageOnce(const std::wstring&) override {}
};

int Whole(const char* path) {
    NullSink sink;
    crypto::ContentCipher cipher(L"bench password", sink);
    auto t0 = std::chrono::steady_clock::now();
    cipher.EncryptWhole(plat::FromUtf8(path));
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%.3f s\n", s);
    return sink.outcome == crypto::FileOutcome::StrengthEncrypted ? 0 : 1;
}

// Many small files, made here because a shell loop would take minutes.
int Tree(const char* dir, long files, long minBytes, long maxBytes, bool flat) {
    static const char* const kExt[] = {".jpg", ".bin", ".dat", ".mp3", ".png"};
    uint64_t x = 0x9e3779b97f4a7c15ull;  // xorshift64: fixed seed, same tree every run
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x;
    };
    std::vector<char> buf(static_cast<size_t>(maxBytes) + 8);
    for (long i = 0; i < files; ++i) {
        std::filesystem::path folder(dir);
        if (!flat) folder = folder / ("d" + std::to_string(i % 20)) / ("s" + std::to_string(i % 7));
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        const long size = minBytes + static_cast<long>(next() % uint64_t(maxBytes - minBytes + 1));
        for (long k = 0; k < size; k += 8) {
            const uint64_t v = next();
            std::memcpy(&buf[static_cast<size_t>(k)], &v, 8);
        }
        std::ofstream out(folder / ("f" + std::to_string(i) + kExt[i % 5]), std::ios::binary);
        out.write(buf.data(), size);
        if (!out) {
            std::fprintf(stderr, "ulx_bench: cannot write in %s\n", folder.c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "speed") == 0) return Speed(std::atof(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], "whole") == 0) return Whole(argv[2]);
    if ((argc == 6 || argc == 7) && std::strcmp(argv[1], "tree") == 0 && std::atol(argv[4]) >= 0 &&
        std::atol(argv[5]) >= std::atol(argv[4]))
        return Tree(argv[2], std::atol(argv[3]), std::atol(argv[4]), std::atol(argv[5]),
                    argc == 7 && std::strcmp(argv[6], "flat") == 0);
    if (argc != 4 || std::strcmp(argv[1], "rc4") != 0) {
        std::fprintf(stderr,
                     "usage: ulx_bench rc4 IN OUT | speed SECONDS | whole FILE | "
                     "tree DIR FILES MIN MAX [flat]\n");
        return 2;
    }
    auto& fs = plat::OsFileSystem();
    auto in = fs.Open(plat::FromUtf8(argv[2]), plat::Access::Read, plat::Disposition::OpenExisting);
    auto out =
        fs.Open(plat::FromUtf8(argv[3]), plat::Access::ReadWrite, plat::Disposition::CreateAlways);
    if (!in || !out) {
        std::fprintf(stderr, "ulx_bench: cannot open %s or %s\n", argv[2], argv[3]);
        return 2;
    }
    const std::string key = crypto::DigestText(L"bench password");
    crypto::Rc4 rc4(key.data(), key.size());
    std::vector<uint8_t> buf(256 * 1024);
    uint64_t total = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (;;) {
        uint32_t got = 0;
        if (!in->Read(buf.data(), static_cast<uint32_t>(buf.size()), &got)) return 1;
        if (got == 0) break;
        rc4.Process(buf.data(), got);
        if (!out->WriteAll(buf.data(), got)) return 1;
        total += got;
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%llu bytes in %.3f s\n", static_cast<unsigned long long>(total), s);
    return 0;
}
