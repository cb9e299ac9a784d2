// Data-port bytes from a reader: frames reassembled from a stream, then records decoded.
#include "fuzz/fuzzentry.h"
#include "link/protocol.h"
#include "link/record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vm::fuzz::ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // The whole input once as a record payload, and once as a stream split in two reads.
    if (auto record = vm::link::parseRecordPayload(bytes)) {
        const auto& image = record->Image();
        image.Histogram(0, 0, image.Width(), image.Height());
        image.GrayValue(image.Width() / 2, image.Height() / 2);
    }
    vm::link::FrameDecoder decoder;
    const qsizetype half = bytes.size() / 2;
    decoder.append(bytes.left(half));
    for (int pass = 0; pass < 2; ++pass) {
        while (auto frame = decoder.next()) {
            if (frame->type == quint16(vm::link::FrameType::Record))
                vm::link::parseRecordPayload(frame->payload);
        }
        decoder.append(bytes.mid(half));
    }
    return 0;
}
