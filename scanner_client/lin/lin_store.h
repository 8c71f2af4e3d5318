#pragma once
// A connection's linearization data: the active LIN1DD data (from the scanner
// stream or from a file) and the flags derived from the last parse.
//
// Thread-safe. Loads build new, immutable data and publish it whole; readers
// take a shared_ptr to the active data, so data in use stays alive when a
// reconnection or a file replaces it.
#include "lin/linearization.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace quillan {

class LinStore {
public:
    // Data from the scanner: the type-7 frame bytes between the 6-byte header
    // and the CRC. The active data is dropped first; on kLinOk the parsed data
    // becomes active (the caller then marks the connection ready). Returns the
    // parser's code.
    int loadImage(const uint8_t* bytes, size_t length);

    // Quillan_SetLinearizationFile: like loadImage, from a whole file.
    int loadFile(const char* path);

    // Drops the active data (connection lost or cleaned up).
    void clear();

    // The active data, or null while none is valid.
    std::shared_ptr<const Linearization> active() const;
    bool valid() const { return active() != nullptr; }

    // Whether the last load read a complete parameter record (also after a
    // load that failed later on). Cleared by clearParametersLoaded at every
    // (re)connection; GetXZIExtended answers -2 while it is false.
    bool parametersLoaded() const { return m_ParametersLoaded.load(); }
    void clearParametersLoaded();
    // The data of the last load while parametersLoaded holds: its serial number and parameters
    // are complete even when a later record failed (its tables are then not to be used). After a
    // (re)connection cleared that, the active data when it has its parameters.
    std::shared_ptr<const Linearization> parameterData() const;

    // The linearization-mode flag of the last load (a record of tag 7).
    bool linearizationMode() const { return m_LinearizationMode.load(); }

    // Quillan_Linearize: (u, v) through the X and then the Z table of the
    // active data. Returns 0, kLinOutsideTable (that output and z left
    // untouched) or, without active data or tables, kLinNoData with both
    // outputs 0.0. Null outputs are not written.
    int linearize(double u, double v, double* x, double* z) const;

    // Quillan_GetLinDatType: copies the active 152-byte LinData into buf.
    // Returns 0, or kLinNoData when buf is null, size is below 152 or no data
    // is active. Only the serial number and the parameters are meant for the
    // caller: the table pointers in the copy are internal and become invalid
    // when the data is replaced.
    int copyDescriptor(void* buf, int size) const;

private:
    int install(int rc, std::shared_ptr<Linearization> parsed);

    mutable std::mutex m_Mutex;
    std::shared_ptr<const Linearization> m_Active;
    std::shared_ptr<const Linearization> m_ParameterData;
    std::atomic<bool> m_ParametersLoaded{false};
    std::atomic<bool> m_LinearizationMode{false};
};

}  // namespace quillan
