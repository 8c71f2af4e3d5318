#ifndef QUILLAN_H
#define QUILLAN_H
/* Quillan: client library for laser line profile scanners.
 * Every function that takes a handle returns -1000 when the handle is not an open connection. */

#ifdef __cplusplus
#include <functional>
#endif

#define QUILLAN_API __attribute__((visibility("default")))

typedef void* QuillanHandle;
/* Receives every chunk of bytes read from a scanner, on that connection's receive thread. */
typedef void (*QuillanReadDataCallback)(void* context, char* data, int length);
/* 0: not connected, connection lost, or scanner not yet ready; 3: connected and ready. */
typedef int QuillanConnectStatus;

#ifdef __cplusplus
extern "C" {
#endif

QUILLAN_API QuillanHandle Quillan_Connect(char* ip, char* port, int timeoutMs);
QUILLAN_API void Quillan_ConnectEx(void* unused, char* ip, char* port, int timeoutMs);
QUILLAN_API QuillanHandle Quillan_Disconnect(QuillanHandle handle);
QUILLAN_API int Quillan_GetConnectStatus(QuillanHandle handle, int* status);
QUILLAN_API int Quillan_GetRawData(QuillanHandle handle, unsigned char* buf, int len, int unused);
QUILLAN_API int Quillan_GetXZIExtended(QuillanHandle handle, double* x, double* z, int* intensity, int* width,
                                       int maxPoints, unsigned* encoder, unsigned char* ioBits, int timeoutMs,
                                       unsigned char* rawBuf, int rawBufLen, int* pictureCounter);
QUILLAN_API int Quillan_GetInfo(QuillanHandle handle, char* buf, int len, char* kind);
QUILLAN_API int Quillan_WriteData(QuillanHandle handle, char* text, int len);
QUILLAN_API int Quillan_GetVersion(unsigned char* buf, int len);
QUILLAN_API int Quillan_Linearize(QuillanHandle handle, double px, double pz, double* outX, double* outZ);
QUILLAN_API int Quillan_SetLinearizationFile(QuillanHandle handle, char* path);
QUILLAN_API int Quillan_ResetDllFiFo(QuillanHandle handle);
QUILLAN_API int Quillan_GetDllFiFoState(QuillanHandle handle);
QUILLAN_API int Quillan_GetLinDatType(QuillanHandle handle, void* buf, int size);
QUILLAN_API int Quillan_ReadData(QuillanHandle handle, char* name, char* buf, int len, int cacheMs);
QUILLAN_API int Quillan_GetImage(QuillanHandle handle, char* buf, int bufLen, unsigned* widthX, unsigned* heightZ,
                                 unsigned* offsetX, unsigned* offsetZ, unsigned* stepX, unsigned* stepZ,
                                 unsigned timeoutMs);
QUILLAN_API int Quillan_ConvertMmToPix(QuillanHandle handle, double x1, double z1, double x2, double z2, int* out1,
                                       int* out2, int* out3, int* out4);
QUILLAN_API void Quillan_SetReadDataCallback(void* context, void* fn);

#ifdef __cplusplus
}

class CScannerHandleTable;

/* The same operations as the Quillan_ functions. All objects share one connection table;
 * the connections are closed when the last object is destroyed. */
class QUILLAN_API QuillanDLL {
public:
    QuillanDLL();
    QuillanDLL(const QuillanDLL& other);
    ~QuillanDLL();
    QuillanDLL& operator=(const QuillanDLL&) = delete;

    QuillanHandle Connect(char* ip, char* port, int timeoutMs);
    void ConnectEx(void* unused, char* ip, char* port, int timeoutMs);
    QuillanHandle Disconnect(QuillanHandle handle);
    int GetConnectStatus(QuillanHandle handle, int* status);
    int GetRawData(QuillanHandle handle, unsigned char* buf, int len, int unused);
    int GetXZIExtended(QuillanHandle handle, double* x, double* z, int* intensity, int* width, int maxPoints,
                       unsigned* encoder, unsigned char* ioBits, int timeoutMs, unsigned char* rawBuf, int rawBufLen,
                       int* pictureCounter);
    int GetInfo(QuillanHandle handle, char* buf, int len, char* kind);
    int WriteData(QuillanHandle handle, char* text, int len);
    int GetVersion(unsigned char* buf, int len);
    int Linearize(QuillanHandle handle, double px, double pz, double* outX, double* outZ);
    int SetLinearizationFile(QuillanHandle handle, char* path);
    int ResetDllFiFo(QuillanHandle handle);
    int GetDllFiFoState(QuillanHandle handle);
    int GetLinDatType(QuillanHandle handle, void* buf, int size);
    int ReadData(QuillanHandle handle, char* name, char* buf, int len, int cacheMs);
    int GetImage(QuillanHandle handle, char* buf, int bufLen, unsigned* widthX, unsigned* heightZ, unsigned* offsetX,
                 unsigned* offsetZ, unsigned* stepX, unsigned* stepZ, unsigned timeoutMs);
    int ConvertMmToPix(QuillanHandle handle, double x1, double z1, double x2, double z2, int* out1, int* out2,
                       int* out3, int* out4);
    void SetReadDataCallback(void* context, void* fn);

private:
    double GetPointOnTrapezEdgeCorrected(double xs, double xe, double zRange, double dz);

    CScannerHandleTable* m_Table;
    std::function<void(char*, int)> m_ReadData;
    void* m_Context;
};
#endif

#endif
