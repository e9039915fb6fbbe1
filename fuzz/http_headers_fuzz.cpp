// Header lines of answers and transfer records: the line splitter, the
// lookup by name, and the Content-Range / Range values the transfers trust.
#include "fuzz_support.h"
#include "http/http_client.h"
#include "transfers.h"

namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

void RequireLines(std::string_view text, const std::vector<std::pair<std::string, std::string>>& lines) {
    std::size_t breaks = 0;
    for (char c : text) {
        breaks += c == '\n';
    }
    fuzz::Require(lines.size() <= breaks + 1);
    for (const auto& [name, value] : lines) {
        fuzz::Require(!name.empty() && !Blank(name.front()) && !Blank(name.back()) && name.back() != '\r');
        fuzz::Require(name.find_first_of(":\n") == std::string::npos);
        fuzz::Require(value.find('\n') == std::string::npos);
        if (!value.empty()) {
            fuzz::Require(!Blank(value.front()) && !Blank(value.back()) && value.back() != '\r');
        }
        fuzz::Require(fuzz::Contains(text, name) && fuzz::Contains(text, value));
    }
    if (!lines.empty()) {
        corbel::http::Response response;
        response.headers = lines;
        fuzz::Require(response.Header(lines.front().first) == lines.front().second);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::HeapBytes bytes(data, size);
    const std::string_view text = bytes.view();
    RequireLines(text, corbel::http::ParseHeaderLines(text));

    const std::string owned(text);
    if (auto range = corbel::FindContentRange(owned)) {
        fuzz::Require(range->first <= range->last && range->last < range->total);
        auto again = corbel::FindContentRange(corbel::MakeUploadHeader(*range));
        fuzz::Require(again && again->first == range->first && again->last == range->last &&
                      again->total == range->total);
    }
    if (auto first = corbel::FindRangeStart(owned)) {
        fuzz::Require(corbel::FindRangeStart(corbel::MakeDownloadHeader(*first, std::nullopt)) == first);
        fuzz::Require(corbel::FindRangeStart(corbel::MakeDownloadHeader(*first, *first)) == first);
    }
    return 0;
}
