// libFuzzer harness over the CIM-XML codec's decoders: each input is decoded
// as an answer to each of the seven operations and as a request (after the
// head of an HTTP answer, so that the recorded exchanges serve as seeds). A
// document that decodes must also survive being encoded and decoded again;
// anything else may only end in ParseError.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "cim/Codec.h"

using namespace cim;
using namespace cim::xml;

namespace {

// Decodes, encodes and decodes again; only the second decode may not fail.
template <class Decode, class Encode>
void roundTrip(std::string_view body, Decode decode, Encode encode) {
    String again;
    try {
        again = encode(decode(body));
    } catch (const ParseError&) {
        return;  // refused, or a reference key whose text the object path parser refuses
    }
    try {
        decode(again);
    } catch (const Exception& e) {
        std::fprintf(stderr, "a decoded document does not decode after encoding: %s\n", e.getMessage().c_str());
        std::abort();
    }
}

// The list in an enumeration's answer, read an element at a time, must read
// as in the whole body: a comment after the document has it parsed whole.
void sameWhole(std::string_view body, Operation op) {
    auto read = [op](std::string_view b) -> std::optional<String> {
        try {
            return encodeResponse(decodeResponse(b, op));
        } catch (const ParseError&) {
            return std::nullopt;
        }
    };
    if (read(body) != read(String(body) + "<!---->")) {
        std::fprintf(stderr, "the list read an element at a time does not read as the whole body\n");
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view body(reinterpret_cast<const char*>(data), size);
    if (body.starts_with("HTTP/") && body.find("\r\n\r\n") != std::string_view::npos)
        body.remove_prefix(body.find("\r\n\r\n") + 4);
    roundTrip(body, [](std::string_view b) { return decodeRequest(b); },
              [](const Request& r) { return requestHeaders(r), encodeRequest(r); });
    for (int op = 0; op <= int(Operation::InvokeMethod); ++op)
        roundTrip(body, [op](std::string_view b) { return decodeResponse(b, Operation(op)); },
                  [](const Response& r) { return encodeResponse(r); });
    for (Operation op : {Operation::EnumerateInstances, Operation::EnumerateInstanceNames}) sameWhole(body, op);
    return 0;
}
