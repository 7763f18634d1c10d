// Throughput probe for the content cipher's inner loop: streams a file
// through RC4 the way whole-file encryption does, so bench/run can set it
// beside `cp` and `openssl enc -rc4` on the same bytes.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/digest.h"
#include "crypto/rc4.h"
#include "platform/fs.h"
#include "platform/text.h"

int main(int argc, char** argv) {
    if (argc != 4 || std::strcmp(argv[1], "rc4") != 0) {
        std::fprintf(stderr, "usage: ulx_bench rc4 IN OUT\n");
        return 2;
    }
    auto& fs = plat::OsFileSystem();
    auto in = fs.Open(plat::FromUtf8(argv[2]), plat::Access::Read, plat::Disposition::OpenExisting);
    auto out = fs.Open(plat::FromUtf8(argv[3]), plat::Access::ReadWrite,
                       plat::Disposition::CreateAlways);
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
