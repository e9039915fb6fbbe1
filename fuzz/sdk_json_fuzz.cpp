// Service answers turned into the SDK's records: the JSON an answer holds,
// the lists of catalogs, contents and shares, and the text and number fields
// read from them.
#include <nlohmann/json.hpp>

#include "fuzz_support.h"
#include "sdk_config.h"
#include "wire.h"

namespace {

using corbel::Json;
namespace wire = corbel::wire;

// What a reader makes of one field, against what the JSON holds there.
void RequireField(const Json& object, const char* key) {
    const std::string text = wire::Text(object, key);
    const std::int32_t number = wire::Int(object, key);
    // Whatever the SDK reads it may send back in a later call: it must stay
    // text the JSON writer accepts.
    fuzz::Require(Json(wire::ToUtf8(text)).dump().size() >= 2);
    auto it = object.is_object() ? object.find(key) : object.end();
    if (!object.is_object() || it == object.end()) {
        fuzz::Require(text.empty() && number == 0);
        return;
    }
    if (it->is_string()) {
        // The ANSI code page is UTF-8 natively: the text comes back unchanged.
        fuzz::Require(wire::ToUtf8(text) == it->get_ref<const std::string&>());
        fuzz::Require(number >= 0);
        if (number > 0) {
            fuzz::Require(std::to_string(number) == text.substr(text.find_first_not_of('0')));
        }
    } else if (it->is_number_unsigned()) {
        fuzz::Require(corbel::ParseUnsigned(text) == it->get<std::uint64_t>());
    } else if (it->is_number_integer()) {
        fuzz::Require(text == std::to_string(it->get<std::int64_t>()));
        fuzz::Require(number == static_cast<std::int32_t>(it->get<std::int64_t>()));
    } else {
        fuzz::Require(text.empty() && number == 0);
    }
}

void RequireCatalog(const Json& j) {
    const CatalogInfo c = wire::Catalog(j);
    for (const char* key : {"catalogID", "catalogName", "parentCatalogID", "path", "moved", "isFixedDir"}) {
        RequireField(j, key);
    }
    fuzz::Require(c.catalogID == wire::Text(j, "catalogID") && c.path == wire::Text(j, "path"));
    const std::string id = wire::LastPathPart(c.path);
    fuzz::Require(id.find_first_of("/\\") == std::string::npos && c.path.size() >= id.size());
    fuzz::Require(c.path.compare(c.path.size() - id.size(), id.size(), id) == 0);
}

void RequireContent(const Json& j) {
    const ContentInfo c = wire::Content(j);
    for (const char* key : {"contentID", "contentName", "contentSize", "digest", "moved"}) {
        RequireField(j, key);
    }
    fuzz::Require(c.contentID == wire::Text(j, "contentID") && c.contentSize == wire::Text(j, "contentSize"));
}

void RequireShare(const Json& j) {
    const ShareEntry e = wire::Share(j);
    fuzz::Require(e.header.sharers.size() == (j.is_object() ? 1u : 0u));
    if (!j.is_object()) {
        return;
    }
    fuzz::Require(e.header.shareKind == (e.HasCatalog() ? "5" : "1"));
    fuzz::Require(e.header.sharers[0].name == e.header.sharerName);
    for (const char* key : {"sharerID", "sharerName", "sharerAccount"}) {
        RequireField(j, key);
    }
    if (auto it = j.find("catalogInfo"); it != j.end() && it->is_object()) {
        RequireCatalog(*it);
    } else {
        fuzz::Require(!e.HasCatalog());
    }
    if (auto it = j.find("contentInfo"); it != j.end() && it->is_object()) {
        RequireContent(*it);
    } else {
        fuzz::Require(!e.HasContent());
    }
}

template <typename Each>
void ForList(const Json& answer, const char* key, Each each) {
    if (auto it = answer.find(key); it != answer.end() && it->is_array()) {
        for (const auto& element : *it) {
            each(element);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::HeapBytes body(data, size);
    // Parsed as the service client parses every answer: no exceptions.
    const Json answer = Json::parse(body.view(), nullptr, false);
    if (answer.is_discarded()) {
        return 0;
    }
    // Readers meet whatever the answer holds, objects or not.
    RequireCatalog(answer);
    RequireContent(answer);
    RequireShare(answer);
    if (!answer.is_object()) {
        return 0;
    }
    for (const char* key : {"code", "message", "totalCount", "storedBytes", "complete", "contentSize",
                            "downloadURL", "domainToken", "totalSize", "freeSize"}) {
        RequireField(answer, key);
    }
    if (auto stored = corbel::ParseUnsigned(wire::Text(answer, "storedBytes"))) {
        fuzz::Require(std::to_string(*stored).size() <= wire::Text(answer, "storedBytes").size());
    }
    ForList(answer, "catalogList", RequireCatalog);
    ForList(answer, "contentList", RequireContent);
    ForList(answer, "shareList", RequireShare);
    ForList(answer, "itemList", [](const Json& item) {
        RequireField(item, "name");
        RequireField(item, "itemID");
        if (auto accounts = item.is_object() ? item.find("accountList") : item.end();
            item.is_object() && accounts != item.end() && accounts->is_array()) {
            for (const auto& a : *accounts) {
                if (a.is_string()) {
                    fuzz::Require(wire::ToUtf8(wire::ToAnsi(a.get<std::string>())) == a.get<std::string>());
                }
            }
        }
    });
    return 0;
}
