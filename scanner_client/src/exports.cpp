// The exported functions: each forwards to the library's one QuillanDLL object.
#include "quillan.h"

namespace {
QuillanDLL library;
}

extern "C" {

QuillanHandle Quillan_Connect(char* ip, char* port, int timeoutMs) { return library.Connect(ip, port, timeoutMs); }

void Quillan_ConnectEx(void* unused, char* ip, char* port, int timeoutMs)
{
    library.ConnectEx(unused, ip, port, timeoutMs);
}

QuillanHandle Quillan_Disconnect(QuillanHandle handle) { return library.Disconnect(handle); }

int Quillan_GetConnectStatus(QuillanHandle handle, int* status) { return library.GetConnectStatus(handle, status); }

int Quillan_GetRawData(QuillanHandle handle, unsigned char* buf, int len, int unused)
{
    return library.GetRawData(handle, buf, len, unused);
}

int Quillan_GetXZIExtended(QuillanHandle handle, double* x, double* z, int* intensity, int* width, int maxPoints,
                           unsigned* encoder, unsigned char* ioBits, int timeoutMs, unsigned char* rawBuf,
                           int rawBufLen, int* pictureCounter)
{
    return library.GetXZIExtended(handle, x, z, intensity, width, maxPoints, encoder, ioBits, timeoutMs, rawBuf,
                                  rawBufLen, pictureCounter);
}

int Quillan_GetInfo(QuillanHandle handle, char* buf, int len, char* kind)
{
    return library.GetInfo(handle, buf, len, kind);
}

int Quillan_WriteData(QuillanHandle handle, char* text, int len) { return library.WriteData(handle, text, len); }

int Quillan_GetVersion(unsigned char* buf, int len) { return library.GetVersion(buf, len); }

int Quillan_Linearize(QuillanHandle handle, double px, double pz, double* outX, double* outZ)
{
    return library.Linearize(handle, px, pz, outX, outZ);
}

int Quillan_SetLinearizationFile(QuillanHandle handle, char* path)
{
    return library.SetLinearizationFile(handle, path);
}

int Quillan_ResetDllFiFo(QuillanHandle handle) { return library.ResetDllFiFo(handle); }

int Quillan_GetDllFiFoState(QuillanHandle handle) { return library.GetDllFiFoState(handle); }

int Quillan_GetLinDatType(QuillanHandle handle, void* buf, int size) { return library.GetLinDatType(handle, buf, size); }

int Quillan_ReadData(QuillanHandle handle, char* name, char* buf, int len, int cacheMs)
{
    return library.ReadData(handle, name, buf, len, cacheMs);
}

int Quillan_GetImage(QuillanHandle handle, char* buf, int bufLen, unsigned* widthX, unsigned* heightZ,
                     unsigned* offsetX, unsigned* offsetZ, unsigned* stepX, unsigned* stepZ, unsigned timeoutMs)
{
    return library.GetImage(handle, buf, bufLen, widthX, heightZ, offsetX, offsetZ, stepX, stepZ, timeoutMs);
}

int Quillan_ConvertMmToPix(QuillanHandle handle, double x1, double z1, double x2, double z2, int* out1, int* out2,
                           int* out3, int* out4)
{
    return library.ConvertMmToPix(handle, x1, z1, x2, z2, out1, out2, out3, out4);
}

void Quillan_SetReadDataCallback(void* context, void* fn) { library.SetReadDataCallback(context, fn); }

}  // extern "C"
