// The stream parser over arbitrary bytes in arbitrary chunks, storing into a small ring.
#include "stream/frame_ring.h"
#include "stream/stream_parser.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

class Sink : public quillan::stream::StreamSink {
public:
    quillan::stream::FrameRing ring{4198400};
    bool valid = false;
    std::vector<uint8_t> out;

    void storeProfileContainer(const uint8_t* f, size_t n) override { keep(f, n); }
    void storeImageContainer(const uint8_t* f, size_t n) override { keep(f, n); }
    void storeLegacyProfile(const uint8_t* f, size_t n) override { keep(f, n); }
    void xmlReceived(std::string_view text) override { touch(reinterpret_cast<const uint8_t*>(text.data()), text.size()); }
    void syncContainerArrived() override {}
    bool linearizationValid() const override { return valid; }
    void linearizationReceived(const uint8_t* image, size_t n) override
    {
        touch(image, n);
        valid = n > 20;
    }
    void synchronisationChanged(bool s) override { ring.setDelivery(s); }
    quillan::stream::FifoLevels fifoLevels() const override { return ring.levels(); }
    void log(std::string_view) override {}

private:
    void keep(const uint8_t* f, size_t n)
    {
        ring.push(f, n);
        ring.read(out);
    }
    // Reads every byte handed out, so out-of-bounds views are caught.
    void touch(const uint8_t* p, size_t n)
    {
        volatile uint8_t sum = 0;
        for (size_t i = 0; i < n; ++i)
            sum = static_cast<uint8_t>(sum + p[i]);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Sink sink;
    static quillan::stream::StreamParser parser(sink, [] { return 0u; });
    parser.reset();
    sink.ring.reset();
    sink.valid = size > 0 && (data[0] & 1);
    // The first byte chooses the chunk size, so splits at every position get exercised.
    size_t chunk = size > 0 ? 1 + data[0] % 97 : 1;
    for (size_t at = 1; at < size; at += chunk)
        parser.feed(data + at, std::min(chunk, size - at));
    return 0;
}
