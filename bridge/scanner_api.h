#pragma once
// The bridge's view of the scanner client library: the Quillan_ calls it makes, behind an
// interface so that tests can script the scanner without a socket.
#include <cstdint>

namespace lumabridge {

using ScannerHandle = void*;

class ScannerApi {
public:
    virtual ~ScannerApi() = default;

    virtual ScannerHandle Connect(const char* ip, const char* port, int timeoutMs) = 0;
    virtual ScannerHandle Disconnect(ScannerHandle handle) = 0;
    virtual int GetConnectStatus(ScannerHandle handle, int* status) = 0;
    virtual int GetXZIExtended(ScannerHandle handle, double* x, double* z, int* intensity, int* width,
                               int maxPoints, unsigned* encoder, unsigned char* ioBits, int timeoutMs,
                               unsigned char* rawBuf, int rawBufLen, int* pictureCounter) = 0;
    virtual int GetInfo(ScannerHandle handle, char* buf, int len, const char* kind) = 0;
    virtual int WriteData(ScannerHandle handle, const char* text, int len) = 0;
    virtual int ReadData(ScannerHandle handle, const char* name, char* buf, int len, int cacheMs) = 0;
    virtual int GetDllFiFoState(ScannerHandle handle) = 0;
    virtual int GetVersion(unsigned char* buf, int len) = 0;
};

// Milliseconds since an arbitrary start, and sleeping; tests substitute a manual clock.
class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t NowMs() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
};

}  // namespace lumabridge
