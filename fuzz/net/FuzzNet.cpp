// Server bytes in any split: the Telnet decoder and the MBAP reader must
// neither read out of bounds nor lose data bytes, and a frame taken from the
// reader always holds what its header announced.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "serial/net/Mbap.h"
#include "serial/net/Telnet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte chooses where the stream is cut in two.
    const size_t cut = data[0] % size;
    const uint8_t* p = data + 1;
    const size_t n = size - 1;
    const size_t first = cut < n ? cut : n;

    kelm::net::TelnetClient whole, split;
    whole.Start();
    split.Start();
    std::string d1, r1, d2, r2;
    whole.Feed(p, n, &d1, &r1);
    split.Feed(p, first, &d2, &r2);
    split.Feed(p + first, n - first, &d2, &r2);
    if (d1 != d2 || r1 != r2) std::abort();  // the cut must not matter
    if (d1.size() > n) std::abort();
    const std::string escaped = whole.EscapeData(p, n);
    if (escaped.size() < n) std::abort();

    kelm::net::MbapReader reader;
    reader.Feed(p, first);
    size_t taken = 0;
    while (auto f = reader.Next()) taken += 7 + f->pdu.size();  // header, unit, PDU
    reader.Feed(p + first, n - first);
    while (auto f = reader.Next()) {
        if (f->pdu.size() > kelm::net::kMaxPdu) std::abort();
        taken += 7 + f->pdu.size();
    }
    if (taken + reader.dropped() > n) std::abort();

    if (auto m = kelm::net::RtuToMbap(p, n, 1)) {
        if (m->size() != n + 4) std::abort();  // MBAP header of 6, no CRC
        const std::string back = kelm::net::MbapToRtu(static_cast<uint8_t>((*m)[6]), m->substr(7));
        if (back != std::string(reinterpret_cast<const char*>(p), n)) std::abort();
    }
    return 0;
}
