// libFuzzer harness over the CIM-XML codec's decoders. The first input byte
// chooses what the rest is decoded as: an answer to one of the seven
// operations, or a request. A document that decodes must also survive being
// encoded and decoded again; anything else may only end in ParseError.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>

#include "cim/Codec.h"

using namespace cim;
using namespace cim::xml;

namespace {

[[noreturn]] void broken(const char* what, const Exception& e) {
    std::fprintf(stderr, "%s: %s\n", what, e.getMessage().c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned mode = data[0] % 8;
    const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
    if (mode == 7) {
        Request request;
        try {
            request = decodeRequest(body);
        } catch (const ParseError&) {
            return 0;
        }
        String again;
        try {
            again = encodeRequest(request);
            requestHeaders(request);
        } catch (const ParseError&) {
            return 0;  // a reference key whose text the object path parser refuses
        }
        try {
            decodeRequest(again);
        } catch (const Exception& e) {
            broken("a decoded request does not decode after encoding", e);
        }
        return 0;
    }
    const auto op = static_cast<Operation>(mode);
    Response response;
    try {
        response = decodeResponse(body, op);
    } catch (const ParseError&) {
        return 0;
    }
    String again;
    try {
        again = encodeResponse(response);
    } catch (const ParseError&) {
        return 0;
    }
    try {
        decodeResponse(again, op);
    } catch (const Exception& e) {
        broken("a decoded answer does not decode after encoding", e);
    }
    return 0;
}
