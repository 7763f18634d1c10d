// Reads or sets the DOS attributes of a path through the platform layer, the
// same source built natively and for Windows, so that a script can check
// that both builds see the marks the other one set.
//
//   ulxattr get PATH         prints the attributes as 0x... (exit 1 when missing)
//   ulxattr set PATH VALUE   VALUE in hex, e.g. 0x6 for HIDDEN|SYSTEM
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/text.h"

namespace {

int Run(const std::vector<std::wstring>& args) {
    if (args.size() == 3 && args[1] == L"get") {
        uint32_t a = plat::Fs().GetAttributes(args[2]);
        if (a == plat::kInvalidAttributes) {
            std::fprintf(stderr, "missing (error %u)\n", static_cast<unsigned>(plat::LastError()));
            return 1;
        }
        std::printf("0x%x\n", static_cast<unsigned>(a));
        return 0;
    }
    if (args.size() == 4 && args[1] == L"set") {
        uint32_t value = static_cast<uint32_t>(std::wcstoul(args[3].c_str(), nullptr, 16));
        if (!plat::Fs().SetAttributes(args[2], value)) {
            std::fprintf(stderr, "set failed (error %u)\n",
                         static_cast<unsigned>(plat::LastError()));
            return 1;
        }
        return 0;
    }
    std::fprintf(stderr, "usage: ulxattr get PATH | ulxattr set PATH HEX\n");
    return 2;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    return Run(std::vector<std::wstring>(argv, argv + argc));
}
#else
int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 0; i < argc; ++i) args.push_back(plat::FromUtf8(argv[i]));
    return Run(args);
}
#endif
