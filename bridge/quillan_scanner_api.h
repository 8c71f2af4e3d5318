#pragma once
#include "scanner_api.h"

namespace lumabridge {

// The scanner calls through the client library libquillan.
class QuillanScannerApi : public ScannerApi {
public:
    ScannerHandle Connect(const char* ip, const char* port, int timeoutMs) override;
    ScannerHandle Disconnect(ScannerHandle handle) override;
    int GetConnectStatus(ScannerHandle handle, int* status) override;
    int GetXZIExtended(ScannerHandle handle, double* x, double* z, int* intensity, int* width, int maxPoints,
                       unsigned* encoder, unsigned char* ioBits, int timeoutMs, unsigned char* rawBuf,
                       int rawBufLen, int* pictureCounter) override;
    int GetInfo(ScannerHandle handle, char* buf, int len, const char* kind) override;
    int WriteData(ScannerHandle handle, const char* text, int len) override;
    int ReadData(ScannerHandle handle, const char* name, char* buf, int len, int cacheMs) override;
    int GetDllFiFoState(ScannerHandle handle) override;
    int GetVersion(unsigned char* buf, int len) override;
};

}  // namespace lumabridge
