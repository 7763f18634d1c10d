// Downloads through the system's web client: its cache entry dropped first,
// then the body written straight into the file, asking the server every time.
#include "platform/download.h"
#include "platform/win32/win.h"
// After windows.h:
#include <objbase.h>
#include <urlmon.h>
#include <wininet.h>

namespace plat {
namespace {

// Tells the web client to fetch from the server rather than answer from
// what it kept, and hears the server's status: the client writes the body of
// an error answer ("404 Not Found") into the file like any other and reports
// success. Lives on the caller's stack.
class FreshCopy final : public IBindStatusCallback, public IHttpNegotiate {
  public:
    // The HTTP status of the answer, 0 when none was heard.
    DWORD status = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback)) {
            *out = static_cast<IBindStatusCallback*>(this);
            return S_OK;
        }
        if (IsEqualIID(riid, IID_IHttpNegotiate)) {
            *out = static_cast<IHttpNegotiate*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO*) override {
        *flags |= BINDF_GETNEWESTVERSION | BINDF_RESYNCHRONIZE | BINDF_PRAGMA_NO_CACHE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                   LPWSTR* extraHeaders) override {
        *extraHeaders = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnResponse(DWORD code, LPCWSTR, LPCWSTR,
                                         LPWSTR* extraHeaders) override {
        status = code;
        if (extraHeaders) *extraHeaders = nullptr;
        return S_OK;
    }
};

class WinDownloader final : public Downloader {
  public:
    void RemoveCacheEntry(const std::wstring& url) override {
        (void)DeleteUrlCacheEntryW(url.c_str());
    }
    bool DownloadToFile(const std::wstring& url, const std::wstring& path) override {
        // The web client binds through COM objects: a worker thread needs
        // COM of its own; a thread that has it keeps it.
        const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        FreshCopy fresh;
        const HRESULT hr = URLDownloadToFileW(nullptr, url.c_str(), path.c_str(), 0, &fresh);
        const bool ok = hr == S_OK && fresh.status >= 200 && fresh.status < 300;
        if (SUCCEEDED(com)) CoUninitialize();
        return ok;
    }
};

}  // namespace

Downloader* OsDownloader() {
    static WinDownloader downloader;
    return &downloader;
}

}  // namespace plat
