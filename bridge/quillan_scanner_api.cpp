#include "quillan_scanner_api.h"

#include "quillan.h"

namespace lumabridge {
namespace {

// The library's interface takes texts as char* but does not write them.
char* text(const char* s)
{
    return const_cast<char*>(s);
}

}  // namespace

ScannerHandle QuillanScannerApi::Connect(const char* ip, const char* port, int timeoutMs)
{
    return Quillan_Connect(text(ip), text(port), timeoutMs);
}

ScannerHandle QuillanScannerApi::Disconnect(ScannerHandle handle)
{
    return Quillan_Disconnect(handle);
}

int QuillanScannerApi::GetConnectStatus(ScannerHandle handle, int* status)
{
    return Quillan_GetConnectStatus(handle, status);
}

int QuillanScannerApi::GetXZIExtended(ScannerHandle handle, double* x, double* z, int* intensity, int* width,
                                      int maxPoints, unsigned* encoder, unsigned char* ioBits, int timeoutMs,
                                      unsigned char* rawBuf, int rawBufLen, int* pictureCounter)
{
    return Quillan_GetXZIExtended(handle, x, z, intensity, width, maxPoints, encoder, ioBits, timeoutMs, rawBuf,
                                  rawBufLen, pictureCounter);
}

int QuillanScannerApi::GetInfo(ScannerHandle handle, char* buf, int len, const char* kind)
{
    return Quillan_GetInfo(handle, buf, len, text(kind));
}

int QuillanScannerApi::WriteData(ScannerHandle handle, const char* data, int len)
{
    return Quillan_WriteData(handle, text(data), len);
}

int QuillanScannerApi::ReadData(ScannerHandle handle, const char* name, char* buf, int len, int cacheMs)
{
    return Quillan_ReadData(handle, text(name), buf, len, cacheMs);
}

int QuillanScannerApi::GetDllFiFoState(ScannerHandle handle)
{
    return Quillan_GetDllFiFoState(handle);
}

int QuillanScannerApi::GetVersion(unsigned char* buf, int len)
{
    return Quillan_GetVersion(buf, len);
}

}  // namespace lumabridge
