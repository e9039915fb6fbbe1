// "sdkconfig.ini" as the SDK reads it, and the decimal reader behind every
// number the SDK takes from text.
#include "fuzz_support.h"
#include "sdk_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::HeapBytes bytes(data, size);
    const std::string_view text = bytes.view();

    if (auto config = corbel::ParseSdkConfig(text)) {
        // A parsed configuration is one the SDK can run with.
        fuzz::Require(!config->host.empty() && fuzz::Contains(text, config->host));
        fuzz::Require(config->port >= 1 && config->port <= 65535);
        fuzz::Require(config->connectTimeoutMs >= 1 && config->connectTimeoutMs <= 600000);
        fuzz::Require(config->requestTimeoutMs >= 1 && config->requestTimeoutMs <= 3600000);
        fuzz::Require(config->idleTimeoutMs >= 1000 && config->idleTimeoutMs <= 3600000);
        fuzz::Require(config->retries >= 0 && config->retries <= 20);
        fuzz::Require(config->retryDelayMs >= 0 && config->retryDelayMs <= 60000);
        fuzz::Require(config->chunkBytes >= 4096 && config->chunkBytes <= (32u << 20));
        const std::string url = config->BaseUrl();
        fuzz::Require(url.size() > 8 && url.compare(0, 7, "http://") == 0);
    }

    // Every prefix of the text as a number: its value prints back as the
    // digits without leading zeros, and 20-digit overflows are refused.
    const std::string_view digits = text.substr(0, std::min<std::size_t>(text.size(), 24));
    if (auto value = corbel::ParseUnsigned(digits)) {
        const std::size_t nonzero = digits.find_first_not_of('0');
        const std::string_view plain = nonzero == std::string_view::npos ? std::string_view("0") : digits.substr(nonzero);
        fuzz::Require(std::to_string(*value) == plain);
    } else if (!digits.empty() && digits.size() <= 20 && digits.find_first_not_of("0123456789") == std::string_view::npos) {
        // All digits yet refused: only a value past 2^64 - 1.
        fuzz::Require(digits.size() == 20 && digits > "18446744073709551615");
    }
    return 0;
}
