// The shared coding of copy-data record texts, both directions: what decodes
// encodes back to the same bytes, and what we encode decodes to itself.
#include "fuzz_support.h"
#include "platform/message_channel.h"

using platform::RecordTextError;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    // The first byte picks the caller's bound, including the edges 0 and 1.
    const std::size_t bound = data[0];
    const fuzz::HeapBytes payload(data + 1, size - 1);
    const std::string_view bytes = payload.view();

    std::u16string wide = u"stale";
    const RecordTextError w = platform::DecodeWideRecordText(bytes, bound, &wide);
    if (w == RecordTextError::None) {
        fuzz::Require(wide.size() <= bound && wide.size() * 2 + 2 == bytes.size());
        fuzz::Require(wide.find(u'\0') == std::u16string::npos);
        fuzz::Require(platform::EncodeWideRecordText(wide) == bytes);
    } else {
        // Each refusal has a cause in the bytes themselves.
        const bool odd = bytes.size() % 2 != 0;
        fuzz::Require((w == RecordTextError::OddLength) == odd);
        if (w == RecordTextError::TooLong) {
            fuzz::Require(bytes.size() / 2 - 1 > bound);
        }
        if (w == RecordTextError::MissingTerminator && !odd && bytes.size() >= 2) {
            fuzz::Require(bytes[bytes.size() - 1] != 0 || bytes[bytes.size() - 2] != 0);
        }
    }

    std::string narrow = "stale";
    const RecordTextError n = platform::DecodeNarrowRecordText(bytes, bound, &narrow);
    if (n == RecordTextError::None) {
        fuzz::Require(narrow.size() <= bound && narrow.size() + 1 == bytes.size());
        fuzz::Require(narrow.find('\0') == std::string::npos);
        fuzz::Require(platform::EncodeNarrowRecordText(narrow) == bytes);
    } else {
        fuzz::Require(n != RecordTextError::OddLength);
        if (n == RecordTextError::MissingTerminator) {
            fuzz::Require(bytes.empty() || bytes.back() != '\0');
        }
        if (n == RecordTextError::EmbeddedNul) {
            fuzz::Require(bytes.substr(0, bytes.size() - 1).find('\0') != std::string_view::npos);
        }
    }

    // The other direction: any text without a zero survives its own coding.
    const fuzz::HeapText text(data + 1, size - 1);
    const std::u16string_view units = text.view().substr(0, text.view().find(u'\0'));
    std::u16string back;
    fuzz::Require(platform::DecodeWideRecordText(platform::EncodeWideRecordText(units), units.size(), &back) ==
                  RecordTextError::None);
    fuzz::Require(back == units);
    const std::string_view chars = bytes.substr(0, bytes.find('\0'));
    std::string narrowBack;
    fuzz::Require(platform::DecodeNarrowRecordText(platform::EncodeNarrowRecordText(chars), chars.size(),
                                                   &narrowBack) == RecordTextError::None);
    fuzz::Require(narrowBack == chars);
    return 0;
}
